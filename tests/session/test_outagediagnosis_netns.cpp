// A session's outages diagnosed on the test network: the second hop made
// to blackhole everything takes the line down, the verdict lands on the
// outage and is checked again while the line stays down, and once more when
// it comes back. Root only.
#include "recorder.h"

#include "config/options.h"
#include "../support/netfixture.h"
#include "../support/sessionaccess.h"
#include "../support/testutil.h"

#include <QFile>
#include <QRegularExpression>
#include <gtest/gtest.h>

using namespace std::chrono_literals;
using sessiontest::TRecorder;

namespace {

struct TDiagnosedRecorder : TRecorder {
    struct TSeen {
        QString verdict, evidence;
        bool down;                   // told with the outage under way
        QString outageVerdict;       // what that outage carried
    };
    std::vector<TSeen> diagnosed;
    std::vector<TOutage> ups;

    void Diagnosed(const diagnosis::TDiagnosisResult &r, const std::optional<TOutage> &outage) override
    {
        diagnosed.push_back({diagnosis::VerdictName(r.Verdict), r.Evidence, bool(outage),
                             outage ? outage->Verdict : QString()});
    }
    void LinkUp(const TOutage &o) override
    {
        TRecorder::LinkUp(o);
        ups.push_back(o);
    }
};

// Echoes once a minute (the test ticks), the line down after one lost
// probe and up after one answer: to the host, or over the server list.
config::TOptions Options(const char *host)
{
    config::TOptions options;
    options.AntiIdle.Frequency = QStringLiteral("1");
    options.AntiIdle.Method = config::TAntiIdleOptions::IcmpPings;
    if (host)
        options.AntiIdle.Host = host;
    else
        options.AntiIdle.Options[config::TAntiIdleOptions::CycleServerList] = true;
    options.History.DownAfter = 1;
    options.History.UpAfter = 1;
    return options;
}

// The session started with its diagnosis on, its first probe answered.
void StartWatched(TAntiIdleSession &engine, TDiagnosedRecorder &rec)
{
    Inside(engine).Ping2->SetTimeout(300);
    engine.AddObserver(&rec);
    engine.Diagnosis().SetEnabled(true);
    ASSERT_TRUE(engine.Start());
    ASSERT_TRUE(testutil::waitFor([&] { return rec.results.size() >= 1; }, 10s));
}

using OutageDiagnosisNet = testnet::NetTest;

TEST_F(OutageDiagnosisNet, VerdictOnTheOutageRecheckedWhileDownAndOnceAtTheEnd)
{
    if (!Ready())
        return;
    testutil::ScratchDir dir;   // the session log goes here
    const config::TOptions options = Options(testnet::kHost);
    TDiagnosedRecorder rec;
    TAntiIdleSession engine(options);
    ASSERT_NO_FATAL_FAILURE(StartWatched(engine, rec));
    ASSERT_TRUE(rec.diagnosed.empty()) << "nothing is diagnosed while the line is up";

    ASSERT_TRUE(net->dropEverything(testnet::Role::R2, true));
    engine.Tick();
    ASSERT_TRUE(testutil::waitFor([&] { return rec.results.size() >= 2; }, 10s));
    ASSERT_EQ(engine.Link().Link(), TLinkMonitor::TLink::Down);
    // The verdict at the down edge, then a re-check a second after it.
    ASSERT_TRUE(testutil::waitFor([&] { return rec.diagnosed.size() >= 2; }, 10s));
    for (const auto &seen : rec.diagnosed) {
        EXPECT_TRUE(seen.down);
        EXPECT_EQ(seen.verdict, "provider") << seen.evidence.toStdString();
        EXPECT_EQ(seen.outageVerdict, "provider");
    }
    EXPECT_EQ(engine.Link().Current()->Verdict, "provider");
    EXPECT_TRUE(engine.Link().Current()->Evidence.startsWith("The router 10.200.1.1 answers in"));
    // 1 s before the second check, 2 s before the third, then 4 s.
    EXPECT_EQ(engine.Diagnosis().NextPauseMs(), 4000);

    ASSERT_TRUE(net->dropEverything(testnet::Role::R2, false));
    engine.Tick();
    ASSERT_TRUE(testutil::waitFor([&] { return !rec.ups.empty(); }, 10s));
    EXPECT_EQ(rec.ups[0].Verdict, "provider") << "the outage keeps its verdict";
    const std::size_t whileDown = std::count_if(rec.diagnosed.begin(), rec.diagnosed.end(),
                                                [](const auto &s) { return s.down; });
    ASSERT_TRUE(testutil::waitFor([&] { return rec.diagnosed.size() > whileDown; }, 10s));
    testutil::pump(3s);
    ASSERT_EQ(rec.diagnosed.size(), whileDown + 1) << "one check once the line is back, no more";
    EXPECT_FALSE(rec.diagnosed.back().down);
    EXPECT_EQ(rec.diagnosed.back().verdict, "unknown");
    EXPECT_TRUE(rec.diagnosed.back().evidence.startsWith("Everything answers now"));
    engine.Stop();
    engine.RemoveObserver(&rec);
}

TEST_F(OutageDiagnosisNet, InACycleOneSilentServerIsNotTheLine)
{
    if (!Ready())
        return;
    // The cycle: the host answers, then the second server's probe fails.
    const struct {
        const char *name;
        const char *second;              // the server whose probe fails
        bool routerDark;                 // r1 drops everything before it
        bool lineDown;
        const char *verdict;             // of the outage, when the line went down
        const char *line;                // the start of a history line said instead
    } cases[] = {
        {"only the quiet server", "quiet.idlix.test", false, false, nullptr,
         "Only quiet.idlix.test does not answer; the line is up. 10.200.3.20 does not answer; 10.200.3.10 does ("},
        {"the router gone dark", "host.idlix.test", true, true, "gateway", nullptr},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        testutil::ScratchDir dir;
        QFile list(dir.file("Servers.dat"));
        ASSERT_TRUE(list.open(QIODevice::WriteOnly));
        list.write(QByteArray("host.idlix.test\r\n") + c.second + "\r\n");
        list.close();
        const config::TOptions options = Options(nullptr);
        TDiagnosedRecorder rec;
        TAntiIdleSession engine(options);
        ASSERT_NO_FATAL_FAILURE(StartWatched(engine, rec));
        if (c.routerDark) {
            ASSERT_TRUE(net->dropEverything(testnet::Role::R1, true));
        }
        engine.Tick();
        const bool settled = testutil::waitFor([&] {
            return engine.Link().Link() == TLinkMonitor::TLink::Down || rec.events.filter("line Only").size() > 0;
        }, 10s);
        if (c.routerDark) {
            EXPECT_TRUE(net->dropEverything(testnet::Role::R1, false));
        }
        ASSERT_TRUE(settled) << rec.events.join("\n").toStdString();
        EXPECT_FALSE(engine.Link().Pending());
        const QStringList downs = rec.events.filter("link down");
        EXPECT_EQ(downs.size(), c.lineDown ? 1 : 0) << rec.events.join("\n").toStdString();
        if (c.lineDown) {
            ASSERT_TRUE(engine.Link().Current());
            EXPECT_EQ(engine.Link().Current()->Verdict, c.verdict);
            ASSERT_FALSE(rec.diagnosed.empty());
            EXPECT_EQ(rec.diagnosed[0].outageVerdict, c.verdict);
        } else {
            EXPECT_EQ(engine.Link().Link(), TLinkMonitor::TLink::Up);
            const QStringList said = rec.events.filter("line Only");
            ASSERT_EQ(said.size(), 1);
            EXPECT_TRUE(said[0].startsWith(QStringLiteral("line ") + c.line)) << said[0].toStdString();
            EXPECT_TRUE(rec.diagnosed.empty()) << "no outage to tell of";
            // The checks stopped with it.
            testutil::pump(2500ms);
            EXPECT_TRUE(rec.diagnosed.empty());
        }
        engine.Stop();
        engine.RemoveObserver(&rec);
    }
}

TEST_F(OutageDiagnosisNet, TimeBehindACaptivePortalIsNotDown)
{
    if (!Ready())
        return;
    const pid_t portal =
        net->startNginx(testnet::Role::Host, "redirect:http://portal.idlix.test/login", 8080, testnet::Listen::V4);
    ASSERT_GT(portal, 0);
    testutil::ScratchDir dir;
    const config::TOptions options = Options(testnet::kHost);
    TDiagnosedRecorder rec;
    TAntiIdleSession engine(options);
    ASSERT_NO_FATAL_FAILURE(StartWatched(engine, rec));

    // The router hands the client's web requests to the portal and lets
    // nothing else through.
    ASSERT_EQ(net->run(testnet::Role::R1,
                       "nft add table ip idxportal && "
                       "nft 'add chain ip idxportal pre { type nat hook prerouting priority -100 ; }' && "
                       "nft add rule ip idxportal pre iifname eth0 tcp dport 80 dnat to 10.200.3.10:8080 && "
                       "nft 'add chain ip idxportal through { type filter hook forward priority 0 ; }' && "
                       "nft add rule ip idxportal through iifname eth0 ip daddr 10.200.3.10 tcp dport 8080 accept && "
                       "nft add rule ip idxportal through iifname eth0 drop"),
              0);
    engine.Tick();
    const bool captive = testutil::waitFor([&] { return rec.events.contains("paused captive"); }, 10s);
    const int lostBehind = int(rec.results.size());
    engine.Tick();   // probes wait while captive: nothing is sent, nothing lost
    EXPECT_EQ(int(rec.results.size()), lostBehind);
    // The portal lets go: the next check sees it and the probes resume.
    EXPECT_EQ(net->run(testnet::Role::R1, "nft delete table ip idxportal"), 0);
    const bool resumed = testutil::waitFor([&] { return rec.events.contains("resumed"); }, 10s);
    testnet::TestNet::stopNginx(portal);
    ASSERT_TRUE(captive) << rec.events.join("\n").toStdString();
    ASSERT_TRUE(resumed) << rec.events.join("\n").toStdString();
    ASSERT_FALSE(rec.diagnosed.empty());
    EXPECT_EQ(rec.diagnosed[0].verdict, "portal");
    EXPECT_EQ(rec.diagnosed[0].evidence,
              "A login page answers for 10.200.3.10: http://portal.idlix.test/login (HTTP 302).");
    // The outage ended where the portal was found, as the probes stopped.
    const QStringList link = rec.events.filter(QRegularExpression("^(link|paused|unwatched|resumed|line The portal)"));
    ASSERT_EQ(link.size(), 5) << link.join("\n").toStdString();
    EXPECT_EQ(link[0], "link down, 1 lost");
    EXPECT_EQ(link[1], "paused captive");
    EXPECT_EQ(link[2], "unwatched, outage open");
    EXPECT_TRUE(link[3].startsWith("line The portal lets traffic through: probes resume.")) << link[3].toStdString();
    EXPECT_EQ(link[4], "resumed");
    engine.Tick();
    ASSERT_TRUE(testutil::waitFor([&] { return engine.Link().Link() == TLinkMonitor::TLink::Up; }, 10s));
    engine.Stop();
    engine.RemoveObserver(&rec);
}

} // namespace

