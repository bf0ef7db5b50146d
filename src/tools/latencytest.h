// The latency test: one echo to one host every LatTimer interval until the
// user switches it off, each round trip plotted on the response graph's line
// picture (img_LatGraph), each outcome on the status line.
#pragma once

#include "components/runguard.h"
#include "net/pingowner.h"

#include <QObject>
#include <QString>

class IShell;
class QTimer;
class TToolSwitch;

class TLatencyTest : public QObject {
    Q_OBJECT
public:
    // Binds the Latency switch of 'shell'; the test's objects are children of its window.
    explicit TLatencyTest(IShell &shell);
    ~TLatencyTest() override;

    TPingOwner Ping4;                 // the test's echoes: Timeout from the options, TTL 64, Size 56
    QTimer *LatTimer = nullptr;       // one echo per tick; interval from the options

    // The test from its switching on to its switching off.
    struct TRunState {
        QString LatHost;              // host of the running test, as typed at its start
        TRunGuard LatRun;             // the run; active while the switch is on
        TRunGuard::TTicket LatEchoRun = TRunGuard::NoRun; // run of the echo in flight
        bool LatEchoActive = false;   // an echo is in flight; ticks meanwhile are skipped
        bool LatReplySeen = false;    // the echo in flight has reported its reply
    };
    TRunState Run;

    bool Running() const;
    void btn_LatencyClick();
    void Ping4DnsLookupDone(QObject *Sender, quint16 Error);
    void LatTimerTimer();
    void Ping4EchoRequest(QObject *Sender);
    void Ping4EchoReply(QObject *Sender, int Replies);

private:
    void SwitchOff();
    IShell &shell_;
    TToolSwitch &switch_;
};
