// The hold window with its tray menu, the program's exit path, and the about box.
#include "shell/about.h"
#include "shell/holdform.h"
#include "shell/mainform.h"
#include "shell/trayicon.h"
#include "desktop/msgbox.h"
#include "program.h"
#include "../support/testutil.h"
#include "../support/ctl.h"

#include <QAction>
#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPointer>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

// Readable QString values in failure messages.
inline void PrintTo(const QString &s, std::ostream *os) { *os << '"' << s.toStdString() << '"'; }

using namespace std::chrono_literals;

namespace {

using apptest::Program;

} // namespace

TEST(HoldForm, TrayMenuItemsAndCaptions)
{
    Program p(1);   // with a tray, out of sight means hidden
    THoldForm &h = *p.hold;
    EXPECT_EQ(h.windowTitle(), "Idlix v2.0");
    EXPECT_FALSE(h.isVisible());
    EXPECT_EQ(h.TrayIcon1->PopupMenu, h.PopupMenu1);
    EXPECT_EQ(h.TrayIcon1->ToolTip(), "Idlix v2.0");

    const QList<QAction *> items = h.PopupMenu1->actions();
    ASSERT_EQ(items.size(), 5);
    EXPECT_EQ(items.at(0)->objectName(), "ShowIdlix1");
    EXPECT_EQ(items.at(1)->objectName(), "Help3");
    EXPECT_EQ(items.at(1)->text(), "&Help");
    EXPECT_EQ(items.at(2)->objectName(), "About2");
    EXPECT_EQ(items.at(2)->text(), "&About...");
    EXPECT_TRUE(items.at(3)->isSeparator());
    EXPECT_EQ(items.at(4)->objectName(), "Exit2");
    EXPECT_EQ(items.at(4)->text(), "E&xit");

    // The first item always offers the opposite of the window's state,
    // whichever way the window was shown or hidden.
    ASSERT_TRUE(p.main->isVisible());
    EXPECT_EQ(h.ShowIdlix1->text(), "Hide Idlix");
    p.main->close();
    EXPECT_FALSE(p.main->isVisible());
    EXPECT_EQ(h.ShowIdlix1->text(), "Show Idlix");
    h.ShowIdlix1->trigger();
    EXPECT_TRUE(p.main->isVisible());
    EXPECT_EQ(h.ShowIdlix1->text(), "Hide Idlix");
    h.ShowIdlix1->trigger();
    EXPECT_FALSE(p.main->isVisible());
    EXPECT_EQ(h.ShowIdlix1->text(), "Show Idlix");
    Ctl<QAction>(*p.main, "HideIdlix1")->trigger();
    EXPECT_EQ(h.ShowIdlix1->text(), "Show Idlix");
    h.TrayIcon1Click();
    EXPECT_TRUE(p.main->isVisible());
    EXPECT_EQ(h.ShowIdlix1->text(), "Hide Idlix");
}

TEST(HoldForm, TrayClickRestoresAMinimisedWindow)
{
    Program p;
    p.main->showMinimized();
    ASSERT_TRUE(testutil::waitFor([&] { return p.main->isMinimized(); }, 2s));
    p.hold->TrayIcon1Click();
    EXPECT_TRUE(testutil::waitFor([&] { return !p.main->isMinimized(); }, 2s));
    EXPECT_TRUE(p.main->isVisible());
}

TEST(HoldForm, HelpFromTheTrayReportsAMissingFile)
{
    Program p;
    p.hold->Help3->trigger();
    ASSERT_EQ(p.messages.size(), 1);
    EXPECT_EQ(p.messages.at(0), "Help File Not Found!");
}

TEST(HoldForm, ExitEndsTheLoopAndTheWindowSavesOnTheWay)
{
    Program p;
    const QString ini = p.dir.file("idlix2.ini");
    Ctl<QLineEdit>(*p.main, "edt_AIHost")->setText("exit.example");
    QTimer::singleShot(0, [&] { Ctl<QAction>(*p.main, "Exit1")->trigger(); });
    QTimer::singleShot(5000, [] { QCoreApplication::exit(99); });   // guard
    EXPECT_EQ(QApplication::exec(), 0);
    EXPECT_FALSE(p.hold->TrayIcon1->Active());
    EXPECT_FALSE(QFile::exists(ini));
    p.main.reset();   // the program's teardown
    QFile f(ini);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_TRUE(f.readAll().contains("Host=exit.example"));
}

TEST(AboutBox, ShowsAndClosesOnAClick)
{
    Program p;
    for (const char *target : {"img_About", "lbl_Years", "lbl_Version"}) {
        SCOPED_TRACE(target);
        QPointer<Tfrm_About> seen;
        QString caption, version, tm, hint;
        bool hadPicture = false;
        QTimer::singleShot(0, [&] {
            auto *box = qobject_cast<Tfrm_About *>(QApplication::activeModalWidget());
            if (!box)
                return;
            seen = box;
            caption = box->windowTitle();
            version = box->lbl_Version->text();
            tm = box->lbl_TM->text();
            hint = box->img_About->toolTip();
            hadPicture = box->img_About->size() == box->size();
            auto *w = box->findChild<QLabel *>(target);
            QTest::mouseClick(w, Qt::LeftButton, {}, QPoint(2, 2));
        });
        QTimer::singleShot(5000, [] {
            if (auto *box = qobject_cast<QDialog *>(QApplication::activeModalWidget()))
                box->reject();
        });
        QElapsedTimer t;
        t.start();
        if (QString(target) == "lbl_Years")
            p.hold->About2->trigger();   // from the tray menu
        else
            Ctl<QAction>(*p.main, "About1")->trigger();
        EXPECT_LT(t.elapsed(), 4000);   // closed by the click, not by the guard
        EXPECT_EQ(caption, "About...");
        EXPECT_EQ(version, "Idlix v2.0");
        EXPECT_EQ(tm, QString::fromUtf8("\u2122"));
        EXPECT_EQ(hint, "Click to close");
        EXPECT_TRUE(hadPicture);
        // The box is freed once closed.
        EXPECT_TRUE(testutil::waitFor([&] {
            QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
            return seen.isNull();
        }, 2s));
    }
}
