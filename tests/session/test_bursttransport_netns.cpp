// Bursts on the test network: the delaying echo responder on the slow host
// answers with known delays and drops chosen echoes, so the loss and the
// jitter of a burst are known in advance. Round trips are measured: CTest
// runs this file alone (RUN_SERIAL).
#include "session/bursttransport.h"
#include "probewait.h"
#include "../support/netfixture.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace std::chrono_literals;
using testnet::TestNet;

namespace {

class BurstNet : public testnet::NetTest {
protected:
    void TearDown() override
    {
        scope.reset();
        if (net)
            net->stopResponder();
    }
};

} // namespace

TEST_F(BurstNet, LossAndJitterOfKnownBursts)
{
    if (!Ready())
        return;
    struct Case {
        const char *what;
        std::vector<std::string> responder;
        const char *url;
        int echoes;
        double loss;
        qint64 meanMs, jitterMs;   // -1: none
    } cases[] = {
        {"alternating delays", {"--delays", "20,80"}, "echo://slow.idlix.test?count=4", 4, 0, 50, 60},
        {"steady, two of five dropped", {"--delay", "30", "--drop-nth", "2,4"}, "echo://10.200.3.30?count=5", 5, 40, 30, 0},
        {"a drop between two delays", {"--delays", "10,0,70", "--drop-nth", "2"}, "echo://10.200.3.30/?count=3", 3, 100.0 / 3, 40, 60},
        {"one echo", {"--delay", "15"}, "echo://slow.idlix.test?count=1", 1, 0, 15, -1},
        {"the default count", {"--delay", "5"}, "echo://slow.idlix.test", 5, 0, 5, 0},
    };
    for (const Case &c : cases) {
        ASSERT_TRUE(net->startResponder(c.responder)) << c.what;
        TBurstTransport transport;
        testutil::Ticker ticker;
        const auto run = sessiontest::RunProbe(transport, QString::fromLatin1(c.url), 2000);
        EXPECT_EQ(run.Dones, 1) << c.what;
        EXPECT_EQ(run.Sent, QStringList{QString::fromLatin1(testnet::kSlow)}) << c.what;
        ASSERT_EQ(run.Reply.Outcome, TProbeOutcome::Ok) << c.what << ": " << run.Reply.Reason.toStdString();
        EXPECT_EQ(run.Reply.Address, QLatin1String(testnet::kSlow)) << c.what;
        EXPECT_DOUBLE_EQ(run.Reply.Details.LossPercent, c.loss) << c.what;
        // The responder's delays plus a few milliseconds of the path.
        EXPECT_GE(run.Reply.Us, c.meanMs * 1000) << c.what;
        EXPECT_LT(run.Reply.Us, c.meanMs * 1000 + 8000) << c.what;
        EXPECT_EQ(run.Reply.Ms, int(run.Reply.Us / 1000)) << c.what;
        if (c.jitterMs < 0) {
            EXPECT_EQ(run.Reply.Details.JitterUs, -1) << c.what;
        } else {
            EXPECT_GE(run.Reply.Details.JitterUs, c.jitterMs * 1000 - 5000) << c.what;
            EXPECT_LT(run.Reply.Details.JitterUs, c.jitterMs * 1000 + 5000) << c.what;
        }
        // The echoes go 200 ms apart; the lost ones waited their whole second.
        const int lost = int(c.loss * c.echoes / 100 + 0.5);
        EXPECT_GE(run.ElapsedMs, (c.echoes - 1) * 200 - 10) << c.what;
        EXPECT_LT(run.ElapsedMs, (c.echoes - 1) * 200 + lost * 1000 + 600) << c.what;
        EXPECT_EQ(run.Reply.BytesSent, c.echoes * (56 + 28)) << c.what;
        EXPECT_EQ(run.Reply.BytesReceived, (c.echoes - lost) * (56 + 28)) << c.what;
        if (c.echoes >= 4) {
            EXPECT_GE(ticker.ticks, 2) << c.what << ": the event loop stood still during the burst";
        }
    }
}

