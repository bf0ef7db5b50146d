// Why the line was down, in the history: a session on the test network
// whose router drops everything for a while leaves one outage whose verdict
// and evidence are in the file while it lasts and after it ended, and in
// both exports. Root only.
#include "historytest.h"

#include "config/options.h"
#include "history/historyrecorder.h"
#include "session/antiidlesession.h"
#include "../support/netfixture.h"
#include "../support/sessionaccess.h"
#include "../support/testutil.h"

#include <QStandardPaths>
#include <gtest/gtest.h>

using namespace history;
using namespace std::chrono_literals;
using testnet::Role;

namespace {

class OutageVerdictNet : public testnet::NetTest {
protected:
    void SetUp() override
    {
        NetTest::SetUp();
        if (!Ready())
            return;
        if (QStandardPaths::findExecutable("nft").isEmpty())
            GTEST_SKIP() << "nft is not installed (scripts/deps.sh test installs nftables)";
        ASSERT_TRUE(store.Open(THistoryStore::DefaultPath()));
        options.AntiIdle.Method = config::TAntiIdleOptions::IcmpPings;
        options.AntiIdle.Frequency = "1";
        options.AntiIdle.Host = testnet::kHost;
        options.History.DownAfter = 1;
        options.History.UpAfter = 1;
        engine = std::make_unique<TAntiIdleSession>(options);
        Inside(engine).Ping2->SetTimeout(300);
        engine->Diagnosis().SetEnabled(true);
        recorder = std::make_unique<THistoryRecorder>(*engine, store);
    }
    void TearDown() override
    {
        recorder.reset();
        engine.reset();
        if (net && dropping)
            net->dropEverything(Role::R1, false);
        NetTest::TearDown();
    }
    std::vector<TOutageRow> Outages() { return store.Outages({0, 1LL << 62}); }
    QByteArray Export(TExportFormat format)
    {
        QByteArray all;
        ExportHistory(store, TExportKind::Outages, format, {0, 1LL << 62},
                      [&](const QByteArray &piece) { all += piece; return true; });
        return all;
    }

    testutil::ScratchDir dir;   // the history and the session log go here
    config::TOptions options;
    THistoryStore store;
    std::unique_ptr<TAntiIdleSession> engine;
    std::unique_ptr<THistoryRecorder> recorder;
    bool dropping = false;
};

} // namespace

TEST_F(OutageVerdictNet, TheOutageCarriesItsVerdictWhileOpenAndOnceEnded)
{
    if (!Ready())
        return;
    ASSERT_TRUE(engine->Start());
    ASSERT_TRUE(testutil::waitFor([&] { return engine->Link().Link() == TLinkMonitor::TLink::Up; }, 10s));

    ASSERT_TRUE(net->dropEverything(Role::R1, true));
    dropping = true;
    engine->Tick();
    ASSERT_TRUE(testutil::waitFor([&] { return engine->Link().Link() == TLinkMonitor::TLink::Down; }, 10s));
    ASSERT_TRUE(testutil::waitFor([&] {
        const auto rows = Outages();
        return rows.size() == 1 && !rows[0].Verdict.isEmpty();
    }, 10s));
    const QString evidence = "The router 10.200.1.1 does not answer (no echo in 1 s).";
    {
        const auto rows = Outages();
        EXPECT_FALSE(rows[0].End.has_value()) << "still down";
        EXPECT_EQ(rows[0].Verdict, "gateway");
        EXPECT_EQ(rows[0].Evidence, evidence);
    }
    // The route at its start: nothing answers from the router on.
    ASSERT_TRUE(testutil::waitFor([&] { return !Outages()[0].Route.isEmpty(); }, 8s));
    EXPECT_TRUE(Outages()[0].Route.startsWith(R"([{"address":null,"hop":1,"ms":null,"name":null},)"))
        << Outages()[0].Route.toStdString();

    ASSERT_TRUE(net->dropEverything(Role::R1, false));
    dropping = false;
    engine->Tick();
    ASSERT_TRUE(testutil::waitFor([&] { return engine->Link().Link() == TLinkMonitor::TLink::Up; }, 10s));
    // The check once the line is back says it answers again; the outage keeps
    // what was found while it lasted.
    testutil::pump(2500ms);
    const auto rows = Outages();
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_TRUE(rows[0].End.has_value());
    EXPECT_EQ(rows[0].Verdict, "gateway");
    EXPECT_EQ(rows[0].Evidence, evidence);
    EXPECT_TRUE(Export(TExportFormat::Csv).contains((",up,gateway," + evidence + "\r\n").toUtf8()))
        << Export(TExportFormat::Csv).toStdString();
    EXPECT_TRUE(Export(TExportFormat::Ndjson).contains(
        ("\"verdict\":\"gateway\",\"evidence\":\"" + evidence + "\",\"route\":[{\"address\":null,\"hop\":1,").toUtf8()))
        << Export(TExportFormat::Ndjson).toStdString();
    engine->Stop();
}
