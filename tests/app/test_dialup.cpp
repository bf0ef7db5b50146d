// The whole program's window with a simulated phone book: "Connect on start"
// with "Start Anti-Idle on connect" starts the real anti-idle session once
// the line is up (or at once when it was up already), and the auto-disconnect
// left unanswered switches the session and the open tools off and hangs up.
#include "app/idlix.h"
#include "dialup/dialupcontrol.h"
#include "dialup/disconnect.h"
#include "net/ras.h"
#include "shell/mainform.h"
#include "widgets/picturebutton.h"
#include "widgets/toolswitch.h"
#include "desktop/msgbox.h"
#include "../support/testutil.h"
#include "../support/ctl.h"
#include "platform/services.h"

#include <QAction>
#include <QFile>
#include <QFrame>
#include <QLabel>
#include <QTimer>
#include <gtest/gtest.h>

#include <memory>

inline void PrintTo(const QString &s, std::ostream *os) { *os << '"' << s.toStdString() << '"'; }

using namespace std::chrono_literals;

namespace {

// The program on a scratch directory whose phone book is 'book'.
struct Program {
    testutil::ScratchDir dir;
    QStringList messages;
    std::unique_ptr<TIdlix> idlix;
    TMainForm *form = nullptr;
    TDialUpControl *dial = nullptr;

    explicit Program(const QByteArray &book)
    {
        testutil::writeFile(dir.file("book.ini"), book);
        testutil::writeFile(
            dir.file("idlix2.ini"),
            "[Anti-Idle Options]\r\nMethod=1\r\nFrequecy=1\r\nHost=127.0.0.1\r\n"
            "[Dial-Up Options]\r\nConnection=0\r\nConnect On Start=1\r\nStart AI=1\r\n"
            "Disconnect=1\r\nDisconnect Time=1\r\n");
        qputenv("IDLIX_PHONEBOOK", dir.file("book.ini").toLocal8Bit());
        platform::Services().Message = [this](const QString &t) { messages << t; };
        platform::Services().Beep = [] {};
        idlix = std::make_unique<TIdlix>();
        form = idlix->Form.get();
        dial = idlix->DialUp;
        // The dial reports through the event loop, so the short minute is
        // in place before the line comes up.
        dial->MinuteMs = 200;
        dial->CountdownTickMs = 5;
    }
    ~Program()
    {
        idlix.reset();
        platform::Services().Message = {};
        platform::Services().Beep = {};
        qunsetenv("IDLIX_PHONEBOOK");
    }
    bool AntiIdleOn() const
    {
        return form->Switch(TToolId::AntiIdle).Running() && Ctl<QLabel>(form, "img_AIGreen")->isVisible();
    }
};

} // namespace

TEST(DialUpProgram, ConnectOnStartStartsAntiIdleWhenTheLineComesUp)
{
    Program p("[Provider]\nStepMs=5\n");
    EXPECT_EQ(Ctl<QLabel>(p.form, "StatusLBL")->text(), "Status: Attemping to connect to Provider...");
    EXPECT_FALSE(p.AntiIdleOn());
    ASSERT_TRUE(testutil::waitFor([&] { return p.AntiIdleOn(); }, 5s));
    EXPECT_EQ(p.dial->RAS1->LineState(), TRasLineState::Connected);
    EXPECT_FALSE(Ctl<QAction>(p.form, "Connect1")->isEnabled());
    EXPECT_TRUE(Ctl<QAction>(p.form, "Disconnect1")->isEnabled());
    EXPECT_TRUE(p.dial->RasTimer->isActive());
    // The finger, ping and traceroute panels are open too.
    for (TPictureButton *tool : {Ctl<TPictureButton>(p.form, "btn_Finger"), Ctl<TPictureButton>(p.form, "btn_Ping"), Ctl<TPictureButton>(p.form, "btn_Trace")})
        tool->Click();
    EXPECT_EQ(p.form->RunningTools(),
              (QList<TToolId>{TToolId::AntiIdle, TToolId::Finger, TToolId::Ping, TToolId::Trace}));

    // The countdown is left unanswered: the session and the tools are
    // switched off, then the line is hung up.
    ASSERT_TRUE(testutil::waitFor(
        [&] { return p.dial->RAS1->LineState() == TRasLineState::Idle; }, 5s));
    EXPECT_TRUE(p.dial->DisconnectWanted);
    EXPECT_FALSE(p.AntiIdleOn());
    EXPECT_TRUE(p.form->RunningTools().isEmpty());
    for (QLabel *green : {Ctl<QLabel>(p.form, "img_AIGreen"), Ctl<QLabel>(p.form, "img_FngGreen"), Ctl<QLabel>(p.form, "img_PngGreen"),
                          Ctl<QLabel>(p.form, "img_TrcGreen")})
        EXPECT_FALSE(green->isVisible()) << green->objectName().toStdString();
    for (QFrame *panel : {Ctl<QFrame>(p.form, "pnl_Finger"), Ctl<QFrame>(p.form, "pnl_Ping"), Ctl<QFrame>(p.form, "pnl_Trace")})
        EXPECT_FALSE(panel->isVisible()) << panel->objectName().toStdString();
    EXPECT_EQ(Ctl<QLabel>(p.form, "StatusLBL")->text(), "Status: Disconnected.");
    EXPECT_TRUE(Ctl<QAction>(p.form, "Connect1")->isEnabled());
    EXPECT_FALSE(Ctl<QAction>(p.form, "Disconnect1")->isEnabled());
}

TEST(DialUpProgram, ConnectOnStartWithTheLineUpStartsAntiIdleAtOnce)
{
    Program p("[Provider]\nDialResult=602\n");
    // The session's first probe has already written the status line.
    EXPECT_TRUE(p.AntiIdleOn());
    EXPECT_FALSE(Ctl<QAction>(p.form, "Connect1")->isEnabled());
    EXPECT_FALSE(Ctl<QAction>(p.form, "Disconnect1")->isEnabled());
    // No connection of ours, so no countdown.
    EXPECT_FALSE(p.dial->RasTimer->isActive());
    Ctl<QAction>(p.form, "Reset1")->trigger();
    EXPECT_TRUE(Ctl<QAction>(p.form, "Connect1")->isEnabled());
    EXPECT_TRUE(Ctl<QAction>(p.form, "Disconnect1")->isEnabled());
    EXPECT_TRUE(p.AntiIdleOn());
}
