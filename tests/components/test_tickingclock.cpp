// The session stopwatch: its step, its one-second thread and clean stops.
// Tick times are measured: CTest runs these cases alone (RUN_SERIAL).
#include "components/tickingclock.h"

#include "../support/testutil.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>
#include <QTime>
#include <gtest/gtest.h>
#include <memory>
#include <unistd.h>

using namespace std::chrono_literals;
using Time = TTickingClock::Time;

namespace {
QString text(const TTickingClock &c)
{
    return QString::asprintf("%02d:%02d:%02d", c.Hour(), c.Min(), c.Sec());
}
} // namespace

TEST(TickingClockStep, CountsAndWraps)
{
    struct Row { Time from, to; } rows[] = {
        {{0, 0, 0}, {0, 0, 1}},     {{0, 0, 58}, {0, 0, 59}},  {{0, 0, 59}, {0, 1, 0}},
        {{0, 59, 59}, {1, 0, 0}},   {{5, 12, 59}, {5, 13, 0}}, {{22, 59, 59}, {23, 0, 0}},
        {{23, 59, 58}, {23, 59, 59}}, {{23, 59, 59}, {0, 0, 0}},
    };
    for (const Row &r : rows) {
        Time t = TTickingClock::NextSecond(r.from);
        EXPECT_EQ((std::array{t.hour, t.min, t.sec}), (std::array{r.to.hour, r.to.min, r.to.sec}))
            << int(r.from.hour) << ":" << int(r.from.min) << ":" << int(r.from.sec);
    }
}

TEST(TickingClockStep, SetElapsedSplitsSeconds)
{
    struct Row { qint64 seconds; const char *want; } rows[] = {
        {0, "00:00:00"}, {5, "00:00:05"}, {59, "00:00:59"}, {60, "00:01:00"},
        {3661, "01:01:01"}, {86399, "23:59:59"}, {86400, "00:00:00"}, {-3, "00:00:00"},
    };
    TTickingClock c;
    for (const Row &r : rows) {
        c.SetElapsed(r.seconds);
        EXPECT_EQ(text(c), r.want) << r.seconds;
    }
}

// Five seconds after a reset taken right at a tick, the stopwatch reads
// 00:00:05, and every tick ran in the GUI thread.
TEST(TickingClock, FiveSecondsReadFiveSeconds)
{
    TTickingClock c;
    int ticks = 0;
    bool allInGui = true;
    QElapsedTimer since;
    qint64 atFifth = -1;
    QString shown;
    c.OnTick = [&] {
        allInGui = allInGui && QThread::currentThread() == qApp->thread();
        if (ticks == 0) {
            c.SetElapsed(0);
            since.start();
        } else if (ticks == 5) {
            atFifth = since.elapsed();
            shown = text(c);
        }
        ++ticks;
    };
    c.SetMode(tcmChronoMeter);
    ASSERT_TRUE(testutil::waitFor([&] { return ticks >= 6; }, 8000ms));
    c.SetMode(tcmIdle);
    EXPECT_TRUE(allInGui);
    EXPECT_EQ(shown, "00:00:05");
    EXPECT_NEAR(double(atFifth), 5000.0, 25.0);
}

TEST(TickingClock, WrapsAfterTheLastSecondOfTheDay)
{
    TTickingClock c;
    int ticks = 0;
    QStringList seen;
    c.OnTick = [&] {
        if (ticks++ == 0)
            c.SetTime(23, 59, 58);
        else
            seen << text(c);
    };
    c.SetMode(tcmChronoMeter);
    ASSERT_TRUE(testutil::waitFor([&] { return seen.size() >= 2; }, 5000ms));
    EXPECT_EQ(seen.mid(0, 2), (QStringList{"23:59:59", "00:00:00"}));
}

TEST(TickingClock, ClockModeFollowsLocalTime)
{
    TTickingClock c;
    bool ticked = false;
    c.OnTick = [&] { ticked = true; };
    c.SetMode(tcmClock);
    ASSERT_TRUE(testutil::waitFor([&] { return ticked; }, 3000ms));
    const int now = QTime::currentTime().msecsSinceStartOfDay() / 1000;
    const int shown = c.Hour() * 3600 + c.Min() * 60 + c.Sec();
    EXPECT_LE(std::abs(now - shown) % 86398, 2);
}

TEST(TickingClock, IdleStopsTheTicks)
{
    TTickingClock c;
    int ticks = 0;
    c.OnTick = [&] { ++ticks; };
    c.SetMode(tcmChronoMeter);
    ASSERT_TRUE(testutil::waitFor([&] { return ticks >= 1; }, 3000ms));
    c.SetMode(tcmIdle);
    const int at = ticks;
    testutil::pump(1500ms);
    EXPECT_EQ(ticks, at);
    // Ticking again after idle works.
    c.SetMode(tcmChronoMeter);
    EXPECT_TRUE(testutil::waitFor([&] { return ticks > at; }, 3000ms));
}

// The worker may be waiting for the GUI thread to take a tick when the clock
// is destroyed or stopped; neither may deadlock, also from inside a tick.
TEST(TickingClock, StopsWithoutDeadlock)
{
    {
        auto c = std::make_unique<TTickingClock>();
        int ticks = 0;
        c->OnTick = [&] { ++ticks; };
        c->SetMode(tcmChronoMeter);
        usleep(1300 * 1000);  // no events run: the worker is blocked on its hand-over
        QElapsedTimer t;
        t.start();
        c.reset();
        EXPECT_LT(t.elapsed(), 500);
        testutil::pump(200ms);
        EXPECT_EQ(ticks, 0);
    }
    {
        TTickingClock c;
        int ticks = 0;
        c.OnTick = [&] {
            ++ticks;
            c.SetMode(tcmIdle);
        };
        c.SetMode(tcmChronoMeter);
        ASSERT_TRUE(testutil::waitFor([&] { return ticks == 1; }, 3000ms));
        testutil::pump(1300ms);
        EXPECT_EQ(ticks, 1);
        EXPECT_EQ(c.Mode(), tcmIdle);
    }
    {
        auto *c = new TTickingClock;
        bool gone = false;
        c->OnTick = [&] {
            delete c;
            gone = true;
        };
        c->SetMode(tcmChronoMeter);
        ASSERT_TRUE(testutil::waitFor([&] { return gone; }, 3000ms));
        testutil::pump(300ms);  // the worker leaves and its thread object is freed
    }
}
