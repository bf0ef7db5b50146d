// The tools over IPv6 on the test network: the ping tool, the latency test,
// the finger tool and the resolve tool, each with a name that has only an
// IPv6 record, addresses with and without brackets, a link-local router with
// its zone, hosts that cannot be reached, international names, blanks around
// the host, and the address family setting ("automatic" following the
// client's gai.conf). Root only; the window is built inside the client host.
#include "tooltest.h"

#include "desktop/msgbox.h"
#include "net/finger.h"
#include "net/ping.h"
#include "platform/lookupservice.h"
#include "platform/resolver.h"
#include "tools/fingertool.h"
#include "tools/resolvetool.h"
#include "widgets/picturebutton.h"
#include "../support/netfixture.h"
#include "../support/ctl.h"

#include <QLineEdit>
#include <QSpinBox>
#include <QTextEdit>
#include <gtest/gtest.h>

#include <memory>
#include <string>

using namespace std::chrono_literals;
using testnet::TestNet;
using tooltest::Lines;

namespace {

using Choice = platform::FamilyChoice;

// The window with every tool these tests drive.
struct Window : tooltest::Window {
    TFingerTool *fng = new TFingerTool(*form);
    TResolveTool *rsv = new TResolveTool(*form);
};

class ToolsV6 : public testnet::NetTest {
protected:
    static void SetUpTestSuite()
    {
        NetTest::SetUpTestSuite();
        if (net && net->ok()) {
            fingerd = net->startFingerd(testnet::Role::Host);
            // An international name: the server knows it in its ASCII form.
            named = net->addName(testnet::kQuiet6, "xn--bcher-kva.idlix.test");
        }
    }
    void SetUp() override
    {
        NetTest::SetUp();
        if (!Ready())
            return;
        ASSERT_GT(fingerd, 0) << "in.fingerd did not start on the test host";
        ASSERT_TRUE(named);
        ASSERT_TRUE(net->setGaiConf("")) << "the machine has no /etc/gai.conf";
        w = std::make_unique<Window>();
        f = w->form.get();
    }
    void TearDown() override
    {
        platform::Lookups().SetRunFamily(Choice::Automatic);
        if (net)
            net->setGaiConf("");
        w.reset();
        scope.reset();
    }
    // The order of the answers and the families allowed.
    void Order(Choice choice, const std::string &gai)
    {
        platform::Lookups().SetRunFamily(choice);
        ASSERT_TRUE(net->setGaiConf(gai));
    }
    QString Status() const { return Ctl<QLabel>(f, "StatusLBL")->text(); }

    // One echo of the ping tool; the pane's lines.
    QStringList Ping(const QString &host)
    {
        w->png->edt_PngHost->setText(host);
        w->png->se_PngTimes->setValue(1);
        w->png->btn_PngYes->Click();
        EXPECT_TRUE(testutil::waitFor([&] { return !w->png->Run.PingRun.Active(); }, 15000ms));
        return Lines(w->png->re_Ping);
    }
    // The resolve tool's result field and status line for a text.
    std::pair<QString, QString> Resolve(const QString &host)
    {
        w->rsv->edt_RsvHost->setText(host);
        w->rsv->btn_RsvYes->Click();
        EXPECT_TRUE(testutil::waitFor(
            [&] { return !w->rsv->Run.RsvRun.Active() && !w->rsv->Run.ForwardPending; }, 15000ms));
        return {w->rsv->edt_RsvHostRsv->text(), Status()};
    }

    static inline pid_t fingerd = -1;
    static inline bool named = false;
    std::unique_ptr<Window> w;
    TMainForm *f = nullptr;
};

const QString kHost6 = QString::fromLatin1(testnet::kHost6);
const QString kHost = QString::fromLatin1(testnet::kHost);
const QString kLinkLocal =
    QStringLiteral("%1%%2").arg(testnet::kRouter1LinkLocal, testnet::kClientLink);

} // namespace

