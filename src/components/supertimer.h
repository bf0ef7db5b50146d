// Millisecond timer driven by its own thread, and the worker thread it shares
// with the session stopwatch.
#pragma once

#include <QObject>
#include <QThread>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>

// A thread that ticks at a fixed period on absolute monotonic deadlines and
// runs each tick synchronously in the thread that owns this object (the GUI
// thread): the worker waits until the tick handler has returned. Between
// ticks it waits for the deadline and for control requests together, so it
// wakes only for a due tick or a request, and parks while suspended. Ticks delayed by a
// busy machine are made up (up to 200 ms worth), so counting ticks measures
// time.
class TTimerThread : public QThread {
    Q_OBJECT
public:
    explicit TTimerThread(std::function<void()> tick, QObject *parent = nullptr);
    // Stops and joins the thread. Must not run inside a tick: use Dispose().
    ~TTimerThread() override;

    // Period between ticks; the tick on its way moves to the new period at once.
    void SetIntervalMs(std::uint32_t ms);
    std::uint32_t IntervalMs() const { return intervalMs_; }
    // When set, the first tick after Resume comes at once instead of one period later.
    void SetTickAtStart(bool on) { tickAtStart_ = on; }
    // Scheduling priority; applied at once when the thread runs.
    void SetTickPriority(QThread::Priority p);

    // Starts ticking from now (starting the system thread on first use).
    void Resume();
    // Stops ticking; a tick already on its way is dropped.
    void Suspend();
    // True between Resume and Suspend.
    bool Ticking() const { return running_; }
    // True while the tick handler runs.
    bool InTick() const { return inTick_; }

    // Ends the thread and frees this object: at once, or, when called from
    // inside a tick (the worker is waiting for that tick), as soon as the
    // worker has left.
    void Dispose();

protected:
    void run() override;

private:
    void stopAndJoin();
    void deliver(std::uint64_t generation);

    std::function<void()> tick_;
    std::mutex m_;
    std::condition_variable cv_;
    std::atomic<bool> running_{false};
    std::atomic<bool> terminate_{false};
    std::atomic<std::uint64_t> generation_{0};  // bumped by every Resume
    std::atomic<std::int64_t> startNs_{0};      // time of the last Resume
    std::atomic<std::uint32_t> intervalMs_{1000};
    std::atomic<bool> tickAtStart_{false};
    QThread::Priority priority_ = QThread::HighPriority;
    bool inTick_ = false;  // owner's thread only
};

// Fires OnTimer once per Interval milliseconds in the GUI thread while
// Enabled. Interval 0 disables it. With CountDown set it fires once, disables
// itself and fires OnStop.
class TSuperTimer : public QObject {
    Q_OBJECT
public:
    explicit TSuperTimer(QObject *parent = nullptr);
    ~TSuperTimer() override;

    bool Enabled() const { return enabled_; }
    void SetEnabled(bool on);
    quint16 Interval() const { return interval_; }
    void SetInterval(quint16 ms);
    QThread::Priority ThreadPriority() const { return priority_; }
    void SetThreadPriority(QThread::Priority p);

    bool CountDown = false;            // stop after the first OnTimer
    std::function<void()> OnTimer;     // each period, GUI thread
    std::function<void()> OnStop;      // after a count-down has stopped the timer

private:
    void fire();

    TTimerThread *thread_ = nullptr;
    bool enabled_ = false;
    quint16 interval_ = 1000;
    QThread::Priority priority_ = QThread::HighPriority;
};
