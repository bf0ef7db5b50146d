// Anti-idle sessions of the real window against the test network: echoes to
// test hosts by name (the test name server) and by address, a host that
// ignores echoes, a name that does not exist and the delaying responder.
// What reaches the hosts is checked on the wire: a raw ICMP socket opened in
// a host's namespace sees every echo request that host receives. Root only.
#include "widgets/reportgrid.h"
#include "shell/mainform.h"
#include "widgets/optioncontrols.h"
#include "widgets/picturebutton.h"
#include "net/ping.h"
#include "desktop/msgbox.h"
#include "session/probechoice.h"
#include "sessionwindow.h"
#include "platform/cp1252.h"
#include "../support/netfixture.h"
#include "../support/testutil.h"
#include "../support/ctl.h"
#include "platform/services.h"

#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QRegularExpression>
#include <QTextEdit>
#include <QTimer>
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <netinet/in.h>
#include <sched.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include <memory>
#include <string>
#include <vector>

using namespace std::chrono_literals;
using testnet::Role;
using testnet::TestNet;

namespace {

// The echo requests a test host receives, with their data sizes.
class EchoCapture {
public:
    explicit EchoCapture(const std::string &ns)
    {
        // setns applies to the calling thread only, and a socket stays in the
        // namespace it was opened in: open it from a short-lived thread.
        std::thread([&] {
            const int nsfd = open(("/run/netns/" + ns).c_str(), O_RDONLY | O_CLOEXEC);
            if (nsfd >= 0 && setns(nsfd, CLONE_NEWNET) == 0)
                fd_ = socket(AF_INET, SOCK_RAW | SOCK_NONBLOCK | SOCK_CLOEXEC, IPPROTO_ICMP);
            if (nsfd >= 0)
                close(nsfd);
        }).join();
    }
    ~EchoCapture()
    {
        if (fd_ >= 0)
            close(fd_);
    }
    bool ok() const { return fd_ >= 0; }
    // Data sizes of the echo requests received since the last call, in order.
    std::vector<int> Requests()
    {
        std::vector<int> sizes;
        unsigned char buf[70000];
        for (;;) {
            const ssize_t n = recv(fd_, buf, sizeof buf, 0);
            if (n < 0)
                break;
            const int ihl = (buf[0] & 0x0F) * 4;
            if (n >= ihl + 8 && buf[ihl] == 8)   // ICMP echo request
                sizes.push_back(int(n) - ihl - 8);
        }
        return sizes;
    }

private:
    int fd_ = -1;
};

class AntiIdleNet : public testnet::NetTest, protected antiidletest::SessionWindow {
protected:
    void SetUp() override
    {
        NetTest::SetUp();
        if (!Ready())
            return;
        OpenWindow(session::pmIcmpPings);
    }
    void TearDown() override
    {
        CloseWindow();
        scope.reset();
        if (net)
            net->stopResponder();
    }

    void Click() { Ctl<TPictureButton>(form, "btn_AntiIdle")->Click(); }
    // Fires one tick and waits until its probe has been answered or failed.
    void TickAndWait(const QString &good)
    {
        ai->Tick();
        ASSERT_TRUE(testutil::waitFor([&] { return Ctl<QLabel>(form, "GoodLBL")->text() == good; }, 10s))
            << "GoodLBL " << Ctl<QLabel>(form, "GoodLBL")->text().toStdString() << ", expected "
            << good.toStdString();
    }
    std::vector<int> SentSizes() const
    {
        std::vector<int> sizes;
        for (const QString &line : History().filter(QRegularExpression("^• Sending ")))
            sizes.push_back(line.section(' ', 2, 2).toInt());
        return sizes;
    }
    QString Cell(int col, int row) const { return report->ReportGrid->Cells(col, row); }

    testutil::ScratchDir dir;
};


} // namespace

