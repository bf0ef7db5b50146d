// The auto-disconnect on the window: "Disconnect after" arms a countdown of
// minutes on connect (a minute made short here); when it runs out the
// countdown dialog asks, and every answer is followed through: no answer and
// "Ok, Disconnect" switch the running tools off in order and hang up, "DO NOT
// DISCONNECT" and the close box keep the line.
#include "dialtest.h"
#include "platform/services.h"

#include "dialup/disconnect.h"
#include "widgets/picturebutton.h"
#include "../support/ctl.h"

#include <QAction>
#include <QLabel>
#include <QSpinBox>
#include <QTest>
#include <QTimer>

#include <functional>

using namespace std::chrono_literals;
using dialtest::Window;

namespace {

constexpr int MinuteMs = 40;
constexpr int TickMs = 5;

// Watches for countdown dialogs while the test waits (the dialog runs its
// own event loop, so the test acts from a timer), records what each showed
// and answers with 'answer' once it has seen it.
struct DialogWatch {
    QTimer poll;
    int dialogs = 0;
    QStringList captions;
    QStringList lastCounts;   // Label2 when each dialog ended
    qint64 openedAtMinute = -1;

    DialogWatch(QWidget *window, const std::function<void(Tfrm_Disc &)> &answer,
                const std::function<qint64()> &minutesLeft)
    {
        poll.setInterval(1);
        QObject::connect(&poll, &QTimer::timeout, [this, window, answer, minutesLeft] {
            auto *d = window->findChild<Tfrm_Disc *>();
            if (!d || !d->isVisible() || d->property("seen").toBool())
                return;
            d->setProperty("seen", true);
            ++dialogs;
            openedAtMinute = minutesLeft();
            captions << d->windowTitle();
            QObject::connect(d, &QDialog::finished, d,
                             [this, d] { lastCounts << d->Label2->text(); });
            if (answer)
                answer(*d);
        });
        poll.start();
    }
};

QByteArray DisconnectAfter(int minutes)
{
    return "[Dial-Up Options]\r\nConnection=0\r\nDisconnect=1\r\nDisconnect Time=" +
           QByteArray::number(minutes) + "\r\n";
}

struct AnswerCase {
    const char *name;
    std::function<void(Tfrm_Disc &)> answer;   // empty: no answer
    bool disconnect;
};

void PrintTo(const AnswerCase &c, std::ostream *os) { *os << c.name; }

class Answers : public ::testing::TestWithParam<AnswerCase> {};

} // namespace

TEST_P(Answers, AreFollowedThrough)
{
    const AnswerCase &c = GetParam();
    int beeps = 0;
    platform::Services().Beep = [&] { ++beeps; };
    Window w("[Provider]\nStepMs=5\n", DisconnectAfter(1), MinuteMs, TickMs);
    // Every tool runs; the latency test is switched on last, yet it goes
    // off in its place in the order.
    w.SetRunning({TToolId::Trace, TToolId::Ping, TToolId::Finger, TToolId::AntiIdle,
                  TToolId::Latency});
    DialogWatch watch(w.form.get(), c.answer, [&] { return w.ctl->RasMinutesLeft; });
    w.Run(w.ctl->Connect1);
    ASSERT_TRUE(w.WaitEvent("Connect"));
    EXPECT_TRUE(w.ctl->RasTimer->isActive());
    EXPECT_EQ(w.ctl->RasTimer->interval(), MinuteMs);
    const bool ended = testutil::waitFor(
        [&] { return watch.lastCounts.size() == 1 && !w.ctl->RasTimer->isActive(); }, 5s);
    platform::Services().Beep = {};
    ASSERT_TRUE(ended);
    testutil::pump(5 * MinuteMs * 1ms);

    EXPECT_EQ(watch.dialogs, 1);   // once per connection
    EXPECT_EQ(watch.captions, QStringList{"Idlix 2.0 Alarm"});
    EXPECT_EQ(watch.openedAtMinute, 0);
    EXPECT_EQ(beeps, 1);
    EXPECT_EQ(w.ctl->DisconnectWanted, c.disconnect);
    EXPECT_EQ(w.form->findChild<Tfrm_Disc *>(), nullptr);   // freed when closed
    if (c.disconnect) {
        EXPECT_EQ(w.clicks, (QStringList{"AntiIdle", "Finger", "Latency", "Ping", "Trace"}));
        EXPECT_TRUE(w.Running().isEmpty());
        EXPECT_EQ(w.ctl->RAS1->LineState(), TRasLineState::Idle);
        EXPECT_EQ(w.events.last(), "Disconnect");
        EXPECT_EQ(w.Status(), "Status: Disconnected.");
        EXPECT_TRUE(w.ctl->Connect1->isEnabled());
        EXPECT_FALSE(w.ctl->Disconnect1->isEnabled());
    } else {
        EXPECT_TRUE(w.clicks.isEmpty());
        EXPECT_EQ(w.Running().size(), 5);
        EXPECT_EQ(w.ctl->RAS1->LineState(), TRasLineState::Connected);
        EXPECT_EQ(w.Status(), "Status: Connected to Provider.");
        EXPECT_FALSE(w.events.contains("Disconnect"));
        EXPECT_FALSE(w.ctl->RasTimer->isActive());   // no second countdown
    }
}

