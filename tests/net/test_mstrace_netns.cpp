// The traceroute engine over the test network: client, r1, r2 and the hosts
// behind them, names from the test name server. The test thread runs inside
// the client namespace.
#include "net/mstrace.h"
#include "tracerecorder.h"
#include "../support/netfixture.h"
#include "../support/testutil.h"

#include <QTimer>
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <linux/if_ether.h>
#include <linux/if_packet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

using namespace std::chrono_literals;

namespace {

class TraceNet : public testnet::NetTest {
protected:
    void TearDown() override { scope.reset(); }
};

// Sees the IPv4 packets that leave and enter the client (a packet socket in
// its namespace), so a test can check the requests as they went on the wire.
class WireTap {
public:
    // Outgoing packets reach only taps of every protocol.
    WireTap() { fd_ = socket(AF_PACKET, SOCK_DGRAM | SOCK_NONBLOCK, htons(ETH_P_ALL)); }
    ~WireTap() { if (fd_ >= 0) close(fd_); }
    bool ok() const { return fd_ >= 0; }
    struct Request {
        int ttl;
        std::vector<std::uint8_t> payload;
    };
    // Echo requests to dest seen since the tap was opened or last read.
    std::vector<Request> Requests(const char *dest)
    {
        std::vector<Request> out;
        std::vector<std::uint8_t> buf(70000);
        for (;;) {
            sockaddr_ll from{};
            socklen_t len = sizeof from;
            const ssize_t n = recvfrom(fd_, buf.data(), buf.size(), 0,
                                       reinterpret_cast<sockaddr *>(&from), &len);
            if (n < 0)
                return out;
            if (from.sll_protocol != htons(ETH_P_IP) || from.sll_pkttype != PACKET_OUTGOING
                || n < 28 || (buf[0] >> 4) != 4 || buf[9] != IPPROTO_ICMP)
                continue;
            const std::size_t ihl = std::size_t(buf[0] & 0x0F) * 4;
            std::uint32_t dst;
            memcpy(&dst, &buf[16], 4);
            if (dst != inet_addr(dest) || std::size_t(n) < ihl + 8 || buf[ihl] != 8)
                continue;
            out.push_back({buf[8], {buf.begin() + long(ihl + 8), buf.begin() + n}});
        }
    }
private:
    int fd_ = -1;
};

const QStringList kRouteLines = {"data 11013 1\tRTT\tr1.idlix.test",
                                 "data 11013 2\tRTT\tr2.idlix.test"};

} // namespace

// The same lines in both modes, through both kinds of ICMP socket.
TEST_F(TraceNet, RouteWithNamesInBothModes)
{
    for (bool datagram : {true, false}) {
        ASSERT_TRUE(net->setPingAllowed(datagram));
        for (bool test : {false, true}) {
            QStringList expected = kRouteLines;
            expected << "data 0 3\tRTT\thost.idlix.test\treached";
            if (test) {
                expected.prepend("test 3");
                expected << "finished host.idlix.test reached in 3 hops. (expected: 3)";
            } else {
                expected << "finished host.idlix.test reached in 3 hops.";
            }
            for (TWSMode mode : {wsmAsync, wsmBlocking}) {
                SCOPED_TRACE(std::string(ModeName(mode)) + (test ? " with test echo" : "")
                             + (datagram ? " datagram" : " raw"));
                RecordedTrace r(mode);
                TMSTrace &t = r.trace;
                TraceRecorder &rec = r.rec;
                t.SetTimeToLive(64);
                t.SetTimeOut(3000);
                t.SendTestPacket = test;
                ASSERT_TRUE(rec.Run("host", 20s)) << rec.events.join('|').toStdString();
                EXPECT_EQ(rec.events.join('|').toStdString(), expected.join('|').toStdString());
                EXPECT_EQ(t.TargetName, "host.idlix.test");  // the official name, not "host"
                EXPECT_EQ(t.TargetAddrText, testnet::kHost);
                EXPECT_EQ(t.HopAddrText, testnet::kHost);
                EXPECT_LT(t.EchoReply.RoundTripTime, 1000u);
            }
        }
    }
}

TEST_F(TraceNet, TargetsByAddressAndUnknownNames)
{
    struct Case {
        const char *host;
        QStringList expected;
        const char *targetName;
    } cases[] = {
        // r2's own address on the LAN has no reverse record: still traced.
        {"10.200.3.1",
         {kRouteLines[0], "data 0 2\tRTT\t10.200.3.1\treached",
          "finished 10.200.3.1 reached in 2 hops."},
         "10.200.3.1"},
        {"10.200.3.10",
         {kRouteLines[0], kRouteLines[1], "data 0 3\tRTT\thost.idlix.test\treached",
          "finished host.idlix.test reached in 3 hops."},
         "host.idlix.test"},
        {"nosuch.idlix.test", {"error 11001 Authoritative Host not found"}, ""},
    };
    for (TWSMode mode : {wsmAsync, wsmBlocking}) {
        for (const auto &c : cases) {
            SCOPED_TRACE(std::string(c.host) + " " + ModeName(mode));
            RecordedTrace r(mode);
            TMSTrace &t = r.trace;
            TraceRecorder &rec = r.rec;
            ASSERT_TRUE(rec.Run(c.host, 20s));
            EXPECT_EQ(rec.events.join('|').toStdString(), c.expected.join('|').toStdString());
            EXPECT_EQ(t.TargetName, c.targetName);
        }
    }
}

