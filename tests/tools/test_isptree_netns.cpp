// The ISP tree against the test name server: scans of a /24 block with a few
// named addresses, in address order; Cancel, Close and Map during a scan,
// counted at the name server; the saved file of a real scan; and a name
// server that does not answer. Root only.
#include "lookuptools.h"
#include "../support/netfixture.h"

#include "platform/lookupservice.h"
#include "platform/resolver.h"
#include "widgets/picturebutton.h"
#include "../support/ctl.h"

#include <QElapsedTimer>
#include <QFileDialog>
#include <QLineEdit>
#include <QProgressBar>
#include <QSet>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <utility>
#include <vector>

using namespace std::chrono_literals;
using lookuptest::Nodes;
using State = TISPTree::TMapState;

namespace {

// Named addresses of 10.200.3.0/24: the plan's hosts, plus the first and the
// last address of the block.
const QStringList kBlock3 = {
    "gw.idlix.test (10.200.3.1)",     "host.idlix.test (10.200.3.10)",
    "quiet.idlix.test (10.200.3.20)", "slow.idlix.test (10.200.3.30)",
    "ns.idlix.test (10.200.3.53)",    "edge.idlix.test (10.200.3.255)",
};
// 10.200.2.0/24, between the routers: three named addresses.
const QStringList kBlock2 = {
    "r1-east.idlix.test (10.200.2.1)", "r2.idlix.test (10.200.2.2)",
    "far.idlix.test (10.200.2.200)",
};

QStringList Block(const QString &prefix, int last)
{
    QStringList out;
    for (int n = 1; n <= last; ++n)
        out << prefix + QString::number(n);
    return out;
}

// The questions for a block's addresses: each address once, and in address
// order as far as threads let them leave: none more than the lookups that
// may be out at once away from its place. 'last' is the highest address
// that must have been asked, 'most' the highest that may have been.
void ExpectAskedInOrder(const QStringList &asked, const QString &prefix, int last, int most)
{
    QList<int> octets;
    for (const QString &a : asked) {
        ASSERT_TRUE(a.startsWith(prefix)) << a.toStdString();
        octets << a.mid(prefix.size()).toInt();
    }
    QList<int> sorted = octets;
    std::sort(sorted.begin(), sorted.end());
    ASSERT_GE(sorted.size(), last);
    ASSERT_LE(sorted.size(), most);
    for (int i = 0; i < sorted.size(); ++i)
        ASSERT_EQ(sorted[i], i + 1) << "each address once, from .1 on";
    for (int i = 0; i < octets.size(); ++i)
        EXPECT_LT(std::abs(octets[i] - (i + 1)), TISPTree::kLookupsInFlight)
            << prefix.toStdString() << octets[i] << " asked in place " << i + 1;
}

// The last octet of a node's address.
int LastOctet(const QString &node)
{
    return node.section(QLatin1Char('.'), -1).chopped(1).toInt();
}

class ISPTreeNet : public lookuptest::LookupNetTest {
protected:
    static void SetUpTestSuite()
    {
        LookupNetTest::SetUpTestSuite();
        if (net && net->ok())
            named = net->addName("10.200.3.1", "gw.idlix.test")
                    && net->addName("10.200.3.255", "edge.idlix.test")
                    && net->addName("10.200.2.1", "r1-east.idlix.test")
                    && net->addName("10.200.2.200", "far.idlix.test");
    }
    void SetUp() override
    {
        LookupNetTest::SetUp();
        if (!Ready())
            return;
        ASSERT_TRUE(named);
        // dnsmasq rereads its records after the signal: wait until it has.
        ASSERT_TRUE(testutil::waitFor([] {
            platform::HostEntry e;
            return platform::LookupAddr(platform::InetAddr("10.200.2.200"), e) == 0;
        }, 5000ms));
        isp = w->isp;
        Ctl<QAction>(f, "ISPTree1")->trigger();
        // Every change of the gauge, with the status line at that moment.
        QObject::connect(Ctl<QProgressBar>(f, "Gauge1"), &QProgressBar::valueChanged, [this](int v) {
            progress.emplace_back(v, Ctl<QLabel>(f, "StatusLBL")->text());
            nodesAt.push_back(int(isp->tv_ISP->topLevelItemCount()));
            if (onProgress)
                onProgress(v);
        });
    }
    void TearDown() override
    {
        platform::Lookups().SetRunFamily(platform::FamilyChoice::Automatic);
        if (net) {
            net->stopDnsDelay();
            net->setGaiConf("");
        }
        LookupNetTest::TearDown();
    }
    void Map(const QString &host)
    {
        isp->edt_ISPHost->setText(host);
        isp->btn_ISPMap->Click();
    }
    bool WaitIdle(std::chrono::milliseconds timeout = 30000ms)
    {
        return testutil::waitFor([this] { return isp->Run.MapState == State::Idle; }, timeout);
    }
    // Waits until the name server has logged 'count' questions after 'skip'.
    static bool WaitQueries(qsizetype skip, qsizetype count)
    {
        return testutil::waitFor([&] { return ReverseQueries(skip).size() >= count; }, 3000ms);
    }

