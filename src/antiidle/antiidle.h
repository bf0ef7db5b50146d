// The anti-idle session: the switch that starts and stops it, one probe (an
// echo or an HTTP GET) per Timer3 tick to one host or, in turn, to every
// server of the list, and the session's statistics shown in GoodLBL, the
// report table and the log.
#pragma once

#include "components/runguard.h"
#include "net/pingowner.h"

#include <QObject>
#include <QString>

class IShell;
class QTimer;
class TAntiIdleReport;
class TServerList;
class TSuperTimer;
class TToolSwitch;
class TWebClient;

class TAntiIdle : public QObject {
    Q_OBJECT
public:
    // Binds the Anti-Idle switch of 'shell'; probes go through 'web', the
    // cycle visits 'servers', the results go to 'report'.
    TAntiIdle(IShell &shell, TWebClient &web, TServerList &servers, TAntiIdleReport &report,
              QObject *parent = nullptr);
    ~TAntiIdle() override;

    QTimer *Timer3 = nullptr;         // one probe per tick; interval from the frequency
    QTimer *LogTimer = nullptr;       // flushes the history pane to the session log
    TSuperTimer *HTTPTimer = nullptr; // 1 ms stopwatch of the HTTP probe
    TPingOwner Ping2;                 // the session's echoes: Timeout 5000, TTL 64, Size 56

    // Session state.
    bool CycleMode = false;           // a session visits the server list in turn
    bool SessionActive = false;       // the statistics of a session are running
    int ServerIndex = 0;              // position in the server list of the server being probed
    int AttemptCount = 0;             // probes started in this session
    int SuccessCount = 0;             // probes that succeeded
    int FailureCount = 0;             // probes that failed (lookup failures included)
    bool FailureCounted = false;      // a failure was already counted in this tick
    QString CurrentHost;              // host of the probe being sent (the HTTP probe uses it too)
    QString LastPingHost;             // host named in the texts of echo probes
    bool AlternateToggle = false;     // flipped by every probe; with "Alternate" true = echo
    TRunGuard Session;                // one run per session started
    TRunGuard::TTicket ProbeSession = TRunGuard::NoRun; // session that sent the echo in flight
    int HttpElapsed = 0;              // HTTPTimer's ticks in the current probe: its ms on the monotonic clock

    bool Running() const;             // the switch is on
    void btn_AntiIdleClick();
    void StartAntiIdle();             // clears the history, reads the options, sends the first probe
    void StartCycle();                // first server of the list, then the timer
    void Timer3Timer();               // one tick: the next host, then one probe
    void SendProbe();                 // one echo or HTTP GET to CurrentHost, by the method
    void StartProbeTimer();           // starts Timer3 and the stopwatch display
    void SendEcho(const QString &host); // tells how to allow ICMP once, then looks the host up
    void Ping2DnsLookupDone(QObject *Sender, quint16 Error);
    void Ping2EchoRequest(QObject *Sender);
    void Ping2EchoReply(QObject *Sender, int Error);
    void HttpProbe();                 // one HTTP GET of CurrentHost into the probe file
    void HTTPTimerTimer();
    // The watchdog limit of the next probe (or, probe = false, download).
    int HttpWatchdogLimit(bool probe) const;

    // Statistics (stats.cpp). StartSessionStats resets counters and table for
    // a new session; false (with the message in 'error') when the frequency
    // is not an integer, and nothing else is done then.
    bool StartSessionStats(QString *error = nullptr);
    int ReportRow() const;            // table row of the server being probed
    void RecordSuccess(int ms);
    void RecordFailure();
    void RecordLookupFailure();
    void EndSession();
    void LogTimerTimer();

private:
    IShell &shell_;
    TWebClient &web_;
    TServerList &servers_;
    TAntiIdleReport &report_;
    TToolSwitch &switch_;
};
