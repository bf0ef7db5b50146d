#include "session/probeallplan.h"

#include "config/options.h"

#include <algorithm>

namespace session {

QString ProbeAllIntervalProblem(int seconds, const QString &key)
{
    const config::TRange range = config::TProbeAllOptions::IntervalRange;
    if (seconds < 0)
        return QStringLiteral("%1 is not a number of seconds: every target needs an interval of %2 to %3 s")
            .arg(key)
            .arg(range.Min)
            .arg(range.Max);
    if (seconds < range.Min)
        return QStringLiteral("%1 of %2 s is too short: every target is probed at most every %3 s")
            .arg(key)
            .arg(seconds)
            .arg(range.Min);
    if (seconds > range.Max)
        return QStringLiteral("%1 of %2 s is too long: every target is probed at least once a day (%3 s)")
            .arg(key)
            .arg(seconds)
            .arg(range.Max);
    return QString();
}

void TProbeAllPlan::Start(qint64 startMs, int count, qint64 intervalMs)
{
    next_.clear();
    interval_ = std::max<qint64>(intervalMs, 1);
    if (count <= 0)
        return;
    next_.reserve(std::size_t(count));
    // i * interval / n in 64 bits: a day's interval times a long list fits.
    for (int i = 0; i < count; ++i)
        next_.push_back(startMs + qint64(i) * interval_ / count);
}

void TProbeAllPlan::Clear()
{
    next_.clear();
    interval_ = 0;
}

std::vector<int> TProbeAllPlan::Due(qint64 nowMs)
{
    std::vector<int> due;
    for (int i = 0; i < Count(); ++i) {
        if (next_[std::size_t(i)] <= nowMs)
            due.push_back(i);
    }
    // Several due at once (a late timer): the earliest slot goes first.
    std::stable_sort(due.begin(), due.end(),
                     [this](int a, int b) { return next_[std::size_t(a)] < next_[std::size_t(b)]; });
    for (const int i : due) {
        qint64 &slot = next_[std::size_t(i)];
        slot += ((nowMs - slot) / interval_ + 1) * interval_;
    }
    return due;
}

qint64 TProbeAllPlan::UntilNext(qint64 nowMs) const
{
    if (next_.empty())
        return -1;
    const qint64 first = *std::min_element(next_.begin(), next_.end());
    return std::max<qint64>(first - nowMs, 0);
}

qint64 TProbeAllPlan::NextOf(int index) const
{
    return index >= 0 && index < Count() ? next_[std::size_t(index)] : -1;
}

} // namespace session
