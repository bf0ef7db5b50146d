// The traceroute tool over the test network (client, r1, r2 and the hosts
// behind them, names from the test name server): the panel's lines, status
// texts and gauge in both modes, the errors, Trace pressed again and Cancel
// during a run, the panel closed during a run, and a route longer than its
// estimate. Root only; the window is built inside the client host.
#include "tracetest.h"

#include "widgets/picturebutton.h"
#include "../support/netfixture.h"

#include "platform/resolver.h"
#include "../support/ctl.h"

#include <QAction>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QTimer>

using namespace std::chrono_literals;
using tracetest::Lines;
using tracetest::MaskedLines;

namespace {

class TraceToolNet : public testnet::NetTest {
protected:
    static void SetUpTestSuite()
    {
        NetTest::SetUpTestSuite();
        silentRoute = net && net->ok() && net->addSilentRoute();
    }
    void SetUp() override
    {
        NetTest::SetUp();
        if (!Ready())
            return;
        w = std::make_unique<tracetest::Window>();
        f = w->form.get();
        trc = w->trc;
        watch = std::make_unique<tracetest::Watch>(*f, *trc);
        watchData = trc->MSTrace1->OnData;
        Ctl<TPictureButton>(f, "btn_Trace")->Click();
    }
    void TearDown() override
    {
        watch.reset();
        w.reset();
        scope.reset();
        if (net)
            net->stopResponder();
    }
    // Runs 'action' shortly after hop 'hop' of each trace from now on has
    // been reported (while the next hop's echo is out).
    void AfterHop(int hop, std::function<void()> action)
    {
        trc->MSTrace1->OnData = [this, hop, action](QObject *s, std::int32_t status) {
            watchData(s, status);
            if (trc->MSTrace1->ProbeOptions.Ttl == hop)
                QTimer::singleShot(150, trc, action);
        };
    }

    std::unique_ptr<tracetest::Window> w;
    std::unique_ptr<tracetest::Watch> watch;
    TDataRt watchData;   // the watch's own OnData
    TMainForm *f = nullptr;
    TTraceTool *trc = nullptr;
    static inline bool silentRoute = false;
};

const QStringList kRoute = {"    1\tRTT\tr1.idlix.test", "    2\tRTT\tr2.idlix.test"};

} // namespace

TEST_F(TraceToolNet, RouteLinesStatusesAndGaugeInBothModes)
{
    for (int mode : {0, 1}) {
        SCOPED_TRACE(tracetest::ModeName(mode));
        tracetest::SetOptions(*f, mode, true, 3);
        ASSERT_TRUE(watch->Trace("host"));
        const QString summary = "host.idlix.test reached in 3 hops. (expected: 3)";
        EXPECT_EQ(MaskedLines(trc->re_Trace),
                  (kRoute + QStringList{"    3\tRTT\thost.idlix.test\treached", summary}));
        const QString tracing = "Status: Tracing...  3 hops expected";
        EXPECT_EQ(watch->seen, (QStringList{"test [0/3] " + tracing, "data [1/3] " + tracing,
                                            "data [2/3] " + tracing, "data [3/3] " + tracing,
                                            "finished [3/3] Status: " + summary}));
        EXPECT_TRUE(trc->edt_TrcHost->isEnabled());

        // Without the test echo the gauge stays where the last trace left
        // its range, unmoved until the end.
        Ctl<QCheckBox>(f, "cb_TrcTestPack")->setChecked(false);
        ASSERT_TRUE(watch->Trace("10.200.3.10"));
        EXPECT_EQ(MaskedLines(trc->re_Trace),
                  (kRoute + QStringList{"    3\tRTT\thost.idlix.test\treached",
                                       "host.idlix.test reached in 3 hops."}));
        const QString to = "Status: Tracing to 10.200.3.10";
        EXPECT_EQ(watch->seen, (QStringList{"data [0/3] " + to, "data [0/3] " + to,
                                            "data [0/3] " + to,
                                            "finished [3/3] Status: host.idlix.test reached in 3 hops."}));
    }
}

