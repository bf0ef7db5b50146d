// Both echo tools against the test network: the delaying echo responder for
// a known round trip and a lost echo, a host that never answers, the test
// name server for names and unknown hosts. Root only; the window is built
// inside the client host so its echo sockets live there.
#include "tooltest.h"

#include "widgets/picturebutton.h"
#include "net/ping.h"
#include "../support/netfixture.h"
#include "../support/ctl.h"

#include <QLineEdit>
#include <QRegularExpression>
#include <QSpinBox>
#include <QTimer>
#include <gtest/gtest.h>

using namespace std::chrono_literals;
using testnet::TestNet;
using tooltest::Lines;

namespace {

class ToolsNet : public testnet::NetTest {
protected:
    void SetUp() override
    {
        NetTest::SetUp();
        if (!Ready())
            return;
        w = std::make_unique<tooltest::Window>();
        f = w->form.get();
        lat = w->lat;
        png = w->png;
    }
    void TearDown() override
    {
        w.reset();
        scope.reset();
        if (net)
            net->stopResponder();
    }
    bool WaitForStatus(const QString &prefix, std::chrono::milliseconds timeout)
    {
        return testutil::waitFor([&] { return Ctl<QLabel>(f, "StatusLBL")->text().startsWith(prefix); }, timeout);
    }
    // Runs the ping tool to its end (summary or unknown host).
    void RunPing(const QString &host, int times)
    {
        Ctl<TPictureButton>(f, "btn_Ping")->Click();
        png->edt_PngHost->setText(host);
        png->se_PngTimes->setValue(times);
        Ctl<QSpinBox>(f, "se_PngTO")->setValue(1);
        png->btn_PngYes->Click();
        ASSERT_TRUE(testutil::waitFor([&] { return !png->PingRunActive(); }, 15000ms));
    }

    std::unique_ptr<tooltest::Window> w;
    TMainForm *f = nullptr;
    TLatencyTest *lat = nullptr;
    TPingTool *png = nullptr;
};


// Highest red pixel (smallest y) in column x, -1 when the column has none.
int TopOfLine(const QImage &img, int x)
{
    for (int y = 0; y < img.height(); ++y)
        if (img.pixel(x, y) == tooltest::Red)
            return y;
    return -1;
}

} // namespace

TEST_F(ToolsNet, LatencyPointsRiseOnePixelPer40msAndLostEchoesLeaveTheLine)
{
    // 150 ms round trips; the second echo is lost.
    ASSERT_TRUE(net->startResponder({"--delay", "150", "--drop-nth", "2"}));
    Ctl<QLineEdit>(f, "edt_LatHost")->setText("slow");
    Ctl<QSpinBox>(f, "se_LatInterval")->setValue(400);
    Ctl<QSpinBox>(f, "se_LatTO")->setValue(1);
    Ctl<TPictureButton>(f, "btn_Latency")->Click();
    ASSERT_TRUE(WaitForStatus("Status: Lookup complete: slow (10.200.3.30)", 5000ms))
        << Ctl<QLabel>(f, "StatusLBL")->text().toStdString();
    EXPECT_TRUE(lat->LatTimer->isActive());

    ASSERT_TRUE(WaitForStatus("Status: slow successfully pinged in ", 3000ms))
        << Ctl<QLabel>(f, "StatusLBL")->text().toStdString();
    const QImage first = tooltest::Picture(Ctl<QLabel>(f, "img_LatGraph"));
    ASSERT_FALSE(first.isNull());
    const int rtt = int(lat->Ping4->Reply().RoundTripTime);
    EXPECT_GE(rtt, 150);
    EXPECT_EQ(Ctl<QLabel>(f, "StatusLBL")->text(), QStringLiteral("Status: slow successfully pinged in %1 msecs").arg(rtt));
    // The newest point sits 4 pixels right of the centre and one pixel per
    // 40 ms above it: 3 for 150 ms (more only if this machine stalled the
    // responder); the older ones are still on the axis.
    const int up = rtt / 40;
    EXPECT_EQ(f->Graph().ResponseHistory[0], up);
    EXPECT_EQ(TopOfLine(first, 65 + 4), 58 - up);
    EXPECT_EQ(TopOfLine(first, 65 - 4), 58);
    EXPECT_EQ(TopOfLine(first, 65 - 56), 58);

    ASSERT_TRUE(WaitForStatus("Status: Error pinging slow : Request timed out", 3000ms))
        << Ctl<QLabel>(f, "StatusLBL")->text().toStdString();
    EXPECT_EQ(tooltest::Picture(Ctl<QLabel>(f, "img_LatGraph")), first);
    EXPECT_EQ(f->Graph().ResponseHistory[0], up);
    EXPECT_EQ(f->Graph().ResponseHistory[1], 0);

    // The next echo arrives again; the earlier point moves one step left.
    ASSERT_TRUE(WaitForStatus("Status: slow successfully pinged in ", 3000ms))
        << Ctl<QLabel>(f, "StatusLBL")->text().toStdString();
    const QImage third = tooltest::Picture(Ctl<QLabel>(f, "img_LatGraph"));
    const int upThird = int(lat->Ping4->Reply().RoundTripTime) / 40;
    EXPECT_GE(upThird, 3);
    EXPECT_EQ(TopOfLine(third, 65 + 4), 58 - upThird);
    EXPECT_EQ(TopOfLine(third, 65), 58 - up);
    EXPECT_EQ(TopOfLine(third, 65 - 8), 58);

    Ctl<TPictureButton>(f, "btn_Latency")->Click();
    EXPECT_TRUE(Ctl<QLabel>(f, "img_AIGraph")->isHidden());
    EXPECT_TRUE(Ctl<QLabel>(f, "img_LatGraph")->isHidden());
    EXPECT_TRUE(Ctl<QLabel>(f, "img_LatGraph")->pixmap().isNull());
    EXPECT_EQ(Ctl<QLabel>(f, "StatusLBL")->text(), "Status:");
}

