// The anti-idle session as an engine: one probe (an ICMP echo or an HTTP GET)
// per Timer3 tick to one host or, in turn, to every server of the list, the
// session's statistics and its log. It runs with or without a window: every
// status text, history line and result goes to its observers, and the window
// (or the headless service) shows them.
//
// The session reads its options when it uses them: the frequency when it
// starts, the host at each tick, the method and "Vary packet size" at each
// probe. Echoes and HTTP GETs block the calling thread as they always did,
// with the event loop kept going by the HTTP client; observers are told from
// inside those steps.
#pragma once

#include "components/runguard.h"
#include "session/linkmonitor.h"
#include "session/linewatch.h"
#include "net/pingowner.h"
#include "session/serverhosts.h"
#include "session/sessionlog.h"
#include "session/sessionobserver.h"
#include "session/sessionstats.h"

#include <QObject>
#include <QString>

#include <functional>
#include <map>

#include <vector>

class QTimer;
class TSuperTimer;
class TWebClient;

namespace config {
struct TOptions;
}

// The fields a session's steps share: where the cycle stands and what the
// probe in hand is.
struct TSessionState {
    bool CycleMode = false;           // the session visits the server list in turn
    int ServerIndex = 0;              // position in the list of the server being probed
    QString CurrentHost;              // host of the probe being sent (the HTTP probe uses it too)
    QString LastPingHost;             // host named in the texts of echo probes
    bool AlternateToggle = false;     // flipped by every probe; with "Alternate" true = echo
    int HttpElapsed = 0;              // HTTPTimer's ticks (ms) in the current HTTP probe
};

// Where a session stands: idle, starting (a start that failed stays here until
// Stop), running, paused (while running: the probes wait), stopping. Changed in
// one place, SetPhase, which traces every change through idlix.state.
enum class TSessionPhase { Idle, Starting, Running, Paused, Stopping };

// The phase's name in traces: "idle", "starting", ...
const char *PhaseName(TSessionPhase phase);

// What the start of a session without a host says.
inline constexpr const char *NoHostText =
    "No host to probe: enter a host in the anti-idle options, or cycle the server list";

class TAntiIdleSession : public QObject {
    Q_OBJECT
public:
    // Runs with 'options' (read as it goes, never copied), probing the
    // servers of its own list; logs to the session log in the data folder.
    explicit TAntiIdleSession(const config::TOptions &options, QObject *parent = nullptr);
    // Writes the history lines still waiting to the log.
    ~TAntiIdleSession() override;

    QTimer *Timer3 = nullptr;         // one probe per tick; interval from the frequency
    QTimer *LogTimer = nullptr;       // writes the waiting history lines to the log
    TSuperTimer *HTTPTimer = nullptr; // 1 ms stopwatch of the HTTP probe
    TPingOwner Ping2;                 // the session's echoes: Timeout 5000, TTL 64, Size 56

    // The observers are told of every event, in the order they were added.
    // An observer must be removed before it goes away.
    void AddObserver(TSessionObserver *observer);
    void RemoveObserver(TSessionObserver *observer);

    // Starts a session: clears the history, reads the options, sends the first
    // probe and starts the timer. False when the start failed (no host, a
    // frequency that is no number or an empty list while cycling): the
    // observers got the reason as a message, it is in *reason when given,
    // and no probe or timer runs.
    bool Start(QString *reason = nullptr);
    // Ends the session: timers stopped, the waiting history written to the
    // log, counters cleared. A probe still out is not cancelled: its result
    // comes later and is reported as usual.
    void Stop();
    // The interval measured for the network in use, in milliseconds (0: none
    // measured), asked at the start and at IntervalSourceChanged() when
    // [KeepAlive] IntervalFrom is "measured". Unset: the frequency as set.
    std::function<int()> MeasuredIntervalMs;
    // The network, the measurements or the preferences changed: a running
    // session takes the interval they give now.
    void IntervalSourceChanged();
    // [KeepAlive] IntervalFrom is "measured": the interval follows the network in use.
    bool FollowsMeasuredInterval() const;

    // Between Start and Stop.
    bool Started() const { return phase_ != TSessionPhase::Idle; }
    TSessionPhase Phase() const { return phase_; }
    // Writes every history line still waiting to the log (the program is
    // ending). False when the log cannot be written (observers told).
    bool FlushLog();
    // Adds a line to the session's history from outside the session (a
    // dial-up notice), so the log keeps every line a view of it shows.
    void AddHistoryLine(const QString &text);

