// The program's two windows as main() creates them, in a scratch program
// directory, with message boxes collected instead of shown.
#pragma once

#include "app/holdform.h"
#include "app/mainform.h"
#include "platform/msgbox.h"
#include "platform/trayservice.h"
#include "../support/testutil.h"

#include <QStringList>
#include <memory>

namespace apptest {

struct Program {
    testutil::ScratchDir dir;
    QStringList messages;
    std::unique_ptr<THoldForm> hold;
    std::unique_ptr<TMainForm> main;
    // tray: 1 a notification area is there, 0 none, -1 the desktop's answer.
    explicit Program(int tray = -1)
    {
        platform::TTrayService::SetAvailableOverride(tray);
        platform::SetMessageHook([this](const QString &t) { messages << t; });
        hold = std::make_unique<THoldForm>();
        main = std::make_unique<TMainForm>();
    }
    ~Program()
    {
        main.reset();
        hold.reset();
        platform::SetMessageHook({});
        platform::TTrayService::SetAvailableOverride(-1);
    }
};

} // namespace apptest
