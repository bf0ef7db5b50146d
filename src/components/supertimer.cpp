#include "components/supertimer.h"

#include "platform/monoclock.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QPointer>

#include <algorithm>

namespace {
constexpr std::int64_t kHandOverNs = std::int64_t(TTimerThread::kHandOverMs) * 1'000'000;
// "Long ago" for the first hand-over of a run; far from overflow when added to.
constexpr std::int64_t kNever = INT64_MIN / 4;
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
        originNs_ = platform::MonoNowNs() - (tickAtStart_ ? periodNs_ : 0);
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
        periodNs_ = std::int64_t(intervalMs_) * 1'000'000;
    }
    cv_.notify_all();
}

void TTimerThread::Flush()
{
    if (!running_ || terminate_)
        return;
    deliverDue();
    // The grid has moved on: the worker works its next deadline out again.
    cv_.notify_all();
}

void TTimerThread::Dispose()
{
    if (inTick_) {
        // The worker may be waiting for the tick we are in; it leaves right
        // after, and the object goes once it has.
        setParent(nullptr);
        connect(this, &QThread::finished, this, &QObject::deleteLater);
        {
            std::lock_guard<std::mutex> lk(m_);
            terminate_ = true;
        }
        cv_.notify_all();
        if (!isRunning())
            deleteLater();
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
            deliverDue();
        },
        Qt::BlockingQueuedConnection);
}

void TTimerThread::deliverDue()
{
    // A handler that flushes (by disabling its timer, say) is already inside
    // a run of ticks: that run goes on, or stops if the handler suspended.
    if (delivering_)
        return;
    delivering_ = true;
    const std::uint64_t gen = generation_;
    // Ticks due by now, not by the time the handlers are done: a handler
    // slower than the period must not keep the owner's thread here for good.
    const std::int64_t now = platform::MonoNowNs();
    while (!terminate_ && running_ && generation_ == gen) {
        {
            std::lock_guard<std::mutex> lk(m_);
            const std::int64_t next = originNs_ + periodNs_;
            if (next > now)
                break;
            // After a stall longer than the make-up limit the grid restarts
            // with one tick now instead of a burst of old ones.
            originNs_ = makeUpLimitNs_ > 0 && now - next > makeUpLimitNs_ ? now : next;
        }
        inTick_ = true;
        if (tick_)
            tick_();
        inTick_ = false;
    }
    delivering_ = false;
}

void TTimerThread::run()
{
    std::uint64_t gen = 0;
    std::int64_t lastHandOver = kNever;
    std::unique_lock<std::mutex> lk(m_);
    for (;;) {
        cv_.wait(lk, [this] { return terminate_ || running_; });
        if (terminate_)
            break;
        if (gen != generation_) {
            gen = generation_;
            lastHandOver = kNever;
        }
        // The next tick on the grid, but no sooner than kHandOverMs after the
        // last hand-over: the owner's thread counts from the clock how many
        // ticks are due when it takes the hand-over, so a short interval has
        // its ticks go over together.
        const std::int64_t due = std::max(originNs_ + periodNs_, lastHandOver + kHandOverNs);
        // One wait for both: the deadline, or a request (Suspend, Resume,
        // Dispose, a new interval, a flush), after which the deadline is
        // worked out again. Nothing else wakes the thread.
        if (!platform::WaitUntilNs(cv_, lk, due))
            continue;
        if (terminate_ || !running_ || gen != generation_)
            continue;
        lastHandOver = platform::MonoNowNs();
        lk.unlock();
        deliver(gen);
        lk.lock();
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
    if (on) {
        enabled_ = true;
        if (!thread_) {
            thread_ = new TTimerThread([this] { fire(); });
            thread_->SetTickPriority(priority_);
            // Every tick counts: the ticks measure time.
            thread_->SetMakeUpLimitMs(0);
        }
        thread_->SetIntervalMs(interval_);
        thread_->Resume();
        return;
    }
    // The ticks that fell due while enabled are fired before it stops, so
    // the count is complete the moment this returns.
    if (!fireDue())
        return;
    enabled_ = false;
    if (thread_)
        thread_->Suspend();
}

void TSuperTimer::SetInterval(quint16 ms)
{
    if (ms == 0) {
        SetEnabled(false);
        interval_ = 0;
        return;
    }
    // Ticks due on the old interval are fired before the new one starts.
    if (!fireDue())
        return;
    interval_ = ms;
    if (thread_)
        thread_->SetIntervalMs(ms);
}

void TSuperTimer::SetThreadPriority(QThread::Priority p)
{
    priority_ = p;
    if (thread_)
        thread_->SetTickPriority(p);
}

bool TSuperTimer::fireDue()
{
    if (!enabled_ || !thread_)
        return true;
    QPointer<TSuperTimer> self(this);
    thread_->Flush();
    return !self.isNull();
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
