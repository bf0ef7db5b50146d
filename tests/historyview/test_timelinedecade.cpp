// The shaded spans of a decade's outages and unwatched nights, pixel for
// pixel as each span blended over the plot's background in turn leaves
// them, at several widths.
#include "historyview/timelineview.h"

#include <QImage>
#include <QPainter>
#include <QRandomGenerator>
#include <gtest/gtest.h>

#include <algorithm>

using namespace history;
using namespace historyview;

namespace {

constexpr TUs kMin = 60LL * 1000000;
const QColor kGrey(128, 128, 128, 60), kRed(220, 40, 40, 70);

// How many of the spans cover each column of the plot.
std::vector<int> Coverage(const std::vector<TInterval> &spans, const TRange &range, int width)
{
    std::vector<int> n(size_t(width), 0);
    for (const TInterval &s : spans) {
        for (int x = ColumnOf(s.From, range, width); x <= ColumnOf(s.To - 1, range, width); ++x)
            ++n[size_t(x)];
    }
    return n;
}

} // namespace

TEST(TimelineDecade, SpansBlendAsEachDrawnInTurn)
{
    // Ten years: an outage of 3 to 20 minutes every few days at random, a
    // night asleep every 13 days, two minutes unwatched at a weekly restart.
    QRandomGenerator rng(7);
    const TRange range{1'600'000'000LL * 1000000, 1'600'000'000LL * 1000000 + 3653 * kUsPerDay};
    std::vector<TGap> gaps;
    std::vector<TInterval> nights, outages;
    for (TUs at = range.From + kUsPerDay; at < range.To; at += kUsPerDay) {
        if (at / kUsPerDay % 13 == 0)
            nights.push_back({at, at + 8 * 60 * kMin});
        if (at / kUsPerDay % 7 == 0)
            nights.push_back({at + 9 * 60 * kMin, at + 9 * 60 * kMin + 2 * kMin});
        if (rng.bounded(3) == 0)
            outages.push_back({at + 12 * 60 * kMin, at + 12 * 60 * kMin + TUs(rng.bounded(3, 21)) * kMin});
    }
    for (const TInterval &n : nights)
        gaps.push_back({n, "suspended"});
    // Columns of about nine, four and two days: some hold two outages or
    // more, or outages and nights.
    for (const int viewWidth : {480, 900, 1700}) {
        SCOPED_TRACE(viewWidth);
        TTimelineView view;
        view.resize(viewWidth, 300);
        view.SetData(range, {}, gaps, outages);
        const QImage image = view.grab().toImage();
        const QRect plot = view.PlotRect();
        const std::vector<int> grey = Coverage(nights, range, plot.width()), red = Coverage(outages, range, plot.width());
        ASSERT_GT(*std::max_element(red.begin(), red.end()), 1);
        int wrong = 0;
        // A row under the frame and above any name of a gap, the frame's
        // columns left out.
        for (int x = 1; x < plot.width() - 2; ++x) {
            QImage want(1, 1, image.format());
            want.fill(view.palette().base().color());
            QPainter p(&want);
            for (int i = 0; i < grey[size_t(x)] + red[size_t(x)]; ++i)
                p.fillRect(0, 0, 1, 1, i < grey[size_t(x)] ? kGrey : kRed);
            p.end();
            const QRgb got = image.pixel(plot.left() + x, plot.top() + 2);
            if (got != want.pixel(0, 0) && ++wrong <= 3)
                ADD_FAILURE() << "column " << x << ": " << grey[size_t(x)] << " grey, " << red[size_t(x)]
                              << " red; got " << std::hex << got << ", want " << want.pixel(0, 0);
        }
        EXPECT_EQ(wrong, 0);
    }
}
