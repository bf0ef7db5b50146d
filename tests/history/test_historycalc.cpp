// What the history says, from records built by hand: time spans, uptime,
// the gaps of a day, the per-target table with jitter, and the texts of
// times, durations and sizes.
#include "history/historycalc.h"
#include "history/rfc3339.h"

#include <QDateTime>
#include <gtest/gtest.h>

using namespace history;

namespace {

constexpr TUs kMin = 60LL * 1000000;

TProbeRow Probe(TUs at, const QString &host, int ms, session::TProbeKind kind = session::TProbeKind::Echo)
{
    TProbeRow p;
    p.At = at;
    p.Host = host;
    p.Kind = kind;
    p.Ms = ms;
    p.Outcome = ms >= 0 ? TProbeOutcome::Ok : TProbeOutcome::Timeout;
    return p;
}

} // namespace

TEST(HistorySpans, MergeSubtractClip)
{
    struct Case {
        const char *name;
        std::vector<TInterval> a, b, merged, aLessB;
    };
    const std::vector<Case> cases = {
        {"disjoint", {{10, 20}, {0, 5}}, {}, {{0, 5}, {10, 20}}, {{0, 5}, {10, 20}}},
        {"touching join", {{0, 5}, {5, 9}}, {{2, 3}}, {{0, 9}}, {{0, 2}, {3, 9}}},
        {"empty spans dropped", {{4, 4}, {7, 6}}, {}, {}, {}},
        {"hole at both ends", {{0, 10}}, {{-5, 2}, {8, 20}}, {{0, 10}}, {{2, 8}}},
        {"one b over two a", {{0, 4}, {6, 10}}, {{3, 7}}, {{0, 4}, {6, 10}}, {{0, 3}, {7, 10}}},
        {"b covers all", {{1, 2}}, {{0, 3}}, {{1, 2}}, {}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        const std::vector<TInterval> merged = Merge(c.a);
        EXPECT_EQ(merged, c.merged);
        EXPECT_EQ(Subtract(merged, Merge(c.b)), c.aLessB);
    }
    EXPECT_EQ(Clip({{0, 10}, {20, 30}}, TRange{5, 25}), (std::vector<TInterval>{{5, 10}, {20, 25}}));
    EXPECT_EQ(Length({{0, 10}, {20, 25}}), 15);
}

TEST(HistoryUptime, WatchedTimeLessPausesAndOutages)
{
    const TRange day{0, 24 * 60 * kMin};
    struct Case {
        const char *name;
        std::vector<TSpanRow> sessions, gaps;
        std::vector<TOutageRow> outages;
        TUs now;
        TUs monitored, down;
        std::optional<double> percent;
    };
    auto outage = [](TUs from, std::optional<TUs> to) {
        TOutageRow o;
        o.Start = from;
        o.End = to;
        return o;
    };
    const std::vector<Case> cases = {
        {"nothing watched", {}, {}, {}, day.To, 0, 0, std::nullopt},
        {"ten hours, no outage", {{0, 600 * kMin, {}}}, {}, {}, day.To, 600 * kMin, 0, 100.0},
        {"one hour of ten down", {{0, 600 * kMin, {}}}, {}, {outage(60 * kMin, 120 * kMin)}, day.To,
         600 * kMin, 60 * kMin, 90.0},
        {"sleep is not watched", {{0, 600 * kMin, {}}}, {{100 * kMin, 400 * kMin, kSuspended}},
         {outage(0, 30 * kMin)}, day.To, 300 * kMin, 30 * kMin, 90.0},
        {"session still running, outage open", {{20 * 60 * kMin, std::nullopt, {}}}, {},
         {outage(21 * 60 * kMin, std::nullopt)}, 22 * 60 * kMin, 120 * kMin, 60 * kMin, 50.0},
        {"session from yesterday counts from midnight", {{-300 * kMin, 300 * kMin, {}}}, {},
         {outage(-100 * kMin, 100 * kMin)}, day.To, 300 * kMin, 100 * kMin, 100.0 * 2 / 3},
        {"outage outside the watch is not down time", {{0, 60 * kMin, {}}}, {},
         {outage(120 * kMin, 180 * kMin)}, day.To, 60 * kMin, 0, 100.0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        const TUptime up = Uptime(day, c.sessions, c.gaps, c.outages, c.now);
        EXPECT_EQ(up.Monitored, c.monitored);
        EXPECT_EQ(up.Down, c.down);
        ASSERT_EQ(up.Percent().has_value(), c.percent.has_value());
        if (c.percent) {
            EXPECT_NEAR(*up.Percent(), *c.percent, 1e-9);
        }
    }
}

TEST(HistoryGaps, UnwatchedAndPausedStretchesOfADay)
{
    const TRange range{0, 100 * kMin};
    const std::vector<TSpanRow> sessions = {{10 * kMin, 40 * kMin, {}}, {50 * kMin, std::nullopt, {}}};
    const std::vector<TSpanRow> pauses = {{20 * kMin, 30 * kMin, "paused (metered)"},
                                          {60 * kMin, std::nullopt, kSuspended}};
    // Nothing is a gap past 'now': the future is not unwatched yet.
    const std::vector<TGap> gaps = Gaps(range, sessions, pauses, 70 * kMin);
    std::vector<std::tuple<TUs, TUs, QString>> seen;
    for (const TGap &g : gaps)
        seen.emplace_back(g.Span.From / kMin, g.Span.To / kMin, g.Kind);
    EXPECT_EQ(seen, (std::vector<std::tuple<TUs, TUs, QString>>{
                        {0, 10, kNotMonitored},
                        {20, 30, "paused (metered)"},
                        {40, 50, kNotMonitored},
                        {60, 70, kSuspended},
                    }));
}

TEST(HistoryTargets, LossMinAvgMaxAndJitterPerTarget)
{
    // A cycle over two servers: a slow, unsteady one and a steady one. Jitter
    // is taken along each server's own probes; across the rotation it would
    // be about 100 ms.
    TTargetStats stats;
    const std::vector<std::pair<QString, int>> cycle = {
        {"slow", 150}, {"near", 2}, {"slow", 50}, {"near", 3}, {"slow", -1},
        {"near", 2}, {"slow", 100}, {"near", 3}, {"slow", 200}, {"near", 2},
    };
    TUs t = 0;
    for (const auto &[host, ms] : cycle)
        stats.Add(Probe(t += kMin, host, ms));
    // The same host probed over HTTP is a target of its own.
    stats.Add(Probe(t += kMin, "near", 400, session::TProbeKind::HttpGet));
    // A system that may not send echoes says nothing of the line.
    TProbeRow refused = Probe(t += kMin, "near", -1);
    refused.Outcome = TProbeOutcome::NotPermitted;
    stats.Add(refused);

    const std::vector<TTargetRow> rows = stats.Rows();
    ASSERT_EQ(rows.size(), 3u);
    struct Want {
        QString host;
        session::TProbeKind kind;
        qint64 probes, lost;
        int min, max;
        double avg;
        std::optional<double> jitter;
    };
    const std::vector<Want> want = {
        {"near", session::TProbeKind::Echo, 5, 0, 2, 3, 12.0 / 5, 1.0},
        {"near", session::TProbeKind::HttpGet, 1, 0, 400, 400, 400, std::nullopt},
        // 150, 50, (lost), 100, 200: differences 100, 50, 100 between answered ones.
        {"slow", session::TProbeKind::Echo, 5, 1, 50, 200, 125, 250.0 / 3},
    };
    for (size_t i = 0; i < want.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(rows[i].Host, want[i].host);
        EXPECT_EQ(rows[i].Kind, want[i].kind);
        EXPECT_EQ(rows[i].Probes, want[i].probes);
        EXPECT_EQ(rows[i].Lost, want[i].lost);
        EXPECT_EQ(rows[i].Min, want[i].min);
        EXPECT_EQ(rows[i].Max, want[i].max);
        EXPECT_DOUBLE_EQ(rows[i].Average, want[i].avg);
        ASSERT_EQ(rows[i].Jitter.has_value(), want[i].jitter.has_value());
        if (want[i].jitter) {
            EXPECT_DOUBLE_EQ(*rows[i].Jitter, *want[i].jitter);
        }
    }
    EXPECT_DOUBLE_EQ(rows[2].LossPercent(), 20.0);
}

TEST(HistoryTargets, DownTimeOfATargetAloneNotOfTheLine)
{
    // One host's probes a minute apart: ms, or -1 lost; 'L' marks a probe
    // sent while the whole line was down.
    const struct {
        const char *name;
        std::vector<std::pair<int, bool>> probes;   // ms, line down
        qint64 downMin;
    } cases[] = {
        {"always answers", {{5, false}, {5, false}}, 0},
        {"lost twice, back at the third", {{5, false}, {-1, false}, {-1, false}, {5, false}}, 2},
        {"two runs", {{-1, false}, {5, false}, {5, false}, {-1, false}, {-1, false}, {-1, false}, {5, false}}, 4},
        // Still silent at the range's end: up to its last lost probe.
        {"silent to the end", {{5, false}, {-1, false}, {-1, false}, {-1, false}}, 2},
        {"one lost at the end", {{5, false}, {-1, false}}, 0},
        // The losses that ran into the line's outage were the line's.
        {"the line went", {{5, false}, {-1, false}, {-1, true}, {-1, true}, {5, false}}, 0},
        {"alone after the line came back", {{-1, true}, {-1, false}, {5, false}}, 1},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        TTargetStats stats;
        TUs t = 0;
        for (const auto &[ms, lineDown] : c.probes)
            stats.Add(Probe(t += kMin, "quiet", ms), lineDown);
        // Another host answering all along has no down time of its own.
        stats.Add(Probe(t += kMin, "steady", 3));
        const std::vector<TTargetRow> rows = stats.Rows();
        ASSERT_EQ(rows.size(), 2u);
        EXPECT_EQ(rows[0].Host, "quiet");
        EXPECT_EQ(rows[0].DownUs, c.downMin * kMin);
        EXPECT_EQ(rows[1].DownUs, 0);
    }
}

TEST(HistoryCursor, TellsWhichTimesFallInsideSortedSpans)
{
    TSpanCursor cursor({{10, 20}, {30, 40}});
    std::vector<bool> inside;
    for (TUs t : {0, 10, 19, 20, 25, 30, 39, 40, 100})
        inside.push_back(cursor.Inside(t));
    EXPECT_EQ(inside, (std::vector<bool>{false, true, true, false, false, true, true, false, false}));
}

TEST(HistoryTargets, RoundTripsInMicroseconds)
{
    // Echoes on a fast network: every one under a millisecond, which whole
    // milliseconds would show as 0 with no jitter at all.
    TTargetStats stats;
    TUs t = 0;
    for (qint64 us : {150, 350, 9940}) {
        TProbeRow p = Probe(t += kMin, "lan", int((us + 500) / 1000));
        p.Us = us;
        stats.Add(p);
    }
    const std::vector<TTargetRow> rows = stats.Rows();
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].MinUs, 150);
    EXPECT_EQ(rows[0].MaxUs, 9940);
    // The whole milliseconds are the microseconds rounded, as before.
    EXPECT_EQ(rows[0].Min, 0);
    EXPECT_EQ(rows[0].Max, 10);
    EXPECT_DOUBLE_EQ(rows[0].Average, 10440.0 / 3 / 1000);
    ASSERT_TRUE(rows[0].Jitter.has_value());
    EXPECT_DOUBLE_EQ(*rows[0].Jitter, (200.0 + 9590.0) / 2 / 1000);
}

