// The session stopwatch: counts hours, minutes and seconds once a second on
// its own thread and reports every tick in the GUI thread. Only its timing is
// used; it draws nothing.
#pragma once

#include <QObject>
#include <functional>

class TTimerThread;

enum TTickingClockMode { tcmIdle = 0, tcmChronoMeter = 1, tcmClock = 2 };

class TTickingClock : public QObject {
    Q_OBJECT
public:
    explicit TTickingClock(QObject *parent = nullptr);
    ~TTickingClock() override;

    // tcmChronoMeter counts up from the set time, tcmClock follows the local
    // time, tcmIdle stops the ticking thread.
    TTickingClockMode Mode() const { return mode_; }
    void SetMode(TTickingClockMode mode);

    quint8 Hour() const { return hour_; }
    quint8 Min() const { return min_; }
    quint8 Sec() const { return sec_; }
    // Sets the time shown; values are taken as they are.
    void SetTime(quint8 hour, quint8 min, quint8 sec);
    // Sets the time to a number of elapsed seconds (hours wrap at 24).
    void SetElapsed(qint64 seconds);

    // A flag for the tick handler; the clock counts whatever its value.
    bool Enabled() const { return enabled_; }
    void SetEnabled(bool on) { enabled_ = on; }

    // Fired after every tick, in the GUI thread.
    std::function<void()> OnTick;

    // One stopwatch step: the next second, wrapping 23:59:59 to 00:00:00.
    struct Time { quint8 hour, min, sec; };
    static Time NextSecond(Time t);

private:
    void tick();

    TTickingClockMode mode_ = tcmIdle;
    quint8 hour_ = 0, min_ = 0, sec_ = 0;
    bool enabled_ = true;
    TTimerThread *thread_ = nullptr;
};
