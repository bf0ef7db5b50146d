// The shell's window on a scratch program directory, with message boxes
// collected instead of shown.
#pragma once

#include "desktop/msgbox.h"
#include "shell/mainform.h"
#include "../support/testutil.h"
#include "platform/services.h"

#include <QStringList>
#include <gtest/gtest.h>
#include <memory>

namespace shelltest {

struct Window {
    testutil::ScratchDir dir;
    QStringList messages;
    std::unique_ptr<TMainForm> form;
    Window()
    {
        platform::Services().Message = [this](const QString &t) { messages << t; };
        form = std::make_unique<TMainForm>();
    }
    ~Window()
    {
        form.reset();
        platform::Services().Message = {};
    }
    // A control of the window by its objectName (a failure when there is none).
    template <typename T> T *Get(const char *name) const
    {
        T *w = form->findChild<T *>(name);
        EXPECT_NE(w, nullptr) << name;
        return w;
    }
};

} // namespace shelltest
