// The program's two windows as main() creates them, in a scratch program
// directory, with message boxes collected instead of shown.
#pragma once

#include "app/idlix.h"
#include "shell/holdform.h"
#include "shell/mainform.h"
#include "desktop/msgbox.h"
#include "desktop/trayservice.h"
#include "../support/testutil.h"
#include "platform/services.h"

#include <QStringList>
#include <memory>

namespace apptest {

// The main window with its features, used like a pointer to the window;
// reset() ends it as the program's teardown does.
struct MainWindow {
    std::unique_ptr<TIdlix> idlix;
    TMainForm *operator->() const { return idlix->Form.get(); }
    TMainForm &operator*() const { return *idlix->Form; }
    void reset() { idlix.reset(); }
};

struct Program {
    testutil::ScratchDir dir;
    QStringList messages;
    std::unique_ptr<THoldForm> hold;
    MainWindow main;
    // tray: 1 a notification area is there, 0 none, -1 the desktop's answer.
    explicit Program(int tray = -1)
    {
        desktop::TTrayService::SetAvailableOverride(tray);
        platform::Services().Message = [this](const QString &t) { messages << t; };
        hold = std::make_unique<THoldForm>();
        main.idlix = std::make_unique<TIdlix>(hold.get());
    }
    ~Program()
    {
        main.reset();
        hold.reset();
        platform::Services().Message = {};
        desktop::TTrayService::SetAvailableOverride(-1);
    }
};

} // namespace apptest
