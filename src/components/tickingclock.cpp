#include "components/tickingclock.h"

#include "components/supertimer.h"

#include <QPointer>
#include <QTime>

TTickingClock::TTickingClock(QObject *parent) : QObject(parent) {}

TTickingClock::~TTickingClock()
{
    if (thread_)
        thread_->Dispose();
}

void TTickingClock::SetMode(TTickingClockMode mode)
{
    mode_ = mode;
    if (mode != tcmIdle && !thread_) {
        // The first tick comes as soon as the thread runs, then one a second.
        thread_ = new TTimerThread([this] { tick(); });
        thread_->SetIntervalMs(1000);
        thread_->SetTickAtStart(true);
        thread_->Resume();
    } else if (mode == tcmIdle && thread_) {
        thread_->Dispose();
        thread_ = nullptr;
    }
}

void TTickingClock::SetTime(quint8 hour, quint8 min, quint8 sec)
{
    hour_ = hour;
    min_ = min;
    sec_ = sec;
}

void TTickingClock::SetElapsed(qint64 seconds)
{
    if (seconds < 0)
        seconds = 0;
    SetTime(quint8(seconds / 3600 % 24), quint8(seconds / 60 % 60), quint8(seconds % 60));
}

TTickingClock::Time TTickingClock::NextSecond(Time t)
{
    if (t.sec < 59)
        return {t.hour, t.min, quint8(t.sec + 1)};
    if (t.min < 59)
        return {t.hour, quint8(t.min + 1), 0};
    if (t.hour < 23)
        return {quint8(t.hour + 1), 0, 0};
    return {0, 0, 0};
}

void TTickingClock::tick()
{
    if (mode_ == tcmChronoMeter) {
        Time t = NextSecond({hour_, min_, sec_});
        SetTime(t.hour, t.min, t.sec);
    } else if (mode_ == tcmClock) {
        const QTime now = QTime::currentTime();
        SetTime(quint8(now.hour()), quint8(now.minute()), quint8(now.second()));
    }
    // Called through a copy: the handler may destroy the clock (and with it
    // the handler's own closure) while it runs.
    if (auto handler = OnTick)
        handler();
}
