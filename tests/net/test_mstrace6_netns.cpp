// The traceroute engine over IPv6 on the test network: names with only AAAA
// records, literals with and without brackets, a link-local router with its
// zone, hop limits that run out along the route, hosts that cannot be
// reached, the silent router given up early, and the address family setting
// choosing between a name's two families. Hop names come through ip6.arpa.
#include "net/mstrace.h"
#include "platform/lookupservice.h"
#include "platform/resolver.h"
#include "tracerecorder.h"
#include "../support/netfixture.h"
#include "../support/testutil.h"

#include <QElapsedTimer>
#include <gtest/gtest.h>

using namespace std::chrono_literals;

namespace {

using Choice = platform::FamilyChoice;

class Trace6Net : public testnet::NetTest {
protected:
    void TearDown() override
    {
        platform::Lookups().SetRunFamily(Choice::Automatic);
        if (net)
            net->setGaiConf("");
        scope.reset();
    }
};

const QStringList kRoute6 = {"data 11013 1\tRTT\tr1.v6.idlix.test",
                             "data 11013 2\tRTT\tr2.v6.idlix.test"};
const QStringList kRoute4 = {"data 11013 1\tRTT\tr1.idlix.test",
                             "data 11013 2\tRTT\tr2.idlix.test"};

QString Joined(const QStringList &l) { return l.join(QLatin1Char('|')); }

} // namespace

// A name with only an AAAA record: every hop named through ip6.arpa, the
// expected hop count from the hop limit 62 the reply arrives with (the host
// started from 64), in both modes and through both kinds of ICMPv6 socket.
TEST_F(Trace6Net, AaaaOnlyNameInBothModes)
{
    for (bool datagram : {true, false}) {
        ASSERT_TRUE(net->setPingAllowed(datagram));
        for (bool test : {false, true}) {
            for (TWSMode mode : {wsmAsync, wsmBlocking}) {
                SCOPED_TRACE(std::string(ModeName(mode)) + (test ? " with test echo" : "")
                             + (datagram ? " datagram" : " raw"));
                RecordedTrace r(mode);
                TMSTrace &t = r.trace;
                t.SetTimeToLive(64);
                t.SetTimeOut(3000);
                t.SendTestPacket = test;
                ASSERT_TRUE(r.rec.Run("host.v6", 20s)) << Joined(r.rec.events).toStdString();
                QStringList expected = kRoute6;
                expected << "data 0 3\tRTT\thost.v6.idlix.test\treached";
                if (test)
                    expected.prepend("test 3");
                expected << QStringLiteral("finished host.v6.idlix.test reached in 3 hops.")
                                + (test ? " (expected: 3)" : "");
                EXPECT_EQ(Joined(r.rec.events).toStdString(), Joined(expected).toStdString());
                EXPECT_EQ(t.TargetName, "host.v6.idlix.test");
                EXPECT_EQ(t.TargetAddrText, testnet::kHost6);
                EXPECT_EQ(t.HopAddrText, testnet::kHost6);
                EXPECT_EQ(t.DestAddr, 0xFFFFFFFFu);   // no IPv4 address to it
                EXPECT_EQ(t.ReplyIp.family, platform::Family::IPv6);
            }
        }
    }
}

// Literals as people type or paste them: bracketed or not, upper case,
// every group written, blanks around; the target's text is canonical, and a
// link-local router answers from its zone, which its text keeps.
TEST_F(Trace6Net, LiteralsWithAndWithoutBracketsAndZones)
{
    const std::string zoned = std::string(testnet::kRouter1LinkLocal) + "%" + testnet::kClientLink;
    const std::string host = "host.v6.idlix.test";
    struct Case {
        std::string typed;
        std::string addrText;
        std::string name;
        int hops;
    } cases[] = {
        {testnet::kHost6, testnet::kHost6, host, 3},
        {std::string("[") + testnet::kHost6 + "]", testnet::kHost6, host, 3},
        {" [FD00:200:3:0:0:0:0:10] ", testnet::kHost6, host, 3},
        {"FD00:0200:0003:0000:FEDC:BA98:7654:3210", testnet::kLong6, "long.v6.idlix.test", 3},
        // No reverse record for a link-local address: its text names it.
        {zoned, zoned, zoned, 1},
        {"[" + zoned + "]", zoned, zoned, 1},
    };
    for (const Case &c : cases) {
        for (TWSMode mode : {wsmAsync, wsmBlocking}) {
            SCOPED_TRACE(c.typed + " " + ModeName(mode));
            RecordedTrace r(mode);
            r.trace.SendTestPacket = true;
            r.trace.SetTimeToLive(64);
            ASSERT_TRUE(r.rec.Run(QString::fromStdString(c.typed), 20s));
            const QString name = QString::fromStdString(c.name);
            QStringList expected{QStringLiteral("test %1").arg(c.hops)};
            if (c.hops == 3)
                expected << kRoute6;
            expected << QStringLiteral("data 0 %1\tRTT\t%2\treached").arg(c.hops).arg(name)
                     << QStringLiteral("finished %1 reached in %2 hops. (expected: %2)")
                            .arg(name).arg(c.hops);
            EXPECT_EQ(Joined(r.rec.events).toStdString(), Joined(expected).toStdString());
            EXPECT_EQ(r.trace.TargetAddrText.toStdString(), c.addrText);
            EXPECT_EQ(r.trace.HopAddrText.toStdString(), c.addrText);
        }
    }
    // A link-local address without its zone names no single host, and a
    // zone that is no interface here names none either.
    for (const char *typed : {"fe80::1", "fe80::1%nosuch0"}) {
        SCOPED_TRACE(typed);
        RecordedTrace r(wsmAsync);
        ASSERT_TRUE(r.rec.Run(typed, 10s));
        EXPECT_EQ(r.rec.events, QStringList{"error 11001 Authoritative Host not found"});
    }
}