// Four hops with a router that never answers at the third, the window's own
// 15-second time-out: the lines, the gauge and the status advance hop by hop
// in order, and the silent hop does not hold the trace for its time-out.
TEST_F(TraceToolNet, SilentRouterShowsInHopOrderWithoutItsTimeOut)
{
    ASSERT_TRUE(silentRoute);
    ASSERT_TRUE(testutil::waitFor([] {
        platform::HostEntry e;
        return platform::LookupName("beyond.idlix.test", e) == 0;
    }, 5000ms));
    for (int mode : {0, 1}) {
        SCOPED_TRACE(tracetest::ModeName(mode));
        tracetest::SetOptions(*f, mode, true, 15);
        QElapsedTimer took;
        took.start();
        ASSERT_TRUE(watch->Trace("beyond"));
        EXPECT_LT(took.elapsed(), 5000);
        const QString summary = "beyond.idlix.test reached in 4 hops. (expected: 4)";
        EXPECT_EQ(MaskedLines(trc->re_Trace),
                  (kRoute + QStringList{"    3\t*\ttimed out", "    4\tRTT\tbeyond.idlix.test\treached",
                                       summary}));
        const QString tracing = "Status: Tracing...  4 hops expected";
        EXPECT_EQ(watch->seen, (QStringList{"test [0/4] " + tracing, "data [1/4] " + tracing,
                                            "data [2/4] " + tracing, "data [3/4] " + tracing,
                                            "data [4/4] " + tracing,
                                            "finished [4/4] Status: " + summary}));
        EXPECT_TRUE(trc->edt_TrcHost->isEnabled());
    }
}

TEST_F(TraceToolNet, FailuresLeaveTheErrorLineAndStatus)
{
    const struct {
        const char *host;
        bool test;
        const char *line;
    } cases[] = {
        {"", true, "Error -2147483646: No Address Specified"},
        {"nosuch.idlix.test", true, "Error 11001: Authoritative Host not found"},
        {testnet::kQuiet, true, "Error 11010: Request timed out"},   // the test echo goes unanswered
    };
    for (int mode : {0, 1}) {
        for (const auto &c : cases) {
            SCOPED_TRACE(std::string(c.host) + " " + tracetest::ModeName(mode));
            tracetest::SetOptions(*f, mode, c.test, 1);
            ASSERT_TRUE(watch->Trace(c.host, 10s));
            EXPECT_EQ(Lines(trc->re_Trace), QStringList{c.line});
            EXPECT_EQ(Ctl<QLabel>(f, "StatusLBL")->text(), "Status: Routing halted - Error.");
            EXPECT_TRUE(trc->edt_TrcHost->isEnabled());
            EXPECT_EQ(watch->seen.size(), 1);
        }
    }
    // Hop answers that are not the target's echo reply are lines, not errors.
    tracetest::SetOptions(*f, 0, false, 1);
    trc->MSTrace1->SetTimeToLive(4);   // only here: the window's limit is 64
    ASSERT_TRUE(watch->Trace(testnet::kQuiet, 15s));
    EXPECT_EQ(MaskedLines(trc->re_Trace),
              (kRoute + QStringList{"    3\t*\ttimed out", "    4\t*\ttimed out",
                                   "quiet.idlix.test: Request timed out"}));
    EXPECT_EQ(Ctl<QLabel>(f, "StatusLBL")->text(), "Status: quiet.idlix.test: Request timed out");
}

