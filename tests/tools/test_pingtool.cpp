// The ping tool on a real window with real echoes to loopback: the switch,
// a run's lines and summary, Enter in the host field, the packet size
// warning, Cancel during the lookup and a second run refused during a run.
#include "tooltest.h"

#include "app/picturebutton.h"
#include "net/ping.h"

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
        f->btn_Ping->Click();
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
    EXPECT_FALSE(f->img_PngGreen->isHidden());
    EXPECT_TRUE(f->img_PngRed->isHidden());
    EXPECT_TRUE(f->img_PngArrow->isHidden());
    EXPECT_EQ(f->btn_Ping->ImageIndex(), 1);
    EXPECT_FALSE(f->pnl_Ping->isHidden());
    EXPECT_FALSE(f->img_Bg2->isHidden());
    for (QWidget *child : {(QWidget *)f->re_Ping, (QWidget *)f->btn_PngYes,
                           (QWidget *)f->btn_PngNo, (QWidget *)f->lbl_PngPing,
                           (QWidget *)f->lbl_PngCancel})
        EXPECT_EQ(child->parentWidget(), f->pnl_Ping) << child->objectName().toStdString();
    EXPECT_EQ(f->lbl_PngPing->text(), "Ping");
    EXPECT_EQ(f->lbl_PngCancel->text(), "Cancel");
    EXPECT_TRUE(f->re_Ping->isReadOnly());

    // Off, with and without another wide panel that needs the backdrop.
    for (bool servers : {false, true}) {
        f->pnl_Servers->setVisible(servers);
        f->edt_PngHost->setText("127.0.0.1");
        f->re_Ping->setPlainText("old output");
        f->SetStatus("Status: busy");
        f->Ping1->trigger();
        EXPECT_TRUE(f->pnl_Ping->isHidden());
        EXPECT_EQ(f->img_Bg2->isHidden(), !servers);
        EXPECT_FALSE(f->img_PngRed->isHidden());
        EXPECT_TRUE(f->img_PngGreen->isHidden());
        EXPECT_FALSE(f->img_PngArrow->isHidden());
        EXPECT_EQ(f->btn_Ping->ImageIndex(), 0);
        EXPECT_EQ(f->StatusLBL->text(), "Status:");
        EXPECT_TRUE(f->edt_PngHost->text().isEmpty());
        EXPECT_TRUE(f->re_Ping->toPlainText().isEmpty());
        f->Ping1->trigger();
        EXPECT_FALSE(f->pnl_Ping->isHidden());
    }
}

TEST_F(PingTool, RunWritesOneLinePerEchoAndTheSummary)
{
    f->edt_PngHost->setText("127.0.0.1");
    f->se_PngTimes->setValue(3);
    f->se_PngBytes->setValue(100);
    f->se_PngTO->setValue(2);
    f->re_Ping->setPlainText("left from before");
    f->btn_PngYes->Click();

    ExpectAnsweredRun(Lines(f->re_Ping), "127.0.0.1", "127.0.0.1", 3);
    EXPECT_EQ(f->Ping3->Size(), 100);
    EXPECT_EQ(f->Ping3->Timeout(), 2000);
    EXPECT_EQ(f->PingSeq, 3);
    EXPECT_EQ(f->PingSuccesses, 3);
    EXPECT_EQ(f->PingFailures, 0);
    EXPECT_FALSE(f->PingRunActive);
    EXPECT_TRUE(f->StatusLBL->text().startsWith("Status: 127.0.0.1 successfully pinged in "));

    // A second run starts afresh: its own lines only, counters from zero.
    f->se_PngTimes->setValue(1);
    f->btn_PngYes->Click();
    ExpectAnsweredRun(Lines(f->re_Ping), "127.0.0.1", "127.0.0.1", 1);
    EXPECT_EQ(f->PingSuccesses, 1);
}

TEST_F(PingTool, EnterInTheHostFieldPressesAndRunsLikeTheButton)
{
    f->edt_PngHost->setText("127.1");
    int reachedField = 0;
    QObject::connect(f->edt_PngHost, &QLineEdit::returnPressed, [&] { ++reachedField; });
    const QPoint button = f->btn_PngYes->pos(), caption = f->lbl_PngPing->pos();
    QTest::keyPress(f->edt_PngHost, Qt::Key_Return);
    EXPECT_EQ(f->btn_PngYes->pos(), button + QPoint(1, 1));
    EXPECT_EQ(f->lbl_PngPing->pos(), caption + QPoint(1, 1));
    ExpectAnsweredRun(Lines(f->re_Ping), "127.1", "127.0.0.1", 1);
    QTest::keyRelease(f->edt_PngHost, Qt::Key_Return);
    EXPECT_EQ(f->btn_PngYes->pos(), button);
    EXPECT_EQ(f->lbl_PngPing->pos(), caption);
    // The key is used up before the field itself sees it.
    EXPECT_EQ(reachedField, 0);
}

