// TFramePaint: "repaint this widget at once" for writers inside a long step,
// at most once per display frame.
//
// A writer that sets a label and repaints it for every piece of a transfer
// (the status line during an HTTP probe: one repaint per 8 KiB) spends far
// more time painting and sending pixels to the display than receiving. The
// eye sees no more than one picture a frame, so a repaint asked for less
// than a frame after the last one is put off to the end of that frame, by a
// timer, and shows whatever text the widget holds then: what is on the
// screen is never more than a frame older than what was asked for, as long
// as the event loop runs (the transfers pump it while they wait).
#pragma once

#include <QObject>
#include <QPointer>
#include <QTimer>
#include <QWidget>

#include <cstdint>

class TFramePaint : public QObject {
    Q_OBJECT
public:
    // About 60 pictures a second.
    static constexpr int kFrameMs = 16;

    // Paints 'widget' (its child: it goes with the widget).
    explicit TFramePaint(QWidget *widget);

    // Repaints the widget now when its last repaint is a frame old or more;
    // otherwise once, at the end of this frame.
    void Request();
    // A repaint is waiting for the end of the frame.
    bool Pending() const { return m_later.isActive(); }
    // Milliseconds until that repaint; -1 when none waits.
    int PendingMs() const { return m_later.isActive() ? m_later.remainingTime() : -1; }
    // Repaints done so far (at once or at the end of a frame).
    int Paints() const { return m_paints; }

private:
    void PaintNow();

    QPointer<QWidget> m_widget;
    QTimer m_later;                  // the put-off repaint
    std::int64_t m_lastNs = 0;       // monotonic time of the last repaint
    bool m_painted = false;          // m_lastNs holds a time
    int m_paints = 0;
};
