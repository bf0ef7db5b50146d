// What the History window shows of a range, read from the store in one
// pass: the timeline's points, each target's figures, the bytes of each day
// and the latest probe. Over a long range whole hours and days come from
// the store's summaries, and only what needs it (the range's ends, an hour a
// local day starts within, a day with probes that came while paused) is
// read probe by probe, so that the figures are those of the probes
// themselves while a decade reads in a blink.
#pragma once

#include "history/historycalc.h"
#include "history/historystore.h"

#include <optional>
#include <vector>

namespace history {

// One probe on the timeline: its time and round trip in whole ms (-1 when lost).
struct TPoint {
    TUs At = 0;
    int Ms = -1;
};

struct TRangeFigures {
    // Oldest first. From hour summaries, an hour's answered probes are two
    // points at its start (its smallest and largest round trip) and its
    // lost ones one more: a column of the timeline spans an hour or more then.
    std::vector<TPoint> Points;
    std::vector<TTargetRow> Targets;   // probes while paused left out
    std::vector<TDayBytes> Days;       // local days, oldest first
    std::optional<TProbeRow> Latest;   // the latest probe sent
    qint64 Probes = 0;                 // probes sent, and their bytes both ways
    qint64 Bytes = 0;
    bool FromHours = false;            // whole hours and days came from their summaries
};

// The figures of 'range' ('pauses' are the pauses that overlap it; one still
// open lasts until 'now'). Hour summaries are used when the file has them and
// the range is at least 'columns' hours long, i.e. when a column of a
// timeline that wide spans an hour or more. False when the file could not be
// read (the store's Problem() says why).
bool ReadRangeFigures(THistoryStore &store, const TRange &range, const std::vector<TSpanRow> &pauses, TUs now,
                      int columns, TRangeFigures &out);

} // namespace history
