#include "app/idlix.h"

#include "app/addressfamily.h"
#include "antiidle/antiidlefeature.h"
#include "antiidle/serverlist.h"
#include "app/metricsendpoint.h"
#include "desktop/gotoweb.h"
#include "dialup/dialupcontrol.h"
#include "history/historykeeper.h"
#include "historyview/historyfeature.h"
#include "idletimerview/idletimerfeature.h"
#include "notify/certnotices.h"
#include "notify/linenotices.h"
#include "notify/meteredguard.h"
#include "bus/meteredwatch.h"
#include "bus/netidentity.h"
#include "service/intervalfollower.h"
#include "platform/startuptrace.h"
#include "platform/version.h"
#include "session/antiidlesession.h"
#include "shell/exitroutes.h"
#include "shell/holdform.h"
#include "shell/mainform.h"
#include "shell/trayicon.h"
#include "tools/fingertool.h"
#include "tools/isptree.h"
#include "tools/latencytest.h"
#include "tools/pingtool.h"
#include "tools/resolvetool.h"
#include "tools/tracetool.h"

#include <QAction>
#include <QPointer>

#include <cstdio>

TIdlix::TIdlix(THoldForm *hold, std::optional<platform::FamilyChoice> family, TExitRoutes *exitRoutes,
               TPreviousInstance *instance)
    : Form(std::make_unique<TMainForm>(hold, instance))
{
    // The two windows know each other from here on, and the ways out (Exit,
    // the quit signals, the session's end) reach them.
    if (hold)
        hold->SetMainWindow(Form.get());
    if (exitRoutes)
        exitRoutes->SetWindows(hold, Form.get());
    // Before any feature can look a host up ("Connect on start" may start
    // the anti-idle session).
    FollowAddressFamily(*Form, Lookups, family);
    // The window is on the screen (it painted before its constructor
    // returned), and the user's input waits until the loop runs: nothing
    // built from here on changes what it shows (the features fill hidden
    // panels and bind the switches), and all of it is in place before the
    // first click.
    AntiIdle = new TAntiIdleFeature(*Form);
    // Watching before anything can start a session ("Connect on start").
    Metrics = std::make_unique<TMetricsEndpoint>(*Form, AntiIdle->Engine());
    Latency = new TLatencyTest(*Form);
    PingTool = new TPingTool(*Form);
    FingerTool = new TFingerTool(*Form);
    TraceTool = new TTraceTool(*Form);
    ISPTree = new TISPTree(*Form);
    ResolveTool = new TResolveTool(*Form);
    // The session's history (before dial-up: "Connect on start" may start a
    // session) and its window.
    History = new history::THistoryKeeper(AntiIdle->Engine(), Form->Options(), Form.get());
    for (const QString &line : History->Store().Notices() + QStringList(History->Store().Problem()))
        if (!line.isEmpty())
            std::fprintf(stderr, "idlix: %s\n", qPrintable(line));
    QObject::connect(History, &history::THistoryKeeper::Said, History,
                     [](const QString &text, bool) { std::fprintf(stderr, "idlix: %s\n", qPrintable(text)); });
    // While records wait to be written, the status line and the tray's tip say so.
    QObject::connect(&History->Store(), &history::THistoryStore::ProblemChanged, History,
                     [form = Form.get(), hold, store = &History->Store()] {
                         const int waiting = store->Waiting();
                         const QString title = QLatin1String(platform::ProgramTitle);
                         if (waiting > 0)
                             form->SetStatus(QStringLiteral("Status: %1 history records waiting to be written")
                                                 .arg(waiting));
                         if (hold && hold->TrayIcon1)
                             hold->TrayIcon1->SetToolTip(
                                 waiting > 0 ? title + QStringLiteral(" - %1 records waiting").arg(waiting) : title);
                     });
    HistoryView = new historyview::THistoryFeature(*Form, History->Store());
    Form->WatchPreferences([keeper = History] { keeper->OptionsChanged(); });
    IdleTimer = new idletimerview::TIdleTimerFeature(*Form);
    FollowIdleTimers();
    // Last: "Connect on start" may start the anti-idle session, and the
    // auto-disconnect switches the tools off.
    DialUp = new TDialUpControl(*Form);

    // Menu items that reach a feature without being its switch.
    TServerList *servers = AntiIdle->Servers;
    QObject::connect(Form->MenuItem(QStringLiteral("ServerList1")), &QAction::triggered, Form.get(),
                     [servers] { servers->ServerList1Click(); });
    historyview::THistoryFeature *view = HistoryView;
    QObject::connect(Form->MenuItem(QStringLiteral("History1")), &QAction::triggered, Form.get(), [view] { view->History1Click(); });
    idletimerview::TIdleTimerFeature *finder = IdleTimer;
    QObject::connect(Form->MenuItem(QStringLiteral("FindIdleTimer1")), &QAction::triggered, Form.get(),
                     [finder] { finder->FindIdleTimer1Click(); });

    WatchTheLine();

    // What is not built into the program is shown disabled: the tools no
    // feature has bound.
    Form->DisableUnboundTools();
    platform::StartupMark("features");
}

