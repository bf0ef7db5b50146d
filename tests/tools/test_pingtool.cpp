// The ping tool on a real window with real echoes to loopback: the switch,
// a run's lines and summary, Enter in the host field, the packet size
// warning, Cancel during the lookup and a second run refused during a run.
#include "tooltest.h"

#include "widgets/picturebutton.h"
#include "net/ping.h"
#include "../support/ctl.h"

#include <QAction>
#include <QFrame>
#include <QLineEdit>
#include <QRegularExpression>
#include <QSpinBox>
#include <QTest>
#include <gtest/gtest.h>

#include <algorithm>
#include <numeric>

using namespace std::chrono_literals;
using tooltest::Lines;
using tooltest::Window;

namespace {

class PingTool : public tooltest::EchoToolTest {
protected:
    void SetUp() override
    {
        EchoToolTest::SetUp();
        if (IsSkipped())
            return;
        Ctl<TPictureButton>(f, "btn_Ping")->Click();
    }
};

// Checks that 'lines' are a complete run of 'times' answered echoes to
// 'host' at 'address': lookup, one numbered line per echo and the summary,
// whose figures must agree with the numbered lines.
void ExpectAnsweredRun(const QStringList &lines, const QString &host, const QString &address,
                       int times)
{
    ASSERT_EQ(lines.size(), 1 + times + 5) << lines.join('|').toStdString();
    EXPECT_EQ(lines[0], QStringLiteral("\u2022 Lookup complete: %1 (%2)").arg(host, address));
    QList<int> rtts;
    for (int i = 1; i <= times; ++i) {
        const auto m = QRegularExpression(QStringLiteral("^%1\\.\\) (\\d+) msecs$").arg(i))
                           .match(lines[i]);
        ASSERT_TRUE(m.hasMatch()) << lines[i].toStdString();
        rtts << m.captured(1).toInt();
    }
    const int sum = std::accumulate(rtts.begin(), rtts.end(), 0);
    const auto [mn, mx] = std::minmax_element(rtts.begin(), rtts.end());
    const QStringList summary = lines.mid(1 + times);
    EXPECT_EQ(summary, QStringList({QStringLiteral("\u2022 Ping finished."),
                                    QStringLiteral("Successful Pings: %1/%1").arg(times),
                                    QStringLiteral("Minimum Round Trip: %1 msecs.").arg(*mn),
                                    QStringLiteral("Maximum Round Trip: %1 msecs.").arg(*mx),
                                    QStringLiteral("Average Round Trip: %1 msecs").arg(sum / times)}));
}

} // namespace

TEST_F(PingTool, SwitchShowsThePanelAndClearsItWhenTurnedOff)
{
    EXPECT_FALSE(Ctl<QLabel>(f, "img_PngGreen")->isHidden());
    EXPECT_TRUE(Ctl<QLabel>(f, "img_PngRed")->isHidden());
    EXPECT_TRUE(Ctl<TPictureButton>(f, "img_PngArrow")->isHidden());
    EXPECT_EQ(Ctl<TPictureButton>(f, "btn_Ping")->ImageIndex(), 1);
    EXPECT_FALSE(Ctl<QFrame>(f, "pnl_Ping")->isHidden());
    EXPECT_FALSE(Ctl<QLabel>(f, "img_Bg2")->isHidden());
    for (QWidget *child : {(QWidget *)png->re_Ping, (QWidget *)png->btn_PngYes,
                           (QWidget *)png->btn_PngNo, (QWidget *)png->lbl_PngPing,
                           (QWidget *)png->lbl_PngCancel})
        EXPECT_EQ(child->parentWidget(), Ctl<QFrame>(f, "pnl_Ping")) << child->objectName().toStdString();
    EXPECT_EQ(png->lbl_PngPing->text(), "Ping");
    EXPECT_EQ(png->lbl_PngCancel->text(), "Cancel");
    EXPECT_TRUE(png->re_Ping->isReadOnly());

    // Off, with and without another wide panel that needs the backdrop.
    for (bool servers : {false, true}) {
        // The other panel stands on the backdrop as every wide panel does.
        TBackdropHold other(*f);
        other.Set(servers);
        Ctl<QFrame>(f, "pnl_Servers")->setVisible(servers);
        png->edt_PngHost->setText("127.0.0.1");
        png->re_Ping->setPlainText("old output");
        f->SetStatus("Status: busy");
        Ctl<QAction>(f, "Ping1")->trigger();
        EXPECT_TRUE(Ctl<QFrame>(f, "pnl_Ping")->isHidden());
        EXPECT_EQ(Ctl<QLabel>(f, "img_Bg2")->isHidden(), !servers);
        EXPECT_FALSE(Ctl<QLabel>(f, "img_PngRed")->isHidden());
        EXPECT_TRUE(Ctl<QLabel>(f, "img_PngGreen")->isHidden());
        EXPECT_FALSE(Ctl<TPictureButton>(f, "img_PngArrow")->isHidden());
        EXPECT_EQ(Ctl<TPictureButton>(f, "btn_Ping")->ImageIndex(), 0);
        EXPECT_EQ(Ctl<QLabel>(f, "StatusLBL")->text(), "Status:");
        EXPECT_TRUE(png->edt_PngHost->text().isEmpty());
        EXPECT_TRUE(png->re_Ping->toPlainText().isEmpty());
        Ctl<QAction>(f, "Ping1")->trigger();
        EXPECT_FALSE(Ctl<QFrame>(f, "pnl_Ping")->isHidden());
        other.Set(false);
    }
}

