// The tray's balloon, where desktop notices go when no notification server
// takes them: refused, without a message box or anything else for the user
// to dismiss, when there is no tray to show it or no hold window.
#include "desktop/msgbox.h"
#include "shell/holdform.h"
#include "shell/mainform.h"
#include "../support/testutil.h"
#include "../support/trayoverride.h"
#include "platform/services.h"

#include <QApplication>
#include <QSystemTrayIcon>
#include <gtest/gtest.h>

#include <memory>

using namespace std::chrono_literals;

TEST(TrayMessage, RefusedQuietlyWithoutATrayThatShowsMessages)
{
    struct Case {
        const char *name;
        bool tray;          // a notification area is there
        bool hold;          // the hold window (owner of the icon) exists
    };
    const Case cases[] = {
        {"no tray", false, true},
        {"no hold window", true, false},
        {"a tray", true, true},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        testutil::TrayAvailable available(c.tray);
        testutil::ScratchDir dir;
        QStringList boxes;
        platform::Services().Message = [&](const QString &t) { boxes << t; };
        std::unique_ptr<THoldForm> hold;
        if (c.hold)
            hold = std::make_unique<THoldForm>();
        auto form = std::make_unique<TMainForm>(hold.get());
        const int windows = int(QApplication::topLevelWidgets().size());
        // Shown only where a tray icon is up in a tray that shows messages
        // (this test platform's has none).
        const bool canShow = c.tray && c.hold && QSystemTrayIcon::supportsMessages();
        EXPECT_EQ(form->ShowTrayMessage(QStringLiteral("Connection lost"), QStringLiteral("The modem hung up.")),
                  canShow);
        testutil::pump(100ms);
        if (!canShow) {
            EXPECT_EQ(int(QApplication::topLevelWidgets().size()), windows);
        }
        EXPECT_TRUE(boxes.isEmpty());
        form.reset();
        hold.reset();
        platform::Services().Message = {};
    }
}
