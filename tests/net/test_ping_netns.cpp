// TPing against the test network: routers that answer with ICMP errors, a
// host that ignores echoes, the delaying echo responder and the test name
// server. The test thread runs inside the client namespace. Round trips are
// measured: CTest runs this file alone (RUN_SERIAL).
#include "net/ping.h"
#include "platform/lookupservice.h"
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
            // In microseconds from the kernel's receive stamp: never short
            // of the delay, and the whole milliseconds are it rounded.
            EXPECT_GE(p.ReplyUs(), 120000);
            EXPECT_EQ(o.rtt, std::uint32_t((p.ReplyUs() + 500) / 1000)) << p.ReplyUs();
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
    platform::Lookups().Submit(
        &ctx, platform::TLookupRequest::ForName("nosuch.idlix.test", platform::FamilyChoice::IPv4Only),
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

namespace {

struct Outcome6 {
    int replies;
    int status;
    std::string from;
    std::uint8_t hops;
    qint64 elapsed;
};

Outcome6 echo6(TPing &p, const std::string &addr, int hops, int timeout, int size = 56)
{
    p.SetAddress(QString::fromStdString(addr));
    p.SetTTL(hops);
    p.SetTimeout(timeout);
    p.SetSize(size);
    QElapsedTimer t;
    t.start();
    const int n = p.Ping();
    return {n, p.LastError(), platform::AddressText(p.Engine().ReplyAddress()),
            p.Reply().Options.Ttl, t.elapsed()};
}

struct FamilyReset {
    ~FamilyReset() { platform::Lookups().SetRunFamily(platform::FamilyChoice::Automatic); }
};

} // namespace

// ICMPv6 through the datagram socket and through the raw one with its filter:
// replies, the routers' errors onto the IPv4 statuses and texts, a link-local
// router with its zone, and packet too big from the narrow route.
TEST_F(PingNet, IPv6RepliesAndErrorsOnBothSocketKinds)
{
    const std::string linkLocal = std::string(testnet::kRouter1LinkLocal) + "%" + testnet::kClientLink;
    struct Case {
        const char *what;
        std::string addr;
        int hops, timeout, size;
        int replies, status;
        std::string from;
        const char *text;
    } cases[] = {
        {"host 3 hops away", testnet::kHost6, 64, 2000, 56, 1, 0, testnet::kHost6, "No error"},
        {"in brackets", std::string("[") + testnet::kHost6 + "]", 64, 2000, 56, 1, 0,
         testnet::kHost6, "No error"},
        {"link-local router with its zone", linkLocal, 64, 2000, 56, 1, 0, linkLocal, "No error"},
        {"no route at r1", testnet::kNoRoute6, 64, 2000, 56, 0, 11002, testnet::kRouter1v6,
         "Destination network unreachable"},
        {"hop limit 1", testnet::kHost6, 1, 2000, 56, 0, 11013, testnet::kRouter1v6,
         "TTL expired in transit"},
        {"hop limit 2", testnet::kHost6, 2, 2000, 56, 0, 11013, testnet::kRouter2v6,
         "TTL expired in transit"},
        {"too big for r2's route", testnet::kNarrow6, 64, 2000, 1400, 0, 11009,
         testnet::kRouter2v6, "Packet too big"},
        {"host ignores echoes", testnet::kQuiet6, 64, 600, 56, 0, 11010, testnet::kQuiet6,
         "Request timed out"},
        {"no such host on r2's LAN", testnet::kNoHost6, 64, 6000, 56, 0, 11003,
         testnet::kRouter2v6, "Destination host unreachable"},
    };
    for (bool datagram : {true, false}) {
        ASSERT_TRUE(net->setPingAllowed(datagram));
        TPing p;
        ASSERT_TRUE(p.Engine().Handle6Open());
        ASSERT_EQ(p.Engine().UsesRawSocket6(), !datagram);
        int replyEvents = 0;
        p.OnEchoReply = [&](QObject *, int) { ++replyEvents; };
        for (const auto &c : cases) {
            SCOPED_TRACE(std::string(c.what) + (datagram ? " (datagram)" : " (raw)"));
            // The client learns a path MTU from "packet too big" and would
            // fragment the next echo itself: forget it.
            ASSERT_EQ(net->run(testnet::Role::Client, "ip -6 route flush cache"), 0);
            const Outcome6 o = echo6(p, c.addr, c.hops, c.timeout, c.size);
            EXPECT_EQ(o.replies, c.replies);
            EXPECT_EQ(o.status, c.status);
            EXPECT_EQ(p.ErrorText(), c.text);
            EXPECT_EQ(o.from, c.from);
            if (c.status == 11010) {
                EXPECT_GE(o.elapsed, c.timeout - 5);
                EXPECT_LT(o.elapsed, c.timeout + 300);
            }
            if (c.replies && c.from == testnet::kHost6) {
                EXPECT_EQ(o.hops, 62);  // 64 less the two routers on the way back
            }
        }
        EXPECT_EQ(replyEvents, int(std::size(cases)));
    }
}

TEST_F(PingNet, IPv6NamesAndTheAddressFamilySetting)
{
    FamilyReset reset;
    TPing p;
    std::vector<int> done;
    p.OnDnsLookupDone = [&](QObject *, quint16 e) { done.push_back(e); };
    auto lookup = [&](const QString &name) {
        done.clear();
        p.DnsLookup(name);
        EXPECT_TRUE(testutil::waitFor([&] { return !done.empty(); }, 10000ms)) << name.toStdString();
        return done.empty() ? -1 : done.front();
    };
    // Addresses complete inside the call, in canonical text.
    const struct {
        const char *typed, *result;
    } literals[] = {
        {"FD00:200:3:0::10", testnet::kHost6},
        {" [fd00:200:3::10] ", testnet::kHost6},
        {"fe80::1%eth0", "fe80::1%eth0"},
        {"[fe80::1%eth0]", "fe80::1%eth0"},
    };
    for (const auto &l : literals) {
        done.clear();
        p.DnsLookup(l.typed);
        EXPECT_EQ(done, std::vector<int>{0}) << l.typed;
        EXPECT_EQ(p.DnsResult(), l.result) << l.typed;
    }
    // A name with only an IPv6 record, and the echo to what it found.
    EXPECT_EQ(lookup("host.v6.idlix.test"), 0);
    EXPECT_EQ(p.DnsResult(), testnet::kHost6);
    p.SetAddress(p.DnsResult());
    EXPECT_EQ(p.Ping(), 1);

    // "Automatic" follows gai.conf; one family honoured whatever the order.
    ASSERT_TRUE(net->setGaiConf("")) << "the machine has no /etc/gai.conf";
    const struct {
        platform::FamilyChoice choice;
        const char *gai;
        const char *name;
        int error;
        const char *result;
    } rows[] = {
        {platform::FamilyChoice::Automatic, "", "dual.idlix.test", 0, testnet::kHost6},
        {platform::FamilyChoice::Automatic, TestNet::kPreferIPv4, "dual.idlix.test", 0, testnet::kHost},
        {platform::FamilyChoice::IPv4Only, "", "dual.idlix.test", 0, testnet::kHost},
        {platform::FamilyChoice::IPv6Only, TestNet::kPreferIPv4, "dual.idlix.test", 0, testnet::kHost6},
        {platform::FamilyChoice::IPv4Only, "", "host.v6.idlix.test", 11004, ""},
        {platform::FamilyChoice::IPv6Only, "", "host.idlix.test", 11004, ""},
    };
    for (const auto &r : rows) {
        SCOPED_TRACE(std::string(r.name) + " choice " + std::to_string(int(r.choice)) + " gai "
                     + r.gai);
        ASSERT_TRUE(net->setGaiConf(r.gai));
        platform::Lookups().SetRunFamily(r.choice);
        EXPECT_EQ(lookup(r.name), r.error);
        EXPECT_EQ(p.DnsResult(), r.result);
    }
    net->setGaiConf("");
    // An address of the excluded family is refused at once.
    platform::Lookups().SetRunFamily(platform::FamilyChoice::IPv4Only);
    done.clear();
    p.DnsLookup(testnet::kHost6);
    EXPECT_EQ(done, std::vector<int>{10047});
    EXPECT_TRUE(p.DnsResult().isEmpty());
    // The engine's own resolver honours it too: no echo goes out.
    p.SetAddress("host.v6.idlix.test");
    EXPECT_EQ(p.Ping(), 0);
    EXPECT_EQ(p.LastError(), 11018);
    platform::Lookups().SetRunFamily(platform::FamilyChoice::Automatic);
    p.SetAddress("narrow.v6.idlix.test");
    EXPECT_EQ(p.Ping(), 1);
    EXPECT_EQ(p.Engine().HostIP(), testnet::kNarrow6);
    EXPECT_EQ(p.Engine().HostName(), "narrow.v6.idlix.test");

    // The reverse way through ip6.arpa, and the question the server got.
    const auto before = net->nameServerQueries().size();
    platform::HostEntry e;
    platform::IpAddress router;
    ASSERT_TRUE(platform::ParseIPv6(testnet::kRouter1v6, router));
    ASSERT_EQ(platform::LookupAddress(router, e), 0);
    EXPECT_EQ(e.name, "r1.v6.idlix.test");
    const auto asked = net->nameServerQueries();
    ASSERT_GT(asked.size(), before);
    EXPECT_EQ(asked[before],
              "PTR 1.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.0.1.0.0.0.0.0.2.0.0.0.d.f.ip6.arpa");
}
