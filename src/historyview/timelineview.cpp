#include "historyview/timelineview.h"

#include <QDateTime>
#include <QPainter>

#include <algorithm>

namespace history {

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

    // Unwatched and paused time, named where there is room for the name.
    for (const TGap &g : gaps_) {
        const QRect r = spanRect(g.Span);
        p.fillRect(r, QColor(128, 128, 128, 60));
        const QString name = g.Kind;
        if (fontMetrics().horizontalAdvance(name) + 6 < r.width()) {
            p.setPen(palette().color(QPalette::Disabled, QPalette::Text));
            p.drawText(r.adjusted(3, 3, -3, -3), Qt::AlignLeft | Qt::AlignTop, name);
        }
    }
    for (const TInterval &o : outages_)
        p.fillRect(spanRect(o), QColor(220, 40, 40, 70));

    // Axes: the round-trip scale on the left, local times below.
    p.setPen(palette().color(QPalette::Mid));
    p.drawRect(plot.adjusted(0, 0, -1, -1));
    p.setPen(palette().color(QPalette::Text));
    for (int i = 0; i <= 4; ++i) {
        const int ms = scaleMs_ * i / 4;
        const int y = YOf(ms, plot);
        p.setPen(QColor(128, 128, 128, 80));
        p.drawLine(plot.left(), y, plot.right(), y);
        p.setPen(palette().color(QPalette::Text));
        p.drawText(QRect(0, y - fontMetrics().height() / 2, plot.left() - 4, fontMetrics().height()),
                   Qt::AlignRight | Qt::AlignVCenter, QStringLiteral("%1 ms").arg(ms));
    }
    const bool days = range_.Length() > 2 * kUsPerDay;
    const int labels = std::max(2, std::min(7, w / 110));
    for (int i = 0; i < labels; ++i) {
        const TUs at = range_.From + range_.Length() * i / (labels - 1);
        const QDateTime local = QDateTime::fromMSecsSinceEpoch(at / kUsPerMs).toLocalTime();
        const QString text = local.toString(days ? QStringLiteral("MMM d") : QStringLiteral("HH:mm"));
        const int x = plot.left() + ColumnOf(std::min(at, range_.To - 1), range_, w);
        const int tw = fontMetrics().horizontalAdvance(text);
        const int left = std::clamp(x - tw / 2, plot.left(), std::max(plot.left(), plot.right() - tw));
        p.drawText(left, plot.bottom() + fontMetrics().ascent() + 4, text);
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

} // namespace history
