// The dns probe against the test name server (dnsmasq on the test network):
// answers, a name it does not know, a name without a record of the type, a
// server that stops answering, and a host where no name server listens.
#include "session/dnstransport.h"
#include "probewait.h"
#include "../support/netfixture.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

using testnet::TestNet;

namespace {

class DnsNet : public testnet::NetTest {
protected:
    void TearDown() override
    {
        if (net)
            net->silenceNameServer(false);
        scope.reset();
    }
    bool Asked(const std::string &question) const
    {
        const auto asked = net->nameServerQueries();
        return std::find(asked.begin(), asked.end(), question) != asked.end();
    }
};

} // namespace

TEST_F(DnsNet, AnswersAndErrorsOfTheTestNameServer)
{
    if (!Ready())
        return;
    struct Case {
        const char *url;
        TProbeOutcome outcome;
        int rcode;
        const char *reason;
        const char *address;    // where the query went
        const char *question;   // as the name server logged it; "" to skip
    } cases[] = {
        {"dns://10.200.3.53/host.idlix.test", TProbeOutcome::Ok, 0, "", testnet::kDns, "A host.idlix.test"},
        {"dns://10.200.3.53:53/multi.idlix.test?type=a", TProbeOutcome::Ok, 0, "", testnet::kDns, "A multi.idlix.test"},
        {"dns://10.200.3.53/nothere.idlix.test", TProbeOutcome::DnsError, 3, "no such name (NXDOMAIN)", testnet::kDns,
         "A nothere.idlix.test"},
        {"dns://10.200.3.53/host.idlix.test?type=AAAA", TProbeOutcome::DnsError, 0, "no answer", testnet::kDns,
         "AAAA host.idlix.test"},
        {"dns://10.200.3.53/txt.idlix.test?type=TXT", TProbeOutcome::Ok, 0, "", testnet::kDns, "TXT txt.idlix.test"},
        {"dns://10.200.3.53/idlix.test?type=MX", TProbeOutcome::Ok, 0, "", testnet::kDns, "MX idlix.test"},
        {"dns://10.200.3.53/host.idlix.test?type=MX", TProbeOutcome::DnsError, 0, "no answer", testnet::kDns, ""},
        {"dns://[fd00:200:3::53]/dual.idlix.test?type=AAAA", TProbeOutcome::Ok, 0, "", testnet::kDns6,
         "AAAA dual.idlix.test"},
        // The client's resolv.conf names the test name server.
        {"dns:///slow.idlix.test", TProbeOutcome::Ok, 0, "", testnet::kDns, "A slow.idlix.test"},
        // The server by name: looked up first, then asked.
        {"dns://ns.idlix.test/quiet.idlix.test", TProbeOutcome::Ok, 0, "", testnet::kDns, "A quiet.idlix.test"},
        {"dns://nons.idlix.test/quiet.idlix.test", TProbeOutcome::LookupFailed, -1, "Unknown Host", "", ""},
        // The host answers echoes but runs no name server.
        {"dns://10.200.3.10/host.idlix.test", TProbeOutcome::Unreachable, -1, "port unreachable", testnet::kHost, ""},
    };
    for (const Case &c : cases) {
        TDnsTransport transport;
        const auto run = sessiontest::RunProbe(transport, QString::fromLatin1(c.url), 3000);
        EXPECT_EQ(run.Dones, 1) << c.url;
        EXPECT_EQ(run.Reply.Outcome, c.outcome) << c.url << ": " << run.Reply.Reason.toStdString();
        EXPECT_EQ(run.Reply.Details.DnsRcode, c.rcode) << c.url;
        EXPECT_TRUE(run.Reply.Reason.contains(QLatin1String(c.reason))) << c.url << ": " << run.Reply.Reason.toStdString();
        EXPECT_EQ(run.Reply.Address, QLatin1String(c.address)) << c.url;
        if (c.rcode >= 0) {
            EXPECT_GT(run.Reply.Us, 0) << c.url;
            EXPECT_LT(run.Reply.Us, 1000000) << c.url;
            EXPECT_EQ(run.Reply.Timings.ResolveUs, run.Reply.Us) << c.url;
        }
        if (*c.question) {
            EXPECT_TRUE(Asked(c.question)) << c.url << " did not ask " << c.question;
        }
    }
}

// A name server that has stopped: the probe ends at its time-out, not sooner
// and not much later.
TEST_F(DnsNet, SilentServerTimesOut)
{
    if (!Ready())
        return;
    ASSERT_TRUE(net->silenceNameServer(true));
    struct Case {
        int timeoutMs;
    } cases[] = {{700}, {1500}};
    for (const Case &c : cases) {
        TDnsTransport transport;
        const auto run = sessiontest::RunProbe(transport, QStringLiteral("dns://10.200.3.53/host.idlix.test"), c.timeoutMs);
        EXPECT_EQ(run.Dones, 1);
        EXPECT_EQ(run.Reply.Outcome, TProbeOutcome::Timeout) << run.Reply.Reason.toStdString();
        EXPECT_EQ(run.Reply.Details.DnsRcode, -1);
        EXPECT_EQ(run.Reply.Us, -1);
        EXPECT_GE(run.ElapsedMs, c.timeoutMs - 5);
        EXPECT_LT(run.ElapsedMs, c.timeoutMs + 1000);
        EXPECT_EQ(run.Reply.BytesReceived, 0);
        EXPECT_GT(run.Reply.BytesSent, 28);
    }
}
