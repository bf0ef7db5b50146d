// The millisecond timer: exact tick counts under load, cost, disabling,
// count-down and clean stops. Rates and tick times are measured: CTest runs
// these cases alone (RUN_SERIAL).
#include "components/supertimer.h"

#include "platform/monoclock.h"

#include "../support/testutil.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QPointer>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>
#include <gtest/gtest.h>
#include <algorithm>
#include <memory>
#include <vector>
#include <sys/resource.h>
#include <unistd.h>

using namespace std::chrono_literals;

namespace {

double cpuSeconds()
{
    rusage ru{};
    getrusage(RUSAGE_SELF, &ru);
    return double(ru.ru_utime.tv_sec + ru.ru_stime.tv_sec)
           + double(ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) / 1e6;
}

// Times the timer threads of this process went to sleep and woke again
// (their voluntary context switches), by the threads' name.
long timerThreadWakeups()
{
    long sum = 0;
    const QDir tasks(QStringLiteral("/proc/self/task"));
    for (const QString &tid : tasks.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile comm(tasks.filePath(tid + "/comm"));
        if (!comm.open(QIODevice::ReadOnly) || comm.readAll().trimmed() != "TTimerThread")
            continue;
        QFile status(tasks.filePath(tid + "/status"));
        if (!status.open(QIODevice::ReadOnly))
            continue;
        for (const QByteArray &line : status.readAll().split('\n'))
            if (line.startsWith("voluntary_ctxt_switches:"))
                sum += line.mid(24).trimmed().toLong();
    }
    return sum;
}

// Runs the event loop (sleeping in it, not polling) for the given time.
void runLoop(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

// Milliseconds on the monotonic clock.
double monoMs() { return double(platform::MonoNowNs()) / 1e6; }

} // namespace

// The number of ticks between enabling and disabling is the monotonic time
// between the two calls in whole intervals, exactly: on an idle machine, with
// both cores spinning, and when the GUI thread stalls for longer than any
// make-up window. Every tick runs in the GUI thread.
TEST(SuperTimer, TickCountIsTheMonotonicTimeWhateverTheLoad)
{
    enum class Load { None, BusyCores, GuiStalls };
    struct Row { const char *name; quint16 interval; Load load; } rows[] = {
        {"1 ms, idle", 1, Load::None},
        {"1 ms, both cores busy", 1, Load::BusyCores},
        {"1 ms, GUI thread stalls 300 ms", 1, Load::GuiStalls},
        {"7 ms, both cores busy", 7, Load::BusyCores},
        {"7 ms, GUI thread stalls 300 ms", 7, Load::GuiStalls},
    };
    for (const Row &r : rows) {
        SCOPED_TRACE(r.name);
        TSuperTimer timer;
        timer.SetThreadPriority(QThread::TimeCriticalPriority);
        timer.SetInterval(r.interval);
        long fired = 0;
        bool inGui = true;
        timer.OnTimer = [&] {
            ++fired;
            inGui = inGui && QThread::currentThread() == qApp->thread();
        };
        std::unique_ptr<testutil::BusyCores> busy;
        if (r.load == Load::BusyCores)
            busy = std::make_unique<testutil::BusyCores>(2);
        QTimer stall;
        if (r.load == Load::GuiStalls) {
            QObject::connect(&stall, &QTimer::timeout, [] { usleep(300 * 1000); });
            stall.start(100);
        }
        const double on0 = monoMs();
        timer.SetEnabled(true);
        const double on1 = monoMs();
        runLoop(900);
        const double off0 = monoMs();
        timer.SetEnabled(false);
        const double off1 = monoMs();
        busy.reset();
        stall.stop();
        EXPECT_TRUE(inGui);
        // Ticks fall due at whole intervals after the start (between on0
        // and on1), and Disable fires those due when it runs (between off0
        // and off1).
        EXPECT_GE(fired, long((off0 - on1) / r.interval)) << "ticks lost";
        EXPECT_LE(fired, long((off1 - on0) / r.interval)) << "ticks made up";
        const long at = fired;
        testutil::pump(50ms);
        EXPECT_EQ(fired, at) << "ticks after Disable";
    }
}

// A 1 ms timer hands its ticks to the GUI thread in groups, one every
// TTimerThread::kHandOverMs, so it costs little; each tick still reaches the
// GUI thread soon after falling due.
TEST(SuperTimer, OneMillisecondTicksGoOverInGroups)
{
    TSuperTimer timer;
    timer.SetThreadPriority(QThread::TimeCriticalPriority);
    timer.SetInterval(1);
    long fired = 0;
    timer.OnTimer = [&] { ++fired; };
    // How far the count lags behind the clock, seen from the GUI thread.
    double start = 0, worstLag = 0;
    QTimer sampler;
    sampler.setTimerType(Qt::PreciseTimer);
    QObject::connect(&sampler, &QTimer::timeout,
                     [&] { worstLag = std::max(worstLag, monoMs() - start - double(fired)); });
    const double cpu0 = cpuSeconds();
    start = monoMs();
    timer.SetEnabled(true);
    testutil::pump(20ms);  // the thread is up
    const long w0 = timerThreadWakeups();
    sampler.start(3);
    runLoop(1000);
    const long wakes = timerThreadWakeups() - w0;
    timer.SetEnabled(false);
    const double secs = (monoMs() - start) / 1000.0;
    const double cpu = cpuSeconds() - cpu0;
    // One wake at the deadline and one when the GUI thread has taken the
    // group, every TTimerThread::kHandOverMs.
    EXPECT_LE(wakes, 2 * 1000 / long(TTimerThread::kHandOverMs) + 20);
    EXPECT_GE(fired, 1000);
    EXPECT_LT(worstLag, 3.0 * TTimerThread::kHandOverMs) << "ms behind the clock";
    EXPECT_LT(cpu, 0.03 * secs) << "cpu " << cpu << " s over " << secs << " s";
}

// Ticks that fall due while the GUI thread is held up longer than the
// make-up limit are dropped and the grid restarts; with no limit all come.
TEST(TimerThread, MakeUpLimit)
{
    struct Row { std::uint32_t limitMs; bool allCome; } rows[] = {{0, true}, {200, false}};
    for (const Row &r : rows) {
        SCOPED_TRACE(r.limitMs);
        long fired = 0;
        auto *thread = new TTimerThread([&] { ++fired; });
        thread->SetIntervalMs(10);
        thread->SetMakeUpLimitMs(r.limitMs);
        const double t0 = monoMs();
        thread->Resume();
        testutil::pump(50ms);
        usleep(500 * 1000);
        testutil::pump(50ms);
        thread->Flush();
        const double t1 = monoMs();
        thread->Suspend();
        thread->Dispose();
        const long onGrid = long((t1 - t0) / 10);
        if (r.allCome)
            EXPECT_GE(fired, onGrid - 1);
        else
            EXPECT_LE(fired, onGrid - 40);
        EXPECT_LE(fired, onGrid + 1);
    }
}

// A handler that disables its timer in the middle of a group stops the
// group there; a new interval first fires the ticks due on the old one; a
// handler may destroy its timer during the ticks a Disable fires.
TEST(SuperTimer, GroupsStopWhereAHandlerSaysSo)
{
    {
        TSuperTimer timer;
        timer.SetInterval(1);
        int fired = 0;
        timer.OnTimer = [&] {
            if (++fired == 5)
                timer.SetEnabled(false);
        };
        timer.SetEnabled(true);
        usleep(30 * 1000);  // thirty ticks due at once
        testutil::pump(100ms);
        EXPECT_EQ(fired, 5);
        EXPECT_FALSE(timer.Enabled());
    }
    {
        TSuperTimer timer;
        timer.SetInterval(1);
        int fired = 0;
        timer.OnTimer = [&] { ++fired; };
        timer.SetEnabled(true);
        const double t0 = monoMs();
        usleep(30 * 1000);
        timer.SetInterval(1000);
        EXPECT_GE(fired, 29) << "ticks of the old interval lost";
        const int at = fired;
        testutil::pump(100ms);
        EXPECT_EQ(fired, at) << "the new interval counts from the last tick";
        EXPECT_LE(fired, long(monoMs() - t0));
    }
    {
        auto *timer = new TSuperTimer;
        timer->SetInterval(1);
        int fired = 0;
        QPointer<TSuperTimer> alive(timer);
        timer->OnTimer = [&] {
            ++fired;
            delete timer;
        };
        timer->SetEnabled(true);
        usleep(20 * 1000);
        timer->SetEnabled(false);
        EXPECT_TRUE(alive.isNull());
        EXPECT_EQ(fired, 1);
        testutil::pump(100ms);
    }
}

TEST(SuperTimer, PeriodAndFirstTick)
{
    TSuperTimer timer;
    timer.SetInterval(100);
    std::vector<qint64> at;
    QElapsedTimer t;
    timer.OnTimer = [&] { at.push_back(t.elapsed()); };
    t.start();
    timer.SetEnabled(true);
    runLoop(1050);
    timer.SetEnabled(false);
    ASSERT_GE(at.size(), 9u);
    EXPECT_LE(at.size(), 11u);
    EXPECT_NEAR(double(at[0]), 100.0, 10.0);
    // Absolute deadlines: the ninth tick is still on the 100 ms grid.
    EXPECT_NEAR(double(at[8]), 900.0, 10.0);
}

TEST(SuperTimer, IntervalZeroAndDisableStopTheTicks)
{
    TSuperTimer timer;
    EXPECT_FALSE(timer.Enabled());
    EXPECT_EQ(timer.Interval(), 1000);
    EXPECT_EQ(timer.ThreadPriority(), QThread::HighPriority);
    int fired = 0;
    timer.OnTimer = [&] { ++fired; };

    timer.SetInterval(0);
    timer.SetEnabled(true);
    EXPECT_FALSE(timer.Enabled());

    timer.SetInterval(5);
    timer.SetEnabled(true);
    EXPECT_TRUE(timer.Enabled());
    ASSERT_TRUE(testutil::waitFor([&] { return fired >= 3; }, 2000ms));
    timer.SetInterval(0);
    EXPECT_FALSE(timer.Enabled());
    int at = fired;
    testutil::pump(200ms);
    EXPECT_EQ(fired, at);

    timer.SetInterval(5);
    timer.SetEnabled(true);
    ASSERT_TRUE(testutil::waitFor([&] { return fired > at; }, 2000ms));
    usleep(50 * 1000);  // let a tick be on its way while the loop is not running
    timer.SetEnabled(false);
    at = fired;
    testutil::pump(200ms);
    EXPECT_EQ(fired, at);
}

TEST(SuperTimer, CountDownFiresOnceThenStops)
{
    TSuperTimer timer;
    timer.CountDown = true;
    timer.SetInterval(20);
    int fired = 0, stopped = 0;
    timer.OnTimer = [&] { ++fired; };
    timer.OnStop = [&] { ++stopped; };
    timer.SetEnabled(true);
    ASSERT_TRUE(testutil::waitFor([&] { return stopped == 1; }, 2000ms));
    testutil::pump(200ms);
    EXPECT_EQ(fired, 1);
    EXPECT_EQ(stopped, 1);
    EXPECT_FALSE(timer.Enabled());
}

TEST(SuperTimer, DestroyedWithoutDeadlock)
{
    {
        auto timer = std::make_unique<TSuperTimer>();
        timer->SetInterval(1);
        int fired = 0;
        timer->OnTimer = [&] { ++fired; };
        timer->SetEnabled(true);
        usleep(100 * 1000);  // the worker is blocked handing over a tick
        QElapsedTimer t;
        t.start();
        timer.reset();
        EXPECT_LT(t.elapsed(), 500);
        testutil::pump(100ms);
        EXPECT_EQ(fired, 0);
    }
    {
        auto *timer = new TSuperTimer;
        timer->SetInterval(2);
        bool gone = false;
        timer->OnTimer = [&] {
            delete timer;
            gone = true;
        };
        timer->SetEnabled(true);
        ASSERT_TRUE(testutil::waitFor([&] { return gone; }, 2000ms));
        testutil::pump(200ms);
    }
}

// The worker sleeps until its deadline or a request, whichever comes first:
// it wakes for due ticks only, parks while disabled, and Disable, Dispose and
// a new interval take effect at once rather than at the next look.
TEST(SuperTimer, WakesOnlyForTicksAndRequests)
{
    TSuperTimer timer;
    int fired = 0;
    timer.OnTimer = [&] { ++fired; };
    timer.SetInterval(250);
    timer.SetEnabled(true);
    testutil::pump(20ms);  // the thread is up
    long w0 = timerThreadWakeups();
    runLoop(1000);
    long wakes = timerThreadWakeups() - w0;
    EXPECT_GE(fired, 3);
    // Each tick: one wake at the deadline, one when the GUI thread has taken it.
    EXPECT_LE(wakes, 2 * fired + 2) << fired << " ticks";

    timer.SetEnabled(false);
    testutil::pump(20ms);
    w0 = timerThreadWakeups();
    runLoop(500);
    EXPECT_LE(timerThreadWakeups() - w0, 1) << "a disabled timer's thread keeps waking";

    // A long interval shortened: the new one counts from the last tick at once.
    fired = 0;
    timer.SetInterval(60000);
    timer.SetEnabled(true);
    runLoop(50);
    QElapsedTimer t;
    t.start();
    timer.SetInterval(100);
    ASSERT_TRUE(testutil::waitFor([&] { return fired > 0; }, 2000ms)) << "still on the old interval";
    EXPECT_LT(t.elapsed(), 250);
}

TEST(SuperTimer, DisposedAtOnceWhileWaiting)
{
    std::vector<qint64> took;
    for (int i = 0; i < 5; ++i) {
        auto timer = std::make_unique<TSuperTimer>();
        timer->SetInterval(60000);
        timer->SetEnabled(true);
        testutil::pump(30ms);  // the worker is waiting for its deadline
        QElapsedTimer t;
        t.start();
        timer.reset();
        took.push_back(t.nsecsElapsed() / 1000);
    }
    std::sort(took.begin(), took.end());
    EXPECT_LT(took[2], 15000) << "median microseconds to stop a waiting timer thread";
}
