// TPing and TICMP on loopback with real ICMP sockets (root here gives the raw
// socket when datagram ICMP is not allowed for our group).
#include "net/icmp.h"
#include "net/ping.h"
#include "platform/icmpecho.h"
#include "../support/testutil.h"

#include <QString>
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

using namespace std::chrono_literals;

namespace {

bool canPing()
{
    return platform::IcmpAvailable(nullptr);
}

// Watches the echo requests this host sends to 127.0.0.1 (a raw socket sees
// every ICMP message), so a test can check the bytes that went out.
class RequestTap {
public:
    RequestTap() { fd_ = socket(AF_INET, SOCK_RAW | SOCK_NONBLOCK, IPPROTO_ICMP); }
    ~RequestTap() { if (fd_ >= 0) close(fd_); }
    bool ok() const { return fd_ >= 0; }
    // Payload of the last echo request of the given size seen since the
    // previous call (other processes may ping loopback meanwhile).
    bool lastRequest(std::vector<std::uint8_t> &payload, std::size_t size = 0)
    {
        std::vector<std::uint8_t> buf(70000);
        bool found = false;
        for (;;) {
            const ssize_t n = recv(fd_, buf.data(), buf.size(), 0);
            if (n < 0)
                return found;
            const std::size_t ihl = std::size_t(buf[0] & 0x0F) * 4;
            if (std::size_t(n) == ihl + 8 + size && buf[ihl] == 8) {
                payload.assign(buf.begin() + long(ihl + 8), buf.begin() + n);
                found = true;
            }
        }
    }
private:
    int fd_ = -1;
};

std::vector<std::uint8_t> expectedPayload(int size)
{
    std::vector<std::uint8_t> p(std::size_t(size), ' ');
    for (int i = 0; i < size && i < kEchoSentenceLen; ++i)
        p[std::size_t(i)] = std::uint8_t(kEchoSentence[i]);
    return p;
}

} // namespace

TEST(Ping, DefaultsAndErrorTexts)
{
    TPing p;
    EXPECT_EQ(p.Size(), 56);
    EXPECT_EQ(p.Timeout(), 4000);
    EXPECT_EQ(p.TTL(), 64);
    EXPECT_TRUE(p.Address().isEmpty());
    EXPECT_TRUE(p.DnsResult().isEmpty());
    EXPECT_EQ(QString(kEchoSentence).size(), 45);

    struct Row { int code; const char *text; } rows[] = {
        {0, "No error"},
        {11002, "Destination network unreachable"},
        {11003, "Destination host unreachable"},
        {11010, "Request timed out"},
        {11013, "TTL expired in transit"},
        {11018, "Bad Destination"},
        {11050, "General failure"},
        {11255, "Pending"},
        {11099, "ICMP error #11099"},
        {11022, "ICMP error #11022"},
        {10013, "ICMP not permitted on this system"},
    };
    for (const auto &r : rows)
        EXPECT_EQ(TICMP::ErrorTextFor(r.code), QString(r.text)) << r.code;
}

TEST(Ping, EchoToLoopbackFiresRequestThenReply)
{
    if (!canPing())
        GTEST_SKIP() << "this process may not send ICMP echoes";
    TPing p;
    std::vector<QString> events;
    p.OnEchoRequest = [&](QObject *s) {
        EXPECT_EQ(s, &p);
        events.push_back("request");
    };
    p.OnEchoReply = [&](QObject *s, int n) {
        EXPECT_EQ(s, &p);
        events.push_back("reply " + QString::number(n));
    };
    p.SetAddress("127.0.0.1");
    EXPECT_EQ(p.Ping(), 1);
    EXPECT_EQ(events, (std::vector<QString>{"request", "reply 1"}));
    const auto r = p.Reply();
    EXPECT_EQ(r.Address, inet_addr("127.0.0.1"));
    EXPECT_EQ(r.Status, 0u);
    EXPECT_LT(r.RoundTripTime, 100u);
    EXPECT_EQ(r.DataSize, 56);
    EXPECT_EQ(r.Options.Ttl, 64);  // loopback: the reply leaves with the default TTL
    EXPECT_EQ(p.LastError(), 0);
    EXPECT_EQ(p.ErrorText(), "No error");
}

