// Session statistics arithmetic: rounding of the report figures and the
// texts of the counters and the session time.
#include "session/statscalc.h"

#include <gtest/gtest.h>

using namespace session;

TEST(StatsCalc, DivisionRoundsHalvesToEven)
{
    const struct { qint64 num, den, q; } cases[] = {
        {601, 4, 150}, {100, 8, 12}, {25, 2, 12}, {27, 2, 14}, {1, 2, 0}, {3, 2, 2},
        {5, 2, 2}, {7, 2, 4}, {2, 3, 1}, {1, 3, 0}, {300, 4, 75}, {0, 5, 0},
        {-5, 2, -2}, {-7, 2, -4}, {-2, 3, -1}, {5, -2, -2},
    };
    for (const auto &c : cases)
        EXPECT_EQ(DivRoundEven(c.num, c.den), c.q) << c.num << "/" << c.den;
}

TEST(StatsCalc, RowSummaries)
{
    const struct { qint64 a, f, t; const char *pct, *avg; } cases[] = {
        {3, 1, 601, "75 %", "150"},   // 100, 200, 301 ms and one failure
        {1, 7, 100, "12 %", "12"},    // 12.5 % rounds down to the even 12
        {0, 0, 0, "100 %", "0"},      // never probed
        {0, 3, 0, "0 %", "0"},
        {2, 0, 81, "100 %", "40"},    // 40.5 -> 40
        {2, 0, 83, "100 %", "42"},    // 41.5 -> 42
        {1, 1, 0, "50 %", "0"},
    };
    for (const auto &c : cases) {
        const TRowSummary s = SummariseRow(c.a, c.f, c.t);
        EXPECT_EQ(s.Percent, QString::fromLatin1(c.pct)) << c.a << "/" << c.f;
        EXPECT_EQ(s.Average, QString::fromLatin1(c.avg)) << c.a << "/" << c.f;
    }
}

TEST(StatsCalc, CellIntegersAndTexts)
{
    EXPECT_EQ(CellInteger(QStringLiteral("42")), 42);
    EXPECT_EQ(CellInteger(QStringLiteral("0")), 0);
    EXPECT_FALSE(CellInteger(QStringLiteral("75 %")).has_value());
    EXPECT_FALSE(CellInteger(QString()).has_value());
    EXPECT_EQ(CountsText(3, 4), QStringLiteral("3/4"));
    EXPECT_EQ(ElapsedText(1, 5, 3), QStringLiteral("01:05:03"));
    EXPECT_EQ(ElapsedText(23, 59, 59), QStringLiteral("23:59:59"));
    EXPECT_EQ(ElapsedText(0, 0, 0), QStringLiteral("00:00:00"));
}
