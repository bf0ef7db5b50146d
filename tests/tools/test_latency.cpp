// The latency test on a real window with real echoes to loopback: starting
// and stopping, the empty-host and anti-idle guards, one echo at a time and
// replies that arrive after the switch was turned off.
#include "tooltest.h"

#include "widgets/animate.h"
#include "widgets/picturebutton.h"
#include "net/ping.h"
#include "../support/ctl.h"

#include <QAction>
#include <QFrame>
#include <QLineEdit>
#include <QSpinBox>
#include <QThread>
#include <QTimer>
#include <gtest/gtest.h>

using namespace std::chrono_literals;
using tooltest::Window;

namespace {

class Latency : public tooltest::EchoToolTest {
protected:
    // Everything that says "running" or "off" on the window.
    void ExpectRunning(bool on)
    {
        EXPECT_EQ(Ctl<QLabel>(f, "img_LatGreen")->isHidden(), !on);
        EXPECT_EQ(Ctl<QLabel>(f, "img_LatRed")->isHidden(), on);
        EXPECT_EQ(Ctl<TPictureButton>(f, "btn_Latency")->ImageIndex(), on ? 1 : 0);
        EXPECT_EQ(Ctl<TPictureButton>(f, "img_LatArrow")->isHidden(), on);
        EXPECT_EQ(Ctl<TAnimate>(f, "anm_BV")->isHidden(), on);
        EXPECT_EQ(Ctl<QLabel>(f, "img_AIGraph")->isHidden(), !on);
        EXPECT_EQ(Ctl<QLabel>(f, "img_LatGraph")->isHidden(), !on);
        for (QAction *item : {Ctl<QAction>(f, "LatencyTest1"), Ctl<QAction>(f, "AntiIdle1"), Ctl<QAction>(f, "Latency1")})
            EXPECT_EQ(item->isEnabled(), !on) << item->objectName().toStdString();
    }
    bool WaitForStatus(const QString &prefix, std::chrono::milliseconds timeout = 3000ms)
    {
        return testutil::waitFor([&] { return Ctl<QLabel>(f, "StatusLBL")->text().startsWith(prefix); }, timeout);
    }

};

} // namespace

TEST_F(Latency, SwitchWithoutHostOrDuringAntiIdleDoesNotStart)
{
    // No host: the options panel opens so one can be entered.
    Ctl<QLineEdit>(f, "edt_LatHost")->clear();
    Ctl<TPictureButton>(f, "btn_Latency")->Click();
    ExpectRunning(false);
    EXPECT_FALSE(Ctl<QFrame>(f, "pnl_Latency")->isHidden());
    EXPECT_EQ(Ctl<TPictureButton>(f, "img_LatArrow")->ImageIndex(), 1);
    EXPECT_EQ(Ctl<QLabel>(f, "lbl_Question")->text(), "Save changes to Latency Options?");
    EXPECT_FALSE(Ctl<TPictureButton>(f, "btn_No")->isHidden());
    EXPECT_FALSE(lat->LatTimer->isActive());
    f->btn_NoClick();

    // An anti-idle session runs: neither the switch nor Ctrl+L does anything.
    f->Switch(TToolId::AntiIdle).SetRunning(true);
    Ctl<QLineEdit>(f, "edt_LatHost")->setText("127.0.0.1");
    f->SetStatus("Status: session");
    Ctl<TPictureButton>(f, "btn_Latency")->Click();
    Ctl<QAction>(f, "LatencyTest1")->trigger();
    f->Switch(TToolId::AntiIdle).SetRunning(false);
    ExpectRunning(false);
    EXPECT_TRUE(Ctl<QFrame>(f, "pnl_Latency")->isHidden());
    EXPECT_EQ(Ctl<QLabel>(f, "StatusLBL")->text(), "Status: session");
    EXPECT_FALSE(lat->LatTimer->isActive());
}

TEST_F(Latency, DottedHostStartsAtOnceAndEchoesAreReported)
{
    Ctl<QLineEdit>(f, "edt_LatHost")->setText("127.1");
    Ctl<QSpinBox>(f, "se_LatInterval")->setValue(50);
    Ctl<QSpinBox>(f, "se_LatTO")->setValue(2);
    f->Graph().ResponseHistory.fill(7);
    Ctl<QAction>(f, "LatencyTest1")->trigger();

    // The lookup of a dotted address completes inside the click, with the
    // address in its normal form in parentheses.
    EXPECT_EQ(Ctl<QLabel>(f, "StatusLBL")->text(), "Status: Lookup complete: 127.1 (127.0.0.1)");
    ExpectRunning(true);
    EXPECT_FALSE(Ctl<TAnimate>(f, "anm_BV")->Active());
    EXPECT_TRUE(lat->LatTimer->isActive());
    EXPECT_EQ(lat->LatTimer->interval(), 50);
    EXPECT_EQ(lat->Ping4->Timeout(), 2000);
    EXPECT_EQ(lat->Ping4->Address(), "127.0.0.1");
    EXPECT_EQ(lat->Ping4->Size(), 56);
    for (int v : f->Graph().ResponseHistory)
        EXPECT_EQ(v, 0);
    // Background on one image, the flat line on the other.
    EXPECT_FALSE(tooltest::PixelsOf(tooltest::Picture(Ctl<QLabel>(f, "img_AIGraph")), tooltest::Green).empty());
    EXPECT_TRUE(tooltest::PixelsOf(tooltest::Picture(Ctl<QLabel>(f, "img_AIGraph")), tooltest::Red).empty());
    const auto flat = tooltest::PixelsOf(tooltest::Picture(Ctl<QLabel>(f, "img_LatGraph")), tooltest::Red);
    ASSERT_FALSE(flat.empty());
    for (const auto &[x, y] : flat)
        EXPECT_EQ(y, 58) << x;

    ASSERT_TRUE(WaitForStatus("Status: 127.1 successfully pinged in ")) << Ctl<QLabel>(f, "StatusLBL")->text().toStdString();
    EXPECT_TRUE(Ctl<QLabel>(f, "StatusLBL")->text().endsWith(" msecs"));
    // Loopback answers within 40 ms: the line stays on the axis.
    EXPECT_EQ(f->Graph().ResponseHistory[0], 0);
    EXPECT_FALSE(tooltest::PixelsOf(tooltest::Picture(Ctl<QLabel>(f, "img_LatGraph")), tooltest::Red).empty());
}