TEST(Ping, PayloadSizes)
{
    if (!canPing())
        GTEST_SKIP() << "this process may not send ICMP echoes";
    RequestTap tap;
    ASSERT_TRUE(tap.ok()) << "a raw socket is needed to see the requests (root)";
    TPing p;
    p.SetAddress("127.0.0.1");
    p.SetTimeout(2000);
    for (int size : {0, 10, 45, 100, 1500, 65507}) {
        std::vector<std::uint8_t> seen;
        tap.lastRequest(seen);  // forget earlier traffic
        p.SetSize(size);
        ASSERT_EQ(p.Ping(), 1) << size << ": " << p.ErrorText().toStdString();
        EXPECT_EQ(p.Reply().DataSize, size);
        ASSERT_TRUE(tap.lastRequest(seen, std::size_t(size))) << size;
        EXPECT_EQ(seen, expectedPayload(size)) << size;
    }
    // 10 bytes: the first ten of the sentence, no spaces; 100: 55 spaces at the end.
    EXPECT_EQ(expectedPayload(10), std::vector<std::uint8_t>(kEchoSentence, kEchoSentence + 10));
}

TEST(Ping, OutOfRangeSizeAndTtl)
{
    TPing p;
    p.SetAddress("127.0.0.1");
    struct Row { int size, ttl; } rows[] = {{70000, 64}, {-1, 64}, {56, 256}, {56, -1}};
    int requests = 0, replies = 0;
    p.OnEchoRequest = [&](QObject *) { ++requests; };
    p.OnEchoReply = [&](QObject *, int) { ++replies; };
    for (const auto &r : rows) {
        requests = replies = 0;
        p.SetSize(r.size);
        p.SetTTL(r.ttl);
        EXPECT_THROW(p.Ping(), EICMPRangeError) << r.size << "/" << r.ttl;
        EXPECT_EQ(requests, 1);
        EXPECT_EQ(replies, 0);
    }
    // Inside 0..65535 but more than one IPv4 datagram carries: a status, no crash.
    if (!canPing())
        return;
    p.SetTTL(64);
    for (int size : {65508, 65535}) {
        replies = -1;
        p.OnEchoReply = [&](QObject *, int n) { replies = n; };
        p.SetSize(size);
        EXPECT_EQ(p.Ping(), 0);
        EXPECT_EQ(replies, 0);
        EXPECT_EQ(p.LastError(), 11009);
        EXPECT_EQ(p.ErrorText(), "Packet too big");
    }
}

TEST(Ping, AddressAndResolvedState)
{
    TPing p;
    p.SetAddress("127.0.0.1");
    EXPECT_FALSE(p.Engine().Resolved());
    p.Ping();
    EXPECT_TRUE(p.Engine().Resolved());
    EXPECT_EQ(p.Engine().HostIP(), "127.0.0.1");
    p.SetAddress("127.0.0.1");  // same text
    EXPECT_TRUE(p.Engine().Resolved());
    p.SetAddress("127.0.0.01");  // same address, other text
    EXPECT_FALSE(p.Engine().Resolved());
    p.Ping();
    EXPECT_EQ(p.Engine().HostIP(), "127.0.0.1");
    EXPECT_EQ(p.Engine().HostName(), "127.0.0.01");

    // An address that does not resolve: both display texts, 11018, no echo events.
    std::vector<QString> shown;
    int events = 0;
    p.OnDisplay = [&](QObject *, const QString &m) { shown.push_back(m); };
    p.OnEchoRequest = [&](QObject *) { ++events; };
    p.OnEchoReply = [&](QObject *, int) { ++events; };
    p.SetAddress("");
    EXPECT_EQ(p.Ping(), 0);
    EXPECT_EQ(shown, (std::vector<QString>{"Unable to resolve ", "Invalid host address"}));
    EXPECT_EQ(p.LastError(), 11018);
    EXPECT_EQ(p.ErrorText(), "Bad Destination");
    EXPECT_EQ(events, 0);
    EXPECT_FALSE(p.Engine().Resolved());
}