TEST_F(PingTool, RunWritesOneLinePerEchoAndTheSummary)
{
    png->edt_PngHost->setText("127.0.0.1");
    png->se_PngTimes->setValue(3);
    Ctl<QSpinBox>(f, "se_PngBytes")->setValue(100);
    Ctl<QSpinBox>(f, "se_PngTO")->setValue(2);
    png->re_Ping->setPlainText("left from before");
    png->btn_PngYes->Click();

    ExpectAnsweredRun(Lines(png->re_Ping), "127.0.0.1", "127.0.0.1", 3);
    EXPECT_EQ(png->Ping3->Size(), 100);
    EXPECT_EQ(png->Ping3->Timeout(), 2000);
    EXPECT_EQ(png->Run.PingSeq, 3);
    EXPECT_EQ(png->Run.PingSuccesses, 3);
    EXPECT_EQ(png->Run.PingFailures, 0);
    EXPECT_FALSE(png->PingRunActive());
    EXPECT_TRUE(Ctl<QLabel>(f, "StatusLBL")->text().startsWith("Status: 127.0.0.1 successfully pinged in "));

    // A second run starts afresh: its own lines only, counters from zero.
    png->se_PngTimes->setValue(1);
    png->btn_PngYes->Click();
    ExpectAnsweredRun(Lines(png->re_Ping), "127.0.0.1", "127.0.0.1", 1);
    EXPECT_EQ(png->Run.PingSuccesses, 1);
}

TEST_F(PingTool, EnterInTheHostFieldPressesAndRunsLikeTheButton)
{
    png->edt_PngHost->setText("127.1");
    int reachedField = 0;
    QObject::connect(png->edt_PngHost, &QLineEdit::returnPressed, [&] { ++reachedField; });
    const QPoint button = png->btn_PngYes->pos(), caption = png->lbl_PngPing->pos();
    QTest::keyPress(png->edt_PngHost, Qt::Key_Return);
    EXPECT_EQ(png->btn_PngYes->pos(), button + QPoint(1, 1));
    EXPECT_EQ(png->lbl_PngPing->pos(), caption + QPoint(1, 1));
    ExpectAnsweredRun(Lines(png->re_Ping), "127.1", "127.0.0.1", 1);
    QTest::keyRelease(png->edt_PngHost, Qt::Key_Return);
    EXPECT_EQ(png->btn_PngYes->pos(), button);
    EXPECT_EQ(png->lbl_PngPing->pos(), caption);
    // The key is used up before the field itself sees it.
    EXPECT_EQ(reachedField, 0);
}

