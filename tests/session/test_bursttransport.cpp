// The burst probe's URL and figures. The bursts themselves run on the test
// network (test_bursttransport_netns.cpp).
#include "session/bursttransport.h"

#include <gtest/gtest.h>

TEST(BurstUrl, TargetsTakenApart)
{
    struct Case {
        const char *url;
        bool ok;
        const char *host;
        int count;
    } cases[] = {
        {"echo://host.idlix.test?count=3", true, "host.idlix.test", 3},
        {"ECHO://10.200.3.30", true, "10.200.3.30", 5},
        {"echo://10.200.3.30/", true, "10.200.3.30", 5},
        {"echo://10.200.3.30/?COUNT=20", true, "10.200.3.30", 20},
        {"echo://[fd00:200:3::30]?count=1", true, "[fd00:200:3::30]", 1},
        {"echo://host.idlix.test?count=0", false, "", 0},
        {"echo://host.idlix.test?count=21", false, "", 0},
        {"echo://host.idlix.test?count=-1", false, "", 0},
        {"echo://host.idlix.test?count=", false, "", 0},
        {"echo://host.idlix.test?count=2x", false, "", 0},
        {"echo://host.idlix.test?size=100", false, "", 0},
        {"echo://?count=3", false, "", 0},
        {"echo://", false, "", 0},
        {"echo://host/path", false, "", 0},
        {"dns://host.idlix.test", false, "", 0},
        {"host.idlix.test", false, "", 0},
    };
    for (const Case &c : cases) {
        QString error;
        const auto t = session::ParseBurstUrl(QString::fromLatin1(c.url), &error);
        ASSERT_EQ(bool(t), c.ok) << c.url << ": " << error.toStdString();
        if (!t) {
            EXPECT_FALSE(error.isEmpty()) << c.url;
            continue;
        }
        EXPECT_EQ(t->Host, QLatin1String(c.host)) << c.url;
        EXPECT_EQ(t->Count, c.count) << c.url;
    }
}

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