TEST_F(AntiIdleNet, EchoesReachTheHostAtStartAndAtEveryTickUntilStopped)
{
    EchoCapture host(net->nsName(Role::Host));
    ASSERT_TRUE(host.ok()) << std::strerror(errno);
    Ctl<QLineEdit>(form, "edt_AIHost")->setText("host.idlix.test");
    Click();
    ASSERT_TRUE(testutil::waitFor([&] { return Ctl<QLabel>(form, "GoodLBL")->text() == "1/1"; }, 10s));
    EXPECT_EQ(host.Requests(), std::vector<int>{56});
    EXPECT_TRUE(History().last().startsWith("• host.idlix.test pinged in "));
    EXPECT_EQ(Cell(0, 1), "host.idlix.test");

    // "Vary packet size" is read at every probe; the sizes on the wire are
    // the ones the history names.
    Ctl<TCheckListBox>(form, "cb_AIOptions")->SetChecked(2, true);
    for (int i = 2; i <= 6; ++i)
        TickAndWait(QStringLiteral("%1/%1").arg(i));
    const std::vector<int> sent = SentSizes();
    ASSERT_EQ(sent.size(), 6u);
    EXPECT_EQ(host.Requests(), std::vector<int>(sent.begin() + 1, sent.end()));
    for (std::size_t i = 1; i < sent.size(); ++i) {
        EXPECT_GE(sent[i], 56);
        EXPECT_LE(sent[i], 499);
    }
    EXPECT_EQ(Cell(1, 1), "6");
    EXPECT_EQ(Cell(2, 1), "0");
    EXPECT_FALSE(Ctl<QLabel>(form, "img_AIGraph")->pixmap().isNull());

    Click();
    EXPECT_FALSE(Inside(ai).Timer3->isActive());
    testutil::pump(300ms);
    EXPECT_TRUE(host.Requests().empty());
}

TEST_F(AntiIdleNet, CyclingCountsAnsweredSilentAndUnknownServersInTheirRows)
{
    EchoCapture host(net->nsName(Role::Host)), quiet(net->nsName(Role::Quiet));
    ASSERT_TRUE(host.ok() && quiet.ok());
    QFile f(dir.file("Servers.dat"));
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(QByteArray("host.idlix.test\r\n") + testnet::kQuiet + "\r\nnohost.idlix.test\r\n");
    f.close();
    Ctl<TCheckListBox>(form, "cb_AIOptions")->SetChecked(0, true);
    Ctl<TCheckListBox>(form, "cb_AIOptions")->SetChecked(3, true);
    Inside(ai).Ping2->SetTimeout(400);   // the silent host costs a full time-out

    Click();
    ASSERT_TRUE(testutil::waitFor([&] { return Ctl<QLabel>(form, "GoodLBL")->text() == "1/1"; }, 10s));
    TickAndWait("1/2");
    EXPECT_EQ(History().last(), QStringLiteral("• Error pinging %1 : Request timed out")
                                    .arg(testnet::kQuiet));
    TickAndWait("1/3");
    EXPECT_EQ(History().last(), "• Unknown Host nohost.idlix.test");
    EXPECT_EQ(Ctl<QLabel>(form, "StatusLBL")->text(), "Status: Unknown Host nohost.idlix.test");
    TickAndWait("2/4");
    EXPECT_EQ(ai->Stats().Failures(), 2);

    EXPECT_EQ(host.Requests(), (std::vector<int>{56, 56}));
    EXPECT_EQ(quiet.Requests(), std::vector<int>{56});
    // The unknown host counts as a failure of the session and of its row.
    const struct { int row; const char *good, *failed; } rows[] = {
        {1, "2", "0"}, {2, "0", "1"}, {3, "0", "1"}};
    for (const auto &r : rows) {
        EXPECT_EQ(Cell(1, r.row), r.good) << r.row;
        EXPECT_EQ(Cell(2, r.row), r.failed) << r.row;
    }

    Click();
    ASSERT_FALSE(Ctl<QFrame>(form, "pnl_AIReport")->isHidden());
    EXPECT_EQ(Cell(3, 1), "100 %");
    EXPECT_EQ(Cell(3, 2), "0 %");
    EXPECT_EQ(Cell(3, 3), "0 %");
    EXPECT_TRUE(messages.isEmpty()) << messages.join('|').toStdString();
}