    static inline bool named = false;
    TISPTree *isp = nullptr;
    std::vector<std::pair<int, QString>> progress;
    std::function<void(int)> onProgress;
    std::vector<int> nodesAt;   // nodes in the tree at each change of the gauge
};

} // namespace

TEST_F(ISPTreeNet, DottedHostScansItsBlockInAddressOrder)
{
    const qsizetype before = Queries().size();
    Map("10.200.3.10");
    ASSERT_TRUE(WaitIdle());
    EXPECT_EQ(Nodes(isp->tv_ISP), kBlock3);
    EXPECT_EQ(isp->Run.ScanBase, "10.200.3.10");
    EXPECT_TRUE(isp->Run.ScanActive);   // stays set after a full scan
    EXPECT_EQ(Ctl<QProgressBar>(f, "Gauge1")->maximum(), 255);
    EXPECT_EQ(Ctl<QProgressBar>(f, "Gauge1")->value(), 255);
    EXPECT_FALSE(Ctl<QProgressBar>(f, "Gauge1")->isHidden());
    EXPECT_EQ(Ctl<QLabel>(f, "StatusLBL")->text(), "Status: Lookup complete: edge.idlix.test (10.200.3.255)");

    // The gauge moved through every number once, in order; the status line
    // said what each step found.
    ASSERT_EQ(progress.size(), 255u);
    EXPECT_EQ(progress[0].second, "Status: Looking up host 10.200.3.10...");
    for (int n = 1; n <= 255; ++n)
        ASSERT_EQ(progress[n - 1].first, n);
    EXPECT_EQ(progress[9].second, "Status: Lookup complete: host.idlix.test (10.200.3.10)");
    EXPECT_EQ(progress[10].second, "Status: Invalid Host/IP address.");
    EXPECT_EQ(progress[52].second, "Status: Lookup complete: ns.idlix.test (10.200.3.53)");

    // One question per address, .1 to .255 in order, and no forward lookup.
    ASSERT_TRUE(WaitQueries(before, 255));
    ExpectAskedInOrder(ReverseQueries(before), "10.200.3.", 255, 255);
    EXPECT_EQ(Queries().size() - before, 255);
}

TEST_F(ISPTreeNet, NameIsLookedUpThenItsBlockScanned)
{
    const qsizetype before = Queries().size();
    Map("r2");
    EXPECT_EQ(isp->Run.MapState, State::LookingUp);
    ASSERT_TRUE(WaitIdle());
    EXPECT_EQ(Nodes(isp->tv_ISP), kBlock2);
    EXPECT_EQ(isp->Run.ScanBase, "10.200.2.2");
    ASSERT_FALSE(progress.empty());
    EXPECT_EQ(progress[0].second, "Status: Lookup complete: r2 (10.200.2.2)");
    EXPECT_EQ(Ctl<QProgressBar>(f, "Gauge1")->value(), 255);
    ASSERT_TRUE(WaitQueries(before, 255));
    const QStringList asked = Queries().mid(before);
    EXPECT_EQ(asked.first(), "A r2.idlix.test");
    ExpectAskedInOrder(ReverseQueries(before), "10.200.2.", 255, 255);
}

TEST_F(ISPTreeNet, UnknownNameGivesNoNodesAndNoScan)
{
    const qsizetype before = Queries().size();
    Map("nosuch");
    ASSERT_TRUE(WaitIdle());
    EXPECT_EQ(Ctl<QLabel>(f, "StatusLBL")->text(), "Status: Unknown Host nosuch");
    EXPECT_TRUE(Nodes(isp->tv_ISP).isEmpty());
    EXPECT_FALSE(isp->Run.ScanActive);
    EXPECT_TRUE(progress.empty());
    EXPECT_TRUE(Ctl<QProgressBar>(f, "Gauge1")->isHidden());
    testutil::pump(200ms);
    EXPECT_TRUE(ReverseQueries(before).isEmpty());
}

