// Shared pieces of the traceroute tool tests: the window with the tool on a
// scratch program directory, message boxes captured, and a record of what
// the window showed at each of the engine's events.
#pragma once

#include "shell/mainform.h"
#include "tools/tracetool.h"
#include "net/mstrace.h"
#include "desktop/msgbox.h"
#include "widgets/optioncontrols.h"
#include "widgets/picturebutton.h"
#include "../support/testutil.h"
#include "../support/ctl.h"
#include "platform/services.h"

#include <QCheckBox>
#include <QLabel>
#include <QProgressBar>
#include <QSpinBox>
#include <QStringList>
#include <QTextEdit>
#include <gtest/gtest.h>

#include <chrono>
#include <memory>

namespace tracetest {

struct Window {
    testutil::ScratchDir dir;
    QStringList messages;
    std::unique_ptr<TMainForm> form;
    TTraceTool *trc = nullptr;   // child of the window
    Window()
    {
        platform::Services().Message = [this](const QString &t) { messages << t; };
        form = std::make_unique<TMainForm>();
        trc = new TTraceTool(*form);
    }
    ~Window()
    {
        form.reset();
        platform::Services().Message = {};
    }
};

// The lines of the output pane.
inline QStringList Lines(const QTextEdit *pane)
{
    const QString text = pane->toPlainText();
    return text.isEmpty() ? QStringList() : text.split(QChar('\n'));
}

// A hop line with its round trip replaced by "RTT", so runs compare.
inline QString Masked(const QString &line)
{
    QStringList f = line.split(QLatin1Char('\t'));
    bool number = false;
    if (f.size() >= 3)
        f[1].toInt(&number);
    if (number)
        f[1] = QStringLiteral("RTT");
    return f.join(QLatin1Char('\t'));
}

inline QStringList MaskedLines(const QTextEdit *pane)
{
    QStringList out;
    for (const QString &line : Lines(pane))
        out << Masked(line);
    return out;
}

// Watches the tool's handlers: after each one has run, notes the status
// line and the gauge as the user saw them then.
struct Watch {
    explicit Watch(TMainForm &f, TTraceTool &t) : form(f), tool(t)
    {
        TMSTrace &e = *t.MSTrace1;
        e.OnTest = [this](QObject *s) {
            tool.MSTrace1Test(s);
            Note(QStringLiteral("test"));
        };
        e.OnData = [this](QObject *s, std::int32_t status) {
            tool.MSTrace1Data(s, status);
            Note(QStringLiteral("data"));
        };
        e.OnFinished = [this](QObject *s) {
            tool.MSTrace1Finished(s);
            Note(QStringLiteral("finished"));
            ++ends;
        };
        e.OnError = [this](QObject *s, std::int32_t code, const QString &msg) {
            tool.MSTrace1Error(s, code, msg);
            Note(QStringLiteral("error"));
            ++ends;
        };
    }
    void Note(const QString &event)
    {
        const QProgressBar *g = Ctl<QProgressBar>(form, "Gauge1");
        seen << QStringLiteral("%1 [%2/%3] %4")
                    .arg(event)
                    .arg(g->value())
                    .arg(g->maximum())
                    .arg(Ctl<QLabel>(form, "StatusLBL")->text());
    }
    // Clicks Trace and waits until the run has ended.
    bool Trace(const QString &host, std::chrono::milliseconds limit = std::chrono::seconds(30))
    {
        seen.clear();
        ends = 0;
        tool.edt_TrcHost->setText(host);
        tool.btn_TrcYes->Click();
        return Wait(limit);
    }
    bool Wait(std::chrono::milliseconds limit = std::chrono::seconds(30))
    {
        return testutil::waitFor([this] { return ends > 0 && !tool.MSTrace1->Busy(); }, limit);
    }

    TMainForm &form;
    TTraceTool &tool;
    QStringList seen;   // "event [gauge/max] status" after each handler
    int ends = 0;
};

// The options a trace takes: mode item, test echo, time-out in seconds.
inline void SetOptions(TMainForm &f, int mode, bool testPacket, int timeOutSecs)
{
    Ctl<TRadioGroup>(f, "rg_TrcMode")->SetItemIndex(mode);
    Ctl<QCheckBox>(f, "cb_TrcTestPack")->setChecked(testPacket);
    Ctl<QSpinBox>(f, "se_TrcTO")->setValue(timeOutSecs);
}

inline const char *ModeName(int item) { return item == 0 ? "Asynchronous" : "Blocking"; }

} // namespace tracetest
