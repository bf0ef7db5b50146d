#include "shell/exitpath.h"

#include "shell/holdform.h"
#include "shell/mainform.h"
#include "desktop/msgbox.h"
#include "platform/quitsignals.h"

#include <QApplication>
#include <QEvent>
#include <QPointer>
#include <QTimer>
#if QT_CONFIG(sessionmanager)
#include <QSessionManager>
#endif
#include <cstdio>

namespace {

bool exitUnderWay = false;
// The windows the program ends through, as the composition handed them over.
QPointer<THoldForm> holdWindow;
QPointer<TMainForm> mainWindow;
// Set by the first request to end: one that comes while the windows are
// still being made ends the nested loop it came in (a message box of the
// start-up), and is carried out again once the main loop runs.
bool exitRequested = false;
// Whether the main loop runs (TExitRoutes::Start was called).
bool mainLoopStarted = false;

std::function<void(const QString &)> &exitReportHook()
{
    static std::function<void(const QString &)> hook;
    return hook;
}

// Nobody may be there to answer a message box on this way out (the desktop
// session is ending, a supervisor stops the program): a message that would
// open one, such as settings that cannot be written, goes to the error
// stream and to the exit report hook instead, and the program goes on ending.
void ReportWithoutBoxes()
{
    desktop::SetMessageHook([](const QString &text) {
        std::fprintf(stderr, "idlix: %s\n", qPrintable(text));
        std::fflush(stderr);
        if (auto hook = exitReportHook())
            hook(text);
    });
}

} // namespace

void SetExitReportHook(std::function<void(const QString &)> hook)
{
    exitReportHook() = std::move(hook);
}

void RequestExitUnattended()
{
    ReportWithoutBoxes();
    RequestExit();
}

void SetExitWindows(THoldForm *hold, TMainForm *main)
{
    holdWindow = hold;
    mainWindow = main;
}

void SetExitUnderWay(bool on)
{
    exitUnderWay = on;
}

bool ExitUnderWay()
{
    return exitUnderWay;
}

void RequestExit()
{
    exitRequested = true;
    if (mainWindow)
        mainWindow->Exit1Click();
    else if (holdWindow)
        holdWindow->close();
    else
        QCoreApplication::quit();
    // Before the main loop runs, a quit is ignored; ending every loop that
    // runs now (a message box of the start-up) lets the start-up go on to
    // the main loop, where Start() carries the exit out.
    if (!mainLoopStarted)
        QCoreApplication::exit(0);
}

TExitRoutes::TExitRoutes(QObject *parent) : QObject(parent)
{
    quitSignals_ = new platform::TQuitSignals(this);
    quitSignals_->OnQuit = [](int) { RequestExitUnattended(); };
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

void TExitRoutes::Start()
{
    // The main loop starts afresh (a quit asked for before it ran is
    // forgotten by it): an exit asked for during the start-up is repeated in it.
    mainLoopStarted = true;
    if (exitRequested)
        QTimer::singleShot(0, qApp, [] { RequestExit(); });
}

bool TExitRoutes::eventFilter(QObject *watched, QEvent *event)
{
    // A quit request that did not come from the hold window closing (the
    // session manager's "die", any other quit()) would otherwise be refused:
    // the application asks every window to close, and a main window that only
    // minimizes stays open. Take it down the Exit path instead.
    if (watched == qApp && event->type() == QEvent::Quit && !ExitUnderWay() && holdWindow) {
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
    if (!mainWindow)
        return;
    ReportWithoutBoxes();
    mainWindow->SaveSettings();
    desktop::SetMessageHook({});
}