TEST_F(ISPTreeNet, CancelProbesNothingAfterTheLookupInFlight)
{
    const qsizetype before = Queries().size();
    int cancelledAt = 0;
    onProgress = [&](int v) {
        if (v == 25)
            QTimer::singleShot(0, isp, [&] {
                isp->btn_ISPCancel->Click();
                cancelledAt = Ctl<QProgressBar>(f, "Gauge1")->value();
            });
    };
    Map("10.200.3.10");
    ASSERT_TRUE(WaitIdle());
    const int last = Ctl<QProgressBar>(f, "Gauge1")->value();
    EXPECT_GE(last, 25);
    EXPECT_EQ(last, cancelledAt);   // nothing shown after the click
    EXPECT_FALSE(isp->Run.ScanActive);
    // The nodes shown so far stay: every named address up to the gauge's
    // number, and none after it, even if its answer had come.
    QStringList found;
    for (const QString &node : kBlock3)
        if (LastOctet(node) <= last)
            found << node;
    EXPECT_EQ(Nodes(isp->tv_ISP), found);
    testutil::pump(300ms);
    EXPECT_EQ(Nodes(isp->tv_ISP), found);
    EXPECT_EQ(Ctl<QProgressBar>(f, "Gauge1")->value(), last);
    // Nothing was asked past the lookups that could be out at the click.
    ExpectAskedInOrder(ReverseQueries(before), "10.200.3.", last,
                       last + TISPTree::kLookupsInFlight);

    // A new Map starts at once and runs to the end.
    progress.clear();
    onProgress = nullptr;
    Map("10.200.3.10");
    ASSERT_TRUE(WaitIdle());
    EXPECT_EQ(Nodes(isp->tv_ISP), kBlock3);
}

TEST_F(ISPTreeNet, CloseStopsTheScanAndClearsThePanel)
{
    const qsizetype before = Queries().size();
    int closedAt = 0;
    onProgress = [&](int v) {
        if (v == 25)
            QTimer::singleShot(0, isp, [&] {
                closedAt = Ctl<QProgressBar>(f, "Gauge1")->value();
                isp->btn_ISPClose->Click();
            });
    };
    Map("10.200.3.10");
    ASSERT_TRUE(WaitIdle());
    EXPECT_GE(closedAt, 25);
    EXPECT_TRUE(Ctl<QFrame>(f, "pnl_ISPTree")->isHidden());
    EXPECT_TRUE(Ctl<QProgressBar>(f, "Gauge1")->isHidden());
    EXPECT_TRUE(Ctl<QLabel>(f, "img_Bg2")->isHidden());
    EXPECT_TRUE(isp->edt_ISPHost->text().isEmpty());
    EXPECT_TRUE(Nodes(isp->tv_ISP).isEmpty());
    EXPECT_FALSE(isp->Run.ScanActive);
    testutil::pump(300ms);
    // At most the lookups already on their way when Close came; nothing after.
    ExpectAskedInOrder(ReverseQueries(before), "10.200.3.", closedAt,
                       closedAt + TISPTree::kLookupsInFlight);
    EXPECT_TRUE(Nodes(isp->tv_ISP).isEmpty());
    EXPECT_EQ(Ctl<QProgressBar>(f, "Gauge1")->value(), closedAt);
}

