#include "widgets/firstpaint.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QEvent>
#include <QPointer>
#include <QTimer>
#include <QWidget>

namespace {

// Notes the window's first paint event. The window's children paint and the
// picture goes to the screen in the same turn of the loop, so once the turn
// that delivered it is over, the window is on the screen.
class TPaintWatch : public QObject {
public:
    explicit TPaintWatch(QWidget *window) : window_(window) { window->installEventFilter(this); }
    ~TPaintWatch() override
    {
        if (window_)
            window_->removeEventFilter(this);
    }
    bool Painted() const { return painted_; }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (watched == window_ && event->type() == QEvent::Paint)
            painted_ = true;
        return false;
    }

private:
    QPointer<QWidget> window_;
    bool painted_ = false;
};

} // namespace

bool WaitForFirstPaint(QWidget *window, int timeoutMs)
{
    if (!window)
        return false;
    TPaintWatch watch(window);
    const QDeadlineTimer deadline(timeoutMs, Qt::PreciseTimer);
    // Wakes the wait at the deadline when nothing else happens. Precise, and
    // started again for what is left should it come early: a wake before the
    // deadline with nothing after it would leave the wait blocked for good.
    QTimer wake;
    wake.setSingleShot(true);
    wake.setTimerType(Qt::PreciseTimer);
    QPointer<QWidget> alive(window);
    while (!watch.Painted() && alive && alive->isVisible() && !alive->isMinimized()
           && !deadline.hasExpired()) {
        if (!wake.isActive())
            wake.start(int(qMax<qint64>(1, deadline.remainingTime())));
        QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents
                                        | QEventLoop::WaitForMoreEvents);
    }
    return watch.Painted();
}
