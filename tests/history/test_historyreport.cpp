// The report's figures from a real history file: the percentiles, the local
// days of a range that crosses a change of the clocks (Europe/Berlin), the
// period's uptime, outages and lost probes against the export's records,
// and a range with nothing recorded.
#include "historytest.h"

#include "history/historyreport.h"
#include "history/rfc3339.h"
#include "../support/testutil.h"

#include <QDateTime>
#include <gtest/gtest.h>

#include <ctime>

using namespace history;
using historytest::Probe;

namespace {

constexpr TUs kSec = 1000000;
constexpr TUs kHour = 3600 * kSec;

// Local times are Berlin's while a test runs.
class BerlinTime : public ::testing::Test {
protected:
    void SetUp() override
    {
        old_ = qgetenv("TZ");
        qputenv("TZ", "Europe/Berlin");
        tzset();
    }
    void TearDown() override
    {
        if (old_.isNull())
            qunsetenv("TZ");
        else
            qputenv("TZ", old_);
        tzset();
    }
    static TUs Local(const char *text) { return *ParseUserTime(QString::fromLatin1(text)); }
    QByteArray old_;
};

} // namespace

TEST(ReportFigures, MedianAndNearestRankPercentile)
{
    struct {
        std::vector<int> ms;
        std::optional<double> median;
        int p95;
    } const cases[] = {
        {{}, std::nullopt, -1},
        {{40}, 40.0, 40},
        {{4, 1, 3, 2}, 2.5, 4},
        {{30, 10, 20}, 20.0, 30},
        // 1..20: 95 % of 20 is the 19th.
        {{20, 19, 18, 17, 16, 15, 14, 13, 12, 11, 10, 9, 8, 7, 6, 5, 4, 3, 2, 1}, 10.5, 19},
        // 1..21: ceil(19.95) is the 20th.
        {{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18, 19, 20, 21}, 11.0, 20},
    };
    for (const auto &c : cases) {
        std::vector<int> a = c.ms, b = c.ms;
        EXPECT_EQ(Median(a), c.median) << c.ms.size();
        EXPECT_EQ(Percentile(b, 95), c.p95) << c.ms.size();
    }
}

TEST_F(BerlinTime, DaysOfARangeAcrossAChangeOfTheClocks)
{
    struct {
        const char *from, *to;
        std::vector<int> hours;
    } const cases[] = {
        // Summer time began on 29 March 2026 at 02:00, ended on 25 October at 03:00.
        {"2026-03-28", "2026-03-31", {24, 23, 24}},
        {"2026-10-24", "2026-10-27", {24, 25, 24}},
        // A range that starts and ends inside days keeps only its part of them.
        {"2026-03-29 12:00", "2026-03-30 06:00", {12, 6}},
        {"2026-10-25 01:00", "2026-10-25 04:00", {4}},
    };
    for (const auto &c : cases) {
        const std::vector<TLocalDay> days = LocalDays({Local(c.from), Local(c.to)});
        std::vector<int> hours;
        for (const TLocalDay &d : days)
            hours.push_back(int((d.To - d.From) / kHour));
        EXPECT_EQ(hours, c.hours) << c.from;
        ASSERT_FALSE(days.empty());
        EXPECT_EQ(days.front().From, Local(c.from));
        EXPECT_EQ(days.back().To, Local(c.to));
    }
}

