// The timeline over a decade: the shaded spans of a decade's outages and
// unwatched nights, pixel for pixel as each span blended over the plot's
// background in turn would leave them, at several widths.
#include "historyview/timelineview.h"

#include <QImage>
#include <QPainter>
#include <QRandomGenerator>
#include <gtest/gtest.h>

#include <algorithm>
#include <map>

using namespace history;
using namespace historyview;

namespace {

constexpr TUs kMin = 60LL * 1000000;

// Ten years from a fixed start: an outage of 3 to 20 minutes every few days
// at random, a night of 8 hours asleep every 13 days, a fortnight unwatched
// now and then, and the program restarted weekly (two minutes unwatched).
struct TDecade {
    TRange Range;
    std::vector<TGap> Gaps;
    std::vector<TInterval> Outages;
};

TDecade Decade(quint32 seed)
{
    QRandomGenerator rng(seed);
    TDecade d;
    d.Range = {1'600'000'000LL * 1000000, 1'600'000'000LL * 1000000 + 3653 * kUsPerDay};
    for (TUs at = d.Range.From + 13 * kUsPerDay; at < d.Range.To; at += 13 * kUsPerDay)
        d.Gaps.push_back({{at, at + 8 * 60 * kMin}, "suspended"});
    for (TUs at = d.Range.From + 7 * kUsPerDay; at < d.Range.To; at += 7 * kUsPerDay)
        d.Gaps.push_back({{at + kMin, at + 3 * kMin}, "not monitored"});
    for (TUs at = d.Range.From + 400 * kUsPerDay; at < d.Range.To; at += 500 * kUsPerDay)
        d.Gaps.push_back({{at + 9 * 60 * kMin, at + 14 * kUsPerDay}, "not monitored"});
    std::sort(d.Gaps.begin(), d.Gaps.end(), [](const TGap &a, const TGap &b) { return a.Span.From < b.Span.From; });
    for (TUs at = d.Range.From + kUsPerDay; at < d.Range.To; at += TUs(rng.bounded(1, 6 * 24 * 60)) * kMin)
        d.Outages.push_back({at, at + TUs(rng.bounded(3, 21)) * kMin});
    return d;
}

// How often the spans' pixel columns (as the plot maps times) cover each column.
std::vector<int> Coverage(const std::vector<TInterval> &spans, const TRange &range, int width)
{
    std::vector<int> n(size_t(width), 0);
    for (const TInterval &s : spans) {
        const int x0 = ColumnOf(std::max(s.From, range.From), range, width);
        const int x1 = ColumnOf(std::min(s.To, range.To) - 1, range, width);
        for (int x = x0; x <= x1; ++x)
            ++n[size_t(x)];
    }
    return n;
}

} // namespace

TEST(TimelineDecade, SpansBlendAsEachDrawnInTurn)
{
    const TDecade d = Decade(7);
    ASSERT_GT(d.Outages.size(), 1000u);
    std::vector<TInterval> gapSpans;
    for (const TGap &g : d.Gaps)
        gapSpans.push_back(g.Span);
    // Plot widths where columns span about nine, four and two days: at each
    // some columns hold two or more outages, or an outage and a night.
    for (const int viewWidth : {480, 900, 1700}) {
        SCOPED_TRACE(viewWidth);
        TTimelineView view;
        view.resize(viewWidth, 300);
        view.SetData(d.Range, {}, d.Gaps, d.Outages);
        const QImage image = view.grab().toImage();
        const QRect plot = view.PlotRect();
        const int w = plot.width();
        const std::vector<int> grey = Coverage(gapSpans, d.Range, w), red = Coverage(d.Outages, d.Range, w);
        ASSERT_TRUE(std::any_of(red.begin(), red.end(), [](int n) { return n >= 2; }));

        // The colour a column must have: its spans blended one by one over
        // the background, as separate rectangles would be.
        std::map<std::pair<int, int>, QRgb> expected;
        auto colourOf = [&](int g, int r) {
            const auto key = std::pair(g, r);
            if (auto it = expected.find(key); it != expected.end())
                return it->second;
            QImage one(1, 1, image.format());
            one.fill(view.palette().base().color());
            QPainter p(&one);
            for (int i = 0; i < g; ++i)
                p.fillRect(0, 0, 1, 1, QColor(128, 128, 128, 60));
            for (int i = 0; i < r; ++i)
                p.fillRect(0, 0, 1, 1, QColor(220, 40, 40, 70));
            p.end();
            return expected[key] = one.pixel(0, 0);
        };
        // A row below the frame and above any name of a gap; the frame's
        // columns left out.
        const int y = plot.top() + 2;
        int shaded = 0, wrong = 0;
        for (int x = 1; x < w - 2; ++x) {
            const QRgb want = colourOf(grey[size_t(x)], red[size_t(x)]);
            const QRgb got = image.pixel(plot.left() + x, y);
            shaded += grey[size_t(x)] + red[size_t(x)] > 0;
            if (got != want && ++wrong <= 5)
                ADD_FAILURE() << "column " << x << " of " << w << ": " << grey[size_t(x)] << " grey, "
                              << red[size_t(x)] << " red spans; got " << std::hex << got << ", want " << want;
        }
        EXPECT_EQ(wrong, 0);
        EXPECT_GT(shaded, w / 4);
    }
}
