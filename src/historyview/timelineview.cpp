#include "historyview/timelineview.h"

#include <QDateTime>
#include <QImage>
#include <QPainter>

#include <algorithm>
#include <iterator>

namespace historyview {

// What this folder shows is the history layer's: its types are used unqualified.
using namespace history;

namespace {

// The smallest of 1, 2, 5 x 10^n at or above ms: a round top for the axis.
int NiceScale(int ms)
{
    int step = 1;
    for (;;) {
        for (int m : {1, 2, 5}) {
            if (m * step >= ms)
                return m * step;
        }
        step *= 10;
    }
}

} // namespace

std::vector<TAxisTick> AxisTicks(const TRange &range, int width)
{
    // Local times at round steps: whole minutes or hours, midnights for
    // ranges of days, the first of January for ranges of years; as many as
    // fit, about one per 90 pixels.
    const qint64 minute = 60LL * 1000000;
    const qint64 year = 365 * kUsPerDay;
    const qint64 steps[] = {5 * minute,  10 * minute,  15 * minute,    30 * minute,    60 * minute,
                            120 * minute, 180 * minute, 360 * minute,   720 * minute,   kUsPerDay,
                            2 * kUsPerDay, 7 * kUsPerDay, 14 * kUsPerDay, 28 * kUsPerDay, 91 * kUsPerDay,
                            year,         2 * year,     5 * year,       10 * year,      20 * year};
    const int fit = std::max(2, width / 90);
    qint64 step = steps[std::size(steps) - 1];
    for (qint64 s : steps) {
        if (range.Length() / s <= fit) {
            step = s;
            break;
        }
    }
    const bool years = step >= year;
    const bool days = step >= kUsPerDay;
    // A range longer than a year names the year of each tick: "Mar 7" alone
    // would read as this year's.
    const QString format = years ? QStringLiteral("yyyy")
                           : range.Length() > year ? QStringLiteral("MMM yyyy")
                           : days                  ? QStringLiteral("MMM d")
                                                   : QStringLiteral("HH:mm");
    const QDateTime first = QDateTime::fromMSecsSinceEpoch(range.From / kUsPerMs).toLocalTime();
    // Start at the local midnight (or new year) before the range, and step
    // in local time (a day is not always 24 hours where the clocks change).
    QDateTime tick(years ? QDate(first.date().year(), 1, 1) : first.date(), QTime(0, 0), Qt::LocalTime);
    auto advance = [&](const QDateTime &t) {
        return years ? t.addYears(int(step / year)) : days ? t.addDays(step / kUsPerDay) : t.addSecs(step / 1000000);
    };
    std::vector<TAxisTick> ticks;
    for (int guard = 0; guard < 2000 && tick.toMSecsSinceEpoch() * kUsPerMs < range.To; ++guard, tick = advance(tick)) {
        const TUs at = tick.toMSecsSinceEpoch() * kUsPerMs;
        if (at >= range.From)
            ticks.push_back({at, tick.toString(format)});
    }
    return ticks;
}

TTimelineView::TTimelineView(QWidget *parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("img_HistTimeline"));
    setMinimumSize(320, 160);
    setAutoFillBackground(false);
}

void TTimelineView::SetData(const TRange &range, std::vector<TTimelinePoint> points, std::vector<TGap> gaps,
                            std::vector<TInterval> outages)
{
    range_ = range;
    points_ = std::move(points);
    gaps_ = std::move(gaps);
    outages_ = std::move(outages);
    Reshape();
    update();
}

QRect TTimelineView::PlotRect() const
{
    const int left = fontMetrics().horizontalAdvance(QStringLiteral("00000 ms")) + 8;
    const int bottom = fontMetrics().height() + 6;
    return rect().adjusted(left, 8, -8, -bottom);
}

void TTimelineView::resizeEvent(QResizeEvent *)
{
    Reshape();
}

void TTimelineView::Reshape()
{
    std::vector<TInterval> breaks = outages_;
    for (const TGap &g : gaps_)
        breaks.push_back(g.Span);
    shape_ = ShapeTimeline(points_, Merge(std::move(breaks)), range_, std::max(1, PlotRect().width()));
    scaleMs_ = NiceScale(std::max(10, shape_.MaxMs));
}

int TTimelineView::YOf(int ms, const QRect &plot) const
{
    return plot.bottom() - int(double(ms) / scaleMs_ * (plot.height() - 1));
}