TEST_F(ToolsV6, PingToolEveryFormOfHost)
{
    Ctl<TPictureButton>(f, "btn_Ping")->Click();
    Ctl<QSpinBox>(f, "se_PngTO")->setValue(6);   // the router gives up on a missing neighbour after ~3 s
    const struct {
        QString typed, shown, address;
        const char *error;   // nullptr: answered
    } rows[] = {
        {"host.v6.idlix.test", "host.v6.idlix.test", kHost6, nullptr},
        {kHost6, kHost6, kHost6, nullptr},
        {" [fd00:200:3::10] ", "[fd00:200:3::10]", kHost6, nullptr},
        {"FD00:200:3:0:0:0:0:10", "FD00:200:3:0:0:0:0:10", kHost6, nullptr},
        {kLinkLocal, kLinkLocal, kLinkLocal, nullptr},
        {"  host  ", "host", kHost, nullptr},
        {"bücher.idlix.test", "bücher.idlix.test", testnet::kQuiet6, "Request timed out"},
        {testnet::kNoHost6, testnet::kNoHost6, testnet::kNoHost6, "Destination host unreachable"},
        {testnet::kNoRoute6, testnet::kNoRoute6, testnet::kNoRoute6,
         "Destination network unreachable"},
    };
    for (const auto &r : rows) {
        SCOPED_TRACE(r.typed.toStdString());
        if (QString(r.error) == "Request timed out")
            Ctl<QSpinBox>(f, "se_PngTO")->setValue(1);
        const QStringList lines = Ping(r.typed);
        Ctl<QSpinBox>(f, "se_PngTO")->setValue(6);
        ASSERT_EQ(lines.size(), 7) << lines.join('|').toStdString();
        EXPECT_EQ(lines[0], QStringLiteral("\u2022 Lookup complete: %1 (%2)").arg(r.shown, r.address));
        if (!r.error) {
            EXPECT_TRUE(lines[1].startsWith("1.) ")) << lines[1].toStdString();
            EXPECT_EQ(lines[3], "Successful Pings: 1/1");
        } else {
            EXPECT_EQ(lines[1], QStringLiteral("\u2022 Error pinging %1 : %2").arg(r.shown, r.error));
            EXPECT_EQ(lines[3], "Successful Pings: 0/1");
        }
    }
    // Forms that name no host the tool can reach.
    for (const QString &bad : {QStringLiteral("fe80::1"), QStringLiteral("[10.200.3.10]"),
                               QStringLiteral("fe80::1%nosuch0")}) {
        SCOPED_TRACE(bad.toStdString());
        EXPECT_EQ(Ping(bad), QStringList{QStringLiteral("\u2022 Unknown Host ") + bad});
        EXPECT_EQ(Status(), QStringLiteral("Status: Unknown Host ") + bad);
    }
}

TEST_F(ToolsV6, PingToolFollowsTheAddressFamilySetting)
{
    Ctl<TPictureButton>(f, "btn_Ping")->Click();
    const struct {
        Choice choice;
        std::string gai;
        QString host;
        QString first;   // the pane's first line
    } rows[] = {
        {Choice::Automatic, "", "dual.idlix.test",
         "\u2022 Lookup complete: dual.idlix.test (" + kHost6 + ")"},
        {Choice::Automatic, TestNet::kPreferIPv4, "dual.idlix.test",
         "\u2022 Lookup complete: dual.idlix.test (" + kHost + ")"},
        {Choice::IPv4Only, "", "dual.idlix.test",
         "\u2022 Lookup complete: dual.idlix.test (" + kHost + ")"},
        {Choice::IPv6Only, TestNet::kPreferIPv4, "dual.idlix.test",
         "\u2022 Lookup complete: dual.idlix.test (" + kHost6 + ")"},
        {Choice::IPv4Only, "", "host.v6.idlix.test", "\u2022 Unknown Host host.v6.idlix.test"},
        {Choice::IPv4Only, "", kHost6, "\u2022 Unknown Host " + kHost6},
        {Choice::IPv6Only, "", "host", "\u2022 Unknown Host host"},
    };
    for (const auto &r : rows) {
        SCOPED_TRACE(r.host.toStdString() + " choice " + std::to_string(int(r.choice)));
        Order(r.choice, r.gai);
        const QStringList lines = Ping(r.host);
        ASSERT_FALSE(lines.isEmpty());
        EXPECT_EQ(lines[0], r.first);
        if (lines.size() > 1) {
            EXPECT_TRUE(lines[1].startsWith("1.) ")) << lines[1].toStdString();
        }
    }
}