TEST_F(BerlinTime, ReportOverAHistoryMatchesTheExport)
{
    testutil::ScratchDir dir;
    THistoryStore store;
    ASSERT_TRUE(store.Open(THistoryStore::DefaultPath()));
    // A session from Saturday noon to Monday noon across the spring change:
    // a probe every 10 minutes, an outage on Sunday of 40 minutes with its
    // probes lost, and a pause of an hour asleep on Sunday night.
    const TUs start = Local("2026-03-28 12:00"), end = Local("2026-03-30 12:00");
    const qint64 session = store.BeginSession(start, 600000, 1, false);
    const TUs outageStart = Local("2026-03-29 10:00"), outageEnd = outageStart + 40 * 60 * kSec;
    const TUs sleepStart = Local("2026-03-29 23:00"), sleepEnd = sleepStart + kHour;
    for (TUs t = start; t < end; t += 600 * kSec) {
        if (t >= sleepStart && t < sleepEnd)
            continue;
        const bool lost = t >= outageStart && t < outageEnd;
        ASSERT_TRUE(store.AddProbe(Probe(t, "a.test", lost ? -1 : 20 + int(t / (600 * kSec) % 5) * 10), session));
    }
    TOutageRow o;
    o.Start = outageStart;
    o.ProbesLost = 4;
    const qint64 outage = store.OpenOutage(o, session);
    o.End = outageEnd;
    o.DurationMs = 40 * 60 * 1000;
    o.EndedBy = "up";
    store.CloseOutage(outage, o);
    store.CloseGap(store.OpenGap(session, sleepStart, kSuspended), sleepEnd);
    store.EndSession(session, end);

    TReport r;
    const TRange range{Local("2026-03-28"), Local("2026-03-31")};
    ASSERT_TRUE(BuildReport(store, range, Local("2026-04-01"), &r));
    EXPECT_FALSE(r.Empty);
    EXPECT_EQ(r.Period.From, range.From);
    EXPECT_EQ(r.Period.To, range.To);

    // The export's records give the same counts and lengths.
    const QStringList outages = historytest::CsvLines(store, TExportKind::Outages, range);
    ASSERT_EQ(outages.size(), 1);
    ASSERT_EQ(r.Outages.size(), 1u);
    const QStringList fields = outages[0].split(',');
    EXPECT_EQ(Rfc3339(r.Outages[0].Row.Start), fields[0]);
    EXPECT_EQ(QString::number(r.Outages[0].LengthMs / 1000.0, 'f', 3), fields[2]);
    EXPECT_EQ(QString::number(r.Outages[0].Row.ProbesLost), fields[3]);
    qint64 probes = 0, lost = 0;
    for (const QString &line : historytest::CsvLines(store, TExportKind::Probes, range)) {
        ++probes;
        lost += line.section(',', 4, 4) != QLatin1String("ok");
    }
    EXPECT_EQ(r.Probes, probes);
    EXPECT_EQ(r.Lost, lost);
    EXPECT_EQ(r.Lost, 4);
    // Watched: two days less the 23 hours' day's missing hour, less the hour asleep.
    const TUs watched = (end - start) - kHour;
    EXPECT_EQ(r.Up.Monitored, watched);
    EXPECT_EQ(r.Up.Down, outageEnd - outageStart);
    EXPECT_DOUBLE_EQ(*r.Up.Percent(), 100.0 * double(watched - 40 * 60 * kSec) / double(watched));
    EXPECT_EQ(r.LongestMs, 40 * 60 * 1000);

    // Three local days; Sunday has 23 hours, the outage and the sleep.
    ASSERT_EQ(r.Days.size(), 3u);
    const TReportDay &sunday = r.Days[1];
    EXPECT_EQ(sunday.Day.Date, QDate(2026, 3, 29));
    EXPECT_EQ(sunday.Monitored, 22 * kHour);
    EXPECT_EQ(sunday.Down, 40 * 60 * kSec);
    EXPECT_EQ(sunday.Probes, 22 * 6);
    EXPECT_EQ(sunday.Lost, 4);
    EXPECT_EQ(r.Days[0].Probes + r.Days[1].Probes + r.Days[2].Probes, probes);
    EXPECT_EQ(r.Days[0].Monitored, 12 * kHour);
    ASSERT_TRUE(r.Days[0].MedianMs.has_value());
    EXPECT_EQ(*r.Days[0].MedianMs, 40.0);
    EXPECT_EQ(r.Days[0].P95Ms, 60);

    // What was not watched, by kind, fills the rest of the period.
    TUs unwatched = 0;
    for (const TUnwatched &u : r.Unwatched)
        unwatched += u.Length;
    EXPECT_EQ(unwatched + r.Up.Monitored, r.Period.Length());
    ASSERT_EQ(r.Settings.size(), 1u);
    EXPECT_EQ(r.Settings[0].IntervalMs, 600000);
}

TEST_F(BerlinTime, ARangeWithNothingRecordedSaysSo)
{
    testutil::ScratchDir dir;
    THistoryStore store;
    ASSERT_TRUE(store.Open(THistoryStore::DefaultPath()));
    const qint64 s = store.BeginSession(Local("2026-05-01 08:00"), 60000, 1, false);
    ASSERT_TRUE(store.AddProbe(Probe(Local("2026-05-01 08:01"), "a.test", 10), s));
    store.EndSession(s, Local("2026-05-01 09:00"));

    struct {
        TRange range;
        size_t days;
    } const cases[] = {
        {{Local("2026-04-01"), Local("2026-04-03")}, 2},   // before the history
        {{kOpenStart, kOpenEnd}, 0},                        // asked of an empty file below
    };
    TReport r;
    ASSERT_TRUE(BuildReport(store, cases[0].range, Local("2026-06-01"), &r));
    EXPECT_TRUE(r.Empty);
    EXPECT_FALSE(r.Up.Percent().has_value());
    EXPECT_EQ(r.Days.size(), cases[0].days);
    for (const TReportDay &d : r.Days)
        EXPECT_FALSE(d.LossPercent().has_value());
    EXPECT_TRUE(r.Targets.empty());

    store.Close();
    testutil::ScratchDir empty;
    THistoryStore none;
    ASSERT_TRUE(none.Open(THistoryStore::DefaultPath()));
    ASSERT_TRUE(BuildReport(none, cases[1].range, Local("2026-06-01"), &r));
    EXPECT_TRUE(r.Empty);
    EXPECT_EQ(r.Days.size(), cases[1].days);
    EXPECT_EQ(r.Period.Length(), 0);

    // With no start asked for, the report starts at the first record.
    ASSERT_TRUE(store.Open(dir.file("history.db")));
    ASSERT_TRUE(BuildReport(store, {kOpenStart, kOpenEnd}, Local("2026-06-01"), &r));
    EXPECT_EQ(r.Period.From, Local("2026-05-01 08:00"));
    EXPECT_EQ(r.Period.To, Local("2026-06-01"));
    EXPECT_EQ(r.Probes, 1);
}
