// The countdown dialog on its own: its looks and texts, the thirty ticks
// with the label's count, each way of answering, the beep, and the answer
// returned by the modal question.
#include "dialup/disconnect.h"
#include "platform/services.h"

#include "desktop/msgbox.h"
#include "widgets/picturebutton.h"
#include "../support/testutil.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

#include <functional>
#include <memory>

using namespace std::chrono_literals;

inline void PrintTo(const QString &s, std::ostream *os) { *os << '"' << s.toStdString() << '"'; }

TEST(CountdownDialog, LooksAndTexts)
{
    Tfrm_Disc d;
    EXPECT_EQ(d.objectName(), "frm_Disc");
    EXPECT_EQ(d.windowTitle(), "Idlix 2.0 Alarm");
    EXPECT_EQ(d.size(), QSize(221, 112));
    EXPECT_TRUE(d.windowFlags().testFlag(Qt::WindowStaysOnTopHint));
    EXPECT_TRUE(d.isModal());
    EXPECT_EQ(d.palette().color(QPalette::Window), QColor(Qt::black));
    EXPECT_EQ(d.Label1->text(), "Idlix is set to Disconnect your Internet connection in");
    EXPECT_TRUE(d.Label1->wordWrap());
    EXPECT_EQ(d.Label1->palette().color(QPalette::WindowText), QColor(192, 192, 192));
    EXPECT_EQ(d.Label2->text(), "30 seconds");
    EXPECT_EQ(d.Label2->palette().color(QPalette::WindowText), QColor(Qt::red));
    for (QLabel *l : {d.Label1, d.Label2})
        EXPECT_TRUE(l->alignment().testFlag(Qt::AlignHCenter)) << l->objectName().toStdString();
    EXPECT_EQ(d.Label3->text(), "DO NOT DISCONNECT");
    EXPECT_EQ(d.Label4->text(), "Ok, Disconnect");
    EXPECT_FALSE(d.btn_No->pixmap().isNull());
    EXPECT_FALSE(d.btn_Yes->pixmap().isNull());
    EXPECT_EQ(d.Countdown, 30);
    EXPECT_TRUE(d.Timer1->isActive());
    EXPECT_EQ(d.Timer1->interval(), 1000);
    EXPECT_FALSE(d.DisconnectWanted());
}

TEST(CountdownDialog, ThirtyTicksCountDownAndThenDisconnect)
{
    Tfrm_Disc d;
    QStringList shown;
    for (int tick = 1; tick <= 30; ++tick) {
        ASSERT_TRUE(d.Timer1->isActive()) << "closed early at tick " << tick;
        d.Timer1Timer();
        shown << d.Label2->text();
        EXPECT_EQ(d.Countdown, 30 - tick);
    }
    // The first tick shows the starting text again, so "30 seconds" stands
    // for two seconds; the last one shown is "1 seconds".
    QStringList want;
    for (int n = 30; n >= 1; --n)
        want << QString::number(n) + " seconds";
    EXPECT_EQ(shown, want);
    EXPECT_FALSE(d.Timer1->isActive());
    EXPECT_TRUE(d.DisconnectWanted());
    EXPECT_EQ(d.result(), QDialog::Accepted);
}

namespace {

struct Answer {
    const char *name;
    std::function<void(Tfrm_Disc &)> act;
    bool closes;
    bool disconnect;
};

void PrintTo(const Answer &a, std::ostream *os) { *os << a.name; }

class Answers : public ::testing::TestWithParam<Answer> {};

} // namespace

TEST_P(Answers, EndTheDialogWithTheirAnswer)
{
    const Answer &a = GetParam();
    Tfrm_Disc d;
    d.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&d));
    d.Timer1Timer();   // some way into the countdown
    a.act(d);
    EXPECT_EQ(d.isVisible(), !a.closes);
    EXPECT_EQ(d.Timer1->isActive(), !a.closes);
    EXPECT_EQ(d.DisconnectWanted(), a.disconnect);
    if (a.closes) {
        EXPECT_EQ(d.result(), a.disconnect ? QDialog::Accepted : QDialog::Rejected);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Dialog, Answers,
    ::testing::Values(
        Answer{"OkPicture", [](Tfrm_Disc &d) { QTest::mouseClick(d.btn_Yes, Qt::LeftButton); },
               true, true},
        Answer{"OkText", [](Tfrm_Disc &d) { QTest::mouseClick(d.Label4, Qt::LeftButton); }, true,
               true},
        Answer{"DoNotPicture", [](Tfrm_Disc &d) { QTest::mouseClick(d.btn_No, Qt::LeftButton); },
               true, false},
        // The refusal's text is not a button.
        Answer{"DoNotText", [](Tfrm_Disc &d) { QTest::mouseClick(d.Label3, Qt::LeftButton); },
               false, false},
        Answer{"CloseBox", [](Tfrm_Disc &d) { d.close(); }, true, false},
        Answer{"Escape", [](Tfrm_Disc &d) { QTest::keyClick(&d, Qt::Key_Escape); }, true, false},
        // A press that leaves the picture before release is no click.
        Answer{"OkPressedAndDraggedAway",
               [](Tfrm_Disc &d) {
                   QTest::mousePress(d.btn_Yes, Qt::LeftButton);
                   QTest::mouseRelease(d.btn_Yes, Qt::LeftButton, {}, QPoint(-30, -30));
               },
               false, false}),
    [](const auto &info) { return std::string(info.param.name); });

TEST(CountdownDialog, BeepsOnceWhenShown)
{
    int beeps = 0;
    platform::Services().Beep = [&] { ++beeps; };
    {
        Tfrm_Disc d;
        EXPECT_EQ(beeps, 0);
        d.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&d));
        d.hide();
        d.show();
        testutil::pump(20ms);
    }
    platform::Services().Beep = {};
    EXPECT_EQ(beeps, 1);
}

TEST(CountdownDialog, QuestionWaitsForTheCountdownAndFreesItsDialog)
{
    platform::Services().Beep = [] {};
    QWidget owner;
    QElapsedTimer t;
    t.start();
    EXPECT_TRUE(AskToDisconnect(&owner, 10));
    EXPECT_GE(t.elapsed(), 30 * 10 - 5);
    EXPECT_EQ(owner.findChild<Tfrm_Disc *>(), nullptr);

    // Refused from inside its own loop.
    QTimer::singleShot(30, [&] {
        if (auto *d = owner.findChild<Tfrm_Disc *>())
            d->btn_NoClick();
    });
    EXPECT_FALSE(AskToDisconnect(&owner, 1000));
    EXPECT_EQ(owner.findChild<Tfrm_Disc *>(), nullptr);
    platform::Services().Beep = {};
}

TEST(CountdownDialog, OwnerGoneWhileAskingMeansNo)
{
    platform::Services().Beep = [] {};
    auto *owner = new QWidget;
    QTimer::singleShot(30, [&] { delete owner; });
    EXPECT_FALSE(AskToDisconnect(owner, 1000));
    platform::Services().Beep = {};
}
