// The history of real sessions on the test network: a host whose echoes a
// firewall rule in its own namespace drops for a while (one outage, begun
// and ended by the right probes, N and M honoured), and the delaying echo
// responder giving known round trips for the jitter of each server of a
// cycle; the address a failed transfer tried kept in the export, and an echo
// the machine's firewall forbids kept apart from the line. Round trips are
// measured: CTest runs this file alone (RUN_SERIAL).
#include "historytest.h"
#include "recordednet.h"

#include "config/options.h"
#include "history/historycalc.h"
#include "history/historyrecorder.h"
#include "history/rfc3339.h"
#include "session/antiidlesession.h"
#include "session/webclient.h"
#include "../support/netfixture.h"
#include "../support/qtprint.h"
#include "../support/scriptserver.h"
#include "../support/sessionaccess.h"
#include "../support/testutil.h"

#include <QDateTime>
#include <QFile>
#include <QStandardPaths>
#include <QTimer>
#include <gtest/gtest.h>

using namespace history;
using namespace std::chrono_literals;
using testnet::Role;
using testsupport::Script;
using testsupport::ScriptServer;

namespace {

constexpr int kTimeoutMs = 300;      // the echo's time-out in these sessions
constexpr int kIntervalMs = 400;     // Timer3 where the test lets it run

TUs Now() { return QDateTime::currentMSecsSinceEpoch() * kUsPerMs; }

class HistoryNet : public historytest::TRecordedNet {
protected:
    void SetUp() override
    {
        NetTest::SetUp();
        if (Ready())
            SetUpSession(3, 2, kTimeoutMs);
    }
    std::vector<TProbeRow> Probes()
    {
        std::vector<TProbeRow> out;
        store.ReadProbes({0, 1LL << 62}, [&](const TProbeRow &p) { out.push_back(p); return true; });
        return out;
    }
};

} // namespace

TEST_F(HistoryNet, EchoesDroppedForAWhileMakeOneOutageBoundedByTheDrop)
{
    options.AntiIdle.Host = testnet::kHost;
    ASSERT_TRUE(engine->Start());
    Inside(engine).Timer3->setInterval(kIntervalMs);
    ASSERT_TRUE(testutil::waitFor([&] { return Probes().size() >= 3; }, 10s));

    ASSERT_NO_FATAL_FAILURE(Drop(true));
    const TUs dropStart = Now();
    testutil::pump(3s);
    ASSERT_NO_FATAL_FAILURE(Drop(false));
    const TUs dropEnd = Now();
    ASSERT_TRUE(testutil::waitFor([&] {
        int after = 0;
        for (const TProbeRow &p : Probes())
            after += p.At > dropEnd && p.Ok();
        return after >= 3;
    }, 10s));
    engine->Stop();

    const std::vector<TOutageRow> outages = store.Outages({0, 1LL << 62});
    ASSERT_EQ(outages.size(), 1u) << "one outage, not two";
    const TOutageRow &o = outages[0];
    ASSERT_TRUE(o.End.has_value());
    // A probe goes out at least once an interval, and a lost one is known
    // lost a time-out later: both ends lie within that of the drop's.
    const TUs slack = (kIntervalMs + kTimeoutMs + 150) * kUsPerMs;
    EXPECT_GE(o.Start, dropStart);
    EXPECT_LE(o.Start, dropStart + slack);
    EXPECT_GE(*o.End, dropEnd);
    EXPECT_LE(*o.End, dropEnd + slack);
    EXPECT_EQ(o.EndedBy, "up");
    EXPECT_EQ(o.FirstOutcome, TProbeOutcome::Timeout);
    EXPECT_EQ(o.Hosts, testnet::kHost);

    // The outage starts at the first lost probe and ends at the first answer;
    // every probe between was lost and counted.
    const std::vector<TProbeRow> probes = Probes();
    int lost = 0;
    bool sawStart = false, sawEnd = false;
    for (const TProbeRow &p : probes) {
        sawStart |= p.At == o.Start && !p.Ok();
        sawEnd |= p.At == *o.End && p.Ok();
        if (p.At >= o.Start && p.At < *o.End) {
            EXPECT_FALSE(p.Ok()) << Rfc3339(p.At).toStdString();
            ++lost;
        }
    }
    EXPECT_TRUE(sawStart);
    EXPECT_TRUE(sawEnd);
    EXPECT_EQ(o.ProbesLost, lost);
    EXPECT_GE(lost, 3);
}

TEST_F(HistoryNet, ShortDropsAndOneAnswerInTheMiddleAreNoSecondOutage)
{
    options.AntiIdle.Host = testnet::kHost;
    ASSERT_TRUE(engine->Start());                  // ok
    // Each step: the firewall's state, then one tick of the session.
    const std::vector<bool> drops = {
        true, true,                // two lost: fewer than DownAfter, no outage
        false,                     // answered
        true, true, true,          // three lost: the line is down
        false,                     // one answer, fewer than UpAfter
        true,                      // lost again: still the same outage
        false, false,              // two answers: up
        false,
    };
    for (bool drop : drops) {
        if (drop != dropping) {
            ASSERT_NO_FATAL_FAILURE(Drop(drop));
        }
        engine->Tick();
    }
    engine->Stop();

    const std::vector<TProbeRow> probes = Probes();
    ASSERT_EQ(probes.size(), drops.size() + 1);
    for (size_t i = 0; i < drops.size(); ++i)
        EXPECT_EQ(probes[i + 1].Ok(), !drops[i]) << i;
    const std::vector<TOutageRow> outages = store.Outages({0, 1LL << 62});
    ASSERT_EQ(outages.size(), 1u);
    EXPECT_EQ(outages[0].Start, probes[4].At);        // first of the three lost in a row
    EXPECT_EQ(outages[0].End, probes[9].At);          // first of the two answers in a row
    EXPECT_EQ(outages[0].ProbesLost, 4);
}