TEST_F(AntiIdleNet, HostsWithTagsAreShownAsTyped)
{
    // Neither a typed host nor an entry of the server list is markup: the
    // status line, the history and the report show the tags as they are.
    struct Row {
        const char *name;
        bool cycle;
        QString host;
    } rows[] = {
        {"typed host", false, "<b>typed</b>"},
        {"Servers.dat entry", true, "<i>srv</i><br>x"},
    };
    for (const Row &r : rows) {
        SCOPED_TRACE(r.name);
        testutil::writeFile(dir.file("Servers.dat"), platform::ToCp1252Lines({r.host}));
        Ctl<QLineEdit>(form, "edt_AIHost")->setText(r.cycle ? QString() : r.host);
        Ctl<TCheckListBox>(form, "cb_AIOptions")->SetChecked(0, r.cycle);
        Click();
        ASSERT_TRUE(testutil::waitFor(
            [&] { return Ctl<QLabel>(form, "StatusLBL")->text() == "Status: Unknown Host " + r.host; }, 10s))
            << Ctl<QLabel>(form, "StatusLBL")->text().toStdString();
        EXPECT_TRUE(testutil::showsLiterally(Ctl<QLabel>(form, "StatusLBL")));
        EXPECT_EQ(History().last(), "\u2022 Unknown Host " + r.host);
        EXPECT_EQ(Cell(0, 1), r.host);
        Click();
    }
}

TEST_F(AntiIdleNet, RoundTripOfADelayedReplyIsReportedAndGraphed)
{
    ASSERT_TRUE(net->startResponder({"--delay", "150"}));
    Ctl<QLineEdit>(form, "edt_AIHost")->setText(testnet::kSlow);
    Click();
    ASSERT_TRUE(testutil::waitFor([&] { return Ctl<QLabel>(form, "GoodLBL")->text() == "1/1"; }, 10s));
    const auto m = QRegularExpression("^• 10\\.200\\.3\\.30 pinged in (\\d+) msecs$")
                       .match(History().last());
    ASSERT_TRUE(m.hasMatch()) << History().last().toStdString();
    const int ms = m.captured(1).toInt();
    EXPECT_GE(ms, 150);
    EXPECT_LT(ms, 1000);
    EXPECT_EQ(Cell(4, 1), QString::number(ms));
    EXPECT_EQ(form->Graph().ResponseHistory[0], ms / 40);
    Click();
}

// Run by IcmpRefusedIsExplainedOnce in a process that may not send ICMP.
TEST(AntiIdleNoIcmp, DISABLED_HintOnceThenTheSessionRunsOn)
{
    testutil::ScratchDir dir;
    QStringList messages;
    platform::Services().Message = [&](const QString &m) { messages << m; };
    {
        TMainForm form;
        antiidletest::AntiIdleParts parts;
        parts.Attach(form);
        [[maybe_unused]] TAntiIdleSession *ai = parts.ai;
        [[maybe_unused]] TServerList *serverList = parts.serverList;
        [[maybe_unused]] TAntiIdleReport *report = parts.report;
        Ctl<TSpinText>(form, "edt_AIFreq")->setText("1");
        Ctl<QLineEdit>(form, "edt_AIHost")->setText("127.0.0.1");
        Ctl<TRadioGroup>(form, "rg_AIMethod")->SetItemIndex(1);
        Ctl<TCheckListBox>(form, "cb_AIOptions")->SetChecked(0, false);
        Ctl<TPictureButton>(form, "btn_AntiIdle")->Click();
        ai->Tick();
        ai->Tick();
        ASSERT_EQ(messages.size(), 1);
        EXPECT_TRUE(messages[0].contains("ping_group_range")) << messages[0].toStdString();
        EXPECT_TRUE(messages[0].contains("setcap")) << messages[0].toStdString();
        EXPECT_TRUE(Inside(ai).Timer3->isActive());
        EXPECT_EQ(Ctl<QLabel>(form, "GoodLBL")->text(), "0/3");
        EXPECT_EQ(Ctl<QTextEdit>(form, "re_History")->toPlainText().split('\n').last(),
                  "• Error pinging 127.0.0.1 : ICMP not permitted on this system");
        Ctl<TPictureButton>(form, "btn_AntiIdle")->Click();
    }
    platform::Services().Message = {};
}