INSTANTIATE_TEST_SUITE_P(
    Countdown, Answers,
    ::testing::Values(
        AnswerCase{"NoAnswer", {}, true},
        AnswerCase{"DoNotDisconnect", [](Tfrm_Disc &d) { QTest::mouseClick(d.btn_No, Qt::LeftButton); },
                   false},
        AnswerCase{"OkDisconnect", [](Tfrm_Disc &d) { QTest::mouseClick(d.Label4, Qt::LeftButton); },
                   true},
        AnswerCase{"TitleBarClose", [](Tfrm_Disc &d) { d.close(); }, false},
        AnswerCase{"Escape", [](Tfrm_Disc &d) { QTest::keyClick(&d, Qt::Key_Escape); }, false}),
    [](const auto &info) { return std::string(info.param.name); });

TEST(AutoDisconnect, NoAnswerWaitsTheWholeCountdown)
{
    Window w("[Provider]\nStepMs=5\n", DisconnectAfter(1), MinuteMs, 20);
    DialogWatch watch(w.form.get(), {}, [] { return 0; });
    w.Run(w.ctl->Connect1);
    ASSERT_TRUE(w.WaitEvent("Connect"));
    QElapsedTimer t;
    t.start();
    ASSERT_TRUE(testutil::waitFor([&] { return w.events.last() == "Disconnect"; }, 10s));
    // A minute and thirty countdown seconds, and the count ran down to 1.
    EXPECT_GE(t.elapsed(), MinuteMs + 30 * 20);
    EXPECT_EQ(watch.lastCounts, QStringList{"1 seconds"});
}

TEST(AutoDisconnect, CountsWholeMinutesOfAnyLength)
{
    // However many minutes are set, the timer ticks once a minute and the
    // minutes are counted: a million minutes fit.
    for (const int minutes : {1, 2, 71582, 71583, 1000000}) {
        Window w("[Provider]\nStepMs=5\n", DisconnectAfter(minutes), 60000, TickMs);
        EXPECT_EQ(Ctl<QSpinBox>(w.form, "se_RasDisc")->value(), minutes);
        w.Run(w.ctl->Connect1);
        ASSERT_TRUE(w.WaitEvent("Connect"));
        EXPECT_TRUE(w.ctl->RasTimer->isActive()) << minutes;
        EXPECT_EQ(w.ctl->RasTimer->interval(), 60000);
        EXPECT_EQ(w.ctl->RasMinutesLeft, minutes);
        // One minute passes: one less to go, and no dialog unless it was the last.
        if (minutes > 1) {
            w.ctl->RasTimerTimer();
            EXPECT_EQ(w.ctl->RasMinutesLeft, minutes - 1);
            EXPECT_TRUE(w.ctl->RasTimer->isActive());
        }
    }
}

TEST(AutoDisconnect, TwoMinutesOpenTheDialogAtTheSecondTick)
{
    Window w("[Provider]\nStepMs=5\n", DisconnectAfter(2), MinuteMs, TickMs);
    DialogWatch watch(w.form.get(), [](Tfrm_Disc &d) { d.btn_NoClick(); },
                      [&] { return w.ctl->RasMinutesLeft; });
    w.Run(w.ctl->Connect1);
    ASSERT_TRUE(w.WaitEvent("Connect"));
    QElapsedTimer t;
    t.start();
    ASSERT_TRUE(testutil::waitFor([&] { return watch.dialogs == 1; }, 5s));
    EXPECT_GE(t.elapsed(), 2 * MinuteMs - 5);
}

TEST(AutoDisconnect, UncheckedArmsNothing)
{
    Window w("[Provider]\nStepMs=5\n", "[Dial-Up Options]\r\nDisconnect=0\r\n", MinuteMs, TickMs);
    w.Run(w.ctl->Connect1);
    ASSERT_TRUE(w.WaitEvent("Connect"));
    EXPECT_FALSE(w.ctl->RasTimer->isActive());
}

TEST(AutoDisconnect, EndOfTheLineCancelsTheCountdown)
{
    // Dropped by the line, or hung up from the menu: there is nothing left to
    // cut, so no dialog comes.
    for (const bool dropped : {true, false}) {
        Window w(dropped ? "[Provider]\nStepMs=5\nDropAfter=1\n" : "[Provider]\nStepMs=5\n",
                 DisconnectAfter(1), 1500, TickMs);
        DialogWatch watch(w.form.get(), [](Tfrm_Disc &d) { d.btn_YesClick(); },
                          [] { return 0; });
        w.Run(w.ctl->Connect1);
        ASSERT_TRUE(w.WaitEvent("Connect"));
        ASSERT_TRUE(w.ctl->RasTimer->isActive());
        if (!dropped)
            w.Run(w.ctl->Disconnect1);
        ASSERT_TRUE(w.WaitEvent("Disconnect"));
        EXPECT_FALSE(w.ctl->RasTimer->isActive());
        testutil::pump(1700ms);
        EXPECT_EQ(watch.dialogs, 0);
        EXPECT_TRUE(w.clicks.isEmpty());
    }
}

TEST(AutoDisconnect, ReconnectArmsAFreshCountdown)
{
    Window w("[Provider]\nStepMs=5\n", DisconnectAfter(3), 60000, TickMs);
    w.Run(w.ctl->Connect1);
    ASSERT_TRUE(w.WaitEvent("Connect"));
    w.ctl->RasTimerTimer();
    EXPECT_EQ(w.ctl->RasMinutesLeft, 2);
    w.Run(w.ctl->Disconnect1);
    w.events.clear();
    w.Run(w.ctl->Connect1);
    ASSERT_TRUE(w.WaitEvent("Connect"));
    EXPECT_EQ(w.ctl->RasMinutesLeft, 3);
    EXPECT_TRUE(w.ctl->RasTimer->isActive());
}
