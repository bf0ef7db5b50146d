// TMSicmpTask: a run of echoes (look the host up, probe, report each probe,
// finish) and TMSTrace, the traceroute: TTL 1, 2, ... until the target
// answers or the hop limit, with an optional test echo that estimates the
// number of hops and the texts of the output lines.
#pragma once

#include "net/dns.h"
#include "net/hoptable.h"
#include "net/msicmp.h"

#include <QString>
#include <cstdint>
#include <memory>

class QTimer;
class TTraceProbes;

class TMSicmpTask : public TMSicmp {
    Q_OBJECT
public:
    // Where a run stands; Busy() is true in every state but Idle.
    enum class TState { Idle, LookingUp, Testing, Probing };

    explicit TMSicmpTask(QObject *owner = nullptr);
    ~TMSicmpTask() override;

    // Begins a run to a host name or an address of either family (an IPv6
    // one with or without brackets and zone). Refusals and failures come
    // through OnError.
    virtual void Start(const QString &host);
    // Asks the running run to stop: a pending asynchronous lookup ends at
    // once (OnError with kMsLookupCancelled); an echo out is let finish and
    // then reported as cancelled.
    virtual void Cancel();

    bool Busy() const { return m_state != TState::Idle; }
    TState State() const { return m_state; }

    QString TargetName;       // official name of the target
    QString TargetAddrText;   // canonical text of the target's address
    bool Resolve = false;     // look up each hop's name
    QString HopHost;          // hop's name (or address text) for the lines
    QString HopAddrText;      // canonical text of the hop's address
    bool CancelRequested = false;
    TNotifyEvent OnFinished;

protected:
    // First probe of a run, once the target is known.
    virtual void BeginProbing() = 0;
    // ResultCode := kMsCancelled when a cancel was asked for.
    virtual void CheckCancel();
    // Prepares the next probe; true when there is one.
    virtual bool NextProbe() { return false; }
    // OnFinished, then the run ends.
    virtual void Finish();
    void EchoDone() override;
    // Moves the run to another state (the one place that does).
    void SetState(TState next);
    // Ends the run with OnError(ResultCode, ResultText).
    void Fail();

private:
    void DnsDone();
    void FillHop();

    TDNS *m_dns;  // looks the target up; owned, child of this object
    TState m_state = TState::Idle;
};

// The hops are probed several at a time (THopTable::kWindow): each echo on
// a thread of its own, in asynchronous mode as in blocking mode, and the
// results reported strictly in hop order, one OnData each, through the same
// texts as one probe at a time would give. Nothing is sent beyond the target
// once it has answered. A hop keeps the whole time-out while no later hop
// has answered; once one has, a silent hop is given up (reported as timed
// out) after a wait adapted to the round trip of the nearest later hop that
// answered (THopTable::SilentWaitUs). Hop names are looked
// up as soon as a hop answers, so they are known by the time its turn comes.
//
// Asynchronous mode: the window runs while probes are out. Blocking mode:
// the caller's thread waits for the probes out (the window is frozen, as
// during one blocking echo), and pending input is handled before each hop
// is reported. Cancel takes effect at once in both: the hop whose turn it
// is is reported as cancelled (from the event loop, after the Cancel click
// has returned) and the run finishes; probes still out are dropped.
class TMSTrace : public TMSicmpTask {
    Q_OBJECT
public:
    explicit TMSTrace(QObject *owner = nullptr);
    // Probes still out are dropped: they end on their own and write nowhere.
    ~TMSTrace() override;

    void Cancel() override;

    // The line for the probe just reported (OnData); empty outside a run.
    QString HopText() const;
    // The closing line of the run (OnFinished).
    QString SummaryText() const;

    // Hops the test echo estimates; 0 = no estimate.
    int HopsExpected() const { return m_hopsExpected; }
    // Hops to a target whose echo reply arrived with this TTL (IPv6: hop
    // limit): the target started from the smallest usual initial value not
    // below it, 32, 64, 128 or 255 for IPv4, 64, 128 or 255 for IPv6. 0 when
    // the TTL is unknown (0).
    static int HopsForReplyTtl(int ttl, platform::Family family = platform::Family::IPv4);

    bool SendTestPacket = false;  // estimate the hops with one echo first
    TNotifyEvent OnTest;          // the test echo was answered

protected:
    void BeginProbing() override;

private:
    struct TRun;

    void TestDone();
    // Probes the hops from 1: sends the first window and, in blocking mode,
    // runs the whole probing here.
    void StartHops();
    void RunBlocking(const std::shared_ptr<TRun> &run);
    // The one step of probing: takes the probes' notes, gives silent hops up,
    // reports every hop whose turn has come, sends what the window allows and
    // sets the next give-up time. Re-entered from a handler, it only asks
    // the step on the stack to go round again.
    void Advance();
    void TakeNotes(TRun &run);
    // Reports hop ttl (OnData, or OnError for a local failure) and ends the
    // run after the target's hop or the hop limit. True when the run goes on.
    bool ReportHop(const std::shared_ptr<TRun> &run, int ttl);
    // Reports the hop whose turn it is as cancelled and finishes the run.
    void EndCancelled();
    // Drops the probes out and stops the give-up timer.
    void EndRun();

    int m_hopsExpected = 0;
    std::shared_ptr<TRun> m_run;   // the probing of the current run, if any
    QTimer *m_giveUp;              // next silent hop to give up (asynchronous mode)
    std::uint64_t m_serial = 0;    // counts runs, so a posted cancel finds its own
};
