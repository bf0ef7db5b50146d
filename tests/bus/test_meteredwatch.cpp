// Whether the connection is metered, read from python3-dbusmock's
// NetworkManager on a private system bus and followed as it changes: yes
// and guess-yes count, the other states do not; NetworkManager leaving
// means not metered; no NetworkManager at all, nothing metered and no wait.
#include "bus/meteredwatch.h"

#include "../support/mockbus.h"
#include "../support/testutil.h"

#include <gtest/gtest.h>

using namespace std::chrono_literals;
using bus::TMeteredWatch;
using testsupport::MockBus;

namespace {

class MeteredWatch : public ::testing::Test {
protected:
    void SetUp() override
    {
        const QString skip = MockBus::SkipReason();
        if (!skip.isEmpty())
            GTEST_SKIP() << skip.toStdString();
        ASSERT_TRUE(nm.Start());
        watch.OnChange = [this](bool m) { changes << m; };
    }

    void SetMetered(uint state) { ASSERT_TRUE(nm.SetMetered(state)); }

    testsupport::MeteredNetworkManager nm;
    TMeteredWatch watch;
    QList<bool> changes;
};

} // namespace

TEST_F(MeteredWatch, FollowsTheStatesThatCountAsMetered)
{
    watch.Start();
    testutil::pump(200ms);
    // An older NetworkManager without the property: not metered, nothing to tell.
    EXPECT_FALSE(watch.Metered());
    EXPECT_TRUE(changes.isEmpty());

    struct Step {
        uint state;
        bool metered;
    };
    const Step steps[] = {
        {TMeteredWatch::kGuessYes, true}, {TMeteredWatch::kNo, false}, {TMeteredWatch::kYes, true},
        {TMeteredWatch::kGuessYes, true}, {TMeteredWatch::kGuessNo, false}, {TMeteredWatch::kUnknown, false},
        {TMeteredWatch::kYes, true},
    };
    QList<bool> want;
    for (const Step &s : steps) {
        SCOPED_TRACE(s.state);
        SetMetered(s.state);
        if (want.isEmpty() ? s.metered : want.last() != s.metered)
            want << s.metered;
        ASSERT_TRUE(testutil::waitFor([&] { return watch.Metered() == s.metered && changes == want; }, 5s))
            << "changes so far: " << changes.size();
    }
    // Told once per change, never for a state it already had.
    EXPECT_EQ(changes, (QList<bool>{true, false, true, false, true}));
}

TEST_F(MeteredWatch, ReadsTheStateAtStartAndForgetsItWhenNetworkManagerGoes)
{
    SetMetered(TMeteredWatch::kGuessYes);
    watch.Start();
    ASSERT_TRUE(testutil::waitFor([&] { return watch.Metered(); }, 5s));
    EXPECT_EQ(changes, QList<bool>{true});
    nm.bus.StopService();
    ASSERT_TRUE(testutil::waitFor([&] { return !watch.Metered(); }, 5s));
    EXPECT_EQ(changes, (QList<bool>{true, false}));
}

TEST(MeteredWatchAlone, WithoutNetworkManagerNothingIsMetered)
{
    const QString skip = MockBus::SkipReason();
    if (!skip.isEmpty())
        GTEST_SKIP() << skip.toStdString();
    MockBus bus(MockBus::Kind::System);
    ASSERT_TRUE(bus.Start());
    TMeteredWatch watch;
    int changes = 0;
    watch.OnChange = [&](bool) { ++changes; };
    testutil::Ticker ticker;
    watch.Start();
    testutil::pump(300ms);
    EXPECT_FALSE(watch.Metered());
    EXPECT_EQ(changes, 0);
    EXPECT_GE(ticker.ticks, 2);
}
