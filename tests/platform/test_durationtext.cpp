// The one way a length of time is told, over the table every view shares.
#include "platform/durationtext.h"
#include "../support/durationcases.h"

#include <gtest/gtest.h>

TEST(DurationText, EveryLengthOfTheTable)
{
    for (const testsupport::DurationCase &c : testsupport::kDurationCases)
        EXPECT_EQ(platform::DurationText(c.ms), QLatin1String(c.text)) << c.ms;
}