TEST(Ping, DnsLookupOfAddressesAndLocalNames)
{
    TPing p;
    std::vector<int> done;
    p.OnDnsLookupDone = [&](QObject *s, quint16 e) {
        EXPECT_EQ(s, &p);
        done.push_back(e);
    };
    // Dotted text completes inside the call, normalised.
    struct Row { const char *text, *dotted; } rows[] = {
        {"10.0.0.1", "10.0.0.1"}, {"127.1", "127.0.0.1"}, {"010.0.0.1", "8.0.0.1"}};
    for (const auto &r : rows) {
        done.clear();
        p.DnsLookup(r.text);
        EXPECT_EQ(done, std::vector<int>{0}) << r.text;
        EXPECT_EQ(p.DnsResult(), r.dotted);
        EXPECT_FALSE(p.LookupPending());
    }
    // A name (from /etc/hosts) completes through the event loop.
    done.clear();
    p.DnsLookup("localhost");
    EXPECT_TRUE(done.empty());
    EXPECT_TRUE(p.DnsResult().isEmpty());
    ASSERT_TRUE(testutil::waitFor([&] { return !done.empty(); }, 5000ms));
    EXPECT_EQ(done, std::vector<int>{0});
    EXPECT_EQ(p.DnsResult(), "127.0.0.1");

    // Two lookups in a row: only the second completes.
    done.clear();
    p.DnsLookup("localhost");
    p.DnsLookup("localhost");
    ASSERT_TRUE(testutil::waitFor([&] { return !done.empty(); }, 5000ms));
    testutil::pump(300ms);
    EXPECT_EQ(done.size(), 1u);

    // A name replaced by an address: the address completes at once, the name never.
    done.clear();
    p.DnsLookup("localhost");
    p.DnsLookup("127.0.0.2");
    testutil::pump(300ms);
    EXPECT_EQ(done, std::vector<int>{0});
    EXPECT_EQ(p.DnsResult(), "127.0.0.2");
}

TEST(Ping, CancelAndDestructionWithALookupPending)
{
    std::vector<int> done;
    {
        TPing p;
        p.OnDnsLookupDone = [&](QObject *, quint16 e) { done.push_back(e); };
        p.CancelDnsLookup();  // nothing pending: no event
        EXPECT_TRUE(done.empty());
        p.DnsLookup("localhost");
        p.CancelDnsLookup();
        EXPECT_EQ(done, std::vector<int>{10004});
        EXPECT_FALSE(p.LookupPending());
        p.CancelDnsLookup();
        EXPECT_EQ(done.size(), 1u);
        testutil::pump(300ms);
        EXPECT_EQ(done.size(), 1u);  // the cancelled completion never arrives

        done.clear();
        p.DnsLookup("localhost");
    }  // destroyed while pending
    EXPECT_EQ(done, std::vector<int>{10004});
    testutil::pump(300ms);  // and nothing reaches the destroyed component
    EXPECT_EQ(done.size(), 1u);
}

// A process without ICMP access: a fresh network namespace (its
// ping_group_range allows nobody) and CAP_NET_RAW dropped.
TEST(Ping, WithoutIcmpAccessEveryEchoFailsClearly)
{
    if (!testutil::isRoot())
        GTEST_SKIP() << "needs root to make a namespace and drop a capability";
    const int failed = testutil::withoutIcmpAccess([] {
        QString hint;
        if (platform::IcmpAvailable(&hint))
            return 13;
        if (!hint.contains("net.ipv4.ping_group_range") || !hint.contains("setcap cap_net_raw+ep"))
            return 14;
        TICMP icmp;  // must not throw
        if (icmp.HandleOpen())
            return 15;
        int replies = -1, requests = 0;
        icmp.OnEchoRequest = [&](QObject *) { ++requests; };
        icmp.OnEchoReply = [&](QObject *, int n) { replies = n; };
        icmp.SetAddress("127.0.0.1");
        if (icmp.Ping() != 0 || requests != 1 || replies != 0)
            return 16;
        if (icmp.LastError != 10013)
            return 17;
        if (icmp.ErrorText() != "ICMP not permitted on this system")
            return 18;
        // Told once per process, however often asked.
        if (TPing::AccessHintOnce().isEmpty() || !TPing::AccessHintOnce().isEmpty())
            return 19;
        return 0;
    });
    EXPECT_EQ(failed, 0) << "step that failed: " << failed;
}

// A handler may replace itself or free its component; the component must not
// touch itself afterwards (run under the sanitizers to see a fault).
TEST(Ping, HandlersMayDestroyTheirComponent)
{
    auto *p = new TPing;
    bool freed = false;
    p->OnDnsLookupDone = [&](QObject *s, quint16 e) {
        EXPECT_EQ(e, 0);
        delete static_cast<TPing *>(s);
        freed = true;
    };
    p->DnsLookup("localhost");  // completes through the event loop
    ASSERT_TRUE(testutil::waitFor([&] { return freed; }, 5000ms));

    p = new TPing;
    int calls = 0;
    p->OnEchoReply = [&](QObject *s, int) {
        ++calls;
        auto *self = static_cast<TPing *>(s);
        self->OnEchoReply = nullptr;  // drops the handler that is running
        delete self;
    };
    p->SetAddress("127.0.0.1");
    p->SetTimeout(1000);
    p->Ping();
    EXPECT_EQ(calls, 1);
}
