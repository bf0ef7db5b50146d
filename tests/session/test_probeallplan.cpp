// The timetable of every target each interval on its own: which entries are
// due when, how a late wake-up and a long stall are caught up. (The wait to
// the next slot and the reasons an interval is refused are the engine's
// tests'.)
#include "session/probeallplan.h"

#include "../support/qtprint.h"

#include <QStringList>
#include <gtest/gtest.h>

#include <random>

using session::TProbeAllPlan;

namespace {

// "<ms> <indices due>" for each wake-up in 'at'.
QStringList Wakeups(TProbeAllPlan &plan, const std::vector<qint64> &at)
{
    QStringList out;
    for (const qint64 ms : at) {
        QStringList due;
        for (const int i : plan.Due(ms))
            due << QString::number(i);
        out << QStringLiteral("%1 [%2]").arg(ms).arg(due.join(','));
    }
    return out;
}

} // namespace

TEST(ProbeAllPlan, EntriesComeDueAtTheirShareAndEachOnceAfterAStall)
{
    const struct {
        const char *name;
        int count;
        qint64 startMs, intervalMs;
        std::vector<qint64> wakeups;
        QStringList due;
    } cases[] = {
        {"four over 20 s, woken on time", 4, 1000, 20'000, {1000, 6000, 11000, 16000, 21000},
         {"1000 [0]", "6000 [1]", "11000 [2]", "16000 [3]", "21000 [0]"}},
        {"a wake-up a millisecond early finds nothing", 2, 0, 10'000, {0, 4999, 5000},
         {"0 [0]", "4999 []", "5000 [1]"}},
        {"a late wake-up takes the earliest slot first", 3, 0, 9'000, {0, 7000}, {"0 [0]", "7000 [1,2]"}},
        {"a stall of several intervals probes each entry once", 2, 0, 10'000, {0, 47'000, 49'999, 50'000},
         {"0 [0]", "47000 [1,0]", "49999 []", "50000 [0]"}},
        {"more entries than milliseconds: several share a slot", 5, 0, 2, {0, 1, 2},
         {"0 [0,1,2]", "1 [3,4]", "2 [0,1,2]"}},
        {"no entries, nothing due", 0, 0, 5'000, {0, 5000}, {"0 []", "5000 []"}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        TProbeAllPlan plan;
        plan.Start(c.startMs, c.count, c.intervalMs);
        EXPECT_EQ(plan.Active(), c.count > 0);
        EXPECT_EQ(Wakeups(plan, c.wakeups), c.due);
        plan.Clear();
        EXPECT_EQ(plan.UntilNext(0), -1);
        EXPECT_TRUE(plan.Due(1LL << 40).empty());
    }
}

TEST(ProbeAllPlan, ALongListOverADayKeepsItsSlotsExact)
{
    // 10000 entries over a day: the product of index and interval passes
    // 32 bits, and the last slot must still be exact.
    TProbeAllPlan plan;
    plan.Start(0, 10'000, 86'400'000);
    EXPECT_EQ(plan.NextOf(0), 0);
    EXPECT_EQ(plan.NextOf(5'000), 43'200'000);
    EXPECT_EQ(plan.NextOf(9'999), 86'391'360);
    EXPECT_EQ(plan.NextOf(10'000), -1);
    EXPECT_EQ(plan.NextOf(-1), -1);
}

TEST(ProbeAllPlan, RandomWakeupsProbeEveryEntryOncePerInterval)
{
    // However late or early the timer fires (never later than the interval),
    // over k whole intervals each entry goes k times, give or take the one
    // whose slot straddles the end, and never twice within an interval.
    std::mt19937 random(39);
    for (int run = 0; run < 50; ++run) {
        const int count = 1 + int(random() % 40);
        const qint64 interval = 5'000 + qint64(random() % 60'000);
        TProbeAllPlan plan;
        plan.Start(0, count, interval);
        std::vector<std::vector<qint64>> when(static_cast<std::size_t>(count));
        qint64 now = 0;
        while (now < 20 * interval) {
            for (const int i : plan.Due(now))
                when[std::size_t(i)].push_back(now);
            now += 1 + qint64(random() % std::uint64_t(interval / 3));
        }
        for (int i = 0; i < count; ++i) {
            SCOPED_TRACE(QStringLiteral("run %1 entry %2 of %3 every %4").arg(run).arg(i).arg(count).arg(interval).toStdString());
            const auto &times = when[std::size_t(i)];
            EXPECT_GE(int(times.size()), 19);
            EXPECT_LE(int(times.size()), 21);
            for (std::size_t k = 1; k < times.size(); ++k) {
                // Never earlier than its slot, and no gap of two intervals.
                EXPECT_GE(times[k], qint64(k) * interval + i * interval / count);
                EXPECT_LT(times[k] - times[k - 1], 2 * interval);
            }
        }
    }
}