// The hop limit runs out before the target: the last router's "time
// exceeded" ends the run; and what the routers say of hosts they cannot
// reach, with the texts the IPv4 trace gives.
TEST_F(Trace6Net, TimeExceededAndUnreachableHosts)
{
    struct Case {
        const char *host;
        int hopLimit;
        bool test;
        QStringList expected;
    } cases[] = {
        {"host.v6", 2, false,
         kRoute6 + QStringList{"finished r2.v6.idlix.test: TTL expired in transit"}},
        // r2 gives up neighbour discovery after about 3 s: every hop from 3
        // on hears "address unreachable" from it.
        {testnet::kNoHost6, 4, false,
         kRoute6 + QStringList{"data 11003 From r2.v6.idlix.test: Destination host unreachable",
                               "data 11003 From r2.v6.idlix.test: Destination host unreachable",
                               "finished r2.v6.idlix.test: Destination host unreachable"}},
        {testnet::kNoHost6, 64, true, {"error 11003 Destination host unreachable"}},
        // r1 has no route: it says so for every hop.
        {testnet::kNoRoute6, 2, false,
         {"data 11002 r1.v6.idlix.test: Destination net unreachable",
          "data 11002 r1.v6.idlix.test: Destination net unreachable",
          "finished r1.v6.idlix.test: Destination net unreachable"}},
        {testnet::kNoRoute6, 64, true, {"error 11002 Destination net unreachable"}},
        // The quiet host answers nothing.
        {testnet::kQuiet6, 3, false,
         kRoute6 + QStringList{"data 11010 3\t*\ttimed out",
                               "finished quiet.v6.idlix.test: Request timed out"}},
    };
    for (const Case &c : cases) {
        for (TWSMode mode : {wsmAsync, wsmBlocking}) {
            SCOPED_TRACE(std::string(c.host) + " " + ModeName(mode) + " limit "
                         + std::to_string(c.hopLimit));
            RecordedTrace r(mode);
            r.trace.SetTimeToLive(c.hopLimit);
            r.trace.SetTimeOut(5000);
            r.trace.SendTestPacket = c.test;
            ASSERT_TRUE(r.rec.Run(c.host, 30s)) << Joined(r.rec.events).toStdString();
            EXPECT_EQ(Joined(r.rec.events).toStdString(), Joined(c.expected).toStdString());
        }
    }
}

// A name with both families goes the way the address family setting says:
// automatic follows the system's order (/etc/gai.conf), the others keep to
// one family, and a literal of the other family is refused.
TEST_F(Trace6Net, FamilySettingChoosesTheRoute)
{
    const QStringList v6 = kRoute6 + QStringList{"data 0 3\tRTT\thost.v6.idlix.test\treached"};
    const QStringList v4 = kRoute4 + QStringList{"data 0 3\tRTT\thost.idlix.test\treached"};
    struct Case {
        Choice choice;
        const char *gai;
        const char *host;
        const char *target;
        QStringList lines;
    } cases[] = {
        {Choice::Automatic, "", "dual", testnet::kHost6, v6},
        {Choice::Automatic, testnet::TestNet::kPreferIPv4, "dual", testnet::kHost, v4},
        {Choice::IPv4Only, "", "dual", testnet::kHost, v4},
        {Choice::IPv6Only, testnet::TestNet::kPreferIPv4, "dual", testnet::kHost6, v6},
        {Choice::IPv6Only, "", testnet::kHost, "", {"error 10047 Address family not supported"}},
        {Choice::IPv4Only, "", testnet::kHost6, "", {"error 10047 Address family not supported"}},
        // The resolver finds no IPv4 address for the name: as for an unknown one.
        {Choice::IPv4Only, "", "host.v6", "", {"error 11001 Authoritative Host not found"}},
    };
    for (const Case &c : cases) {
        for (TWSMode mode : {wsmAsync, wsmBlocking}) {
            SCOPED_TRACE(std::string(c.host) + " choice " + std::to_string(int(c.choice))
                         + (*c.gai ? " IPv4 first" : "") + " " + ModeName(mode));
            platform::Lookups().SetRunFamily(c.choice);
            ASSERT_TRUE(net->setGaiConf(c.gai));
            RecordedTrace r(mode);
            r.trace.SetTimeToLive(64);
            ASSERT_TRUE(r.rec.Run(c.host, 20s));
            QStringList expected = c.lines;
            if (*c.target)
                expected << "finished " + expected.last().section('\t', 2, 2) + " reached in 3 hops.";
            EXPECT_EQ(Joined(r.rec.events).toStdString(), Joined(expected).toStdString());
            EXPECT_EQ(r.trace.TargetAddrText.toStdString(), c.target);
        }
    }
}

// The client's own loopback: one hop, no name for ::1 in the client's
// hosts file or its name server, the hop limit 64 it answers with giving
// one hop expected.
TEST_F(Trace6Net, Loopback)
{
    for (TWSMode mode : {wsmAsync, wsmBlocking}) {
        SCOPED_TRACE(ModeName(mode));
        RecordedTrace r(mode);
        r.trace.SendTestPacket = true;
        ASSERT_TRUE(r.rec.Run("[::1]", 10s));
        EXPECT_EQ(r.rec.events, (QStringList{"test 1", "data 0 1\tRTT\t::1\treached",
                                             "finished ::1 reached in 1 hops. (expected: 1)"}));
    }
}
