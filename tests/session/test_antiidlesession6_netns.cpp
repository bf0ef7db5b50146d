// The anti-idle session's probes over IPv6, through the engine without a
// window: echoes (ICMPv6) and HTTP GETs to the IPv6 test host by a name with
// only an AAAA record, by its address with and without brackets, to a
// link-local router with its zone, to ::1, and to hosts that cannot be
// reached; the address family setting choosing between a name's families.
// Root only; the session runs inside the test network's client host.
#include "recorder.h"

#include "config/options.h"
#include "platform/lookupservice.h"
#include "platform/resolver.h"
#include "../support/netfixture.h"
#include "../support/qtprint.h"
#include "../support/scriptserver.h"
#include "../support/testutil.h"

#include <QRegularExpression>
#include <gtest/gtest.h>

#include <optional>

using sessiontest::TRecorder;
using testsupport::Script;
using testsupport::ScriptServer;
using Choice = platform::FamilyChoice;

namespace {

const QByteArray kPage = "<html>IPv6 keeps the line alive</html>\n";

// Replaces a round trip or transfer time ("in 3 msecs", "in 12ms") by N.
QStringList MaskTimes(QStringList lines)
{
    static const QRegularExpression ms(QStringLiteral(" in \\d+ ?ms"));
    for (QString &l : lines)
        l.replace(ms, QStringLiteral(" in N ms"));
    return lines;
}

class Session6 : public testnet::WebNetTest {
protected:
    static void SetUpTestSuite() { SetUpWeb({{"index.html", kPage}}); }
    void TearDown() override
    {
        platform::Lookups().SetRunFamily(Choice::Automatic);
        if (net)
            net->setGaiConf("");
        scope.reset();
    }

    // One session to host, stopped after the probe of the first tick (an
    // HTTP GET with that method; a session always opens with an echo). The
    // events of that probe, from its sending to its result, and its result
    // last in rec.results.
    QStringList OneProbe(int method, const QString &host)
    {
        testutil::ScratchDir dir;
        config::TOptions options;
        options.AntiIdle.Frequency = QStringLiteral("1");
        options.AntiIdle.Method = method;
        options.AntiIdle.Host = host;
        rec = TRecorder();
        TAntiIdleSession engine(options);
        engine.AddObserver(&rec);
        if (!engine.Start())
            return {"not started"};
        // Each probe ends from the event loop (a name's lookup, the transfer).
        const auto ended = [this](std::size_t n) {
            return testutil::waitFor([this, n] { return rec.results.size() >= n; },
                                     std::chrono::seconds(15));
        };
        ended(1);
        engine.Tick();
        ended(2);
        engine.Stop();
        engine.RemoveObserver(&rec);
        const QStringList all = MaskTimes(rec.events);
        static const QRegularExpression sent(QStringLiteral("sent .*"));   // matched whole
        static const QRegularExpression result(QStringLiteral("result .*"));
        const qsizetype from = all.lastIndexOf(sent);
        const qsizetype to = all.lastIndexOf(result);
        return from < 0 || to < from ? all : all.mid(from, to - from + 1);
    }

    TRecorder rec;
};

} // namespace

TEST_F(Session6, EchoesOverIPv6)
{
    const QString zoned = QStringLiteral("%1%%2").arg(testnet::kRouter1LinkLocal, testnet::kClientLink);
    struct Case {
        QString host;
        Choice choice;
        QString address;   // where the echo went, canonical text
    } cases[] = {
        {"host.v6", Choice::Automatic, testnet::kHost6},
        {testnet::kHost6, Choice::Automatic, testnet::kHost6},
        {QStringLiteral("[%1]").arg(testnet::kHost6), Choice::Automatic, testnet::kHost6},
        {"FD00:200:3:0:0:0:0:10", Choice::IPv6Only, testnet::kHost6},
        {"fd00:0200:0003:0000:fedc:ba98:7654:3210", Choice::Automatic, testnet::kLong6},
        {zoned, Choice::Automatic, zoned},
        {"::1", Choice::Automatic, "::1"},
        {"dual", Choice::Automatic, testnet::kHost6},
        {"dual", Choice::IPv4Only, testnet::kHost},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.host.toStdString() + " choice " + std::to_string(int(c.choice)));
        platform::Lookups().SetRunFamily(c.choice);
        const QStringList events = OneProbe(config::TAntiIdleOptions::IcmpPings, c.host);
        EXPECT_EQ(events, (QStringList{"sent echo " + c.host,
                                       "line Sending 56 bytes to " + c.host,
                                       "line " + c.host + " pinged in N msecs",
                                       "result echo " + c.host + " ok row 1"}));
        ASSERT_EQ(rec.results.size(), 2u);
        const TProbeResult &r = rec.results.back();
        EXPECT_EQ(r.Address, c.address);
        // 56 data bytes and the ICMP header, and IPv6's 40-byte header or IPv4's 20.
        const int header = c.address.contains(':') ? 40 : 20;
        EXPECT_EQ(r.BytesSent, 56 + 8 + header);
        EXPECT_EQ(r.BytesReceived, r.BytesSent);
        EXPECT_TRUE(rec.statuses.contains("Status: Sending 56 bytes to " + c.host));
    }
}