TEST_F(PingTool, PacketSizeIsCheckedAsTyped)
{
    auto *sizeText = f->se_PngBytes->findChild<QLineEdit *>();
    ASSERT_NE(sizeText, nullptr);
    f->edt_PngHost->setText("127.0.0.1");
    const struct {
        const char *typed;
        bool warned;
        int size;
    } cases[] = {{"70000", true, 0}, {"65536", true, 0}, {"1000", false, 1000}};
    for (const auto &c : cases) {
        w->messages.clear();
        f->re_Ping->setPlainText("old output");
        f->SetStatus("Status: before");
        f->Ping3->SetSize(56);
        sizeText->setText(c.typed);
        f->btn_PngYes->Click();
        if (c.warned) {
            EXPECT_EQ(w->messages, QStringList{"Packet size cannot be greater than 65535 bytes."})
                << c.typed;
            EXPECT_EQ(f->se_PngBytes->value(), 65535);
            EXPECT_EQ(f->se_PngBytes->text(), "65535");
            EXPECT_TRUE(f->re_Ping->toPlainText().isEmpty()) << c.typed;
            EXPECT_EQ(f->StatusLBL->text(), "Status: before");
            EXPECT_EQ(f->Ping3->Size(), 56);
            EXPECT_FALSE(f->PingRunActive);
        } else {
            EXPECT_TRUE(w->messages.isEmpty()) << c.typed;
            EXPECT_EQ(f->Ping3->Size(), c.size);
            ExpectAnsweredRun(Lines(f->re_Ping), "127.0.0.1", "127.0.0.1", 1);
        }
    }
}

TEST_F(PingTool, CancelDuringTheLookupEndsTheRunAsUnknownHost)
{
    // A name goes through the resolver's worker: the lookup is pending until
    // its completion comes back through the event loop.
    f->edt_PngHost->setText("localhost");
    f->se_PngTimes->setValue(2);
    QTest::mouseClick(f->lbl_PngPing, Qt::LeftButton);
    ASSERT_TRUE(f->Ping3->LookupPending());
    EXPECT_TRUE(f->PingRunActive);
    QTest::mouseClick(f->lbl_PngCancel, Qt::LeftButton);
    EXPECT_FALSE(f->Ping3->LookupPending());
    EXPECT_FALSE(f->PingRunActive);
    EXPECT_EQ(Lines(f->re_Ping), QStringList{"\u2022 Unknown Host localhost"});
    EXPECT_EQ(f->StatusLBL->text(), "Status: Unknown Host localhost");
    // The abandoned lookup's completion never arrives; Cancel with nothing
    // pending does nothing.
    testutil::pump(300ms);
    f->btn_PngNo->Click();
    EXPECT_EQ(Lines(f->re_Ping), QStringList{"\u2022 Unknown Host localhost"});

    // Left alone, the same lookup completes and the run goes on.
    f->btn_PngYes->Click();
    ASSERT_TRUE(testutil::waitFor([&] { return !f->PingRunActive; }, 5000ms));
    ExpectAnsweredRun(Lines(f->re_Ping), "localhost", "127.0.0.1", 2);
}

TEST_F(PingTool, SecondRunDuringARunIsRefused)
{
    f->edt_PngHost->setText("127.0.0.1");
    f->se_PngTimes->setValue(3);
    int attempts = 0;
    auto request = f->Ping3->OnEchoRequest;
    f->Ping3->OnEchoRequest = [&](QObject *s) {
        // The user clicks Ping (and presses Enter) while the echoes run.
        if (attempts++ == 1) {
            f->btn_PngYes->Click();
            QTest::keyClick(f->edt_PngHost, Qt::Key_Return);
        }
        request(s);
    };
    f->btn_PngYes->Click();
    EXPECT_EQ(attempts, 3);
    ExpectAnsweredRun(Lines(f->re_Ping), "127.0.0.1", "127.0.0.1", 3);
    EXPECT_FALSE(f->PingRunActive);
}
