#include "session/sessionstats.h"

void TSessionStats::Start(const QStringList &hosts)
{
    attempts_ = successes_ = failures_ = 0;
    failureCounted_ = false;
    active_ = true;
    rows_.clear();
    rows_.reserve(size_t(hosts.size()));
    for (const QString &host : hosts)
        rows_.push_back(TServerStats{host});
}

TServerStats *TSessionStats::Row(int row)
{
    return row >= 1 && row <= int(rows_.size()) ? &rows_[size_t(row - 1)] : nullptr;
}

void TSessionStats::RecordSuccess(int row, int ms)
{
    if (TServerStats *r = Row(row)) {
        ++r->Successes;
        r->TimeSum += ms;
    }
    ++successes_;
}

void TSessionStats::RecordFailure(int row)
{
    ++failures_;
    failureCounted_ = true;
    if (TServerStats *r = Row(row))
        ++r->Failures;
}

bool TSessionStats::RecordLookupFailure(int row)
{
    if (failureCounted_)
        return false;
    RecordFailure(row);
    return true;
}

void TSessionStats::End()
{
    active_ = false;
    successes_ = failures_ = 0;
    failureCounted_ = false;
}

std::optional<session::TRowSummary> TSessionStats::Summary(int row) const
{
    if (row < 1 || row > int(rows_.size()))
        return std::nullopt;
    const TServerStats &r = rows_[size_t(row - 1)];
    return session::SummariseRow(r.Successes, r.Failures, r.TimeSum);
}
