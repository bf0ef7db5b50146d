// The main window as the anti-idle tests start from it: frequency 1 minute,
// the given method, no option checked, and message boxes collected instead of
// shown. Mixed into the test fixtures beside their GoogleTest base.
#pragma once

#include "app/mainform.h"
#include "app/mainform_controls.h"
#include "platform/msgbox.h"

#include <QStringList>
#include <QTextEdit>
#include <gtest/gtest.h>
#include <memory>

namespace antiidletest {

struct SessionWindow {
    std::unique_ptr<TMainForm> form;
    QStringList messages;   // texts of the message boxes, in order

    // The window is opened in the caller's network namespace, which its
    // echo and HTTP sockets then belong to.
    void OpenWindow(int method)
    {
        platform::SetMessageHook([this](const QString &m) { messages << m; });
        form = std::make_unique<TMainForm>();
        form->edt_AIFreq->setText("1");
        form->rg_AIMethod->SetItemIndex(method);
        for (int i = 0; i < 4; ++i)
            form->cb_AIOptions->SetChecked(i, false);
    }
    void CloseWindow()
    {
        form.reset();
        platform::SetMessageHook({});
    }

    // One probe to host as a tick sends it, inside a single-host session
    // whose statistics are started first when none runs.
    void Probe(const QString &host)
    {
        if (!form->SessionActive) {
            form->CycleMode = false;
            form->edt_AIHost->setText(host);
            ASSERT_TRUE(form->StartSessionStats());
        }
        form->CurrentHost = host;
        form->FailureCounted = false;
        form->SendProbe();
    }
    // The lines of the history pane; an empty pane has none.
    QStringList History() const
    {
        const QString text = form->re_History->toPlainText();
        return text.isEmpty() ? QStringList() : text.split('\n');
    }
};

} // namespace antiidletest
