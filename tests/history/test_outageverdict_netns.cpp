// Why the line was down, in the history: a session on the test network
// whose router drops everything for a while leaves one outage whose verdict
// and evidence are in the file while it lasts and after it ended, and in
// both exports. Root only.
#include "historytest.h"
#include "recordednet.h"

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

class OutageVerdictNet : public historytest::TRecordedNet {
protected:
    void SetUp() override
    {
        NetTest::SetUp();
        if (!Ready())
            return;
        SetUpSession(1, 1, 300);
        if (!engine)
            return;
        engine->Diagnosis().SetEnabled(true);
    }
    void TearDown() override
    {
        if (net && routerDropping)
            net->dropEverything(Role::R1, false);
        TRecordedNet::TearDown();
    }
    std::vector<TOutageRow> Outages() { return store.Outages({0, 1LL << 62}); }
    QByteArray Export(TExportFormat format)
    {
        QByteArray all;
        ExportHistory(store, TExportKind::Outages, format, {0, 1LL << 62},
                      [&](const QByteArray &piece) { all += piece; return true; });
        return all;
    }

    bool routerDropping = false;
};

} // namespace

TEST_F(OutageVerdictNet, TheOutageCarriesItsVerdictWhileOpenAndOnceEnded)
{
    if (!Ready())
        return;
    ASSERT_TRUE(engine->Start());
    ASSERT_TRUE(testutil::waitFor([&] { return engine->Link().Link() == TLinkMonitor::TLink::Up; }, 10s));

    ASSERT_TRUE(net->dropEverything(Role::R1, true));
    routerDropping = true;
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
    routerDropping = false;
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