// Answers that come back out of order (a name server that takes longer over
// some addresses): the nodes, the gauge and the status line still advance
// one address after the other, each showing what its own lookup found.
TEST_F(ISPTreeNet, AnswersOutOfOrderAreShownInAddressOrder)
{
    // .1 comes last of the first lookups out, .10 a little before it, and
    // .20 after everything behind it; the rest in 5 ms.
    ASSERT_TRUE(net->startDnsDelay(5, {"--delay-for", "1.3.200.10.in-addr.arpa=600",
                                       "--delay-for", "10.3.200.10.in-addr.arpa=300",
                                       "--delay-for", "20.3.200.10.in-addr.arpa=900"}));
    // While .1 is out, later answers have come but wait for their turn.
    QStringList nodesWhileFirstOut;
    QString statusWhileFirstOut;
    int gaugeWhileFirstOut = 0;
    QTimer::singleShot(400, isp, [&] {
        nodesWhileFirstOut = Nodes(isp->tv_ISP);
        statusWhileFirstOut = Ctl<QLabel>(f, "StatusLBL")->text();
        gaugeWhileFirstOut = Ctl<QProgressBar>(f, "Gauge1")->value();
    });
    Map("10.200.3.10");
    ASSERT_TRUE(WaitIdle());
    EXPECT_TRUE(nodesWhileFirstOut.isEmpty());
    EXPECT_EQ(statusWhileFirstOut, "Status: Resolving 10.200.3.1...");
    EXPECT_EQ(gaugeWhileFirstOut, 1);

    EXPECT_EQ(Nodes(isp->tv_ISP), kBlock3);
    ASSERT_EQ(progress.size(), 255u);
    ASSERT_EQ(nodesAt.size(), 255u);
    int named = 0;
    for (int n = 1; n <= 255; ++n) {
        SCOPED_TRACE(n);
        ASSERT_EQ(progress[n - 1].first, n);
        QString nameOfN;
        for (const QString &node : kBlock3)
            if (LastOctet(node) == n)
                nameOfN = node;
        named += nameOfN.isEmpty() ? 0 : 1;
        // The gauge's first change is the scan's start (to 1); showing .1
        // leaves it there.
        if (n == 1)
            continue;
        // The gauge moves to n once n's own answer is shown, never before.
        EXPECT_EQ(nodesAt[n - 1], named);
        EXPECT_EQ(progress[n - 1].second,
                  nameOfN.isEmpty() ? QStringLiteral("Status: Invalid Host/IP address.")
                                    : "Status: Lookup complete: " + nameOfN);
    }
}

TEST_F(ISPTreeNet, MapDuringAScanIsRefusedAndTheScanGoesOn)
{
    const qsizetype before = Queries().size();
    State stateAfterSecondMap = State::Idle;
    onProgress = [&](int v) {
        if (v == 25)
            QTimer::singleShot(0, isp, [&] {
                Map("10.200.2.2");
                stateAfterSecondMap = isp->Run.MapState;
            });
    };
    Map("10.200.3.10");
    ASSERT_TRUE(WaitIdle());
    EXPECT_EQ(stateAfterSecondMap, State::Scanning);
    EXPECT_EQ(Nodes(isp->tv_ISP), kBlock3);
    EXPECT_EQ(isp->Run.ScanBase, "10.200.3.10");
    EXPECT_EQ(Ctl<QProgressBar>(f, "Gauge1")->value(), 255);
    ASSERT_TRUE(WaitQueries(before, 255));
    ExpectAskedInOrder(ReverseQueries(before), "10.200.3.", 255, 255);
}

TEST_F(ISPTreeNet, SavedFileOfAScanIsOneCrLfLinePerNode)
{
    Map("10.200.2.2");
    ASSERT_TRUE(WaitIdle());
    ASSERT_EQ(Nodes(isp->tv_ISP), kBlock2);
    QTemporaryDir dir;
    QTimer::singleShot(0, isp, [&] {
        isp->SaveDialog()->selectFile(dir.filePath("block"));
        static_cast<QDialog *>(isp->SaveDialog())->accept();
    });
    isp->btn_IspSave->Click();
    QFile saved(dir.filePath("block.txt"));
    ASSERT_TRUE(saved.open(QIODevice::ReadOnly));
    EXPECT_EQ(saved.readAll(), QByteArray("r1-east.idlix.test (10.200.2.1)\r\n"
                                          "r2.idlix.test (10.200.2.2)\r\n"
                                          "far.idlix.test (10.200.2.200)\r\n"));
    EXPECT_TRUE(w->messages.isEmpty());
}

