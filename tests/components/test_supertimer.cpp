// The millisecond timer: rate, cost, disabling, count-down and clean stops.
// Rates and tick times are measured: CTest runs these cases alone (RUN_SERIAL).
#include "components/supertimer.h"

#include "../support/testutil.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>
#include <gtest/gtest.h>
#include <algorithm>
#include <memory>
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

} // namespace

// A 1 ms timer fires about a thousand times a second, in the GUI thread,
// without keeping a core busy.
TEST(SuperTimer, OneMillisecondRateWithoutSpinning)
{
    TSuperTimer timer;
    timer.SetThreadPriority(QThread::TimeCriticalPriority);
    timer.SetInterval(1);
    int fired = 0;
    bool inGui = true;
    timer.OnTimer = [&] {
        ++fired;
        inGui = inGui && QThread::currentThread() == qApp->thread();
    };
    const double cpu0 = cpuSeconds();
    QElapsedTimer wall;
    wall.start();
    timer.SetEnabled(true);
    runLoop(1000);
    timer.SetEnabled(false);
    const double cpu = cpuSeconds() - cpu0;
    const double secs = double(wall.elapsed()) / 1000.0;
    EXPECT_TRUE(inGui);
    // One tick per millisecond of the loop's own length (which a busy machine
    // may stretch), none lost and none doubled; an idle machine is within 2.
    EXPECT_NEAR(double(fired), secs * 1000.0, 20.0);
    EXPECT_LT(cpu, 0.15 * secs) << "cpu " << cpu << " s over " << secs << " s";
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
