// Shared pieces of the dial-up window tests: a main window on a scratch
// program directory whose phone book is a simulated line (or any phone book), with the dial-up
// control, stand-in tools on the five switches (each click recorded and
// flipping its switch), and a recorder of the line's events and of every
// status text the window showed.
#pragma once

#include "dialup/dialupcontrol.h"
#include "net/ras.h"
#include "shell/mainform.h"
#include "widgets/toolswitch.h"
#include "desktop/msgbox.h"
#include "../support/testutil.h"
#include "../support/ctl.h"
#include "platform/services.h"

#include <QFile>
#include <QLabel>
#include <QStringList>
#include <gtest/gtest.h>

#include <memory>
#include <utility>

// Readable QString values in failure messages.
inline void PrintTo(const QString &s, std::ostream *os) { *os << '"' << s.toStdString() << '"'; }

namespace dialtest {

inline QString ToolName(TToolId tool)
{
    switch (tool) {
    case TToolId::AntiIdle: return QStringLiteral("AntiIdle");
    case TToolId::Finger: return QStringLiteral("Finger");
    case TToolId::Latency: return QStringLiteral("Latency");
    case TToolId::Ping: return QStringLiteral("Ping");
    case TToolId::Trace: return QStringLiteral("Trace");
    case TToolId::ISPTree: return QStringLiteral("ISPTree");
    case TToolId::Resolve: return QStringLiteral("Resolve");
    }
    return {};
}

inline constexpr TToolId SwitchedTools[] = {TToolId::AntiIdle, TToolId::Finger, TToolId::Latency,
                                            TToolId::Ping, TToolId::Trace};

inline void WriteFile(const QString &path, const QByteArray &text)
{
    testutil::writeFile(path, text);
}

// A phone book given by its path as it stands (empty: the system's own,
// NetworkManager's when it is on the bus), instead of one written for the test.
struct BookPath {
    QString path;
};

// The window with its dial-up control. The phone book and the settings file
// are written before the window is made, as a user's files are there before
// the program starts.
struct Window {
    testutil::ScratchDir dir;
    QStringList messages;
    QStringList clicks;       // tool switch clicks, in order
    QStringList events;       // the line's events, in order
    QStringList statuses;     // every status text shown, changes only
    std::unique_ptr<TMainForm> form;
    TDialUpControl *ctl = nullptr;   // child of the window

    Window(const QByteArray &book, const QByteArray &ini = {}, int minuteMs = 60000,
           int tickMs = 1000)
    {
        WriteFile(dir.file("book.ini"), book);
        Open(dir.file("book.ini"), ini, minuteMs, tickMs);
    }
    Window(const BookPath &book, const QByteArray &ini)
    {
        Open(book.path, ini, 60000, 1000);
    }
    ~Window()
    {
        form.reset();
        platform::Services().Message = {};
        if (hadBook_)
            qputenv("IDLIX_PHONEBOOK", oldBook_);
        else
            qunsetenv("IDLIX_PHONEBOOK");
    }

    QString Status() const { return Ctl<QLabel>(form, "StatusLBL")->text(); }
    // Adds the status text to 'statuses' when it changed.
    void Seen()
    {
        if (statuses.isEmpty() || statuses.last() != Status())
            statuses << Status();
    }
    bool WaitEvent(const QString &name, std::chrono::milliseconds t = std::chrono::seconds(5))
    {
        return testutil::waitFor([&] { return events.contains(name); }, t);
    }
    void Run(QAction *item)
    {
        item->trigger();
        Seen();
    }
    QStringList Running() const
    {
        QStringList out;
        for (TToolId tool : form->RunningTools())
            out << ToolName(tool);
        return out;
    }
    void SetRunning(std::initializer_list<TToolId> tools)
    {
        for (TToolId tool : tools)
            form->Switch(tool).SetRunning(true);
    }

private:
    void Open(const QString &book, const QByteArray &ini, int minuteMs, int tickMs)
    {
        hadBook_ = qEnvironmentVariableIsSet("IDLIX_PHONEBOOK");
        oldBook_ = qgetenv("IDLIX_PHONEBOOK");
        qputenv("IDLIX_PHONEBOOK", book.toLocal8Bit());
        if (!ini.isEmpty())
            WriteFile(dir.file("idlix2.ini"), ini);
        platform::Services().Message = [this](const QString &t) { messages << t; };
        form = std::make_unique<TMainForm>();
        for (TToolId tool : SwitchedTools) {
            TToolSwitch &sw = form->Switch(tool);
            sw.Bind([this, tool, &sw] {
                clicks << ToolName(tool);
                sw.SetRunning(!sw.Running());
            });
        }
        // A dial of "Connect on start" reports its progress later, through
        // the event loop, so the recorder is in place before the first event.
        ctl = new TDialUpControl(*form);
        ctl->MinuteMs = minuteMs;
        ctl->CountdownTickMs = tickMs;
        Watch(*ctl);
        Seen();
    }
    // Wraps every event of the control's line so that each is recorded with
    // the status text before and after its handler.
    void Watch(TDialUpControl &c)
    {
        static const std::pair<const char *, TNotifyEvent TRAS::*> named[] = {
            {"AboutToOpenPort", &TRAS::OnAboutToOpenPort}, {"PortOpened", &TRAS::OnPortOpened},
            {"AboutToConnDev", &TRAS::OnAboutToConnDev}, {"DevConnected", &TRAS::OnDevConnected},
            {"AllDevsConnected", &TRAS::OnAllDevsConnected},
            {"Authenticate", &TRAS::OnAuthenticate}, {"Authenticated", &TRAS::OnAuthenticated},
            {"PrepareforCallback", &TRAS::OnPrepareforCallback}, {"Connect", &TRAS::OnConnect},
        };
        for (const auto &[name, event] : named) {
            TNotifyEvent inner = c.RAS1->*event;
            c.RAS1->*event = [this, inner, n = QString::fromLatin1(name)](QObject *s) {
                events << n;
                Seen();
                if (inner)
                    inner(s);
                Seen();
            };
        }
        for (const auto &[name, event] : {std::pair{"Disconnect", &TRAS::OnDisconnect},
                                          std::pair{"DialError", &TRAS::OnDialError}}) {
            TRasStateEvent inner = c.RAS1->*event;
            c.RAS1->*event = [this, inner, n = QString::fromLatin1(name)](QObject *s, int e,
                                                                         const QString &t) {
                events << n;
                Seen();
                if (inner)
                    inner(s, e, t);
                Seen();
            };
        }
    }
    bool hadBook_ = false;
    QByteArray oldBook_;
};

} // namespace dialtest
