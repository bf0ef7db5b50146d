// TPing against the test network: routers that answer with ICMP errors, a
// host that ignores echoes, the delaying echo responder and the test name
// server. The test thread runs inside the client namespace. Round trips are
// measured: CTest runs this file alone (RUN_SERIAL).
#include "net/ping.h"
#include "platform/resolver.h"
#include "../support/netfixture.h"
#include "../support/testutil.h"

#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <cerrno>
#include <cstring>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <algorithm>
#include <memory>
#include <vector>

using namespace std::chrono_literals;
using testnet::TestNet;

namespace {

class PingNet : public testnet::NetTest {
protected:
    void SetUp() override
    {
        NetTest::SetUp();
        if (!Ready())
            return;
    }
    void TearDown() override
    {
        scope.reset();
        if (net)
            net->stopResponder();
    }

};


struct Outcome {
    int replies;
    int status;
    std::uint32_t from;
    std::uint32_t rtt;
    std::uint8_t ttl;
    qint64 elapsed;
};

Outcome echo(TPing &p, const char *addr, int ttl = 64, int timeout = 2000)
{
    p.SetAddress(addr);
    p.SetTTL(ttl);
    p.SetTimeout(timeout);
    QElapsedTimer t;
    t.start();
    const int n = p.Ping();
    const auto r = p.Reply();
    return {n, p.LastError(), r.Address, r.RoundTripTime, r.Options.Ttl, t.elapsed()};
}

} // namespace

// The same cases through the datagram socket (ping_group_range allows us)
// and through the raw socket (it forbids us; root still has CAP_NET_RAW).
TEST_F(PingNet, RepliesAndErrorsOnBothSocketKinds)
{
    struct Case {
        const char *what;
        const char *addr;
        int ttl, timeout;
        int replies, status;
        const char *from;
        const char *text;
    } cases[] = {
        {"host 3 hops away", testnet::kHost, 64, 2000, 1, 0, testnet::kHost, "No error"},
        {"no route at r1", testnet::kNoRoute, 64, 2000, 0, 11002, testnet::kRouter1,
         "Destination network unreachable"},
        {"TTL 1", testnet::kHost, 1, 2000, 0, 11013, testnet::kRouter1, "TTL expired in transit"},
        {"TTL 2", testnet::kHost, 2, 2000, 0, 11013, testnet::kRouter2, "TTL expired in transit"},
        {"host ignores echoes", testnet::kQuiet, 64, 600, 0, 11010, nullptr, "Request timed out"},
        {"no such host on r2's LAN", testnet::kNoHost, 64, 6000, 0, 11003, testnet::kRouter2,
         "Destination host unreachable"},
    };
    for (bool datagram : {true, false}) {
        ASSERT_TRUE(net->setPingAllowed(datagram));
        TPing p;
        ASSERT_EQ(p.Engine().UsesRawSocket(), !datagram);
        int replyEvents = 0;
        p.OnEchoReply = [&](QObject *, int) { ++replyEvents; };
        for (const auto &c : cases) {
            SCOPED_TRACE(std::string(c.what) + (datagram ? " (datagram)" : " (raw)"));
            const Outcome o = echo(p, c.addr, c.ttl, c.timeout);
            EXPECT_EQ(o.replies, c.replies);
            EXPECT_EQ(o.status, c.status);
            EXPECT_EQ(p.ErrorText(), c.text);
            if (c.from) {
                EXPECT_EQ(o.from, inet_addr(c.from));
            }
            if (c.status == 11010) {
                EXPECT_GE(o.elapsed, c.timeout - 5);
                EXPECT_LT(o.elapsed, c.timeout + 300);
            }
            if (c.replies) {
                EXPECT_EQ(o.ttl, 62);  // 64 less the two routers on the way back
            }
        }
        EXPECT_EQ(replyEvents, int(std::size(cases)));
    }
}

TEST_F(PingNet, DelayedRepliesAndStrayAnswers)
{
    // Each request is answered after 120 ms, preceded at once by one reply
    // with another identifier and one with another sequence: neither counts.
    ASSERT_TRUE(net->startResponder({"--delay", "120", "--stray"}));
    for (bool datagram : {true, false}) {
        ASSERT_TRUE(net->setPingAllowed(datagram));
        TPing p;
        std::vector<std::uint32_t> rtts;
        for (int i = 0; i < 5; ++i) {
            SCOPED_TRACE(datagram ? "datagram" : "raw");
            const Outcome o = echo(p, testnet::kSlow, 64, 2000);
            ASSERT_EQ(o.replies, 1) << p.ErrorText().toStdString();
            EXPECT_EQ(o.from, inet_addr(testnet::kSlow));
            // Never before the delay (a stray reply would come back at once).
            EXPECT_GE(o.rtt, 119u);
            EXPECT_LE(o.rtt, 250u);
            rtts.push_back(o.rtt);
        }
        // The responder is a user process on a shared machine: one answer may
        // be late, the typical one is within a few ms of the delay.
        std::sort(rtts.begin(), rtts.end());
        EXPECT_LE(rtts[2], 126u);
    }
}

TEST_F(PingNet, DroppedRequestTimesOutAndTheNextOneCounts)
{
    ASSERT_TRUE(net->startResponder({"--delay", "50", "--drop-nth", "2"}));
    TPing p;
    std::vector<int> got;
    for (int i = 0; i < 3; ++i) {
        const Outcome o = echo(p, testnet::kSlow, 64, 500);
        got.push_back(o.status);
        if (o.replies) {
            EXPECT_GE(o.rtt, 49u);
        }
    }
    EXPECT_EQ(got, (std::vector<int>{0, 11010, 0}));
}

