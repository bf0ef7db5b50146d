#include "historyview/timelinemodel.h"

#include <algorithm>

namespace historyview {

// What this folder shows is the history layer's: its types are used unqualified.
using namespace history;

int ColumnOf(TUs at, const TRange &range, int width)
{
    if (range.Length() <= 0 || width <= 0)
        return 0;
    const double f = double(at - range.From) / double(range.Length());
    return std::clamp(int(f * width), 0, width - 1);
}

TTimelineShape ShapeTimeline(const std::vector<TTimelinePoint> &points, const std::vector<TInterval> &breaks,
                             const TRange &range, int width)
{
    TTimelineShape shape;
    size_t nextBreak = 0;
    bool open = false;          // a run is under way
    TUs lastAt = 0;
    for (const TTimelinePoint &p : points) {
        if (!range.Contains(p.At))
            continue;
        // A break that started after the last point of the run ends it.
        while (nextBreak < breaks.size() && breaks[nextBreak].To <= p.At) {
            if (open && breaks[nextBreak].To > lastAt)
                open = false;
            ++nextBreak;
        }
        if (nextBreak < breaks.size() && breaks[nextBreak].From <= p.At && open
            && breaks[nextBreak].From > lastAt)
            open = false;
        const int x = ColumnOf(p.At, range, width);
        if (p.Ms < 0) {
            if (shape.LostX.empty() || shape.LostX.back() != x)
                shape.LostX.push_back(x);
            open = false;
            continue;
        }
        shape.MaxMs = std::max(shape.MaxMs, p.Ms);
        if (!open) {
            shape.Runs.emplace_back();
            open = true;
        }
        std::vector<TTimelineShape::TColumn> &run = shape.Runs.back();
        if (!run.empty() && run.back().X == x) {
            TTimelineShape::TColumn &c = run.back();
            c.MinMs = std::min(c.MinMs, p.Ms);
            c.MaxMs = std::max(c.MaxMs, p.Ms);
            c.LastMs = p.Ms;
        } else {
            run.push_back({x, p.Ms, p.Ms, p.Ms, p.Ms});
        }
        lastAt = p.At;
    }
    return shape;
}

} // namespace historyview