TEST_F(PingTool, PacketSizeIsCheckedAsTyped)
{
    auto *sizeText = Ctl<QSpinBox>(f, "se_PngBytes")->findChild<QLineEdit *>();
    ASSERT_NE(sizeText, nullptr);
    png->edt_PngHost->setText("127.0.0.1");
    const struct {
        const char *typed;
        bool warned;
        int size;
    } cases[] = {{"70000", true, 0}, {"65536", true, 0}, {"1000", false, 1000}};
    for (const auto &c : cases) {
        w->messages.clear();
        png->re_Ping->setPlainText("old output");
        f->SetStatus("Status: before");
        png->Ping3->SetSize(56);
        sizeText->setText(c.typed);
        png->btn_PngYes->Click();
        if (c.warned) {
            EXPECT_EQ(w->messages, QStringList{"Packet size cannot be greater than 65535 bytes."})
                << c.typed;
            EXPECT_EQ(Ctl<QSpinBox>(f, "se_PngBytes")->value(), 65535);
            EXPECT_EQ(Ctl<QSpinBox>(f, "se_PngBytes")->text(), "65535");
            EXPECT_TRUE(png->re_Ping->toPlainText().isEmpty()) << c.typed;
            EXPECT_EQ(Ctl<QLabel>(f, "StatusLBL")->text(), "Status: before");
            EXPECT_EQ(png->Ping3->Size(), 56);
            EXPECT_FALSE(png->PingRunActive());
        } else {
            EXPECT_TRUE(w->messages.isEmpty()) << c.typed;
            EXPECT_EQ(png->Ping3->Size(), c.size);
            ExpectAnsweredRun(Lines(png->re_Ping), "127.0.0.1", "127.0.0.1", 1);
        }
    }
}

TEST_F(PingTool, CancelDuringTheLookupEndsTheRunAsUnknownHost)
{
    // A name goes through the resolver's worker: the lookup is pending until
    // its completion comes back through the event loop.
    png->edt_PngHost->setText("localhost");
    png->se_PngTimes->setValue(2);
    QTest::mouseClick(png->lbl_PngPing, Qt::LeftButton);
    ASSERT_TRUE(png->Ping3->LookupPending());
    EXPECT_TRUE(png->PingRunActive());
    QTest::mouseClick(png->lbl_PngCancel, Qt::LeftButton);
    EXPECT_FALSE(png->Ping3->LookupPending());
    EXPECT_FALSE(png->PingRunActive());
    EXPECT_EQ(Lines(png->re_Ping), QStringList{"\u2022 Unknown Host localhost"});
    EXPECT_EQ(Ctl<QLabel>(f, "StatusLBL")->text(), "Status: Unknown Host localhost");
    // The abandoned lookup's completion never arrives; Cancel with nothing
    // pending does nothing.
    testutil::pump(300ms);
    png->btn_PngNo->Click();
    EXPECT_EQ(Lines(png->re_Ping), QStringList{"\u2022 Unknown Host localhost"});

    // Left alone, the same lookup completes and the run goes on.
    png->btn_PngYes->Click();
    ASSERT_TRUE(testutil::waitFor([&] { return !png->PingRunActive(); }, 5000ms));
    ExpectAnsweredRun(Lines(png->re_Ping), "localhost", "127.0.0.1", 2);
}

TEST_F(PingTool, SecondRunDuringARunIsRefused)
{
    png->edt_PngHost->setText("127.0.0.1");
    png->se_PngTimes->setValue(3);
    int attempts = 0;
    auto request = png->Ping3->OnEchoRequest;
    png->Ping3->OnEchoRequest = [&](QObject *s) {
        // The user clicks Ping (and presses Enter) while the echoes run.
        if (attempts++ == 1) {
            png->btn_PngYes->Click();
            QTest::keyClick(png->edt_PngHost, Qt::Key_Return);
        }
        request(s);
    };
    png->btn_PngYes->Click();
    EXPECT_EQ(attempts, 3);
    ExpectAnsweredRun(Lines(png->re_Ping), "127.0.0.1", "127.0.0.1", 3);
    EXPECT_FALSE(png->PingRunActive());
}
