// Taking the main window out of sight: hidden where a tray can bring it back,
// minimized where the desktop has none, so the window is never unreachable.
// Also: Exit still ends the program while the window sits minimized, and a
// quit request from outside takes the Exit path.
#include "shell/exitroutes.h"
#include "shell/hidewindow.h"
#include "shell/holdform.h"
#include "shell/mainform.h"
#include "widgets/optioncontrols.h"
#include "widgets/picturebutton.h"
#include "shell/trayicon.h"
#include "desktop/msgbox.h"
#include "desktop/trayservice.h"
#include "program.h"
#include "antiidle/antiidle.h"
#include "session/antiidlesession.h"
#include "antiidle/antiidlefeature.h"
#include "../support/sessionaccess.h"
#include "../support/testutil.h"
#include "../support/ctl.h"

#include <QAction>
#include <QApplication>
#include <QFile>
#include <QLineEdit>
#include <QTimer>
#include <gtest/gtest.h>

#include <functional>

using namespace std::chrono_literals;

namespace {

using apptest::Program;

// Starts an anti-idle session with "Minimize Idlix on start" set: one echo
// to loopback every minute.
void startMinimizingSession(TMainForm &f)
{
    Ctl<TSpinText>(f, "edt_AIFreq")->setText("1");
    Ctl<QLineEdit>(f, "edt_AIHost")->setText("127.0.0.1");
    for (int i = 0; i < 4; ++i)
        Ctl<TCheckListBox>(f, "cb_AIOptions")->SetChecked(i, i == 1);
    Ctl<TPictureButton>(f, "btn_AntiIdle")->Click();
}

} // namespace

TEST(HideOrMinimize, EveryWayOutOfSightFollowsTheTray)
{
    struct Way {
        const char *name;
        std::function<void(Program &)> act;
    };
    const Way ways[] = {
        {"close box", [](Program &p) { EXPECT_FALSE(p.main->close()); }},
        {"Tools > Hide Idlix", [](Program &p) { Ctl<QAction>(*p.main, "HideIdlix1")->trigger(); }},
        {"tray menu", [](Program &p) { p.hold->ShowIdlix1->trigger(); }},
        {"minimize on session start", [](Program &p) { startMinimizingSession(*p.main); }},
    };
    for (int tray : {0, 1}) {
        for (const Way &way : ways) {
            SCOPED_TRACE(std::string(way.name) + (tray ? ", with a tray" : ", no tray"));
            Program p(tray);
            EXPECT_EQ(CanHideToTray(), tray == 1);
            ASSERT_TRUE(p.main->isVisible());
            way.act(p);
            if (tray) {
                EXPECT_TRUE(p.main->isHidden());
                EXPECT_EQ(p.hold->ShowIdlix1->text(), "Show Idlix");
            } else {
                // Still on the task bar, only minimized.
                EXPECT_TRUE(p.main->isVisible());
                EXPECT_TRUE(testutil::waitFor([&] { return p.main->isMinimized(); }, 2s));
            }
            // The way back: the tray click (or a second start) restores it.
            p.hold->TrayIcon1Click();
            EXPECT_TRUE(p.main->isVisible());
            EXPECT_TRUE(testutil::waitFor([&] { return !p.main->isMinimized(); }, 2s));
            EXPECT_EQ(p.hold->ShowIdlix1->text(), "Hide Idlix");
            if (Inside(p.main.idlix->AntiIdle->Engine()).Timer3->isActive())
                Ctl<TPictureButton>(*p.main, "btn_AntiIdle")->Click();   // end the session
        }
    }
}

TEST(HideOrMinimize, TrayMenuItemBringsBackAMinimizedWindow)
{
    Program p(0);
    Ctl<QAction>(*p.main, "HideIdlix1")->trigger();
    ASSERT_TRUE(testutil::waitFor([&] { return p.main->isMinimized(); }, 2s));
    // A second use of the item does not minimize again: it restores.
    p.hold->ShowIdlix1->trigger();
    EXPECT_TRUE(testutil::waitFor([&] { return !p.main->isMinimized(); }, 2s));
    EXPECT_TRUE(p.main->isVisible());
}

TEST(HideOrMinimize, ExitEndsTheProgramWhileTheWindowIsMinimized)
{
    // Without a tray the window answers every close by minimizing; the
    // program's own exit must not be refused because of that.
    Program p(0);
    const QString ini = p.dir.file("idlix2.ini");
    Ctl<QLineEdit>(*p.main, "edt_AIHost")->setText("minimized.example");
    Ctl<QAction>(*p.main, "HideIdlix1")->trigger();
    ASSERT_TRUE(testutil::waitFor([&] { return p.main->isMinimized(); }, 2s));
    QTimer::singleShot(0, [&] { Ctl<QAction>(*p.main, "Exit1")->trigger(); });
    QTimer::singleShot(5000, [] { QCoreApplication::exit(99); });   // guard
    EXPECT_EQ(QApplication::exec(), 0);
    p.main.reset();
    QFile f(ini);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_TRUE(f.readAll().contains("Host=minimized.example"));
}

TEST(ExitRoutes, AQuitFromOutsideTakesTheExitPath)
{
    // What the session manager does at the end of the desktop session: an
    // application quit request. With a visible window that only minimizes,
    // the application would refuse it; routed through Exit it ends the loop
    // and the hold window is closed on the way.
    for (int tray : {0, 1}) {
        SCOPED_TRACE(tray ? "with a tray" : "no tray");
        Program p(tray);
        TExitRoutes routes;
        routes.SetWindows(p.hold.get(), &*p.main);
        routes.Start();
        ASSERT_TRUE(p.main->isVisible());
        EXPECT_FALSE(routes.ExitUnderWay());
        QTimer::singleShot(0, [] { QCoreApplication::quit(); });
        QTimer::singleShot(5000, [] { QCoreApplication::exit(99); });   // guard
        EXPECT_EQ(QApplication::exec(), 0);
        EXPECT_TRUE(routes.ExitUnderWay());
        EXPECT_FALSE(p.hold->TrayIcon1->Active());   // the hold window closed
    }
}

TEST(ExitRoutes, AnExitAskedForBeforeTheLoopIsCarriedOutInIt)
{
    // A signal while the windows are still being made: the request comes
    // before the main loop runs, where a quit is lost; Start repeats it once
    // the loop runs, and the program ends through Exit.
    Program p(1);
    TExitRoutes routes;
    routes.SetWindows(p.hold.get(), &*p.main);
    routes.RequestExit();
    routes.Start();
    QTimer::singleShot(5000, [] { QCoreApplication::exit(99); });   // guard
    EXPECT_EQ(QApplication::exec(), 0);
    EXPECT_TRUE(routes.ExitUnderWay());
    EXPECT_FALSE(p.hold->TrayIcon1->Active());
}

TEST(ExitRoutes, WithoutWindowsAQuitIsLeftAlone)
{
    // Routes no window was handed to (the program's start, before the windows
    // are made) take no quit request for theirs: the loop ends as asked.
    TExitRoutes routes;
    routes.Start();
    QTimer::singleShot(0, [] { QCoreApplication::quit(); });
    QTimer::singleShot(5000, [] { QCoreApplication::exit(99); });   // guard
    EXPECT_EQ(QApplication::exec(), 0);
    EXPECT_FALSE(routes.ExitUnderWay());
}