// A name server that does not answer: the window runs during the scan,
// Cancel and Close take effect at once, and nothing is probed after them.
TEST_F(ISPTreeNet, SilentNameServerNeitherFreezesTheWindowNorOutlivesCancel)
{
    for (bool close : {false, true}) {
        SCOPED_TRACE(close ? "Close" : "Cancel");
        if (close)
            Ctl<QAction>(f, "ISPTree1")->trigger();
        progress.clear();
        const qsizetype before = Queries().size();
        Silence();
        testutil::Ticker ticker;
        State stateAtClick = State::Idle;
        QString statusAtClick;
        bool hiddenAtOnce = false;
        QTimer::singleShot(1000, isp, [&] {
            stateAtClick = isp->Run.MapState;
            statusAtClick = Ctl<QLabel>(f, "StatusLBL")->text();
            if (close) {
                isp->btn_ISPClose->Click();
                hiddenAtOnce = Ctl<QFrame>(f, "pnl_ISPTree")->isHidden();
            } else {
                isp->btn_ISPCancel->Click();
            }
            Speak();
        });
        QElapsedTimer took;
        took.start();
        Map("10.200.3.10");
        ASSERT_TRUE(WaitIdle());
        const qint64 ms = took.elapsed();
        // The click came while the first lookup was still out.
        EXPECT_EQ(stateAtClick, State::Scanning);
        EXPECT_EQ(statusAtClick, "Status: Resolving 10.200.3.1...");
        EXPECT_GE(ticker.ticks, int(ms / 100) - 3) << ms << " ms";
        EXPECT_EQ(Ctl<QProgressBar>(f, "Gauge1")->value(), 1);
        EXPECT_EQ(hiddenAtOnce, close);
        testutil::pump(300ms);
        // The questions out at the click (the resolver may ask some twice
        // after its own time-out), and nothing after them; their answers,
        // coming once the server speaks again, are shown nowhere.
        const QStringList asked = ReverseQueries(before);
        QSet<QString> askedOnce(asked.begin(), asked.end());
        EXPECT_TRUE(askedOnce.contains("10.200.3.1"));
        const QStringList firstOut = Block("10.200.3.", TISPTree::kLookupsInFlight);
        EXPECT_TRUE(askedOnce.subtract(QSet<QString>(firstOut.begin(), firstOut.end())).isEmpty());
        EXPECT_TRUE(Nodes(isp->tv_ISP).isEmpty());
    }
}

// The block is IPv4's whatever family a name's first address has: a name
// with both families is mapped around its IPv4 address, in every order the
// address family setting and /etc/gai.conf give; a host with only IPv6
// addresses, named or typed, is said to have none, and nothing is asked of
// the name server for it beyond its own lookup.
TEST_F(ISPTreeNet, DualStackNamesMapTheirIPv4BlockAndIPv6HostsNone)
{
    using Choice = platform::FamilyChoice;
    const QString noBlock = QStringLiteral(": the ISP tree maps IPv4 blocks only.");
    struct Case {
        const char *host;
        Choice choice;
        bool ipv4First;     // gai.conf puts IPv4 answers first
        const char *status; // first status line of the Map ("" for the scanning cases)
        bool asks;          // the host is looked up by name
    } cases[] = {
        {"dual", Choice::Automatic, false, "", true},   // IPv6 address first
        {"dual", Choice::Automatic, true, "", true},
        {"dual", Choice::IPv4Only, false, "", true},
        {"host.v6", Choice::Automatic, false, "Status: No IPv4 address for host.v6", true},
        {"dual", Choice::IPv6Only, true, "Status: No IPv4 address for dual", true},
        {testnet::kHost6, Choice::Automatic, false, "Status: No IPv4 address for fd00:200:3::10", false},
        {"[fd00:200:3::10]", Choice::IPv4Only, false, "Status: No IPv4 address for [fd00:200:3::10]", false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(std::string(c.host) + " choice " + std::to_string(int(c.choice))
                     + (c.ipv4First ? " IPv4 first" : ""));
        platform::Lookups().SetRunFamily(c.choice);
        ASSERT_TRUE(net->setGaiConf(c.ipv4First ? testnet::TestNet::kPreferIPv4 : ""));
        progress.clear();
        const qsizetype before = Queries().size();
        Map(c.host);
        ASSERT_TRUE(WaitIdle());
        if (*c.status == 0) {
            EXPECT_EQ(isp->Run.ScanBase, testnet::kHost);
            ASSERT_FALSE(progress.empty());
            EXPECT_EQ(progress[0].second.toStdString(),
                      "Status: Lookup complete: " + std::string(c.host) + " (10.200.3.10)");
            EXPECT_EQ(Nodes(isp->tv_ISP), kBlock3);
            continue;
        }
        EXPECT_EQ(Ctl<QLabel>(f, "StatusLBL")->text(), c.status + noBlock);
        EXPECT_TRUE(Nodes(isp->tv_ISP).isEmpty());
        EXPECT_FALSE(isp->Run.ScanActive);
        EXPECT_TRUE(progress.empty());
        testutil::pump(200ms);
        EXPECT_TRUE(ReverseQueries(before).isEmpty());
        EXPECT_EQ(Queries().size() > before, c.asks);
        // The panel takes the next Map at once.
        EXPECT_EQ(isp->Run.MapState, State::Idle);
    }
}
