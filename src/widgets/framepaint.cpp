#include "widgets/framepaint.h"

#include "platform/monoclock.h"

TFramePaint::TFramePaint(QWidget *widget) : QObject(widget), m_widget(widget)
{
    setObjectName(QStringLiteral("FramePaint"));
    m_later.setSingleShot(true);
    // A precise timer: a coarse one may fire up to 5 % late, beyond the frame.
    m_later.setTimerType(Qt::PreciseTimer);
    connect(&m_later, &QTimer::timeout, this, [this] { PaintNow(); });
}

void TFramePaint::Request()
{
    const std::int64_t frameNs = std::int64_t(kFrameMs) * 1'000'000;
    const std::int64_t since = platform::MonoNowNs() - m_lastNs;
    if (!m_painted || since >= frameNs) {
        m_later.stop();
        PaintNow();
        return;
    }
    if (!m_later.isActive())
        m_later.start(int((frameNs - since + 999'999) / 1'000'000));
}

void TFramePaint::PaintNow()
{
    if (!m_widget)
        return;
    m_widget->repaint();
    m_lastNs = platform::MonoNowNs();
    m_painted = true;
    ++m_paints;
}
