// The shape of the round-trip timeline, computed without painting: probes
// laid on pixel columns, the runs of answered probes drawn as connected
// lines, and the marks of lost probes. A line never joins two answers with
// a lost probe, a gap (unwatched, paused) or an outage between them.
#pragma once

#include "history/historycalc.h"
#include "history/rangefigures.h"

#include <vector>

namespace historyview {

// What this folder shows is the history layer's: its types are used unqualified.
using namespace history;

// One probe on the timeline: its time and round trip (-1 when lost).
using TTimelinePoint = TPoint;

struct TTimelineShape {
    // A pixel column of a run: the smallest and largest round trip that fell
    // on it, and the first and last (for joining to the columns beside it).
    struct TColumn {
        int X = 0;
        int MinMs = 0, MaxMs = 0, FirstMs = 0, LastMs = 0;
    };
    std::vector<std::vector<TColumn>> Runs;
    std::vector<int> LostX;         // columns with a lost probe, each once
    int MaxMs = 0;                  // the largest round trip shown
};

// Lays 'points' (oldest first) of 'range' on 'width' columns; 'breaks' are
// the stretches no line may cross (gaps and outages, merged).
TTimelineShape ShapeTimeline(const std::vector<TTimelinePoint> &points, const std::vector<TInterval> &breaks,
                             const TRange &range, int width);

// The column of a time in a range drawn 'width' columns wide.
int ColumnOf(TUs at, const TRange &range, int width);

} // namespace historyview
