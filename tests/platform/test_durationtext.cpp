// The one way a length of time is told: the shared table, and what lies
// outside it (nothing below zero, the half second).
#include "platform/durationtext.h"
#include "../support/durationcases.h"

#include <gtest/gtest.h>

TEST(DurationText, EveryLengthOfTheTable)
{
    for (const testsupport::DurationCase &c : testsupport::kDurationCases)
        EXPECT_EQ(platform::DurationText(c.ms), QLatin1String(c.text)) << c.ms;
}

TEST(DurationText, RoundsToTheNearestSecondAndNeverBelowZero)
{
    const std::pair<qint64, qint64> cases[] = {
        {0, 0}, {499, 0}, {500, 1}, {1499, 1}, {1500, 2}, {-1, 0}, {-5000, 0}, {294999, 295},
    };
    for (const auto &[ms, s] : cases)
        EXPECT_EQ(platform::RoundedSeconds(ms), s) << ms;
    EXPECT_EQ(platform::DurationText(-5000), "0 s");
}
