// TMSicmpTask: a run of echoes (look the host up, probe, report each probe,
// finish) and TMSTrace, the traceroute: TTL 1, 2, ... until the target
// answers or the hop limit, with an optional test echo that estimates the
// number of hops and the texts of the output lines.
#pragma once

#include "net/dns.h"
#include "net/msicmp.h"

#include <QString>
#include <cstdint>

class TMSicmpTask : public TMSicmp {
    Q_OBJECT
public:
    // Where a run stands; Busy() is true in every state but Idle.
    enum class TState { Idle, LookingUp, Testing, Probing };

    explicit TMSicmpTask(QObject *owner = nullptr);
    ~TMSicmpTask() override;

    // Begins a run to a host name or dotted address. Refusals and failures
    // come through OnError.
    virtual void Start(const QString &host);
    // Asks the running run to stop: a pending asynchronous lookup ends at
    // once (OnError with kMsLookupCancelled); an echo out is let finish and
    // then reported as cancelled.
    void Cancel();

    bool Busy() const { return m_state != TState::Idle; }
    TState State() const { return m_state; }

    QString TargetName;       // official name of the target
    QString TargetAddrText;   // dotted text of the target
    bool Resolve = false;     // look up each hop's name
    QString HopHost;          // hop's name (or dotted text) for the lines
    QString HopAddrText;      // hop's dotted text
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

class TMSTrace : public TMSicmpTask {
    Q_OBJECT
public:
    explicit TMSTrace(QObject *owner = nullptr);

    // The line for the probe just reported (OnData); empty outside a run.
    QString HopText() const;
    // The closing line of the run (OnFinished).
    QString SummaryText() const;

    // Hops the test echo estimates; 0 = no estimate.
    int HopsExpected() const { return m_hopsExpected; }
    // Hops to a target whose echo reply arrived with this TTL: the target
    // started from the smallest usual initial TTL (32, 64, 128, 255) not below
    // it. 0 when the TTL is unknown (0).
    static int HopsForReplyTtl(int ttl);

    bool SendTestPacket = false;  // estimate the hops with one echo first
    TNotifyEvent OnTest;          // the test echo was answered

protected:
    void BeginProbing() override;
    bool NextProbe() override;

private:
    void TestDone();

    int m_hopsExpected = 0;
};