TEST_F(Session6, EchoFailuresOverIPv6)
{
    struct Case {
        QString host;
        Choice choice;
        QString line;
        const char *outcome;
    } cases[] = {
        // r2 gives up neighbour discovery after about 3 s.
        {testnet::kNoHost6, Choice::Automatic, "Destination host unreachable", "unreachable"},
        {testnet::kNoRoute6, Choice::Automatic, "Destination network unreachable", "unreachable"},
        {testnet::kQuiet6, Choice::Automatic, "Request timed out", "timeout"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.host.toStdString());
        platform::Lookups().SetRunFamily(c.choice);
        const QStringList events = OneProbe(config::TAntiIdleOptions::IcmpPings, c.host);
        EXPECT_EQ(events, (QStringList{"sent echo " + c.host,
                                       "line Sending 56 bytes to " + c.host,
                                       "line Error pinging " + c.host + " : " + c.line,
                                       "result echo " + c.host + " " + c.outcome + " row 1"}));
    }
    // A name whose only address the setting excludes is an unknown host.
    platform::Lookups().SetRunFamily(Choice::IPv4Only);
    EXPECT_EQ(OneProbe(config::TAntiIdleOptions::IcmpPings, "host.v6"),
              (QStringList{"sent echo host.v6", "line Unknown Host host.v6",
                           "result echo host.v6 lookup-failed row 1"}));
}

TEST_F(Session6, HttpGetsOverIPv6)
{
    struct Case {
        QString host;
        Choice choice;
    } cases[] = {
        {"host.v6", Choice::Automatic},
        {testnet::kHost6, Choice::Automatic},
        {QStringLiteral("[%1]").arg(testnet::kHost6), Choice::Automatic},
        {QStringLiteral("http://[%1]/index.html").arg(testnet::kLong6), Choice::Automatic},
        {"dual", Choice::IPv6Only},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.host.toStdString());
        platform::Lookups().SetRunFamily(c.choice);
        const QStringList events = OneProbe(config::TAntiIdleOptions::HttpGets, c.host);
        EXPECT_EQ(events, (QStringList{
                              "sent http " + c.host, "line Connecting to " + c.host,
                              QStringLiteral("line Received %1 bytes from ").arg(kPage.size())
                                  + c.host + " in N ms",
                              "result http " + c.host + " ok row 1"}));
        ASSERT_EQ(rec.results.size(), 2u);
        // What came over the wire: nginx's status line and headers, then the page.
        EXPECT_GE(rec.results.back().BytesReceived, kPage.size() + qsizetype(sizeof "HTTP/1.1 200 OK\r\n\r\n" - 1));
    }
}

// The request as it went out to a web server on ::1: the address in
// brackets in the Host line, as RFC 7230 writes an IPv6 literal.
TEST_F(Session6, HttpGetToTheLoopbackCarriesTheBracketedHost)
{
    ScriptServer server({Script().readRequest().send("HTTP/1.0 200 OK\r\n\r\nhello")},
                        ScriptServer::Loopback::V6);
    ASSERT_NE(server.port(), 0);
    const QString host = QStringLiteral("[::1]:%1").arg(server.port());
    const QStringList events = OneProbe(config::TAntiIdleOptions::HttpGets, host);
    EXPECT_EQ(events, (QStringList{"sent http " + host, "line Connecting to " + host,
                                   "line Received 5 bytes from " + host + " in N ms",
                                   "result http " + host + " ok row 1"}));
    const QByteArray request = server.received(0);
    EXPECT_TRUE(request.startsWith("GET / HTTP/1.0\r\n")) << request.toStdString();
    EXPECT_TRUE(request.contains("\r\nHost: [::1]\r\n")) << request.toStdString();
}