TEST_F(BurstNet, BurstsWithoutAnswer)
{
    if (!Ready())
        return;
    struct Case {
        const char *url;
        int timeoutMs;
        TProbeOutcome outcome;
        int echoes;
        int maxMs;
    } cases[] = {
        {"echo://quiet.idlix.test?count=3", 300, TProbeOutcome::Timeout, 3, 3 * 300 + 800},
        {"echo://10.200.9.9?count=2", 2000, TProbeOutcome::Unreachable, 2, 1500},
        {"echo://[fd00:200:9::9]?count=2", 2000, TProbeOutcome::Unreachable, 2, 1500},
        {"echo://nothere.idlix.test?count=2", 2000, TProbeOutcome::LookupFailed, 0, 3000},
    };
    for (const Case &c : cases) {
        TBurstTransport transport;
        const auto run = sessiontest::RunProbe(transport, QString::fromLatin1(c.url), c.timeoutMs);
        EXPECT_EQ(run.Dones, 1) << c.url;
        EXPECT_EQ(run.Reply.Outcome, c.outcome) << c.url << ": " << run.Reply.Reason.toStdString();
        EXPECT_FALSE(run.Reply.Reason.isEmpty()) << c.url;
        EXPECT_EQ(run.Reply.Us, -1) << c.url;
        EXPECT_LT(run.ElapsedMs, c.maxMs) << c.url;
        if (c.echoes > 0) {
            EXPECT_DOUBLE_EQ(run.Reply.Details.LossPercent, 100) << c.url;
            EXPECT_GT(run.Reply.BytesSent, 0) << c.url;
            EXPECT_EQ(run.Reply.BytesReceived, 0) << c.url;
        }
    }
}

TEST_F(BurstNet, CancelStopsTheEchoesStillToGo)
{
    if (!Ready())
        return;
    ASSERT_TRUE(net->startResponder({"--delay", "5"}));
    // The slow host counts the echo requests that reach it.
    QTemporaryDir dir;
    const std::string counted = dir.filePath(QStringLiteral("counted")).toStdString();
    ASSERT_EQ(net->run(testnet::Role::Slow,
                       "nft add table ip burstcount && "
                       "nft add chain ip burstcount in '{ type filter hook input priority 0; }' && "
                       "nft add rule ip burstcount in icmp type echo-request counter"),
              0);
    auto requests = [&] {
        net->run(testnet::Role::Slow, "nft list chain ip burstcount in | grep -o 'packets [0-9]*' > " + counted);
        return testutil::readFile(QString::fromStdString(counted)).trimmed().mid(8).toInt();
    };
    TBurstTransport transport;
    std::vector<probe::TReply> done;
    probe::TEvents events;
    events.Done = [&](const probe::TReply &r) { done.push_back(r); };
    transport.Send({QStringLiteral("echo://10.200.3.30?count=20")}, events);
    testutil::pump(500ms);   // the third echo has gone
    ASSERT_TRUE(done.empty());
    EXPECT_TRUE(transport.Busy());
    transport.Cancel();
    EXPECT_FALSE(transport.Busy());
    ASSERT_EQ(done.size(), 1u);
    EXPECT_TRUE(done[0].Cancelled);
    const int sent = requests();
    EXPECT_GE(sent, 2);
    EXPECT_LE(sent, 4);
    testutil::pump(600ms);
    EXPECT_EQ(done.size(), 1u);
    EXPECT_EQ(requests(), sent) << "echoes went on after the cancel";
    // The transport takes the next burst as if nothing had happened.
    const auto run = sessiontest::RunProbe(transport, QStringLiteral("echo://10.200.3.30?count=2"), 1000);
    EXPECT_EQ(run.Reply.Outcome, TProbeOutcome::Ok);
    EXPECT_DOUBLE_EQ(run.Reply.Details.LossPercent, 0);
    EXPECT_EQ(requests(), sent + 2);
    net->run(testnet::Role::Slow, "nft delete table ip burstcount");
}