TEST_F(TraceNet, HostThatDropsEchoes)
{
    for (TWSMode mode : {wsmAsync, wsmBlocking}) {
        SCOPED_TRACE(ModeName(mode));
        RecordedTrace r(mode);
        TMSTrace &t = r.trace;
        TraceRecorder &rec = r.rec;
        t.SetTimeToLive(4);
        t.SetTimeOut(300);
        // The test echo is not answered: the run ends before hop 1.
        t.SendTestPacket = true;
        ASSERT_TRUE(rec.Run("quiet", 10s));
        EXPECT_EQ(rec.events, QStringList{"error 11010 Request timed out"});
        // Without it the hops after the last router time out, up to the limit.
        t.SendTestPacket = false;
        ASSERT_TRUE(rec.Run("quiet", 10s));
        QStringList expected = kRouteLines;
        expected << "data 11010 3\t*\ttimed out" << "data 11010 4\t*\ttimed out"
                 << "finished quiet.idlix.test: Request timed out";
        EXPECT_EQ(rec.events.join('|').toStdString(), expected.join('|').toStdString());
    }
}

TEST_F(TraceNet, CancelInEachStep)
{
    for (TWSMode mode : {wsmAsync, wsmBlocking}) {
        SCOPED_TRACE(ModeName(mode));
        RecordedTrace r(mode);
        TMSTrace &t = r.trace;
        TraceRecorder &rec = r.rec;
        t.SetTimeOut(1500);
        // While hop 3's echo is out: reported as cancelled when it comes back.
        auto cancelOnHop2 = [&](QObject *s, std::int32_t status) {
            if (t.ProbeOptions.Ttl == 2)
                QTimer::singleShot(200, &t, [&t] { t.Cancel(); });
        };
        auto record = t.OnData;
        t.OnData = [&](QObject *s, std::int32_t status) {
            record(s, status);
            cancelOnHop2(s, status);
        };
        ASSERT_TRUE(rec.Run("quiet", 10s));
        QStringList expected = kRouteLines;
        expected << "data -2147483389 <cancel>" << "finished Trace Cancelled after 2 hops.";
        EXPECT_EQ(rec.events.join('|').toStdString(), expected.join('|').toStdString());
        t.OnData = record;

        // During the test echo: takes effect on the first hop.
        t.SendTestPacket = true;
        rec.events.clear();
        rec.ends = 0;
        t.Start("host");
        ASSERT_TRUE(testutil::waitFor(
            [&] { return t.State() == TMSicmpTask::TState::Testing; }, 5s));
        t.Cancel();
        ASSERT_TRUE(rec.Wait(10s));
        EXPECT_EQ(rec.events, (QStringList{"test 3", "data -2147483389 <cancel>",
                                           "finished Trace Cancelled after 0 hops."}));
    }
    // During the asynchronous lookup of a name the test server knows.
    TMSTrace t;
    TraceRecorder rec(t);
    t.Start("host.idlix.test");
    t.Cancel();
    EXPECT_EQ(rec.events, QStringList{"error -2147483647 Cancelled Asynchronous lookup"});
    testutil::pump(500ms);
    EXPECT_EQ(rec.events.size(), 1);
    EXPECT_FALSE(t.Busy());
}

TEST_F(TraceNet, EchoRequestsOnTheWire)
{
    for (bool datagram : {true, false}) {
        SCOPED_TRACE(datagram ? "datagram" : "raw");
        ASSERT_TRUE(net->setPingAllowed(datagram));
        WireTap tap;
        ASSERT_TRUE(tap.ok());
        TMSTrace t;
        t.SetPacketSize(100);
        t.SetTimeToLive(64);
        t.SendTestPacket = true;
        TraceRecorder rec(t);
        ASSERT_TRUE(rec.Run(testnet::kHost, 10s));
        ASSERT_EQ(rec.events.size(), 5) << rec.events.join('|').toStdString();
        const auto seen = tap.Requests(testnet::kHost);
        std::vector<int> ttls;
        for (const auto &r : seen) {
            ttls.push_back(r.ttl);
            EXPECT_EQ(r.payload, std::vector<std::uint8_t>(100, 0xAA));
        }
        // The test echo with the hop limit, then one probe per hop.
        EXPECT_EQ(ttls, (std::vector<int>{64, 1, 2, 3}));
    }
}

// A worker's echo still out when its component goes: it finishes on its own
// and writes nowhere (run under AddressSanitizer to see a fault).
TEST_F(TraceNet, DestroyedWhileAnEchoIsOut)
{
    for (bool test : {false, true}) {
        SCOPED_TRACE(test ? "test echo out" : "hop echo out");
        int events = 0;
        auto *t = new TMSTrace;
        t->SetTimeOut(700);
        t->SendTestPacket = test;
        t->OnData = [&](QObject *, std::int32_t) { ++events; };
        t->OnError = [&](QObject *, std::int32_t, const QString &) { ++events; };
        t->OnFinished = [&](QObject *) { ++events; };
        t->Start("quiet");
        ASSERT_TRUE(testutil::waitFor(
            [&] { return t->State() != TMSicmpTask::TState::LookingUp; }, 5s));
        if (!test) {  // the routers answer at once; hop 3 waits
            ASSERT_TRUE(testutil::waitFor([&] { return t->ProbeOptions.Ttl == 3; }, 5s));
        }
        EXPECT_EQ(TPingThread::Running(), 1);
        const int before = events;
        delete t;
        ASSERT_TRUE(testutil::waitFor([] { return TPingThread::Running() == 0; }, 3s));
        testutil::pump(200ms);
        EXPECT_EQ(events, before);
    }
    // A handler may free its component in the middle of a blocking run.
    auto *t = new TMSTrace;
    t->Mode = wsmBlocking;
    int hops = 0;
    t->OnData = [&](QObject *s, std::int32_t) {
        if (++hops == 2)
            delete static_cast<TMSTrace *>(s);
    };
    t->Start("host");
    EXPECT_EQ(hops, 2);
}