TEST_F(ToolsNet, UnknownHostInBothTools)
{
    // Latency: the switch stays on, no timer, no echoes, until switched off.
    Ctl<QLineEdit>(f, "edt_LatHost")->setText("nosuch.idlix.test");
    Ctl<TPictureButton>(f, "btn_Latency")->Click();
    ASSERT_TRUE(WaitForStatus("Status: Unknown Host nosuch.idlix.test", 5000ms))
        << Ctl<QLabel>(f, "StatusLBL")->text().toStdString();
    EXPECT_FALSE(Ctl<QLabel>(f, "img_LatGreen")->isHidden());
    EXPECT_FALSE(lat->LatTimer->isActive());
    testutil::pump(300ms);
    EXPECT_EQ(Ctl<QLabel>(f, "StatusLBL")->text(), "Status: Unknown Host nosuch.idlix.test");
    Ctl<TPictureButton>(f, "btn_Latency")->Click();
    EXPECT_FALSE(Ctl<QLabel>(f, "img_LatRed")->isHidden());
    EXPECT_EQ(Ctl<QLabel>(f, "StatusLBL")->text(), "Status:");

    // Ping tool: the one line, no summary.
    RunPing("nosuch.idlix.test", 3);
    EXPECT_EQ(Lines(png->re_Ping), QStringList{"\u2022 Unknown Host nosuch.idlix.test"});
    EXPECT_EQ(Ctl<QLabel>(f, "StatusLBL")->text(), "Status: Unknown Host nosuch.idlix.test");
}

TEST_F(ToolsNet, PingRunOfFourWithOneLostEcho)
{
    ASSERT_TRUE(net->startResponder({"--delay", "30", "--drop-nth", "3"}));
    RunPing("slow.idlix.test", 4);
    const QStringList lines = Lines(png->re_Ping);
    ASSERT_EQ(lines.size(), 10) << lines.join('|').toStdString();
    EXPECT_EQ(lines[0], "\u2022 Lookup complete: slow.idlix.test (10.200.3.30)");
    EXPECT_EQ(lines[3], "\u2022 Error pinging slow.idlix.test : Request timed out");
    QList<int> rtts;
    for (int i : {1, 2, 4}) {
        const auto m = QRegularExpression(QStringLiteral("^%1\\.\\) (\\d+) msecs$").arg(i))
                           .match(lines[i]);
        ASSERT_TRUE(m.hasMatch()) << lines[i].toStdString();
        rtts << m.captured(1).toInt();
        EXPECT_GE(rtts.back(), 30);
    }
    const int sum = rtts[0] + rtts[1] + rtts[2];
    const int mn = std::min({rtts[0], rtts[1], rtts[2]});
    const int mx = std::max({rtts[0], rtts[1], rtts[2]});
    // The average is over the three answered echoes only, truncated.
    EXPECT_EQ(lines.mid(5), QStringList({"\u2022 Ping finished.", "Successful Pings: 3/4",
                                         QStringLiteral("Minimum Round Trip: %1 msecs.").arg(mn),
                                         QStringLiteral("Maximum Round Trip: %1 msecs.").arg(mx),
                                         QStringLiteral("Average Round Trip: %1 msecs").arg(sum / 3)}));
    EXPECT_EQ(png->Run.PingFailures, 1);
    EXPECT_EQ(png->Run.PingSumRtt, sum);
}

TEST_F(ToolsNet, PingRunsWhereNoEchoIsAnswered)
{
    // A host that ignores echoes, and an address the engine will not send to:
    // every echo fails and the summary still closes the run.
    const struct {
        const char *host;
        int times;
        const char *error;
    } cases[] = {
        {testnet::kQuiet, 2, "Request timed out"},
        {"255.255.255.255", 1, "Bad Destination"},
    };
    for (const auto &c : cases) {
        RunPing(c.host, c.times);
        QStringList expected{QStringLiteral("\u2022 Lookup complete: %1 (%1)").arg(c.host)};
        for (int i = 0; i < c.times; ++i)
            expected << QStringLiteral("\u2022 Error pinging %1 : %2").arg(c.host, c.error);
        expected << "\u2022 Ping finished." << QStringLiteral("Successful Pings: 0/%1").arg(c.times)
                 << "Minimum Round Trip: 0 msecs." << "Maximum Round Trip: 0 msecs."
                 << "Average Round Trip: 0 msecs";
        EXPECT_EQ(Lines(png->re_Ping), expected) << c.host;
        EXPECT_EQ(Ctl<QLabel>(f, "StatusLBL")->text(),
                  QStringLiteral("Status: Error pinging %1 : %2").arg(c.host, c.error));
        Ctl<TPictureButton>(f, "btn_Ping")->Click();   // off again for the next case
    }
}