TEST_F(HistoryNet, JitterOfEachServerOfACycleFromKnownRoundTrips)
{
    // The slow host answers after 40, 140, 90 ms in turn; the host at once.
    // Along the slow host's own probes the differences are 100, 50, 50, 100,
    // 50: a jitter of 70 ms. Taken across the rotation it would be about 100.
    ASSERT_TRUE(net->startResponder({"--delays", "40,140,90"}));
    QFile list(dir.file("Servers.dat"));
    ASSERT_TRUE(list.open(QIODevice::WriteOnly));
    list.write(QByteArray(testnet::kSlow) + "\r\n" + testnet::kHost + "\r\n");
    list.close();
    options.AntiIdle.Options[config::TAntiIdleOptions::CycleServerList] = true;
    ASSERT_TRUE(engine->Start());
    for (int i = 0; i < 11; ++i)
        engine->Tick();
    engine->Stop();

    TTargetStats stats;
    for (const TProbeRow &p : Probes())
        stats.Add(p);
    const std::vector<TTargetRow> rows = stats.Rows();
    ASSERT_EQ(rows.size(), 2u);
    const TTargetRow &host = rows[0].Host == testnet::kHost ? rows[0] : rows[1];
    const TTargetRow &slow = rows[0].Host == testnet::kSlow ? rows[0] : rows[1];
    EXPECT_EQ(slow.Probes, 6);
    EXPECT_EQ(slow.Lost, 0);
    ASSERT_TRUE(slow.Jitter.has_value());
    EXPECT_NEAR(*slow.Jitter, 70.0, 8.0);
    EXPECT_NEAR(slow.Min, 40, 8);
    EXPECT_NEAR(slow.Max, 140, 8);
    EXPECT_NEAR(slow.Average, 90.0, 8.0);
    EXPECT_EQ(host.Probes, 6);
    ASSERT_TRUE(host.Jitter.has_value());
    EXPECT_LT(*host.Jitter, 5.0);
}

TEST_F(HistoryNet, FailedTransfersKeepTheAddressTriedInTheExport)
{
    // Port 82 of the host drops what comes in: the watchdog ends that one.
    ASSERT_EQ(net->run(Role::Host, "nft add table inet idlixweb && nft 'add chain inet idlixweb input { type "
                                   "filter hook input priority 0 ; }' && nft add rule inet idlixweb input tcp "
                                   "dport 82 drop"), 0);
    const QString noRoute = QStringLiteral("%1:80").arg(testnet::kNoRoute);
    // server,address,outcome of each probe, as exported.
    const QStringList want = {"host.idlix.test:82,10.200.3.10,http,timeout",
                              "host.idlix.test:81,10.200.3.10,http,refused",
                              noRoute + ",10.200.9.9,http,unreachable", "nosuch.idlix.test,,http,lookup-failed"};
    QStringList servers;
    for (const QString &w : want)
        servers << w.section(',', 0, 0);
    testutil::writeFile(dir.file("Servers.dat"), (servers.join("\r\n") + "\r\n").toLatin1());
    options.AntiIdle.Method = config::TAntiIdleOptions::HttpGets;
    options.AntiIdle.Options[config::TAntiIdleOptions::CycleServerList] = true;
    engine->Web().HttpWatchdogMs = 800;
    ASSERT_TRUE(engine->Start());
    for (int i = 1; i < want.size(); ++i)
        engine->Tick();
    engine->Stop();
    net->run(Role::Host, "nft delete table inet idlixweb");

    QStringList got;
    for (const QString &line : historytest::CsvLines(store, TExportKind::Probes))
        got << line.section(',', 1, 4);
    EXPECT_EQ(got, want);
}

// A firewall of this machine that lets no echo out (the kernel refuses the
// send): an HTTP session's opening echo is kept as not permitted, and with
// the line down after one lost probe it takes the line neither down nor
// costs uptime.
TEST_F(HistoryNet, AnEchoTheFirewallForbidsIsNotPermittedAndNoLostProbe)
{
    ASSERT_EQ(net->run(Role::Client, "nft add table inet idlixout && nft 'add chain inet idlixout output { type "
                                     "filter hook output priority 0 ; }' && nft add rule inet idlixout output "
                                     "icmp type echo-request drop"), 0);
    ScriptServer web(std::vector<Script>(2, Script().readRequest().send("HTTP/1.0 200 OK\r\n\r\nup")));
    options.AntiIdle.Method = config::TAntiIdleOptions::HttpGets;
    // The host as typed; the web server answers as its proxy, on a port of its own.
    options.AntiIdle.Host = options.Proxy.Server = QStringLiteral("127.0.0.1");
    options.Proxy.Port = QString::number(web.port());
    options.History.DownAfter = 1;
    ASSERT_TRUE(engine->Start());
    engine->Tick();
    engine->Tick();
    engine->Stop();
    net->run(Role::Client, "nft delete table inet idlixout");

    QStringList got;
    for (const QString &line : historytest::CsvLines(store, TExportKind::Probes))
        got << line.section(',', 3, 4);
    EXPECT_EQ(got, (QStringList{"echo,not-permitted", "http,ok", "http,ok"}));
    EXPECT_TRUE(store.Outages({0, 1LL << 62}).empty());
    EXPECT_EQ(engine->Stats().Rows().at(0).Failures, 1);   // the report counts it, as it always did
}
