// tcp:// probes over the test network: nginx's open port, a closed one, a
// network and a host that are unreachable, a host that never answers, a name
// that does not resolve; through the transport and through a session whose
// host is the URL. Root only.
#include "probewait.h"

#include "config/options.h"
#include "session/tcptransport.h"
#include "../support/netfixture.h"
#include "../support/testutil.h"

#include <QElapsedTimer>
#include <gtest/gtest.h>

#include <chrono>

using namespace std::chrono_literals;

namespace {

class TcpProbe : public testnet::WebNetTest {
protected:
    static void SetUpTestSuite()
    {
        SetUpWeb({{"index.html", QByteArray("up\n")}});
        if (net && net->ok())
            silent = net->addSilentRoute();
    }

    bool Probe(const QString &target, int timeoutMs, probe::TReply *reply, QString *sentTo)
    {
        probe::TRequest request;
        request.Target = target;
        request.TimeoutMs = timeoutMs;
        return sessiontest::SendAndWait(transport, request, reply, sentTo);
    }

    static inline bool silent = false;
    TTcpTransport transport;
};

} // namespace

TEST_F(TcpProbe, EachWayAConnectEnds)
{
    if (!Ready())
        return;
    ASSERT_TRUE(silent) << "the silent route was not built";
    const std::string host = testnet::kHost;
    const struct {
        std::string target;
        int timeoutMs;
        TProbeOutcome outcome;
        const char *reason;
        std::string address;     // the address the handshake went to ("" none)
        bool resolved;           // a name was looked up (its time is > 0)
    } cases[] = {
        {"tcp://" + host + ":80", 0, TProbeOutcome::Ok, "", host, false},
        {"tcp://host.idlix.test:80", 0, TProbeOutcome::Ok, "", host, true},
        {"tcp://[" + std::string(testnet::kHost6) + "]:80", 0, TProbeOutcome::Ok, "", testnet::kHost6, false},
        {"tcp://" + host + ":81", 0, TProbeOutcome::Refused, "refused", host, false},
        {"tcp://" + std::string(testnet::kNoRoute) + ":80", 0, TProbeOutcome::Unreachable, "network unreachable",
         testnet::kNoRoute, false},
        {"tcp://" + std::string(testnet::kNoHost) + ":80", 0, TProbeOutcome::Unreachable, "host unreachable",
         testnet::kNoHost, false},
        // mute's own answers, its RST included, go nowhere.
        {"tcp://" + std::string(testnet::kMute) + ":80", 700, TProbeOutcome::Timeout, "no answer within 700 ms",
         testnet::kMute, false},
        {"tcp://nosuch.idlix.test:80", 0, TProbeOutcome::LookupFailed, "can't resolve hostname to IP address", "",
         true},
        {"tcp://host.idlix.test", 0, TProbeOutcome::Failed, "no port (tcp://HOST:PORT)", "", false},
        {"https://host.idlix.test/", 0, TProbeOutcome::Failed, "not a tcp:// URL", "", false},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.target);
        probe::TReply reply;
        QString sentTo;
        QElapsedTimer took;
        took.start();
        ASSERT_TRUE(Probe(QString::fromStdString(c.target), c.timeoutMs, &reply, &sentTo));
        EXPECT_EQ(OutcomeName(reply.Outcome), OutcomeName(c.outcome));
        EXPECT_EQ(reply.Reason, c.reason);
        EXPECT_EQ(reply.Address.toStdString(), c.address);
        EXPECT_EQ(sentTo.toStdString(), c.address) << "Sending names the address as the handshake starts";
        EXPECT_FALSE(reply.Cancelled);
        if (c.outcome == TProbeOutcome::Ok) {
            // A handshake across two routers on veth links: well under 100 ms,
            // and never nothing at all.
            EXPECT_GT(reply.Us, 0);
            EXPECT_LT(reply.Us, 100'000);
            EXPECT_EQ(reply.Ms, int(reply.Us / 1000));
            EXPECT_EQ(reply.Timings.ConnectUs, reply.Us);
        } else {
            EXPECT_EQ(reply.Us, -1);
            EXPECT_EQ(reply.Ms, -1);
            EXPECT_EQ(reply.Timings.ConnectUs, -1);
        }
        if (c.resolved)
            EXPECT_GT(reply.Timings.ResolveUs, 0);
        else if (!c.address.empty())
            EXPECT_EQ(reply.Timings.ResolveUs, 0) << "an address needs no lookup";
        if (c.outcome == TProbeOutcome::Timeout)
            EXPECT_GE(took.elapsed(), c.timeoutMs);
        EXPECT_EQ(transport.Running(), 0);
    }
}

TEST_F(TcpProbe, CancelEndsEveryProbeOutOnceAndAtOnce)
{
    if (!Ready())
        return;
    int cancelled = 0, other = 0;
    for (int i = 0; i < 3; ++i) {
        probe::TEvents events;
        events.Done = [&](const probe::TReply &r) { ++(r.Cancelled ? cancelled : other); };
        probe::TRequest request;
        request.Target = QStringLiteral("tcp://%1:80").arg(testnet::kMute);
        transport.Send(request, std::move(events));
    }
    EXPECT_EQ(transport.Running(), 3) << "probes run side by side";
    transport.Cancel();
    EXPECT_EQ(cancelled, 3);
    EXPECT_EQ(transport.Running(), 0);
    // Their time-outs and sockets went with them: nothing more comes.
    testutil::pump(std::chrono::milliseconds(TTcpTransport::DefaultTimeoutMs + 300));
    EXPECT_EQ(cancelled + other, 3);
}

TEST_F(TcpProbe, ASessionWhoseHostIsATcpUrl)
{
    if (!Ready())
        return;
    const struct {
        QString host;
        TProbeOutcome outcome;
        QString text;            // the history line of the result; %1 the ms
    } cases[] = {
        {QStringLiteral("tcp://%1:80").arg(testnet::kHost), TProbeOutcome::Ok,
         QStringLiteral("TCP connect to %1:80 in %2 msecs").arg(testnet::kHost)},
        {QStringLiteral("tcp://host.idlix.test:81"), TProbeOutcome::Refused,
         QStringLiteral("TCP connect to host.idlix.test:81 failed: refused")},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.host.toStdString());
        sessiontest::TOpeningProbe session(c.host, config::TAntiIdleOptions::IcmpPings);
        ASSERT_TRUE(session.Run());
        const TProbeResult &r = session.Rec.results.front();
        EXPECT_EQ(r.Kind, session::TProbeKind::Tcp);
        EXPECT_EQ(OutcomeName(r.Outcome), OutcomeName(c.outcome));
        EXPECT_EQ(r.Address, testnet::kHost);
        EXPECT_TRUE(r.Counted);
        const QString text = c.outcome == TProbeOutcome::Ok ? c.text.arg(r.Ms) : c.text;
        EXPECT_TRUE(session.Told(text));
        if (c.outcome == TProbeOutcome::Ok) {
            EXPECT_GE(r.Ms, 0);
            EXPECT_EQ(r.Ms, int(r.Us / 1000));
            EXPECT_EQ(session.Engine->Stats().Successes(), 1);
        } else {
            EXPECT_EQ(session.Engine->Stats().Failures(), 1);
        }
    }
}