TEST_F(AntiIdleNet, IcmpRefusedIsExplainedOnce)
{
    // Datagram ICMP forbidden in the client, and no CAP_NET_RAW: neither
    // kind of echo socket can be opened by the child.
    ASSERT_TRUE(net->setPingAllowed(false));
    char self[4096] = {};
    ASSERT_GT(readlink("/proc/self/exe", self, sizeof self - 1), 0);
    const std::string cmd = "ip netns exec " + net->nsName(Role::Client)
        + " setpriv --inh-caps=-net_raw --bounding-set=-net_raw " + self
        + " --gtest_also_run_disabled_tests"
          " --gtest_filter=AntiIdleNoIcmp.DISABLED_HintOnceThenTheSessionRunsOn"
          " > " + dir.file("child.txt").toStdString() + " 2>&1";
    const int status = std::system(cmd.c_str());
    QFile out(dir.file("child.txt"));
    out.open(QIODevice::ReadOnly);
    const QByteArray text = out.readAll();
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << text.toStdString();
    EXPECT_TRUE(text.contains("[  PASSED  ] 1 test.")) << text.toStdString();
    EXPECT_TRUE(net->setPingAllowed(true));
}

// A server list over IPv6 in the real window: a name with only an AAAA
// record, an address in brackets and one with every group written, each
// answered, shown whole in the history, the status line and its report row.
TEST_F(AntiIdleNet, ServersOverIPv6AreEchoedAndShownWhole)
{
    const QStringList servers = {"host.v6", QStringLiteral("[%1]").arg(testnet::kHost6),
                                 testnet::kLong6};
    testutil::writeFile(dir.file("Servers.dat"), platform::ToCp1252Lines(servers));
    Ctl<TCheckListBox>(form, "cb_AIOptions")->SetChecked(0, true);
    Ctl<TCheckListBox>(form, "cb_AIOptions")->SetChecked(3, true);
    Click();
    ASSERT_TRUE(testutil::waitFor([&] { return Ctl<QLabel>(form, "GoodLBL")->text() == "1/1"; }, 10s));
    TickAndWait("2/2");
    TickAndWait("3/3");
    static const QRegularExpression ms(QStringLiteral(" \\d+ msecs$"));
    EXPECT_EQ(History().last().replace(ms, " N msecs"),
              QStringLiteral("• %1 pinged in N msecs").arg(testnet::kLong6));
    EXPECT_EQ(Ctl<QLabel>(form, "StatusLBL")->text().replace(ms, " N msecs"),
              QStringLiteral("Status: %1 pinged in N msecs").arg(testnet::kLong6));
    Click();
    ASSERT_FALSE(Ctl<QFrame>(form, "pnl_AIReport")->isHidden());
    for (int row = 1; row <= 3; ++row) {
        EXPECT_EQ(Cell(0, row), servers[row - 1]) << row;
        EXPECT_EQ(Cell(1, row), "1") << row;
        EXPECT_EQ(Cell(3, row), "100 %") << row;
    }
    EXPECT_TRUE(messages.isEmpty()) << messages.join('|').toStdString();
}
