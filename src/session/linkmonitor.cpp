#include "session/linkmonitor.h"

#include <algorithm>

namespace {

void NoteHost(QStringList &hosts, const QString &host)
{
    if (!hosts.contains(host))
        hosts << host;
}

} // namespace

TLinkMonitor::TLinkMonitor(int downAfter, int upAfter)
{
    SetThresholds(downAfter, upAfter);
}

void TLinkMonitor::SetThresholds(int downAfter, int upAfter)
{
    downAfter_ = std::max(1, downAfter);
    upAfter_ = std::max(1, upAfter);
}

void TLinkMonitor::SetLink(TLink link)
{
    if (link == link_)
        return;
    link_ = link;
    if (OnState)
        OnState(link);
}

void TLinkMonitor::Feed(const TProbeResult &r)
{
    if (!TellsOfLine(r.Outcome))
        return;
    if (r.Success()) {
        failures_ = 0;
        pending_.reset();
        if (link_ != TLink::Down) {
            SetLink(TLink::Up);
            if (!pendingCause_.isEmpty() && ++sinceCause_ >= upAfter_)
                pendingCause_.clear();
            return;
        }
        if (successes_++ == 0)
            firstSuccess_ = r.At;
        NoteHost(outage_->HostsTried, r.Host);
        if (successes_ < upAfter_)
            return;
        outage_->End = firstSuccess_;
        const TOutage ended = *outage_;
        outage_.reset();
        successes_ = 0;
        SetLink(TLink::Up);
        if (OnUp)
            OnUp(ended);
        return;
    }

    successes_ = 0;
    sinceCause_ = 0;
    if (pending_) {
        ++pending_->ProbesLost;
        NoteHost(pending_->HostsTried, r.Host);
        return;
    }
    if (link_ == TLink::Down) {
        ++outage_->ProbesLost;
        NoteHost(outage_->HostsTried, r.Host);
        return;
    }
    if (failures_++ == 0) {
        run_ = TOutage();
        run_.Start = r.At;
        run_.FirstOutcome = r.Outcome;
        run_.FirstReason = r.Reason;
    }
    ++run_.ProbesLost;
    NoteHost(run_.HostsTried, r.Host);
    if (failures_ < downAfter_)
        return;
    failures_ = 0;
    run_.Cause = pendingCause_;
    pendingCause_.clear();
    if (hold_) {
        pending_ = run_;
        if (OnPending)
            OnPending(*pending_);
        return;
    }
    outage_ = run_;
    SetLink(TLink::Down);
    if (OnDown)
        OnDown(*outage_);
}

void TLinkMonitor::ConfirmDown()
{
    if (!pending_)
        return;
    outage_ = std::move(pending_);
    pending_.reset();
    SetLink(TLink::Down);
    if (OnDown)
        OnDown(*outage_);
}

void TLinkMonitor::Dismiss()
{
    pending_.reset();
    failures_ = 0;
}

void TLinkMonitor::SetCause(const QString &cause)
{
    if (outage_) {
        outage_->Cause = cause;
    } else if (pending_) {
        pending_->Cause = cause;
    } else {
        pendingCause_ = cause;
        sinceCause_ = 0;
    }
}

void TLinkMonitor::SetDiagnosis(const QString &verdict, const QString &evidence)
{
    std::optional<TOutage> &held = outage_ ? outage_ : pending_;
    if (!held)
        return;
    held->Verdict = verdict;
    held->Evidence = evidence;
}

std::optional<TOutage> TLinkMonitor::Stop(const TStamp &at)
{
    std::optional<TOutage> open = std::move(outage_);
    outage_.reset();
    pending_.reset();
    if (open)
        open->End = at;
    failures_ = successes_ = 0;
    pendingCause_.clear();
    SetLink(TLink::Unknown);
    return open;
}
