#include "app/idlix.h"

#include "antiidle/feature.h"
#include "antiidle/serverlist.h"
#include "dialup/dialupcontrol.h"
#include "notify/linenotices.h"
#include "notify/meteredguard.h"
#include "platform/meteredwatch.h"
#include "platform/startuptrace.h"
#include "session/antiidlesession.h"
#include "shell/exitpath.h"
#include "shell/holdform.h"
#include "shell/mainform.h"
#include "tools/fingertool.h"
#include "tools/isptree.h"
#include "tools/latency.h"
#include "tools/pingtool.h"
#include "tools/resolvetool.h"
#include "tools/tracetool.h"

#include <QAction>
#include <QPointer>

TIdlix::TIdlix(THoldForm *hold) : Form(std::make_unique<TMainForm>(hold))
{
    // The two windows know each other from here on, and the ways out (Exit,
    // the quit signals, the session's end) reach them.
    if (hold)
        hold->SetMainWindow(Form.get());
    SetExitWindows(hold, Form.get());
    // The window is on the screen (it painted before its constructor
    // returned), and the user's input waits until the loop runs: nothing
    // built from here on changes what it shows (the features fill hidden
    // panels and bind the switches), and all of it is in place before the
    // first click.
    AntiIdle = new TAntiIdleFeature(*Form);
    Latency = new TLatencyTest(*Form);
    PingTool = new TPingTool(*Form);
    FingerTool = new TFingerTool(*Form);
    TraceTool = new TTraceTool(*Form);
    ISPTree = new TISPTree(*Form);
    ResolveTool = new TResolveTool(*Form);
    // Last: "Connect on start" may start the anti-idle session, and the
    // auto-disconnect switches the tools off.
    DialUp = new TDialUpControl(*Form);

    // Menu items that reach a feature without being its switch.
    TServerList *servers = AntiIdle->Servers;
    QObject::connect(Form->MenuItem(QStringLiteral("ServerList1")), &QAction::triggered, Form.get(),
                     [servers] { servers->ServerList1Click(); });

    WatchTheLine();

    // What is not built into the program is shown disabled: the tools no
    // feature has bound.
    Form->DisableUnboundTools();
    platform::StartupMark("features");
}

void TIdlix::WatchTheLine()
{
    TMainForm *form = Form.get();
    TAntiIdleSession &engine = AntiIdle->Engine();
    Notices = new TLineNotices(form->Options(), form);
    // Without a notification server, the tray's balloon where there is a tray.
    Notices->Fallback = [form](const QString &summary, const QString &body) {
        return form->ShowTrayMessage(summary, body);
    };
    engine.AddObserver(Notices);
    // Why the dial-up line ended goes with the outage the probes then find.
    DialUp->OnLineEnded = [&engine](const QString &cause) { engine.SetLinkCause(cause); };

    Metered = new TMeteredGuard(engine, form->Options(), form);
    Metered->OnMessage = [notices = Notices](const QString &summary, const QString &body) {
        notices->Tell(summary, body);
    };
    MeteredWatch = new platform::TMeteredWatch(form);
    MeteredWatch->OnChange = [guard = Metered](bool metered) { guard->SetMetered(metered); };
    MeteredWatch->Start();
    form->WatchPreferences([guard = QPointer<TMeteredGuard>(Metered)] {
        if (guard)
            guard->PreferencesChanged();
    });
}

TIdlix::~TIdlix()
{
    // The line's watchers first: they observe the session and hear from the
    // dial-up control.
    delete MeteredWatch;
    delete Metered;
    if (Notices)
        AntiIdle->Engine().RemoveObserver(Notices);
    delete Notices;
    delete DialUp;
    delete TraceTool;
    delete FingerTool;
    delete ResolveTool;
    delete ISPTree;
    delete PingTool;
    delete Latency;
    delete AntiIdle;
    Form.reset();
}
