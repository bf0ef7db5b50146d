// The tray icon component: tip length, life without a tray, and the routing
// of tray activations to its events.
#include "shell/trayicon.h"
#include "desktop/msgbox.h"
#include "desktop/trayservice.h"
#include "platform/services.h"

#include "../support/testutil.h"

#include <QCursor>
#include <QMenu>
#include <QSystemTrayIcon>
#include <gtest/gtest.h>

using namespace std::chrono_literals;

TEST(TrayIcon, TipKeepsSixtyTwoCharacters)
{
    const QString pair = QString::fromUtf8("\xf0\x9f\x98\x80");  // two UTF-16 units
    struct Row { QString tip; QString want; } rows[] = {
        {"", ""},
        {"Idlix v2.0", "Idlix v2.0"},
        {QString(62, 'a'), QString(62, 'a')},
        {QString(63, 'b'), QString(62, 'b')},
        {QString(200, 'c'), QString(62, 'c')},
        {QString(61, 'd') + pair, QString(61, 'd')},          // no half character
        {QString(60, 'e') + pair + "x", QString(60, 'e') + pair},
    };
    TTrayIcon tray;
    for (const Row &r : rows) {
        tray.SetToolTip(r.tip);
        EXPECT_EQ(tray.ToolTip(), r.want) << r.tip.size();
    }
}

TEST(TrayIcon, NoTrayIsNotReported)
{
    QStringList messages;
    platform::Services().Message = [&](const QString &t) { messages << t; };
    {
        TTrayIcon tray;
        tray.SetIcon(QIcon());
        tray.SetToolTip("Idlix v2.0");
        tray.SetActive(true);
        EXPECT_TRUE(tray.Active());
        EXPECT_EQ(tray.Service()->Shown(), desktop::TTrayService::Available());
        tray.SetToolTip("changed while active");
        tray.SetActive(false);
        EXPECT_FALSE(tray.Active());
        EXPECT_FALSE(tray.Service()->Shown());
        tray.SetActive(true);
    }  // destroyed while active
    platform::Services().Message = {};
    EXPECT_TRUE(messages.isEmpty());
}

TEST(TrayIcon, ActivationsReachTheirEvents)
{
    TTrayIcon tray;
    QMenu menu;
    tray.PopupMenu = &menu;
    menu.addAction("E&xit");
    QStringList seen;
    auto record = [&](const char *name) {
        return [&seen, name](Qt::MouseButton b, Qt::KeyboardModifiers, int x, int y) {
            seen << QString("%1 %2 %3,%4").arg(name).arg(int(b)).arg(x).arg(y);
        };
    };
    tray.OnClick = record("click");
    tray.OnDblClick = record("dbl");
    tray.OnRightClick = record("right");
    const QPoint p = QCursor::pos();
    const QString at = QString("%1,%2").arg(p.x()).arg(p.y());

    struct Row { QSystemTrayIcon::ActivationReason reason; QString want; } rows[] = {
        {QSystemTrayIcon::Trigger, QString("click %1 %2").arg(int(Qt::LeftButton)).arg(at)},
        {QSystemTrayIcon::DoubleClick, QString("dbl %1 %2").arg(int(Qt::LeftButton)).arg(at)},
        {QSystemTrayIcon::MiddleClick, ""},
        {QSystemTrayIcon::Unknown, ""},
        {QSystemTrayIcon::Context, QString("right %1 %2").arg(int(Qt::RightButton)).arg(at)},
    };
    for (const Row &r : rows) {
        seen.clear();
        tray.Service()->Activated(int(r.reason));
        EXPECT_EQ(seen.join("|"), r.want) << int(r.reason);
    }
    // The right click popped the menu up before the handler ran.
    EXPECT_TRUE(menu.isVisible());
    menu.hide();

    // Unset handlers are allowed.
    TTrayIcon bare;
    bare.Service()->Activated(int(QSystemTrayIcon::Trigger));
    bare.Service()->Activated(int(QSystemTrayIcon::Context));
}
