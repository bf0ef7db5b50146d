// The burst probe's figures and its broken targets. The bursts themselves run on the test
// network (test_bursttransport_netns.cpp).
#include "session/bursttransport.h"

#include <gtest/gtest.h>

TEST(BurstFigures, MeanLossAndJitterOfRoundTrips)
{
    struct Case {
        const char *what;
        std::vector<qint64> us;
        int answered;
        qint64 mean;
        double loss;
        qint64 jitter;
    } cases[] = {
        {"steady", {1000, 1000, 1000}, 3, 1000, 0, 0},
        {"alternating", {20000, 80000, 20000, 80000}, 4, 50000, 0, 60000},
        {"rising", {10, 20, 40}, 3, 23, 0, 15},
        {"a loss is skipped over", {10000, -1, 30000}, 2, 20000, 100.0 / 3, 20000},
        {"losses at both ends", {-1, 5000, 7000, -1}, 2, 6000, 50, 2000},
        {"one answer has no jitter", {-1, 4000, -1, -1, -1}, 1, 4000, 80, -1},
        {"a single echo", {900}, 1, 900, 0, -1},
        {"all lost", {-1, -1}, 0, -1, 100, -1},
        {"nothing sent", {}, 0, -1, 100, -1},
    };
    for (const Case &c : cases) {
        const session::TBurstFigures f = session::BurstFigures(c.us);
        EXPECT_EQ(f.Answered, c.answered) << c.what;
        EXPECT_EQ(f.MeanUs, c.mean) << c.what;
        EXPECT_DOUBLE_EQ(f.LossPercent, c.loss) << c.what;
        EXPECT_EQ(f.JitterUs, c.jitter) << c.what;
    }
}

TEST(BurstTransport, BrokenTargetsFailAtOnce)
{
    for (const char *target : {"echo://", "echo://host?count=30", "echo://host?ttl=3"}) {
        TBurstTransport transport;
        int dones = 0;
        probe::TReply got;
        probe::TEvents events;
        events.Done = [&](const probe::TReply &r) { ++dones; got = r; };
        transport.Send({QString::fromLatin1(target)}, events);
        EXPECT_EQ(dones, 1) << target;
        EXPECT_EQ(got.Outcome, TProbeOutcome::Failed) << target;
        EXPECT_FALSE(got.Reason.isEmpty()) << target;
    }
}