namespace {

// One server probed, silent; the anchors the user named answer or not.
TEST_F(OutageDiagnosisNet, AnAnchorThatAnswersPinsItOnTheTarget)
{
    if (!Ready())
        return;
    const struct {
        const char *name;
        QStringList anchors;
        const char *verdict;    // of the outage; nullptr: anything but "target"
        const char *evidence;   // its start
    } cases[] = {
        {"an anchor by name", {"host.idlix.test"}, "target", "10.200.3.20 does not answer; 10.200.3.10 does ("},
        {"an anchor by address", {testnet::kHost}, "target", "10.200.3.20 does not answer; 10.200.3.10 does ("},
        // An anchor the resolver does not know is not asked, so nothing
        // answers past the router but the target could: no "target".
        {"an anchor nobody knows", {"nowhere.idlix.test"}, nullptr, nullptr},
        {"no anchors", {}, nullptr, nullptr},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        testutil::ScratchDir dir;
        config::TOptions options = Options("quiet.idlix.test");
        options.Diagnosis.Anchors = c.anchors;
        // Down at the second lost probe: the anchors' names are looked up as
        // the session starts, long before an outage as a rule.
        options.History.DownAfter = 2;
        TDiagnosedRecorder rec;
        TAntiIdleSession engine(options);
        ASSERT_NO_FATAL_FAILURE(StartWatched(engine, rec));
        testutil::pump(300ms);
        engine.Tick();
        ASSERT_TRUE(testutil::waitFor([&] { return !rec.diagnosed.empty(); }, 15s));
        const auto &seen = rec.diagnosed[0];
        EXPECT_TRUE(seen.down);
        if (c.verdict) {
            EXPECT_EQ(seen.outageVerdict, c.verdict) << seen.evidence.toStdString();
            EXPECT_TRUE(seen.evidence.startsWith(c.evidence)) << seen.evidence.toStdString();
        } else {
            EXPECT_NE(seen.outageVerdict, "target") << seen.evidence.toStdString();
            EXPECT_FALSE(seen.evidence.contains(testnet::kHost)) << seen.evidence.toStdString();
        }
        engine.Stop();
        engine.RemoveObserver(&rec);
    }
}

} // namespace