void TTimelineView::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    p.fillRect(rect(), palette().base());
    const QRect plot = PlotRect();
    const int w = std::max(1, plot.width());
    auto spanRect = [&](const TInterval &i) {
        const int x0 = plot.left() + ColumnOf(std::max(i.From, range_.From), range_, w);
        const int x1 = plot.left() + ColumnOf(std::min(i.To, range_.To) - 1, range_, w);
        return QRect(x0, plot.top(), std::max(1, x1 - x0 + 1), plot.height());
    };

    // Unwatched and paused time shaded grey, outages red. Every span is the
    // plot's height, so each costs a blend per row; a decade has a couple of
    // thousand of them a pixel or two wide, which took most of the paint. They
    // are blended on one row of the plot's background in the same order and
    // that row is stretched to the plot's height: on a plain background the
    // same pixels, at a row's cost. The names go on top.
    const QBrush base = palette().base();
    QImage strip(w, 1, QImage::Format_ARGB32_Premultiplied);
    strip.fill(base.style() == Qt::SolidPattern ? base.color() : QColor(Qt::transparent));
    {
        QPainter row(&strip);
        auto shade = [&](const TInterval &i, const QColor &color) {
            const QRect r = spanRect(i);
            row.fillRect(r.left() - plot.left(), 0, r.width(), 1, color);
        };
        for (const TGap &g : gaps_)
            shade(g.Span, QColor(128, 128, 128, 60));
        for (const TInterval &o : outages_)
            shade(o, QColor(220, 40, 40, 70));
    }
    p.drawImage(QRect(plot.left(), plot.top(), w, plot.height()), strip);
    // The names of unwatched and paused time, where there is room for them.
    p.setPen(palette().color(QPalette::Disabled, QPalette::Text));
    for (const TGap &g : gaps_) {
        const QRect r = spanRect(g.Span);
        if (fontMetrics().horizontalAdvance(g.Kind) + 6 < r.width())
            p.drawText(r.adjusted(3, 3, -3, -3), Qt::AlignLeft | Qt::AlignTop, g.Kind);
    }

    // Axes: the round-trip scale on the left, local times below.
    p.setPen(palette().color(QPalette::Mid));
    p.drawRect(plot.adjusted(0, 0, -1, -1));
    p.setPen(palette().color(QPalette::Text));
    // Grid lines at whole milliseconds: quarters of 20, 100, 200, fifths of 10, 50, 500.
    const int parts = scaleMs_ % 4 == 0 ? 4 : scaleMs_ % 5 == 0 ? 5 : 2;
    for (int i = 0; i <= parts; ++i) {
        const int ms = scaleMs_ * i / parts;
        const int y = YOf(ms, plot);
        p.setPen(QColor(128, 128, 128, 80));
        p.drawLine(plot.left(), y, plot.right(), y);
        p.setPen(palette().color(QPalette::Text));
        p.drawText(QRect(0, y - fontMetrics().height() / 2, plot.left() - 4, fontMetrics().height()),
                   Qt::AlignRight | Qt::AlignVCenter, QStringLiteral("%1 ms").arg(ms));
    }
    p.setPen(palette().color(QPalette::Text));
    for (const TAxisTick &tick : AxisTicks(range_, w)) {
        const int x = plot.left() + ColumnOf(tick.At, range_, w);
        const int tw = fontMetrics().horizontalAdvance(tick.Text);
        p.drawLine(x, plot.bottom(), x, plot.bottom() + 3);
        if (x - tw / 2 >= 0 && x + tw / 2 <= width())
            p.drawText(x - tw / 2, plot.bottom() + fontMetrics().ascent() + 4, tick.Text);
    }

    // The runs of answered probes, each its own line: between columns from
    // one's last round trip to the next one's first, within a column from
    // its smallest to its largest. Plain line segments: a stroked path of a
    // month's columns costs many times more to draw.
    p.setPen(QPen(QColor(30, 100, 200), 1));
    QVector<QLine> lines;
    for (const auto &run : shape_.Runs) {
        const TTimelineShape::TColumn *prev = nullptr;
        for (const TTimelineShape::TColumn &c : run) {
            const int x = plot.left() + c.X;
            if (prev)
                lines.append(QLine(plot.left() + prev->X, YOf(prev->LastMs, plot), x, YOf(c.FirstMs, plot)));
            lines.append(QLine(x, YOf(c.MinMs, plot), x, YOf(c.MaxMs, plot)));
            prev = &c;
        }
    }
    p.drawLines(lines);
    p.setRenderHint(QPainter::Antialiasing, false);
    p.setPen(QPen(QColor(210, 30, 30), 2));
    for (int x : shape_.LostX)
        p.drawLine(plot.left() + x, plot.top() + 1, plot.left() + x, plot.top() + 8);
    emit Painted();
}

} // namespace historyview