TEST_F(ToolsV6, LatencyTestOverIPv6)
{
    const struct {
        Choice choice;
        std::string gai;
        QString typed, shown, address;
        QString echo;   // how the first echo ends on the status line
    } rows[] = {
        {Choice::Automatic, "", "host.v6.idlix.test", "host.v6.idlix.test", kHost6,
         "successfully pinged in "},
        {Choice::Automatic, "", "[fd00:200:3::10]", "[fd00:200:3::10]", kHost6,
         "successfully pinged in "},
        {Choice::Automatic, "", kLinkLocal, kLinkLocal, kLinkLocal, "successfully pinged in "},
        {Choice::Automatic, "", " dual.idlix.test", "dual.idlix.test", kHost6,
         "successfully pinged in "},
        {Choice::Automatic, TestNet::kPreferIPv4, "dual.idlix.test", "dual.idlix.test", kHost,
         "successfully pinged in "},
        {Choice::IPv4Only, "", "dual.idlix.test", "dual.idlix.test", kHost,
         "successfully pinged in "},
        {Choice::Automatic, "", testnet::kNoHost6, testnet::kNoHost6, testnet::kNoHost6,
         "Error pinging " + QString(testnet::kNoHost6) + " : Destination host unreachable"},
    };
    for (const auto &r : rows) {
        SCOPED_TRACE(r.typed.toStdString());
        Order(r.choice, r.gai);
        Ctl<QLineEdit>(f, "edt_LatHost")->setText(r.typed);
        Ctl<QSpinBox>(f, "se_LatInterval")->setValue(500);
        Ctl<QSpinBox>(f, "se_LatTO")->setValue(6);
        Ctl<TPictureButton>(f, "btn_Latency")->Click();
        const QString lookup =
            QStringLiteral("Status: Lookup complete: %1 (%2)").arg(r.shown, r.address);
        // The lookup's line stands until the first echo, half a second on.
        bool sawLookup = false;
        EXPECT_TRUE(testutil::waitFor([&] {
            sawLookup = sawLookup || Status() == lookup;
            return Status().contains(r.echo);
        }, 12000ms)) << Status().toStdString();
        EXPECT_TRUE(sawLookup) << lookup.toStdString();
        EXPECT_EQ(w->lat->Ping4->Address(), r.address);
        Ctl<TPictureButton>(f, "btn_Latency")->Click();   // off
        EXPECT_EQ(Status(), "Status:");
    }
    // A link-local address without its zone names no host.
    Ctl<QLineEdit>(f, "edt_LatHost")->setText("fe80::1");
    Ctl<TPictureButton>(f, "btn_Latency")->Click();
    EXPECT_TRUE(testutil::waitFor([&] { return Status() == "Status: Unknown Host fe80::1"; }, 5000ms))
        << Status().toStdString();
    Ctl<TPictureButton>(f, "btn_Latency")->Click();
}

