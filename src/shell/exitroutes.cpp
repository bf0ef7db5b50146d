#include "shell/exitroutes.h"

#include "shell/holdform.h"
#include "shell/mainform.h"
#include "platform/quitsignals.h"

#include <QApplication>
#include <QEvent>
#include <QTimer>
#if QT_CONFIG(sessionmanager)
#include <QSessionManager>
#endif
#include <cstdio>

TExitRoutes::TExitRoutes(platform::TServices &services, QObject *parent)
    : QObject(parent), services_(services)
{
    quitSignals_ = new platform::TQuitSignals(this);
    quitSignals_->OnQuit = [this](int) { RequestExitUnattended(); };
    // Watched from the start: any loop that runs while the windows are made
    // (a message box of the start-up) hears a signal and ends.
    quitSignals_->SetWatching(true);
    qApp->installEventFilter(this);
#if QT_CONFIG(sessionmanager)
    // Direct: the session manager waits for the answer inside this call.
    connect(qApp, &QGuiApplication::commitDataRequest, this,
            [this](QSessionManager &m) { commitData(m); }, Qt::DirectConnection);
#endif
}

TExitRoutes::~TExitRoutes()
{
    if (qApp)
        qApp->removeEventFilter(this);
}

void TExitRoutes::SetWindows(THoldForm *hold, TMainForm *main)
{
    hold_ = hold;
    main_ = main;
}

void TExitRoutes::SetReportHook(std::function<void(const QString &)> hook)
{
    reportHook_ = std::move(hook);
}

bool TExitRoutes::ExitUnderWay() const
{
    return hold_ && hold_->Closing();
}

// Nobody may be there to answer a message box on this way out (the desktop
// session is ending, a supervisor stops the program): a message that would
// open one, such as settings that cannot be written, goes to the error
// stream and to the report hook instead, and the program goes on ending.
void TExitRoutes::ReportWithoutBoxes()
{
    services_.Message = [this](const QString &text) {
        std::fprintf(stderr, "idlix: %s\n", qPrintable(text));
        std::fflush(stderr);
        if (auto hook = reportHook_)
            hook(text);
    };
}

void TExitRoutes::RequestExitUnattended()
{
    ReportWithoutBoxes();
    RequestExit();
}

void TExitRoutes::RequestExit()
{
    exitRequested_ = true;
    if (main_)
        main_->Exit1Click();
    else if (hold_)
        hold_->close();
    else
        QCoreApplication::quit();
    // Before the main loop runs, a quit is ignored; ending every loop that
    // runs now (a message box of the start-up) lets the start-up go on to
    // the main loop, where Start() carries the exit out.
    if (!mainLoopStarted_)
        QCoreApplication::exit(0);
}

void TExitRoutes::Start()
{
    // The main loop starts afresh (a quit asked for before it ran is
    // forgotten by it): an exit asked for during the start-up is repeated in it.
    mainLoopStarted_ = true;
    if (exitRequested_)
        QTimer::singleShot(0, this, [this] { RequestExit(); });
}

bool TExitRoutes::eventFilter(QObject *watched, QEvent *event)
{
    // A quit request that did not come from the hold window closing (the
    // session manager's "die", any other quit()) would otherwise be refused:
    // the application asks every window to close, and a main window that only
    // minimizes stays open. Take it down the Exit path instead.
    if (watched == qApp && event->type() == QEvent::Quit && hold_ && !ExitUnderWay()) {
        RequestExit();
        return true;
    }
    return QObject::eventFilter(watched, event);
}

void TExitRoutes::commitData(QSessionManager &)
{
    // The session is ending and the program may be killed without a further
    // word: write the settings now. Nobody is there to answer a message box,
    // so a refused write is only reported on the error stream.
    if (!main_)
        return;
    ReportWithoutBoxes();
    main_->SaveSettings();
    services_.Message = {};
}
