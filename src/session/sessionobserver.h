// An observer of an anti-idle session: the session calls these, in the order
// its work happens, on the thread that runs it. Every call has a default that
// does nothing, so an observer overrides only what it needs. A call may run
// a nested event loop (a message box); the session is built for it.
#pragma once

#include "diagnosis/verdict.h"
#include "session/linkmonitor.h"
#include "session/sessionevents.h"

#include <optional>

class TSessionObserver {
public:
    virtual ~TSessionObserver() = default;

    // The start: the history starts empty, the method is known.
    virtual void SessionStarting(const TSessionStart &) {}
    // The statistics and the report rows start anew.
    virtual void StatsReset(const TStatsStart &) {}
    // The session cycles through the server list.
    virtual void CycleStarted() {}
    // The probe timer runs: the session's time starts now.
    virtual void ProbesScheduled() {}
    // The start is complete (a start that failed tells Message instead).
    virtual void SessionStarted() {}
    // The session ended.
    virtual void SessionStopped(const TSessionEnd &) {}

    // The line went down (the outage so far) / came back (the whole outage).
    virtual void LinkDown(const TOutage &) {}
    virtual void LinkUp(const TOutage &) {}
    // A diagnosis of the line ended: while the line is down 'outage' is the
    // outage under way, carrying this verdict; once it is back, unset.
    virtual void Diagnosed(const diagnosis::TDiagnosisResult & /*result*/, const std::optional<TOutage> & /*outage*/) {}
    // The route at the start of the outage under way (or the one that just
    // ended): a JSON array of hops, as diagnosis::TRouteTrace gives it.
    virtual void RouteTraced(const QString & /*hops*/) {}
    // The line's state changed: up (the first success of a session
    // included), down, or unknown again once the line is no longer watched.
    // Told before LinkDown, LinkUp and MonitoringStopped.
    virtual void LinkState(TLinkMonitor::TLink /*link*/, const TStamp & /*at*/) {}
    // The line is no longer watched from 'at' (the session ended or was
    // paused): an outage still open ends there, unseen how.
    virtual void MonitoringStopped(const TStamp & /*at*/, const std::optional<TOutage> & /*open*/) {}
    // Probes pause (the machine sleeps, the connection is metered: 'why'
    // says which) and resume.
    virtual void Paused(const QString & /*why*/, const TStamp & /*at*/) {}
    virtual void Resumed(const TStamp & /*at*/) {}

    // A tick moved to another server of the list.
    virtual void ServerPosition(int /*index*/, const QString & /*host*/) {}
    virtual void ProbeSent(const TProbeSent &) {}
    virtual void ProbeResult(const TProbeResult &) {}

    // A status text ("Status: ..."); repaint asks for it to be shown now,
    // inside a long step.
    virtual void Status(const QString & /*text*/, bool /*repaint*/) {}
    // A line of the session's history (without its bullet).
    virtual void HistoryLine(const QString & /*text*/) {}
    // The history line that tells a probe failed: a history line like any
    // other unless the observer weighs it more (the service's journal).
    virtual void FailureLine(const QString &text) { HistoryLine(text); }
    // The history so far is in the log file: a view of it starts empty.
    virtual void LogFlushed() {}
    // Something the user must be told (a start that failed, a log that
    // cannot be written, how to allow echoes).
    virtual void Message(const QString & /*text*/) {}
};