TEST_F(ToolsV6, FingerToolOverIPv6)
{
    Ctl<TPictureButton>(f, "btn_Finger")->Click();
    w->fng->FingerPing->SetTimeout(1500);
    const struct {
        QString query, status;
    } rows[] = {
        {"root@host.v6.idlix.test", " Status: Successfully fingered root@host.v6.idlix.test"},
        {"root@fd00:200:3::10", " Status: Successfully fingered root@fd00:200:3::10"},
        {"root@[fd00:200:3::10]", " Status: Successfully fingered root@[fd00:200:3::10]"},
        {" root@dual.idlix.test ", " Status: Successfully fingered root@dual.idlix.test"},
        {"root@fe80::1", "Status: Unknown Host fe80::1"},
        {"root@nohost.v6.idlix.test", "Status: Unknown Host nohost.v6.idlix.test"},
    };
    for (Choice choice : {Choice::Automatic, Choice::IPv6Only}) {
        Order(choice, "");
        for (const auto &r : rows) {
            SCOPED_TRACE(r.query.toStdString() + " choice " + std::to_string(int(choice)));
            w->fng->edt_Finger->setText(r.query);
            w->fng->btn_FngYes->Click();
            ASSERT_TRUE(testutil::waitFor([&] { return w->fng->Step() == TFingerStep::Idle; },
                                          20000ms));
            EXPECT_EQ(Status(), r.status);
            const QString reply = w->fng->re_finger->toPlainText();
            EXPECT_EQ(reply.startsWith("Login: root"), r.status.contains("Successfully"))
                << reply.toStdString();
            EXPECT_TRUE(w->messages.isEmpty()) << w->messages.join('|').toStdString();
        }
    }
    // IPv4 only: the IPv6 address is refused before anything is sent.
    Order(Choice::IPv4Only, "");
    w->fng->edt_Finger->setText("root@host.v6.idlix.test");
    w->fng->btn_FngYes->Click();
    ASSERT_TRUE(testutil::waitFor([&] { return w->fng->Step() == TFingerStep::Idle; }, 20000ms));
    EXPECT_EQ(Status(), "Status: Unknown Host host.v6.idlix.test");
}

TEST_F(ToolsV6, ResolveToolBothWaysOverIPv6)
{
    Ctl<QAction>(f, "Resolve1")->trigger();
    const struct {
        Choice choice;
        std::string gai;
        QString typed, result, status;
    } rows[] = {
        // Forward: every address, of both families, in the system's order.
        {Choice::Automatic, "", "dual.idlix.test", kHost6 + ", " + kHost,
         "Status: Lookup complete: dual.idlix.test (" + kHost6 + ")"},
        {Choice::Automatic, TestNet::kPreferIPv4, " dual ", kHost + ", " + kHost6,
         "Status: Lookup complete: dual (" + kHost + ")"},
        {Choice::IPv6Only, TestNet::kPreferIPv4, "dual.idlix.test", kHost6,
         "Status: Lookup complete: dual.idlix.test (" + kHost6 + ")"},
        {Choice::IPv4Only, "", "dual.idlix.test", kHost,
         "Status: Lookup complete: dual.idlix.test (" + kHost + ")"},
        {Choice::Automatic, "", "host.v6", kHost6, "Status: Lookup complete: host.v6 (" + kHost6 + ")"},
        {Choice::IPv4Only, "", "host.v6", "", "Status: Unknown Host host.v6"},
        {Choice::Automatic, "", "bücher.idlix.test", testnet::kQuiet6,
         "Status: Lookup complete: bücher.idlix.test (" + QString(testnet::kQuiet6) + ")"},
        // Reverse through ip6.arpa, with or without brackets.
        {Choice::Automatic, "", kHost6, "host.v6.idlix.test",
         "Status: Lookup complete: " + kHost6 + " (host.v6.idlix.test)"},
        {Choice::Automatic, "", "[fd00:200:2::2]", "r2.v6.idlix.test",
         "Status: Lookup complete: [fd00:200:2::2] (r2.v6.idlix.test)"},
        {Choice::Automatic, "", testnet::kNoHost6, "invalid Host/IP address",
         "Status: Invalid Host/IP address."},
        // A link-local address has no name here.
        {Choice::Automatic, "", kLinkLocal, "invalid Host/IP address", "Status: Invalid Host/IP address."},
    };
    for (const auto &r : rows) {
        SCOPED_TRACE(r.typed.toStdString() + " choice " + std::to_string(int(r.choice)));
        Order(r.choice, r.gai);
        const auto [result, status] = Resolve(r.typed);
        EXPECT_EQ(result, r.result);
        EXPECT_EQ(status, r.status);
        // The start of the result (the first address) is the part in view.
        EXPECT_EQ(w->rsv->edt_RsvHostRsv->cursorPosition(), 0);
    }
}
