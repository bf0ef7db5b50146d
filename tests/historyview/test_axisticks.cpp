// The time axis of the History window's timeline: round local times, as many
// as fit the plot, each named so that it cannot be taken for another moment
// (a tick of a range of years names its year).
#include "historyview/timelineview.h"

#include <QDateTime>
#include <QRegularExpression>
#include <gtest/gtest.h>

using namespace history;
using namespace historyview;

TEST(AxisTicks, EachRangeHasRoundNamedTicksThatFit)
{
    const QDateTime end(QDate(2026, 12, 9), QTime(15, 1, 29), Qt::LocalTime);
    const TUs to = end.toMSecsSinceEpoch() * kUsPerMs;
    const auto daysBefore = [&](int days) { return end.addDays(-days).toMSecsSinceEpoch() * kUsPerMs; };
    const struct {
        const char *name;
        TUs from;
        const char *pattern;   // every label's form
        int atLeast;           // ticks, at 790 pixels (8 fit)
    } cases[] = {
        {"24 hours", daysBefore(1), "^\\d\\d:\\d\\d$", 4},
        {"7 days", daysBefore(7), "^[A-Z][a-z]+ \\d{1,2}$", 3},
        {"30 days", daysBefore(30), "^[A-Z][a-z]+ \\d{1,2}$", 4},
        {"a year", daysBefore(365), "^[A-Z][a-z]+ \\d{1,2}$", 3},
        {"two years", daysBefore(2 * 365), "^[A-Z][a-z]+ \\d{4}$", 3},
        {"a decade", daysBefore(3652), "^\\d{4}$", 4},
        {"thirty years", daysBefore(30 * 365), "^\\d{4}$", 3},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        const TRange range{c.from, to};
        const std::vector<TAxisTick> ticks = AxisTicks(range, 790);
        EXPECT_GE(int(ticks.size()), c.atLeast);
        EXPECT_LE(int(ticks.size()), 790 / 90 + 1);
        const QRegularExpression form(QString::fromLatin1(c.pattern));
        QStringList seen;
        for (size_t i = 0; i < ticks.size(); ++i) {
            EXPECT_TRUE(range.Contains(ticks[i].At));
            EXPECT_TRUE(form.match(ticks[i].Text).hasMatch()) << ticks[i].Text.toStdString();
            if (i > 0) {
                EXPECT_GT(ticks[i].At, ticks[i - 1].At);
            }
            // No two ticks read the same.
            EXPECT_FALSE(seen.contains(ticks[i].Text)) << ticks[i].Text.toStdString();
            seen << ticks[i].Text;
        }
    }
    // A decade's ticks are new years.
    for (const TAxisTick &t : AxisTicks(TRange{daysBefore(3652), to}, 790)) {
        const QDateTime at = QDateTime::fromMSecsSinceEpoch(t.At / kUsPerMs);
        EXPECT_EQ(at.date().dayOfYear(), 1);
        EXPECT_EQ(at.time(), QTime(0, 0));
        EXPECT_EQ(t.Text, QString::number(at.date().year()));
    }
}
