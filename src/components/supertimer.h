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

// A thread that ticks at a fixed period on a grid of absolute monotonic
// deadlines and runs the ticks synchronously in the thread that owns this
// object (the GUI thread): the worker waits until the tick handler has
// returned. Between hand-overs it waits for the deadline and for control
// requests together, so it wakes only for due ticks or a request, and parks
// while suspended.
//
// Which ticks are due is read from the monotonic clock in the owner's thread
// when it takes a hand-over, so ticks held back by a busy machine or a slow
// owner are delivered late but never lost (up to the make-up limit). The
// worker hands over at most once per kHandOverMs: a shorter interval has its
// ticks delivered together, one handler call per tick, in order. Flush
// delivers the ticks due so far at once, so a count of ticks taken after
// Flush is the time on the monotonic clock divided by the interval.
class TTimerThread : public QThread {
    Q_OBJECT
public:
    // Shortest time between two hand-overs to the owner's thread. Each costs
    // two thread switches and a turn of the owner's event loop (1000 a second
    // took 4 to 6 % of a core on a loaded machine). Twenty a second keep a
    // count shown on screen live, cost a fraction of a percent, and a
    // Flush makes the count exact whenever it is read.
    static constexpr std::uint32_t kHandOverMs = 50;

    explicit TTimerThread(std::function<void()> tick, QObject *parent = nullptr);
    // Stops and joins the thread. Must not run inside a tick: use Dispose().
    ~TTimerThread() override;

    // Period between ticks; a change counts from the last tick delivered, at
    // once. Owner's thread.
    void SetIntervalMs(std::uint32_t ms);
    std::uint32_t IntervalMs() const { return intervalMs_; }
    // When set, the first tick after Resume comes at once instead of one period later.
    void SetTickAtStart(bool on) { tickAtStart_ = on; }
    // How late the oldest undelivered tick may be before the missed ticks are
    // dropped and the grid restarts with one tick now (instead of a burst);
    // 0 delivers every tick however late (a tick count that measures time).
    void SetMakeUpLimitMs(std::uint32_t ms) { makeUpLimitNs_ = std::int64_t(ms) * 1'000'000; }
    // Scheduling priority; applied at once when the thread runs.
    void SetTickPriority(QThread::Priority p);

    // Starts ticking from now (starting the system thread on first use).
    void Resume();
    // Stops ticking; ticks not yet delivered are dropped (Flush first to keep them).
    void Suspend();
    // Runs, in the owner's thread and at once, the ticks that have fallen due
    // and are not delivered yet. Stops early when a handler suspends or
    // disposes the thread.
    void Flush();
    // True between Resume and Suspend.
    bool Ticking() const { return running_; }
    // True while the tick handler runs.
    bool InTick() const { return inTick_; }

    // Ends the thread and frees this object: at once, or, when called from
    // inside a tick (the worker may be waiting for that tick), as soon as the
    // worker has left.
    void Dispose();

protected:
    void run() override;

private:
    void stopAndJoin();
    void deliver(std::uint64_t generation);
    void deliverDue();

    std::function<void()> tick_;
    std::mutex m_;
    std::condition_variable cv_;
    std::atomic<bool> running_{false};
    std::atomic<bool> terminate_{false};
    std::atomic<std::uint64_t> generation_{0};  // bumped by every Resume
    // The grid, under m_: the time of the last tick delivered (or of the
    // start, less a period with tickAtStart); the next tick is one period on.
    std::int64_t originNs_ = 0;
    std::int64_t periodNs_ = 1'000'000'000;
    std::atomic<std::uint32_t> intervalMs_{1000};
    std::atomic<bool> tickAtStart_{false};
    std::int64_t makeUpLimitNs_ = 200'000'000;
    QThread::Priority priority_ = QThread::HighPriority;
    bool inTick_ = false;      // owner's thread only
    bool delivering_ = false;  // owner's thread only: a run of ticks is under way
};

// Fires OnTimer once per Interval milliseconds in the GUI thread while
// Enabled. Interval 0 disables it. With CountDown set it fires once, disables
// itself and fires OnStop.
//
// Every tick that falls due while the timer is enabled is fired, however
// busy the machine, and disabling it first fires the ticks due up to that
// moment: the number of ticks between enabling and disabling is the time
// between them on the monotonic clock, in whole intervals. Ticks of an
// interval shorter than TTimerThread::kHandOverMs reach the GUI thread in
// groups, that far apart.
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
    // Fires the ticks due so far; false when a handler destroyed this timer.
    bool fireDue();

    TTimerThread *thread_ = nullptr;
    bool enabled_ = false;
    quint16 interval_ = 1000;
    QThread::Priority priority_ = QThread::HighPriority;
};
