// The socket and the HTTP client on the test network: a real nginx on a test
// host, names from the test name server (several addresses, reverse names,
// unknown names) and a destination the router cannot reach. The test thread
// runs inside the client namespace.
#include "net/httpcli.h"
#include "platform/lookupservice.h"
#include "platform/resolver.h"

#include "../support/netfixture.h"
#include "../support/testutil.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <memory>

using namespace std::chrono_literals;
using testnet::TestNet;

namespace {

class HttpNet : public testnet::WebNetTest {
protected:
    static void SetUpTestSuite()
    {
        QByteArray big;
        for (int i = 0; i < 300000; ++i)
            big += char('0' + i % 10);
        SetUpWeb({{"index.html", kIndex}, {"big.bin", big}});
    }

    static constexpr const char *kIndex = "<html><body>Idlix test page</body></html>\n";
};

// Runs Get; the exception text and code when it raised, else empty and 0.
std::pair<QString, int> get(THttpCli &c)
{
    try {
        c.Get();
    } catch (const EHttpException &e) {
        return {e.Message(), e.ErrorCode};
    }
    return {QString(), 0};
}

TEST_F(HttpNet, DocumentsFromNginx)
{
    THttpCli c;
    c.NoCache = true;
    QBuffer body;
    body.open(QIODevice::WriteOnly);
    c.ReceiveStream = &body;
    // The bare host text, as the keep-alive probe sets it.
    c.URL = "host.idlix.test";
    EXPECT_EQ(get(c), std::make_pair(QString(), 0));
    EXPECT_EQ(c.StatusCode(), 200);
    EXPECT_EQ(c.ReasonPhrase(), "OK");
    EXPECT_EQ(body.data(), QByteArray(kIndex));
    EXPECT_EQ(c.ContentLength(), int(qstrlen(kIndex)));
    EXPECT_EQ(c.ContentType(), "text/html");

    body.buffer().clear();
    body.seek(0);
    c.URL = "http://host.idlix.test/big.bin";
    EXPECT_EQ(get(c).second, 0);
    EXPECT_EQ(c.ReceivedCount(), 300000);
    EXPECT_EQ(body.data().size(), 300000);
    EXPECT_EQ(body.data().mid(299990), "0123456789");

    c.URL = "http://10.200.3.10/missing.html";
    EXPECT_EQ(get(c), std::make_pair(QStringLiteral("Not Found"), 404));

    // nginx answers a directory without its slash with a redirect to it.
    ASSERT_TRUE(QDir(www->path()).mkpath("sub"));
    QFile sub(www->filePath("sub/index.html"));
    sub.open(QIODevice::WriteOnly);
    sub.write("sub page");
    sub.close();
    body.buffer().clear();
    body.seek(0);
    int moved = 0;
    c.OnLocationChange = [&](THttpCli *) { ++moved; };
    c.URL = "http://host.idlix.test/sub";
    EXPECT_EQ(get(c).second, 0);
    EXPECT_EQ(moved, 1);
    EXPECT_EQ(c.StatusCode(), 200);
    EXPECT_EQ(body.data(), "sub page");
}

TEST_F(HttpNet, UnknownHostAndUnreachableNetwork)
{
    THttpCli c;
    c.URL = "http://nosuch.idlix.test/";
    EXPECT_EQ(get(c), std::make_pair(QStringLiteral("can't resolve hostname to IP address"), 404));
    EXPECT_EQ(c.StatusCode(), 404);

    c.URL = QStringLiteral("http://%1/").arg(testnet::kNoRoute);
    auto [text, code] = get(c);
    EXPECT_EQ(code, 404);
    EXPECT_TRUE(text.endsWith("Network is unreachable (Error #10051)")
                || text.endsWith("No route to host (Error #10065)"))
        << text.toStdString();
}

TEST_F(HttpNet, SocketLookupsThroughTheNameServer)
{
    TWSocket s;
    QList<quint16> done;
    s.OnDnsLookupDone = [&](TCustomWSocket *, quint16 e) { done << e; };
    s.DnsLookup("multi.idlix.test");
    ASSERT_TRUE(testutil::waitFor([&] { return !done.isEmpty(); }, 5s));
    EXPECT_EQ(done.first(), 0);
    QStringList all = s.DnsResultList();
    all.sort();
    EXPECT_EQ(all, QStringList({"10.200.3.10", "10.200.3.20"}));
    EXPECT_EQ(s.DnsResult(), s.DnsResultList().first());

    done.clear();
    s.DnsLookup("nosuch.idlix.test");
    ASSERT_TRUE(testutil::waitFor([&] { return !done.isEmpty(); }, 5s));
    EXPECT_EQ(done.first(), 11001);
    EXPECT_TRUE(s.DnsResult().isEmpty());

    done.clear();
    s.ReverseDnsLookup("10.200.3.10");
    ASSERT_TRUE(testutil::waitFor([&] { return !done.isEmpty(); }, 5s));
    EXPECT_EQ(done.first(), 0);
    EXPECT_EQ(s.DnsResult(), "host.idlix.test");

    std::optional<THostEntry> e = LookupHostByAddress("10.200.3.53");
    ASSERT_TRUE(e.has_value());
    EXPECT_EQ(e->Name, "ns.idlix.test");
}

// The address family setting back to its default whatever a test did.
struct FamilyReset {
    ~FamilyReset() { platform::Lookups().SetRunFamily(platform::FamilyChoice::Automatic); }
};

TEST_F(HttpNet, DocumentsOverIPv6)
{
    THttpCli c;
    QStringList sent;
    c.OnCommand = [&](THttpCli *, const QString &line) { sent << line; };
    QBuffer body;
    body.open(QIODevice::WriteOnly);
    c.ReceiveStream = &body;
    // The URL host as written and the "Host: " line the request carried.
    const struct {
        QString url, hostLine;
    } rows[] = {
        {"http://host.v6.idlix.test/index.html", "Host: host.v6.idlix.test"},
        {QStringLiteral("http://[%1]/index.html").arg(testnet::kHost6),
         QStringLiteral("Host: [%1]").arg(testnet::kHost6)},
        {QStringLiteral("http://[%1]:80/").arg(testnet::kHost6),
         QStringLiteral("Host: [%1]").arg(testnet::kHost6)},
        // A bare address, as the keep-alive probe passes the host field.
        {testnet::kHost6, QStringLiteral("Host: [%1]").arg(testnet::kHost6)},
    };
    for (const auto &r : rows) {
        SCOPED_TRACE(r.url.toStdString());
        sent.clear();
        body.buffer().clear();
        body.seek(0);
        c.URL = r.url;
        EXPECT_EQ(get(c), std::make_pair(QString(), 0));
        EXPECT_EQ(c.StatusCode(), 200);
        EXPECT_EQ(body.data(), QByteArray(kIndex));
        EXPECT_TRUE(sent.contains(r.hostLine)) << sent.join('|').toStdString();
    }
}

TEST_F(HttpNet, DualStackServerReachedWhenTheFirstAddressRefuses)
{
    FamilyReset reset;
    ASSERT_TRUE(net->setGaiConf("")) << "the machine has no /etc/gai.conf";
    // dual.idlix.test has the host's IPv6 and IPv4 address; one server
    // listens on IPv4 only, one on IPv6 only.
    const pid_t only4 = net->startNginx(testnet::Role::Host, www->path().toStdString(), 8081,
                                        testnet::Listen::V4);
    const pid_t only6 = net->startNginx(testnet::Role::Host, www->path().toStdString(), 8082,
                                        testnet::Listen::V6);
    ASSERT_GT(only4, 0);
    ASSERT_GT(only6, 0);
    const struct {
        const char *why;
        std::string gai;
        QString url;
        int code;
    } rows[] = {
        // The system's default order tries IPv6 first: refused, then IPv4.
        {"IPv6 first, IPv6 refused", "", "http://dual.idlix.test:8081/", 0},
        {"IPv6 first, IPv6 answers", "", "http://dual.idlix.test:8082/", 0},
        // gai.conf preferring IPv4: refused there, then IPv6.
        {"IPv4 first, IPv4 refused", TestNet::kPreferIPv4, "http://dual.idlix.test:8082/", 0},
        // Both refuse: the last refusal ends the request.
        {"nobody listens", "", "http://dual.idlix.test:8083/", 404},
    };
    for (const auto &r : rows) {
        SCOPED_TRACE(r.why);
        ASSERT_TRUE(net->setGaiConf(r.gai));
        THttpCli c;
        QBuffer body;
        body.open(QIODevice::WriteOnly);
        c.ReceiveStream = &body;
        c.URL = r.url;
        const auto [text, code] = get(c);
        EXPECT_EQ(code, r.code) << text.toStdString();
        if (r.code == 0) {
            EXPECT_EQ(body.data(), QByteArray(kIndex));
        } else {
            EXPECT_EQ(text, "Connection refused (Error #10061)");
        }
    }
    // With one family chosen, only its address is tried.
    platform::Lookups().SetRunFamily(platform::FamilyChoice::IPv6Only);
    THttpCli c;
    c.URL = "http://dual.idlix.test:8081/";
    EXPECT_EQ(get(c), std::make_pair(QStringLiteral("Connection refused (Error #10061)"), 404));
    platform::Lookups().SetRunFamily(platform::FamilyChoice::IPv4Only);
    c.URL = "http://dual.idlix.test:8082/";
    EXPECT_EQ(get(c), std::make_pair(QStringLiteral("Connection refused (Error #10061)"), 404));
    c.URL = QStringLiteral("http://[%1]/").arg(testnet::kHost6);
    EXPECT_EQ(get(c), std::make_pair(QStringLiteral("can't resolve hostname to IP address"), 404));
    net->setGaiConf("");
    TestNet::stopNginx(only4);
    TestNet::stopNginx(only6);
}

TEST_F(HttpNet, SocketLookupsOfBothFamilies)
{
    FamilyReset reset;
    TWSocket s;
    QList<quint16> done;
    s.OnDnsLookupDone = [&](TCustomWSocket *, quint16 e) { done << e; };
    auto lookup = [&](const QString &host) {
        done.clear();
        s.DnsLookup(host);
        EXPECT_TRUE(testutil::waitFor([&] { return !done.isEmpty(); }, 5s)) << host.toStdString();
        return done.isEmpty() ? -1 : int(done.first());
    };
    ASSERT_TRUE(net->setGaiConf(""));
    EXPECT_EQ(lookup("dual.idlix.test"), 0);
    EXPECT_EQ(s.DnsResultList(), QStringList({testnet::kHost6, testnet::kHost}));
    ASSERT_TRUE(net->setGaiConf(TestNet::kPreferIPv4));
    EXPECT_EQ(lookup("dual.idlix.test"), 0);
    EXPECT_EQ(s.DnsResultList(), QStringList({testnet::kHost, testnet::kHost6}));
    EXPECT_EQ(s.DnsResult(), testnet::kHost);
    ASSERT_TRUE(net->setGaiConf(""));
    // A name with only an IPv6 record.
    EXPECT_EQ(lookup("host.v6.idlix.test"), 0);
    EXPECT_EQ(s.DnsResultList(), QStringList({testnet::kHost6}));
    platform::Lookups().SetRunFamily(platform::FamilyChoice::IPv4Only);
    EXPECT_EQ(lookup("host.v6.idlix.test"), 11004);
    platform::Lookups().SetRunFamily(platform::FamilyChoice::Automatic);

    // Reverse through ip6.arpa.
    done.clear();
    s.ReverseDnsLookup(QStringLiteral("[%1]").arg(testnet::kRouter2v6));
    ASSERT_TRUE(testutil::waitFor([&] { return !done.isEmpty(); }, 5s));
    EXPECT_EQ(done.first(), 0);
    EXPECT_EQ(s.DnsResult(), "r2.v6.idlix.test");
    std::optional<THostEntry> e = LookupHostByAddress(testnet::kDns6);
    ASSERT_TRUE(e.has_value());
    EXPECT_EQ(e->Name, "ns.v6.idlix.test");
    EXPECT_EQ(e->Addresses, QStringList({testnet::kDns6}));
}

} // namespace