    // Pauses the probes (ticks send nothing, results still out do not count
    // for the line) while the machine sleeps or the connection is metered;
    // 'why' names the reason ("suspended", "paused (metered)"). Pauses of
    // different reasons stack: probes resume when none is left.
    void Pause(const QString &why);
    void Resume(const QString &why);
    bool Paused() const { return !pauses_.isEmpty(); }
    // Why the line went, as the dial-up service says (kept with the outage).
    void SetLinkCause(const QString &cause) { link_.SetCause(cause); }
    // The line's state as the probes see it; thresholds from the history
    // options, read at each result.
    const TLinkMonitor &Link() const { return link_; }
    // The counters "skip when busy" reads ([KeepAlive] SkipWhenBusy).
    TLineWatch &LineWatch() { return lineWatch_; }

    // The server list the session visits, the web client it probes with
    // (shared with the server list download), its statistics and its log.
    TServerHosts &Servers() { return servers_; }
    TWebClient &Web() { return *web_; }
    TSessionStats &Stats() { return stats_; }
    const TSessionStats &Stats() const { return stats_; }
    const TSessionLog &Log() const { return log_; }

    // Where the session stands; its steps keep it.
    TSessionState State;
    // The report row of the server being probed.
    int ReportRow() const { return State.CycleMode ? State.ServerIndex + 1 : 1; }
    // The watchdog limit of the next probe (or, probe = false, download).
    int HttpWatchdogLimit(bool probe) const;

    // The steps of a session, each as its event runs it.
    QString StartAntiIdle();          // why the start failed; empty when it went
    QString StartCycle();             // first server of the list, then the timer
    bool StartSessionStats(QString *error = nullptr);
    // Timer3's interval: the measured one where it applies, else 'minutes'.
    int ProbeIntervalMs(int minutes) const;
    void Timer3Timer();               // one tick: the next host, then one probe
    void SendProbe();                 // one echo or HTTP GET to CurrentHost, by the method
    void Ping2DnsLookupDone(QObject *Sender, quint16 Error);
    void Ping2EchoRequest(QObject *Sender);
    void Ping2EchoReply(QObject *Sender, int Replies);
    void HttpProbe();                 // one HTTP GET of CurrentHost into the probe file
    void HTTPTimerTimer();
    void LogTimerTimer();
    void EndSession();
    // The statistics of a probe of CurrentHost that ended: a success of 'ms',
    // a failure, a failed lookup (counted once per tick).
    void RecordSuccess(int ms);
    void RecordFailure();
    void RecordLookupFailure();

private:
    void SetPhase(TSessionPhase next);
    void StartProbeTimer();
    void SendEcho(const QString &host);
    void RecordSuccess(TProbeResult &result);
    void RecordFailure(TProbeResult &result);
    void RecordLookupFailure(TProbeResult &result);
    TProbeResult CurrentResult() const;
    void Publish(TProbeResult &result);
    void StopMonitoring();
    // With [KeepAlive] SkipWhenBusy: CurrentHost's probe is skipped (and
    // recorded so) when its line carried other traffic since the last one.
    bool SkipProbe();
    void Status(const QString &text, bool repaint = false);
    void HistoryLine(const QString &text);
    void FailureLine(const QString &text);
    void Message(const QString &text);
    template <typename Call> void Notify(Call call);

    const config::TOptions &options_;
    TWebClient *web_ = nullptr;
    TServerHosts servers_;
    TSessionStats stats_;
    TSessionLog log_;
    TLinkMonitor link_;
    QStringList pauses_;              // reasons the probes are paused for
    // The last probe that reached each host: where it went and what it cost.
    struct TLastProbe {
        QString Address;
        antiidle::TProbeKind Kind = antiidle::TProbeKind::None;
        qint64 Sent = 0, Received = 0;
    };
    std::map<QString, TLastProbe> lastProbe_;
    TLineWatch lineWatch_;
    std::vector<TSessionObserver *> observers_;

    TSessionPhase phase_ = TSessionPhase::Idle;
    TRunGuard session_;               // one run per session started
    TRunGuard::TTicket probeSession_ = TRunGuard::NoRun;  // session that sent the echo in flight
    int echoServerIndex_ = -1;        // list position of the echo in flight
    TStamp echoSentAt_;               // when the echo in flight went out
    bool reporting_ = false;          // a tick's message box is open
};
