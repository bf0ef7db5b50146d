// The summaries: whatever the History window reads from them (each
// target's figures, the bytes of each local day, the timeline, the latest
// probe) equals what the probes themselves say, in time zones whose days do
// not start on an UTC hour, with paused probes, old rows without
// microseconds, a file of the layout before the summaries, a prune in the
// middle of an hour and a summary that disagrees with its probes.
#include "historytest.h"

#include "history/rangefigures.h"

#include "../support/testutil.h"

#include <QFile>
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <climits>
#include <ctime>
#include <map>
#include <random>

using namespace history;
using historytest::Sql;

namespace {

constexpr TUs kSec = 1000000;
constexpr TUs kMin = 60 * kSec;
// 2026-03-06T07:13:00Z: the history below runs over a change to summer time
// in New York (2026-03-08).
constexpr TUs kT0 = 1772781180LL * kSec;
constexpr TUs kSpan = 5 * kUsPerDay;
constexpr TUs kPauseWithProbe = kT0 + 30 * 3600 * kSec + 20 * kMin;
constexpr TUs kPauseEmpty = kT0 + 70 * 3600 * kSec;


// A history of five days over three hosts (one of them at two addresses),
// echoes and transfers, every outcome the window treats apart, rows of an
// older layout with whole ms only, and two pauses, one of them with a probe
// that came while it lasted. Each day holds whole hours; the range of a case
// decides what is read from summaries.
void Fill(THistoryStore &store)
{
    std::mt19937 random(7);
    const qint64 session = store.BeginSession(kT0, 60000, 1, true);
    const QString hosts[] = {QStringLiteral("a.test"), QStringLiteral("b.test"), QStringLiteral("a.test")};
    const QString addresses[] = {QStringLiteral("10.0.0.1"), QStringLiteral("10.0.0.2"), QStringLiteral("10.0.0.3")};
    THistoryStore::TBatch batch(store);
    int i = 0;
    for (TUs t = kT0; t < kT0 + kSpan; t += 4 * kMin + TUs(random() % 120) * kSec, ++i) {
        TProbeRow p = historytest::Probe(t, hosts[i % 3], 0);
        p.Address = addresses[i % 3];
        p.Kind = i % 5 == 0 ? session::TProbeKind::HttpGet : session::TProbeKind::Echo;
        const int roll = int(random() % 100);
        p.Us = 300 + qint64(random() % 40000);
        p.Ms = int(p.Us / 1000);
        if (roll < 8) {
            p.Outcome = TProbeOutcome::Timeout;
            p.Ms = -1;
            p.Us = -1;
            p.BytesReceived = 0;
        } else if (roll < 11) {
            p.Outcome = TProbeOutcome::Skipped;
            p.Ms = p.Us = -1;
        } else if (roll < 13) {
            p.Outcome = TProbeOutcome::NotPermitted;
            p.Ms = p.Us = -1;
        } else if (roll < 20) {
            p.Us = -1;   // a row of a program that kept whole milliseconds
        }
        store.AddProbe(p, session);
    }
    store.AddProbe(historytest::Probe(kPauseWithProbe + kMin, QStringLiteral("b.test"), 900), session);
    const qint64 paused = store.OpenGap(session, kPauseWithProbe, QStringLiteral("paused (metered)"));
    store.CloseGap(paused, kPauseWithProbe + 2 * 3600 * kSec);
    const qint64 empty = store.OpenGap(session, kPauseEmpty, QStringLiteral("suspended"));
    store.CloseGap(empty, kPauseEmpty + 30 * kMin);
}

// The answered round trips and lost probes per UTC hour of a timeline.
struct THourPoints {
    int Min = INT_MAX, Max = -1;
    bool Lost = false;
    bool operator==(const THourPoints &) const = default;
};
std::map<qint64, THourPoints> ByHour(const std::vector<TPoint> &points)
{
    std::map<qint64, THourPoints> out;
    for (const TPoint &p : points) {
        THourPoints &h = out[p.At / kUsPerHour];
        if (p.Ms < 0) {
            h.Lost = true;
        } else {
            h.Min = std::min(h.Min, p.Ms);
            h.Max = std::max(h.Max, p.Ms);
        }
    }
    return out;
}

// Every figure of each row as one line, to compare two readings row by row.
QStringList Rows(const std::vector<TTargetRow> &rows)
{
    QStringList out;
    for (const TTargetRow &t : rows)
        out << QStringLiteral("%1 %2 probes %3 lost %4 us %5-%6 ms %7-%8 avg %9 jitter %10")
                   .arg(t.Host, KindName(t.Kind))
                   .arg(t.Probes).arg(t.Lost).arg(t.MinUs).arg(t.MaxUs).arg(t.Min).arg(t.Max)
                   .arg(t.Average, 0, 'g', 17)
                   .arg(t.Jitter ? QString::number(*t.Jitter, 'g', 17) : QStringLiteral("none"));
    return out;
}
QStringList Rows(const std::vector<TDayBytes> &days)
{
    QStringList out;
    for (const TDayBytes &d : days)
        out << QStringLiteral("%1 probes %2 sent %3 received %4 skipped %5 saved %6")
                   .arg(d.Day).arg(d.Probes).arg(d.Sent).arg(d.Received).arg(d.Skipped).arg(d.Saved);
    return out;
}

// The figures of a range probe by probe and from the summaries; they must
// agree in everything but the timeline's order within an hour.
void ExpectSameFigures(THistoryStore &store, const TRange &range, bool hoursExpected = true)
{
    const std::vector<TSpanRow> pauses = store.Gaps(range);
    TRangeFigures probes, hours;
    ASSERT_TRUE(ReadRangeFigures(store, range, pauses, kT0 + kSpan, INT_MAX / 4, probes));
    ASSERT_TRUE(ReadRangeFigures(store, range, pauses, kT0 + kSpan, 1, hours));
    ASSERT_FALSE(probes.FromHours);
    ASSERT_EQ(hours.FromHours, hoursExpected);
    ASSERT_GT(probes.Probes, 0);
    EXPECT_EQ(hours.Probes, probes.Probes);
    EXPECT_EQ(hours.Bytes, probes.Bytes);
    EXPECT_EQ(Rows(hours.Targets), Rows(probes.Targets));
    EXPECT_EQ(Rows(hours.Days), Rows(probes.Days));
    ASSERT_TRUE(probes.Latest && hours.Latest);
    EXPECT_EQ(hours.Latest->At, probes.Latest->At);
    EXPECT_EQ(hours.Latest->Host, probes.Latest->Host);
    EXPECT_EQ(ByHour(hours.Points), ByHour(probes.Points));
    // Far fewer points than probes: that is what the summaries are for.
    if (hoursExpected && range.Length() > 2 * kUsPerDay) {
        EXPECT_LT(hours.Points.size() * 2, probes.Points.size());
    }
}

class RangeFigures : public ::testing::Test {
protected:
    QString path() const { return dir.file("history.db"); }
    void SetZone(const char *zone)
    {
        qputenv("TZ", zone);
        tzset();
    }
    void TearDown() override
    {
        qunsetenv("TZ");
        tzset();
    }
    testutil::ScratchDir dir;
};

TEST_F(RangeFigures, HoursSayWhatTheProbesSayInEveryZoneAndRange)
{
    THistoryStore store;
    ASSERT_TRUE(store.Open(path()));
    Fill(store);
    struct Case {
        const char *zone;
        TUs from, to;
    } const cases[] = {
        {"UTC", kT0, kT0 + kSpan},
        {"UTC", kT0 - kUsPerDay, kT0 + 2 * kSpan},
        // A day that starts on the half hour, and one of 23 hours.
        {"Asia/Kolkata", kT0 + 17 * kMin, kT0 + kSpan - 3 * kMin},
        {"America/New_York", kT0 + 1, kT0 + kSpan - 1},
        {"Australia/Eucla", kT0 + 3 * 3600 * kSec, kT0 + 4 * kUsPerDay},
        // Within the pause that holds a probe, and across it.
        {"UTC", kPauseWithProbe - 3 * 3600 * kSec, kPauseWithProbe + 5 * 3600 * kSec},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(std::string(c.zone) + " from " + std::to_string(c.from) + " to " + std::to_string(c.to));
        SetZone(c.zone);
        ExpectSameFigures(store, {c.from, c.to});
    }
}

TEST_F(RangeFigures, AFileWithoutSummariesIsReadProbeByProbeThenGainsThem)
{
    {
        THistoryStore store;
        ASSERT_TRUE(store.Open(path()));
        Fill(store);
    }
    // As the layout before the summaries wrote it.
    Sql(path(), "DROP TRIGGER probes_summed; DROP TABLE hours; DROP TABLE days; PRAGMA user_version=3");
    const TRange all{kT0, kT0 + kSpan};
    {
        THistoryStore reader;
        ASSERT_TRUE(reader.Open(path(), THistoryStore::TMode::Read)) << reader.Problem().toStdString();
        EXPECT_FALSE(reader.HasHours());
        TRangeFigures figures;
        ASSERT_TRUE(ReadRangeFigures(reader, all, reader.Gaps(all), kT0 + kSpan, 1, figures));
        EXPECT_FALSE(figures.FromHours);
        EXPECT_GT(figures.Probes, 1000);
    }
    THistoryStore store;
    ASSERT_TRUE(store.Open(path())) << store.Problem().toStdString();
    EXPECT_TRUE(store.HasHours());
    ExpectSameFigures(store, all);
    // And they are kept from there on.
    store.AddProbe(historytest::Probe(kT0 + kSpan - kMin, QStringLiteral("c.test"), 12));
    ExpectSameFigures(store, all);
}

TEST_F(RangeFigures, SummariesThatDisagreeWithTheLatestProbesAreRebuilt)
{
    struct Case {
        const char *what;
        const char *sql;
    } const cases[] = {
        {"a count off", "UPDATE hours SET probes = probes + 3 WHERE hour = (SELECT max(hour) FROM hours)"},
        {"an hour lost", "DELETE FROM hours WHERE hour = (SELECT max(hour) FROM hours)"},
        {"a target's day lost", "DELETE FROM days WHERE day = (SELECT max(day) FROM days) AND host = 'b.test'"},
        {"a loss too many", "UPDATE days SET counted = counted + 1, lost = lost + 1 WHERE day = (SELECT max(day) FROM days)"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        QFile::remove(path());
        {
            THistoryStore store;
            ASSERT_TRUE(store.Open(path()));
            Fill(store);
        }
        Sql(path(), c.sql);
        THistoryStore store;
        ASSERT_TRUE(store.Open(path()));
        ExpectSameFigures(store, {kT0, kT0 + kSpan});
    }
}

TEST_F(RangeFigures, APruneInTheMiddleOfAnHourLeavesTheRestSummedUpRight)
{
    THistoryStore store;
    ASSERT_TRUE(store.Open(path()));
    Fill(store);
    const TUs cut = kT0 + 2 * kUsPerDay + 37 * kMin;
    ASSERT_GT(store.Prune(cut), 0);
    ExpectSameFigures(store, {kT0, kT0 + kSpan});
    // Nothing of the pruned hours is left to count.
    TRangeFigures before;
    ASSERT_TRUE(ReadRangeFigures(store, {kT0 - kUsPerDay, cut}, {}, kT0 + kSpan, 1, before));
    EXPECT_EQ(before.Probes, 0);
    EXPECT_TRUE(before.Targets.empty());
}

TEST_F(RangeFigures, ShortRangesAndEmptyFilesAreReadProbeByProbe)
{
    THistoryStore store;
    ASSERT_TRUE(store.Open(path()));
    TRangeFigures figures;
    ASSERT_TRUE(ReadRangeFigures(store, {kT0, kT0 + kSpan}, {}, kT0, 1, figures));
    EXPECT_EQ(figures.Probes, 0);
    EXPECT_FALSE(figures.Latest);
    Fill(store);
    // Shorter than an hour a column: every probe on the timeline.
    ASSERT_TRUE(ReadRangeFigures(store, {kT0, kT0 + kUsPerDay}, {}, kT0 + kSpan, 1000, figures));
    EXPECT_FALSE(figures.FromHours);
    // No whole hour in the range.
    ASSERT_TRUE(ReadRangeFigures(store, {kT0 + kMin, kT0 + 50 * kMin}, {}, kT0 + kSpan, 1, figures));
    EXPECT_FALSE(figures.FromHours);
    EXPECT_GT(figures.Probes, 5);
}

} // namespace