TEST_F(Latency, TicksDuringAnEchoAreSkippedAndEveryReplyIsReported)
{
    // With a 1 ms interval, ticks fall due while every echo is in flight and
    // its handlers let events run.
    int depth = 0, maxDepth = 0, requests = 0, replies = 0, misreported = 0;
    auto request = lat->Ping4->OnEchoRequest;
    auto reply = lat->Ping4->OnEchoReply;
    lat->Ping4->OnEchoRequest = [&](QObject *s) {
        maxDepth = std::max(maxDepth, ++depth);
        // The user switches the test off and on while the first echo is in
        // flight: the restarted timer is due before that echo is done.
        if (requests++ == 0) {
            Ctl<TPictureButton>(f, "btn_Latency")->Click();
            Ctl<TPictureButton>(f, "btn_Latency")->Click();
        }
        QThread::msleep(3);
        request(s);
    };
    lat->Ping4->OnEchoReply = [&](QObject *s, int n) {
        reply(s, n);
        ++replies;
        --depth;
        // The first echo belongs to the run that was switched off: silent.
        const bool reported =
            Ctl<QLabel>(f, "StatusLBL")->text().startsWith("Status: 127.0.0.1 successfully pinged in ");
        if (reported == (replies == 1))
            ++misreported;
    };
    Ctl<QLineEdit>(f, "edt_LatHost")->setText("127.0.0.1");
    Ctl<QSpinBox>(f, "se_LatInterval")->setValue(1);
    Ctl<TPictureButton>(f, "btn_Latency")->Click();
    testutil::waitFor([&] { return replies >= 20 || maxDepth > 1; }, 5000ms);
    Ctl<TPictureButton>(f, "btn_Latency")->Click();
    ASSERT_TRUE(testutil::waitFor([&] { return depth == 0; }, 3000ms));

    EXPECT_GE(replies, 20);
    EXPECT_EQ(maxDepth, 1);
    EXPECT_EQ(requests, replies);
    EXPECT_EQ(misreported, 0);
}

TEST_F(Latency, StoppingClearsTheGraphsAndSilencesTheEchoInFlight)
{
    Ctl<QLineEdit>(f, "edt_LatHost")->setText("127.0.0.1");
    Ctl<QSpinBox>(f, "se_LatInterval")->setValue(20);
    Ctl<TPictureButton>(f, "btn_Latency")->Click();
    ASSERT_TRUE(WaitForStatus("Status: 127.0.0.1 successfully pinged in "));

    Ctl<TPictureButton>(f, "btn_Latency")->Click();
    ExpectRunning(false);
    EXPECT_FALSE(lat->LatTimer->isActive());
    EXPECT_TRUE(Ctl<QLabel>(f, "img_AIGraph")->pixmap().isNull());
    EXPECT_TRUE(Ctl<QLabel>(f, "img_LatGraph")->pixmap().isNull());
    EXPECT_EQ(Ctl<QLabel>(f, "StatusLBL")->text(), "Status:");
    testutil::pump(200ms);
    EXPECT_EQ(Ctl<QLabel>(f, "StatusLBL")->text(), "Status:");

    // Switched off while an echo is in flight: its reply changes nothing.
    Ctl<TPictureButton>(f, "btn_Latency")->Click();
    ASSERT_TRUE(lat->LatTimer->isActive());
    bool stopped = false;
    auto request = lat->Ping4->OnEchoRequest;
    lat->Ping4->OnEchoRequest = [&](QObject *s) {
        if (!stopped) {
            stopped = true;
            Ctl<TPictureButton>(f, "btn_Latency")->Click();
        }
        request(s);
    };
    ASSERT_TRUE(testutil::waitFor([&] { return stopped; }, 3000ms));
    testutil::pump(200ms);
    ExpectRunning(false);
    EXPECT_EQ(Ctl<QLabel>(f, "StatusLBL")->text(), "Status:");
    EXPECT_TRUE(Ctl<QLabel>(f, "img_LatGraph")->pixmap().isNull());
    EXPECT_FALSE(lat->Run.LatEchoActive);

    // The next start works as the first did.
    lat->Ping4->OnEchoRequest = request;
    Ctl<TPictureButton>(f, "btn_Latency")->Click();
    ASSERT_TRUE(WaitForStatus("Status: 127.0.0.1 successfully pinged in "));
    ExpectRunning(true);
}
