// The timetable of "every target each interval": each entry of the list is
// probed once per interval, entry i of n at i * interval / n after the start,
// so that n probes are spread evenly rather than sent in one burst. Pure
// arithmetic on the monotonic clock's milliseconds; the session owns the
// timer and asks the plan which entries are due when it fires.
#pragma once

#include <QString>
#include <QtGlobal>

#include <vector>

namespace session {

// Why 'seconds' cannot be the interval of every target (too short, too
// long, no number: -1); empty when it can. 'key' names the setting in the
// reason ("[Probe All] Interval").
QString ProbeAllIntervalProblem(int seconds, const QString &key);

class TProbeAllPlan {
public:
    // A plan for 'count' entries, each due every 'intervalMs', from 'startMs'.
    void Start(qint64 startMs, int count, qint64 intervalMs);
    // No plan: nothing is ever due.
    void Clear();
    bool Active() const { return !next_.empty(); }
    int Count() const { return int(next_.size()); }
    qint64 IntervalMs() const { return interval_; }

    // The entries whose slot has come by 'nowMs', earliest slot first. Each
    // moves on to its first slot after nowMs: after a stall longer than the
    // interval (a machine that slept, a probe that blocked) an entry is
    // probed once, not once for every slot it missed.
    std::vector<int> Due(qint64 nowMs);
    // Milliseconds from nowMs to the next slot: 0 when one is already due,
    // -1 without a plan.
    qint64 UntilNext(qint64 nowMs) const;
    // The next slot of entry 'index' (monotonic ms); -1 for no such entry.
    qint64 NextOf(int index) const;

private:
    qint64 interval_ = 0;
    std::vector<qint64> next_;   // each entry's next slot
};

} // namespace session
