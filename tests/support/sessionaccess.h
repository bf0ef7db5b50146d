// The inside of a session engine, for the tests that check its steps one by
// one (a report row filled by RecordSuccess, the timer's interval, the echo
// component's time-out) rather than through whole sessions. Everything a
// view or the service needs is public; new tests go through the public
// interface and a scripted transport (tests/session/scriptedtransport.h).
#pragma once

#include "components/supertimer.h"
#include "net/ping.h"
#include "session/antiidlesession.h"
#include "session/echotransport.h"
#include "session/httptransport.h"

#include <QTimer>

struct TSessionTestAccess {
    explicit TSessionTestAccess(TAntiIdleSession &s)
        : Timer3(s.Timer3), LogTimer(s.LogTimer), ProbeAllTimer(s.ProbeAllTimer), HTTPTimer(&s.http_->Stopwatch()),
          Ping2(&s.echo_->Ping2()), State(s.State), s_(s)
    {
    }

    QTimer *const Timer3;
    QTimer *const LogTimer;
    QTimer *const ProbeAllTimer;
    TSuperTimer *const HTTPTimer;
    TPing *const Ping2;
    TSessionState &State;

    // HTTPTimer's count (ms) of the current or last HTTP probe.
    int HttpElapsed() const { return s_.http_->Elapsed(); }

    bool StartSessionStats(QString *error = nullptr) { return s_.StartSessionStats(error); }
    void SendProbe() { s_.SendProbe(); }
    void RecordSuccess(int ms) { s_.RecordSuccess(ms); }
    void RecordFailure() { s_.RecordFailure(); }
    void RecordLookupFailure() { s_.RecordLookupFailure(); }
    void EndSession() { s_.EndSession(); }
    void LogTimerTimer() { s_.LogTimerTimer(); }

private:
    TAntiIdleSession &s_;
};

inline TSessionTestAccess Inside(TAntiIdleSession &session) { return TSessionTestAccess(session); }
// The same through a pointer, plain or owning.
template <typename Pointer>
TSessionTestAccess Inside(const Pointer &session)
{
    return TSessionTestAccess(*session);
}