TEST(HistoryText, RoundTripsInTenthsBelowTenMilliseconds)
{
    const std::vector<std::pair<qint64, QString>> cases = {
        {-1, ""},       {0, "0.0"},     {49, "0.0"},    {50, "0.1"},     {349, "0.3"},
        {1000, "1.0"},  {9949, "9.9"},  {9950, "10"},   {10499, "10"},   {10500, "11"},
        {250000, "250"}, {59999999, "60000"},
    };
    for (const auto &[us, text] : cases)
        EXPECT_EQ(RoundTripText(us), text) << us;
}

TEST(HistoryText, TimesAndSizes)
{
    const std::vector<std::pair<TUs, QString>> times = {
        {0, "1970-01-01T00:00:00.000Z"},
        {1714550587250999LL, "2024-05-01T08:03:07.250Z"},
        {951782400000000LL, "2000-02-29T00:00:00.000Z"},
        {4102444799999000LL, "2099-12-31T23:59:59.999Z"},
        {-1000, "1969-12-31T23:59:59.999Z"},
    };
    for (const auto &[us, text] : times) {
        EXPECT_EQ(Rfc3339(us), text);
        // The same moment as Qt writes it.
        EXPECT_EQ(text, QDateTime::fromMSecsSinceEpoch(us >= 0 ? us / 1000 : -1, Qt::UTC)
                            .toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss.zzzZ")));
    }

    const std::vector<std::pair<qint64, QString>> sizes = {
        {0, "0 bytes"}, {999, "999 bytes"}, {1000, "1.0 KB"}, {1550, "1.6 KB"},
        {241920, "242 KB"}, {1500000, "1.5 MB"}, {3200000000LL, "3.2 GB"},
    };
    for (const auto &[bytes, text] : sizes)
        EXPECT_EQ(FormatBytes(bytes), text) << bytes;
}

TEST(HistoryText, TimesAUserTypes)
{
    const TUs may1 = QDateTime(QDate(2024, 5, 1), QTime(0, 0), Qt::UTC).toMSecsSinceEpoch() * 1000;
    const TUs localMay1 = QDateTime(QDate(2024, 5, 1), QTime(0, 0), Qt::LocalTime).toMSecsSinceEpoch() * 1000;
    const TUs hour = 3600LL * 1000000;
    struct Case {
        const char *text;
        std::optional<TUs> want;
    };
    const std::vector<Case> cases = {
        {"2024-05-01T00:00:00Z", may1},
        {"2024-05-01t08:30z", may1 + 8 * hour + 30 * 60 * 1000000LL},
        {"2024-05-01T10:00:00+02:00", may1 + 8 * hour},
        {"2024-05-01T00:00:00.5-01:30", may1 + hour + hour / 2 + 500000},
        {"2024-05-01 06:00:00", localMay1 + 6 * hour},
        {"2024-05-01", localMay1},
        {"  2024-05-01  ", localMay1},
        {"2024-02-30", std::nullopt},
        {"2024-05-01T25:00Z", std::nullopt},
        {"2024-05-01Z", std::nullopt},
        {"yesterday", std::nullopt},
        {"1714550587", std::nullopt},
        {"", std::nullopt},
    };
    for (const Case &c : cases)
        EXPECT_EQ(ParseUserTime(QString::fromLatin1(c.text)), c.want) << c.text;
}
