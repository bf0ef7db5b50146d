// The timeline of the History window: round trips over the chosen range as
// a line, lost probes as red marks along the top, outages as red shaded
// spans and unwatched or paused time as grey ones with their name.
#pragma once

#include "historyview/timelinemodel.h"

#include <QString>
#include <QWidget>

#include <vector>

namespace historyview {

// What this folder shows is the history layer's: its types are used unqualified.
using namespace history;

// A labelled mark of the time axis.
struct TAxisTick {
    TUs At = 0;
    QString Text;
};
// The marks of the time axis of range over a plot 'width' pixels wide.
std::vector<TAxisTick> AxisTicks(const TRange &range, int width);

class TTimelineView : public QWidget {
    Q_OBJECT
public:
    explicit TTimelineView(QWidget *parent = nullptr);

    // What to show; the shape is made again for each width.
    void SetData(const TRange &range, std::vector<TTimelinePoint> points, std::vector<TGap> gaps,
                 std::vector<TInterval> outages);
    const TTimelineShape &Shape() const { return shape_; }
    // The area the probes are drawn in (inside the axis labels).
    QRect PlotRect() const;

signals:
    // Painted (the benchmark times the window's first paint by it).
    void Painted();

protected:
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    void Reshape();
    int YOf(int ms, const QRect &plot) const;

    TRange range_;
    std::vector<TTimelinePoint> points_;
    std::vector<TGap> gaps_;
    std::vector<TInterval> outages_;
    TTimelineShape shape_;
    int scaleMs_ = 100;               // top of the axis
};

} // namespace historyview
