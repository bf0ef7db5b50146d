// The socket and the HTTP client on the test network: a real nginx on a test
// host, names from the test name server (several addresses, reverse names,
// unknown names) and a destination the router cannot reach. The test thread
// runs inside the client namespace.
#include "net/httpprot.h"

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

} // namespace
