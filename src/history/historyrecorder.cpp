#include "history/historyrecorder.h"

#include "history/historystore.h"
#include "session/antiidlesession.h"

namespace history {

TOutageRow OutageRow(const TOutage &o)
{
    TOutageRow row;
    row.Start = ToUs(o.Start);
    if (!o.Open()) {
        row.End = ToUs(o.End);
        row.DurationMs = o.DurationMs();
    }
    row.ProbesLost = o.ProbesLost;
    row.FirstOutcome = o.FirstOutcome;
    row.FirstReason = o.FirstReason;
    row.Hosts = o.HostsTried.join(QLatin1Char(' '));
    row.Cause = o.Cause;
    row.Verdict = o.Verdict;
    row.Evidence = o.Evidence;
    return row;
}

THistoryRecorder::THistoryRecorder(TAntiIdleSession &session, THistoryStore &store)
    : session_(&session), store_(store)
{
    session.AddObserver(this);
}

THistoryRecorder::~THistoryRecorder()
{
    if (session_)
        session_->RemoveObserver(this);
    if (sessionId_ == 0)
        return;
    const TStamp now = TStamp::Now();
    if (outageId_ && session_ && session_->Link().Current()) {
        TOutage open = *session_->Link().Current();
        open.End = now;
        CloseOutage(open, kNotMonitored);
    }
    CloseGaps(ToUs(now));
    store_.EndSession(sessionId_, ToUs(now));
}

void THistoryRecorder::SessionStarting(const TSessionStart &start)
{
    starting_ = true;
    startUs_ = ToUs(start.At);
    method_ = start.Method;
    cycle_ = start.Cycle;
    intervalMs_ = 0;
    sessionId_ = 0;
    outageId_ = 0;
}

void THistoryRecorder::StatsReset(const TStatsStart &start)
{
    intervalMs_ = start.IntervalMs;
    cycle_ = start.Cycle;
}

void THistoryRecorder::EnsureSession(qint64 atUs)
{
    if (sessionId_ || !starting_)
        return;
    sessionId_ = store_.BeginSession(std::min(startUs_, atUs), intervalMs_, method_, cycle_);
    // Pauses that began before the session (a metered connection) hold it
    // from its first moment.
    OpenGaps(std::min(startUs_, atUs));
}

void THistoryRecorder::ProbesScheduled()
{
    EnsureSession(ToUs(TStamp::Now()));
}

void THistoryRecorder::SessionStopped(const TSessionEnd &end)
{
    starting_ = false;
    if (!sessionId_)
        return;
    CloseGaps(ToUs(end.At));
    store_.EndSession(sessionId_, ToUs(end.At));
    sessionId_ = 0;
}

void THistoryRecorder::ProbeResult(const TProbeResult &r)
{
    const qint64 at = ToUs(r.At);
    EnsureSession(at);
    TProbeRow row;
    row.At = at;
    row.Host = r.Host;
    row.Address = r.Address;
    row.Kind = r.Kind;
    row.Outcome = r.Outcome;
    row.Ms = r.Success() ? std::max(0, r.Ms) : -1;
    // A probe kind that timed only to the millisecond gives that.
    row.Us = !r.Success() ? -1 : r.Us >= 0 ? r.Us : qint64(row.Ms) * 1000;
    // A skipped probe keeps the bytes it did not cost: nothing went.
    const bool skipped = r.Outcome == TProbeOutcome::Skipped;
    row.BytesSent = skipped ? r.SavedSent : r.BytesSent;
    row.BytesReceived = skipped ? r.SavedReceived : r.BytesReceived;
    row.Reason = r.Success() ? QString() : r.Reason;
    store_.AddProbe(row, sessionId_);
}

void THistoryRecorder::LinkDown(const TOutage &outage)
{
    outageId_ = store_.OpenOutage(OutageRow(outage), sessionId_);
    tracedId_ = outageId_;
}

void THistoryRecorder::RouteTraced(const QString &hops)
{
    // The trace may end after a short outage did: it is still that one's.
    store_.SetOutageRoute(tracedId_, hops);
}

void THistoryRecorder::Diagnosed(const diagnosis::TDiagnosisResult &, const std::optional<TOutage> &outage)
{
    if (outage && outageId_)
        store_.SetOutageVerdict(outageId_, outage->Verdict, outage->Evidence);
}

void THistoryRecorder::LinkUp(const TOutage &outage)
{
    CloseOutage(outage, QStringLiteral("up"));
}

void THistoryRecorder::MonitoringStopped(const TStamp &, const std::optional<TOutage> &open)
{
    // A pause stops the watch after telling its reason; the end of a session
    // leaves the line unwatched.
    if (open)
        CloseOutage(*open, pauses_.isEmpty() ? kNotMonitored : pauses_.constLast());
}

void THistoryRecorder::CloseOutage(const TOutage &outage, const QString &endedBy)
{
    if (!outageId_)
        return;
    TOutageRow row = OutageRow(outage);
    row.EndedBy = endedBy;
    store_.CloseOutage(outageId_, row);
    outageId_ = 0;
}

void THistoryRecorder::Paused(const QString &why, const TStamp &at)
{
    pauses_ << why;
    if (sessionId_)
        openGaps_.push_back(store_.OpenGap(sessionId_, ToUs(at), why));
}

void THistoryRecorder::Resumed(const TStamp &at)
{
    pauses_.clear();
    CloseGaps(ToUs(at));
}

void THistoryRecorder::OpenGaps(qint64 atUs)
{
    for (const QString &why : pauses_)
        openGaps_.push_back(store_.OpenGap(sessionId_, atUs, why));
}

void THistoryRecorder::CloseGaps(qint64 atUs)
{
    for (qint64 gap : openGaps_)
        store_.CloseGap(gap, atUs);
    openGaps_.clear();
}

} // namespace history