void TIdlix::FollowIdleTimers()
{
    TMainForm *form = Form.get();
    TAntiIdleSession &engine = AntiIdle->Engine();
    // Every verdict goes into the history (the window's tab shows them), and
    // a session probing at the measured interval takes the new one.
    IdleTimer->OnResult = [keeper = History, &engine](const idletimer::TIdleResult &r) {
        if (r.State == idletimer::TTrialPlan::TState::Failed)
            return;
        keeper->Store().AddIdleTimer(service::IdleTimerRow(r, bus::CurrentNetworkIdentity()));
        engine.IntervalSourceChanged();
    };
    IdleTimer->OnUseInterval = [form](int) {
        config::TOptions options = form->Options();
        options.KeepAlive.IntervalFrom = config::TKeepAliveOptions::Measured;
        form->ChangePreferences(options);
    };
    // 0.8 of the shortest timer found on the network in use.
    Intervals = new service::TIntervalFollower(engine, History->Store(), form);
    form->WatchPreferences([&engine] { engine.IntervalSourceChanged(); });
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
    // A notice's action opens the History window.
    Notices->OnShowHistory = [view = HistoryView] { view->History1Click(); };
    // The portal's notice opens its login page in the browser.
    auto *portalPage = new TGoToWeb(form);
    portalPage->setObjectName(QStringLiteral("PortalPage"));
    Notices->OnOpenPortal = [portalPage](const QString &url) {
        portalPage->Url = url;
        portalPage->OpenUrl();
    };
    // Why the dial-up line ended goes with the outage the probes then find.
    DialUp->OnLineEnded = [&engine](const QString &cause) { engine.SetLinkCause(cause); };

    // Certificates the probes were shown that are about to expire.
    CertNotices = new TCertNotices(form);
    CertNotices->OnMessage = [notices = Notices](const QString &summary, const QString &body) {
        notices->Tell(summary, body);
    };
    engine.AddObserver(CertNotices);

    Metered = new TMeteredGuard(engine, form->Options(), form);
    Metered->OnMessage = [notices = Notices](const QString &summary, const QString &body) {
        notices->Tell(summary, body);
    };
    MeteredWatch = new bus::TMeteredWatch(form);
    MeteredWatch->OnChange = [guard = Metered](bool metered) { guard->SetMetered(metered); };
    MeteredWatch->Start();
    form->WatchPreferences([guard = QPointer<TMeteredGuard>(Metered)] {
        if (guard)
            guard->PreferencesChanged();
    });
}

TIdlix::~TIdlix()
{
    Metrics.reset();
    // The line's watchers first: they observe the session and hear from the
    // dial-up control.
    delete MeteredWatch;
    delete Metered;
    if (CertNotices)
        AntiIdle->Engine().RemoveObserver(CertNotices);
    delete CertNotices;
    if (Notices)
        AntiIdle->Engine().RemoveObserver(Notices);
    delete Notices;
    delete DialUp;
    // The history ends a running session's record while the engine is there.
    delete IdleTimer;
    delete Intervals;
    delete HistoryView;
    delete History;
    delete TraceTool;
    delete FingerTool;
    delete ResolveTool;
    delete ISPTree;
    delete PingTool;
    delete Latency;
    delete AntiIdle;
    Form.reset();
}
