// The main window as the anti-idle tests start from it: frequency 1 minute,
// the given method, no option checked, and message boxes collected instead of
// shown. Mixed into the test fixtures beside their GoogleTest base.
#pragma once

#include "antiidle/antiidle.h"
#include "session/antiidlesession.h"
#include "antiidle/antiidlefeature.h"
#include "antiidle/antiidlereport.h"
#include "antiidle/serverlist.h"
#include "session/webclient.h"
#include "desktop/msgbox.h"
#include "shell/mainform.h"
#include "widgets/optioncontrols.h"
#include "widgets/toolswitch.h"
#include "widgets/responsegraph.h"
#include "../support/ctl.h"
#include "../support/sessionaccess.h"
#include "platform/services.h"

#include <QStringList>
#include <QTextEdit>
#include <gtest/gtest.h>
#include <memory>

namespace antiidletest {

// The anti-idle feature added to a window as the program adds it. The parts
// are children of the window and go with it.
struct AntiIdleParts {
    TAntiIdleFeature *feature = nullptr;
    TAntiIdleSession *ai = nullptr;   // the session engine
    TAntiIdle *view = nullptr;        // the window's view of it
    TServerList *serverList = nullptr;
    TAntiIdleReport *report = nullptr;
    TWebClient *webClient = nullptr;
    void Attach(TMainForm &window)
    {
        feature = new TAntiIdleFeature(window);
        view = feature->Session;
        ai = &feature->Engine();
        serverList = feature->Servers;
        report = feature->Report;
        webClient = &ai->Web();
    }
};

struct SessionWindow : AntiIdleParts {
    std::unique_ptr<TMainForm> form;
    QStringList messages;   // texts of the message boxes, in order

    // The window is opened in the caller's network namespace, which its
    // echo and HTTP sockets then belong to.
    void OpenWindow(int method)
    {
        platform::Services().Message = [this](const QString &m) { messages << m; };
        form = std::make_unique<TMainForm>();
        Attach(*form);
        Ctl<TSpinText>(form, "edt_AIFreq")->setText("1");
        Ctl<TRadioGroup>(form, "rg_AIMethod")->SetItemIndex(method);
        for (int i = 0; i < 4; ++i)
            Ctl<TCheckListBox>(form, "cb_AIOptions")->SetChecked(i, false);
    }
    void CloseWindow()
    {
        form.reset();
        platform::Services().Message = {};
    }

    // One probe to host as a tick sends it, inside a single-host session
    // whose statistics are started first when none runs.
    void Probe(const QString &host)
    {
        if (!ai->Stats().Active()) {
            Inside(ai).State.CycleMode = false;
            Ctl<QLineEdit>(form, "edt_AIHost")->setText(host);
            ASSERT_TRUE(Inside(ai).StartSessionStats());
        }
        Inside(ai).State.CurrentHost = host;
        ai->Stats().NewTick();
        Inside(ai).SendProbe();
    }
    // The lines of the history pane; an empty pane has none.
    QStringList History() const
    {
        const QString text = Ctl<QTextEdit>(form, "re_History")->toPlainText();
        return text.isEmpty() ? QStringList() : text.split('\n');
    }
};

} // namespace antiidletest