TEST_F(TraceToolNet, TracePressedAgainDuringARunIsRefusedAndTheRunGoesOn)
{
    // The slow host answers after 800 ms: hop 3 is out when Trace is pressed.
    ASSERT_TRUE(net->startResponder({"--delay", "800"}));
    for (int mode : {0, 1}) {
        SCOPED_TRACE(tracetest::ModeName(mode));
        tracetest::SetOptions(*f, mode, true, 3);
        QStringList atRefusal;
        QStringList statuses;
        AfterHop(2, [&] {
            // The options changed meanwhile must not reach the running trace.
            tracetest::SetOptions(*f, 1 - mode, false, 1);
            Ctl<QSpinBox>(f, "se_TrcBytes")->setValue(100);
            trc->edt_TrcHost->setText("host");
            trc->btn_TrcYes->Click();
            atRefusal = Lines(trc->re_Trace);
            statuses = watch->seen;
            EXPECT_FALSE(trc->edt_TrcHost->isEnabled());
            EXPECT_TRUE(trc->MSTrace1->Busy());
        });
        ASSERT_TRUE(watch->Trace("slow"));
        EXPECT_EQ(atRefusal, QStringList{"Error -2147483388: Already in Progress"});
        ASSERT_EQ(statuses.size(), 4) << statuses.join('|').toStdString();
        // The refused click cleared the gauge as well; the status said what
        // it tried first, then why not.
        EXPECT_EQ(statuses[3], "error [0/3] Status: Routing halted - Error.");
        const QString summary = "slow.idlix.test reached in 3 hops. (expected: 3)";
        EXPECT_EQ(MaskedLines(trc->re_Trace),
                  (QStringList{"Error -2147483388: Already in Progress",
                               "    3\tRTT\tslow.idlix.test\treached", summary}));
        EXPECT_EQ(watch->seen.mid(4), (QStringList{"data [3/3] Status: Routing halted - Error.",
                                                   "finished [3/3] Status: " + summary}));
        EXPECT_EQ(trc->MSTrace1->PacketSize(), 56);
        EXPECT_EQ(trc->MSTrace1->Mode, mode == 0 ? wsmAsync : wsmBlocking);
        EXPECT_GE(Lines(trc->re_Trace)[1].split('\t')[1].toInt(), 800);
        EXPECT_TRUE(trc->edt_TrcHost->isEnabled());
        Ctl<QSpinBox>(f, "se_TrcBytes")->setValue(56);
    }
}

TEST_F(TraceToolNet, CancelWhileAHopIsOut)
{
    ASSERT_TRUE(net->startResponder({"--delay", "800"}));
    for (int mode : {0, 1}) {
        SCOPED_TRACE(tracetest::ModeName(mode));
        tracetest::SetOptions(*f, mode, false, 3);
        QString statusAtCancel;
        bool enabledAtCancel = false;
        AfterHop(2, [&] {
            trc->btn_TrcNo->Click();
            statusAtCancel = Ctl<QLabel>(f, "StatusLBL")->text();
            enabledAtCancel = trc->edt_TrcHost->isEnabled();
        });
        ASSERT_TRUE(watch->Trace("slow"));
        EXPECT_EQ(statusAtCancel, "Status: Routing halted.");
        EXPECT_TRUE(enabledAtCancel);
        EXPECT_EQ(MaskedLines(trc->re_Trace),
                  (kRoute + QStringList{"    <cancel>", "Trace Cancelled after 2 hops."}));
        EXPECT_EQ(Ctl<QLabel>(f, "StatusLBL")->text(), "Status: Trace Cancelled after 2 hops.");
    }
}

