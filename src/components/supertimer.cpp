#include "components/supertimer.h"

#include "platform/monoclock.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QPointer>

namespace {
// Longest lag that missed ticks are made up for.
constexpr std::int64_t kMaxLagNs = 200'000'000;
}

TTimerThread::TTimerThread(std::function<void()> tick, QObject *parent)
    : QThread(parent), tick_(std::move(tick))
{
}

TTimerThread::~TTimerThread()
{
    stopAndJoin();
}

void TTimerThread::SetTickPriority(QThread::Priority p)
{
    priority_ = p;
    if (isRunning())
        setPriority(p);
}

void TTimerThread::Resume()
{
    {
        std::lock_guard<std::mutex> lk(m_);
        startNs_ = platform::MonoNowNs();
        ++generation_;
        running_ = true;
    }
    cv_.notify_all();
    if (!isRunning() && !terminate_)
        start(priority_);
}

void TTimerThread::Suspend()
{
    {
        std::lock_guard<std::mutex> lk(m_);
        running_ = false;
    }
    cv_.notify_all();
}

void TTimerThread::SetIntervalMs(std::uint32_t ms)
{
    {
        std::lock_guard<std::mutex> lk(m_);
        intervalMs_ = ms ? ms : 1;
    }
    cv_.notify_all();
}

void TTimerThread::Dispose()
{
    if (inTick_) {
        // The worker waits for the tick we are in; it leaves right after.
        {
            std::lock_guard<std::mutex> lk(m_);
            terminate_ = true;
        }
        cv_.notify_all();
        setParent(nullptr);
        connect(this, &QThread::finished, this, &QObject::deleteLater);
        return;
    }
    delete this;
}

void TTimerThread::stopAndJoin()
{
    {
        std::lock_guard<std::mutex> lk(m_);
        terminate_ = true;
    }
    cv_.notify_all();
    // A worker blocked on handing over a tick is released by discarding the
    // posted call; without this, joining from the owner's thread would wait
    // for a call that only the owner's thread can run.
    while (!wait(QDeadlineTimer(5)))
        QCoreApplication::removePostedEvents(this, QEvent::MetaCall);
    QCoreApplication::removePostedEvents(this, QEvent::MetaCall);
}

void TTimerThread::deliver(std::uint64_t generation)
{
    QMetaObject::invokeMethod(
        this,
        [this, generation] {
            if (terminate_ || !running_ || generation_ != generation)
                return;
            inTick_ = true;
            if (tick_)
                tick_();
            inTick_ = false;
        },
        Qt::BlockingQueuedConnection);
}

void TTimerThread::run()
{
    std::uint64_t gen = 0;
    std::int64_t base = 0;  // deadline of the last tick, or the time of Resume
    bool first = false;     // the next tick is the first after Resume
    std::unique_lock<std::mutex> lk(m_);
    for (;;) {
        cv_.wait(lk, [this] { return terminate_ || running_; });
        if (terminate_)
            break;
        if (gen != generation_) {
            gen = generation_;
            base = startNs_;
            first = true;
        }
        const std::uint32_t interval = intervalMs_;
        const std::int64_t period = std::int64_t(interval) * 1'000'000;
        const std::int64_t due = first && tickAtStart_ ? base : base + period;
        // One wait for both: the deadline, or a request (Suspend, Resume,
        // Dispose, a new interval), after which the deadline is worked out
        // again. Nothing else wakes the thread.
        if (!platform::WaitUntilNs(cv_, lk, due))
            continue;
        if (terminate_ || !running_ || gen != generation_ || intervalMs_ != interval)
            continue;
        lk.unlock();
        deliver(gen);
        lk.lock();
        // Next deadline on the fixed grid. Ticks missed through a short stall
        // (the machine busy, the GUI thread slow to take the hand-over)
        // follow at once, so a millisecond count stays right; after a long
        // stall the grid restarts instead of firing a burst.
        first = false;
        base = due;
        const std::int64_t now = platform::MonoNowNs();
        if (base + period < now - kMaxLagNs)
            base = now;
    }
}

TSuperTimer::TSuperTimer(QObject *parent) : QObject(parent) {}

TSuperTimer::~TSuperTimer()
{
    if (thread_)
        thread_->Dispose();
}

void TSuperTimer::SetEnabled(bool on)
{
    if (on && interval_ == 0)
        on = false;
    enabled_ = on;
    if (on) {
        if (!thread_) {
            thread_ = new TTimerThread([this] { fire(); });
            thread_->SetTickPriority(priority_);
        }
        thread_->SetIntervalMs(interval_);
        thread_->Resume();
    } else if (thread_) {
        thread_->Suspend();
    }
}

void TSuperTimer::SetInterval(quint16 ms)
{
    interval_ = ms;
    if (ms == 0)
        SetEnabled(false);
    else if (thread_)
        thread_->SetIntervalMs(ms);
}

void TSuperTimer::SetThreadPriority(QThread::Priority p)
{
    priority_ = p;
    if (thread_)
        thread_->SetTickPriority(p);
}

void TSuperTimer::fire()
{
    if (!enabled_)
        return;
    QPointer<TSuperTimer> self(this);
    // Called through a copy: the handler may destroy this timer, and with it
    // the handler's own closure, while it runs.
    if (auto handler = OnTimer)
        handler();
    if (self && CountDown && enabled_) {
        SetEnabled(false);
        if (auto handler = OnStop)
            handler();
    }
}