TEST_F(PingNet, NamesFromTheTestNameServer)
{
    TPing p;
    std::vector<int> done;
    p.OnDnsLookupDone = [&](QObject *, quint16 e) { done.push_back(e); };
    auto lookup = [&](const char *name) {
        done.clear();
        p.DnsLookup(name);
        EXPECT_TRUE(done.empty()) << name << ": a name never completes inside the call";
        EXPECT_TRUE(testutil::waitFor([&] { return !done.empty(); }, 10000ms)) << name;
        return done.empty() ? -1 : done.front();
    };
    EXPECT_EQ(lookup("host.idlix.test"), 0);
    EXPECT_EQ(p.DnsResult(), testnet::kHost);
    EXPECT_EQ(lookup("slow"), 0);  // through the search domain
    EXPECT_EQ(p.DnsResult(), testnet::kSlow);
    EXPECT_EQ(lookup("nosuch.idlix.test"), 11001);
    EXPECT_TRUE(p.DnsResult().isEmpty());

    // The caller's sequence: lookup, Address := DnsResult, Ping.
    EXPECT_EQ(lookup("host.idlix.test"), 0);
    p.SetAddress(p.DnsResult());
    EXPECT_EQ(p.Ping(), 1);

    // Two in a row: only the second completes.
    done.clear();
    p.DnsLookup("host.idlix.test");
    p.DnsLookup("quiet.idlix.test");
    ASSERT_TRUE(testutil::waitFor([&] { return !done.empty(); }, 10000ms));
    testutil::pump(500ms);
    EXPECT_EQ(done, std::vector<int>{0});
    EXPECT_EQ(p.DnsResult(), testnet::kQuiet);

    // Cancel while the name server is being asked.
    done.clear();
    p.DnsLookup("host.idlix.test");
    p.CancelDnsLookup();
    EXPECT_EQ(done, std::vector<int>{10004});
    testutil::pump(500ms);
    EXPECT_EQ(done.size(), 1u);

    // The engine's own resolver takes names too.
    p.SetAddress("host.idlix.test");
    EXPECT_EQ(p.Ping(), 1);
    EXPECT_EQ(p.Engine().HostName(), "host.idlix.test");
    EXPECT_EQ(p.Engine().HostIP(), testnet::kHost);
}

TEST_F(PingNet, ResolverForwardReverseAndFailures)
{
    platform::HostEntry e;
    ASSERT_EQ(platform::LookupName("multi.idlix.test", e), 0);
    std::vector<std::string> addrs;
    for (auto a : e.addrs)
        addrs.push_back(platform::InetNtoa(a));
    std::sort(addrs.begin(), addrs.end());
    EXPECT_EQ(addrs, (std::vector<std::string>{testnet::kHost, testnet::kQuiet}));
    EXPECT_EQ(e.name, "multi.idlix.test");

    ASSERT_EQ(platform::LookupAddr(platform::InetAddr(testnet::kSlow), e), 0);
    EXPECT_EQ(e.name, "slow.idlix.test");
    // No reverse record: the resolver's "not found".
    EXPECT_EQ(platform::LookupAddr(platform::InetAddr("10.200.3.77"), e), 11001);
    EXPECT_EQ(platform::LookupName("nosuch.idlix.test", e), 11001);

    QObject ctx;
    int error = -1;
    platform::AsyncLookupName(&ctx, "nosuch.idlix.test",
                              [&](unsigned, int err, const platform::HostEntry &) { error = err; });
    ASSERT_TRUE(testutil::waitFor([&] { return error != -1; }, 10000ms));
    EXPECT_EQ(error, 11001);
}

// The web server other tests rely on: nginx on a test host, reached from the
// client through both routers.
TEST_F(PingNet, TestNetworkServesWebPagesOnTestHosts)
{
    QTemporaryDir www;
    ASSERT_TRUE(www.isValid());
    QFile page(www.filePath("index.html"));
    ASSERT_TRUE(page.open(QIODevice::WriteOnly));
    page.write("hello from the test host\n");
    page.close();
    QFile::setPermissions(www.path(), QFile::ReadOwner | QFile::ExeOwner | QFile::ReadOther
                                          | QFile::ExeOther | QFile::ReadGroup | QFile::ExeGroup);
    const pid_t web = net->startNginx(testnet::Role::Host, www.path().toStdString(), 8080);
    ASSERT_GT(web, 0);

    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    ASSERT_GE(fd, 0);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(8080);
    to.sin_addr.s_addr = inet_addr(testnet::kHost);
    timeval tv{5, 0};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    ASSERT_EQ(::connect(fd, reinterpret_cast<sockaddr *>(&to), sizeof to), 0) << strerror(errno);
    const char req[] = "GET /index.html HTTP/1.0\r\nHost: host.idlix.test\r\n\r\n";
    ASSERT_EQ(send(fd, req, sizeof req - 1, 0), ssize_t(sizeof req - 1));
    std::string answer;
    char buf[4096];
    for (ssize_t n; (n = recv(fd, buf, sizeof buf, 0)) > 0;)
        answer.append(buf, std::size_t(n));
    close(fd);
    TestNet::stopNginx(web);
    EXPECT_EQ(answer.rfind("HTTP/1.1 200 OK", 0), 0u) << answer;
    EXPECT_NE(answer.find("\r\n\r\nhello from the test host\n"), std::string::npos) << answer;
}
