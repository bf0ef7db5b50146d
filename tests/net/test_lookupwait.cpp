// Lookups that wait with the event loop running: the same answers as the
// blocking calls, and timers keep firing while a name server stays silent.
#include "platform/lookupwait.h"
#include "net/mstrace.h"
#include "platform/errcodes.h"
#include "tracerecorder.h"
#include "../support/netfixture.h"
#include "../support/testutil.h"

#include <QElapsedTimer>
#include <QTimer>
#include <gtest/gtest.h>

using namespace std::chrono_literals;

TEST(LookupWaiting, SameAnswersAsTheBlockingCalls)
{
    platform::HostEntry waited, blocked;
    ASSERT_EQ(LookupAddrWaiting(platform::InetAddr("127.0.0.1"), waited), 0);
    ASSERT_EQ(platform::LookupAddr(platform::InetAddr("127.0.0.1"), blocked), 0);
    EXPECT_EQ(waited.name, blocked.name);
    EXPECT_EQ(waited.addrs, blocked.addrs);

    ASSERT_EQ(LookupNameWaiting("localhost", waited), 0);
    ASSERT_EQ(platform::LookupName("localhost", blocked), 0);
    EXPECT_EQ(waited.name, blocked.name);
    EXPECT_EQ(waited.addrs, blocked.addrs);

    // A failure comes back as the resolver's code, with an empty entry.
    EXPECT_EQ(LookupNameWaiting("", waited), platform::kErrHostNotFound);
    EXPECT_TRUE(waited.addrs.empty());
}

namespace {

// The test name server, paused: every question goes unanswered until the
// resolver gives up (timeout:2 attempts:2 in the client's resolv.conf).
class SilentNameServer : public testnet::NetTest {
protected:
    void TearDown() override
    {
        if (net)
            net->silenceNameServer(false);
        scope.reset();
    }
    void Silence() { ASSERT_TRUE(net->silenceNameServer(true)); }
};

using testutil::Ticker;

} // namespace

TEST_F(SilentNameServer, TimersRunWhileTheAnswerIsAwaited)
{
    platform::HostEntry e;
    ASSERT_EQ(LookupAddrWaiting(platform::InetAddr(testnet::kHost), e), 0);
    EXPECT_EQ(e.name, "host.idlix.test");

    Silence();
    Ticker ticker;
    QElapsedTimer took;
    took.start();
    EXPECT_EQ(LookupAddrWaiting(platform::InetAddr(testnet::kHost), e), platform::kErrTryAgain);
    const qint64 ms = took.elapsed();
    EXPECT_GE(ms, 1500);
    // Nearly every tick of the wait was delivered.
    EXPECT_GE(ticker.ticks, int(ms / 100) - 3) << ms << " ms";
}

// A hop whose name does not come: the window keeps running, and the line
// still comes, in order, with the hop's address for its name.
TEST_F(SilentNameServer, TraceGoesOnWithoutNames)
{
    Silence();
    RecordedTrace r(wsmAsync);
    r.trace.SetTimeToLive(1);
    Ticker ticker;
    QElapsedTimer took;
    took.start();
    ASSERT_TRUE(r.rec.Run(testnet::kHost, 30s));
    const qint64 ms = took.elapsed();
    EXPECT_EQ(r.rec.events, (QStringList{"data 11013 1\tRTT\t10.200.1.1",
                                         "finished 10.200.1.1: TTL expired in transit"}));
    EXPECT_EQ(r.trace.TargetName, testnet::kHost);
    EXPECT_GE(ticker.ticks, int(ms / 100) - 3) << ms << " ms";
}