TEST_F(TraceToolNet, ClosingThePanelLeavesTheTraceRunning)
{
    ASSERT_TRUE(net->startResponder({"--delay", "800"}));
    tracetest::SetOptions(*f, 0, true, 3);
    AfterHop(2, [&] {
        Ctl<QAction>(f, "TraceRoute1")->trigger();
        EXPECT_TRUE(Ctl<QFrame>(f, "pnl_Trace")->isHidden());
        EXPECT_TRUE(Ctl<QProgressBar>(f, "Gauge1")->isHidden());
        EXPECT_TRUE(trc->re_Trace->toPlainText().isEmpty());
        EXPECT_EQ(Ctl<QLabel>(f, "StatusLBL")->text(), "Status:");
    });
    ASSERT_TRUE(watch->Trace("slow"));
    const QString summary = "slow.idlix.test reached in 3 hops. (expected: 3)";
    EXPECT_EQ(MaskedLines(trc->re_Trace),
              (QStringList{"    3\tRTT\tslow.idlix.test\treached", summary}));
    EXPECT_EQ(Ctl<QLabel>(f, "StatusLBL")->text(), "Status: " + summary);
    EXPECT_TRUE(Ctl<QFrame>(f, "pnl_Trace")->isHidden());
    EXPECT_FALSE(Ctl<QLabel>(f, "img_TrcRed")->isHidden());
}

TEST_F(TraceToolNet, RouteLongerThanItsEstimateKeepsTheGaugeFull)
{
    // Replies leave the slow host with TTL 65 and arrive with 63: that reads
    // as a host two hops away that started from 64.
    ASSERT_TRUE(net->startResponder({"--ttl", "65"}));
    tracetest::SetOptions(*f, 0, true, 3);
    ASSERT_TRUE(watch->Trace("slow"));
    const QString summary = "slow.idlix.test reached in 3 hops. (expected: 2)";
    const QString tracing = "Status: Tracing...  2 hops expected";
    EXPECT_EQ(watch->seen, (QStringList{"test [0/2] " + tracing, "data [1/2] " + tracing,
                                        "data [2/2] " + tracing, "data [2/2] " + tracing,
                                        "finished [2/2] Status: " + summary}));
    EXPECT_EQ(MaskedLines(trc->re_Trace).last(), summary);
}

// Over IPv6, from the panel: a name with only an AAAA record, a literal in
// brackets, and a host with no name at all, whose full address stands in
// the hop column and the summary within the pane's width; the same statuses
// and gauge as over IPv4; an unreachable host ends in the error line.
TEST_F(TraceToolNet, IPv6RoutesWithTheirAddressesWhole)
{
    const QString unnamed = QStringLiteral("fd00:200:3:0:1234:5678:9abc:def0");
    ASSERT_EQ(net->run(testnet::Role::Host,
                       "ip -6 addr replace " + unnamed.toStdString() + "/64 dev eth0 nodad"), 0);
    const QStringList route6 = {"    1\tRTT\tr1.v6.idlix.test", "    2\tRTT\tr2.v6.idlix.test"};
    struct Case {
        QString host;
        QString target;   // the third hop's text and the summary's
    } cases[] = {
        {"host.v6", "host.v6.idlix.test"},
        {QStringLiteral("[%1]").arg(testnet::kLong6), "long.v6.idlix.test"},
        {unnamed, unnamed},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.host.toStdString());
        tracetest::SetOptions(*f, 0, true, 3);
        ASSERT_TRUE(watch->Trace(c.host));
        const QString summary = c.target + " reached in 3 hops. (expected: 3)";
        EXPECT_EQ(MaskedLines(trc->re_Trace),
                  (route6 + QStringList{"    3\tRTT\t" + c.target + "\treached", summary}));
        EXPECT_EQ(watch->seen.last(), "finished [3/3] Status: " + summary);
        // Every line within the pane: no part of an address needs scrolling.
        EXPECT_LE(trc->re_Trace->document()->idealWidth(), trc->re_Trace->viewport()->width());
    }
    tracetest::SetOptions(*f, 0, true, 5);
    ASSERT_TRUE(watch->Trace(testnet::kNoHost6));
    EXPECT_EQ(Lines(trc->re_Trace), QStringList{"Error 11003: Destination host unreachable"});
    EXPECT_EQ(Ctl<QLabel>(f, "StatusLBL")->text(), "Status: Routing halted - Error.");
    net->run(testnet::Role::Host, "ip -6 addr del " + unnamed.toStdString() + "/64 dev eth0");
}
