// Idlix entry point. The single-instance guard is taken before any window
// exists; then the hidden hold window (the program ends when it closes), then
#include "app/cmdline.h"
#include "platform/version.h"
// the main window with its features, then the message loop. The main window
// is destroyed before the hold window and writes the settings as it goes.
#include "app/idlix.h"
#include "desktop/justone32.h"
#include "desktop/msgbox.h"
#include "app/windowscale.h"
#include "platform/services.h"
#include "platform/startuptrace.h"
#include "session/logfile.h"
#include "shell/exitroutes.h"
#include "shell/holdform.h"

#include <QApplication>

int main(int argc, char **argv)
{
    platform::StartupMark("main");
    // --help and --version answer at once, as do the modes without a window
    // (the unattended service, the export) and a command line that cannot be
    // understood: no window, no display, no instance guard.
    TRunOptions run;
    if (const int rc = AnswerCommandLine(argc, argv, &run); rc >= 0)
        return rc;

    // The window's size is Qt's to apply as the application object is made.
    PrepareWindowScaleFromSettings(argc, argv);
    QApplication app(argc, argv);
    platform::StartupMark("application");
    QApplication::setApplicationDisplayName(QLatin1String(platform::ProgramTitle));
    // Wayland desktops find the menu entry (and so the icon) through this name.
    QApplication::setDesktopFileName("com.brisvane.Idlix");
    // Hiding the main window (to the tray) must not end the program.
    QApplication::setQuitOnLastWindowClosed(false);

    // Where messages, notices, beeps and unhandled engine errors go, for the
    // whole run; the exit routes redirect its messages on a way out that
    // nobody watches.
    platform::TServices services;
    const platform::TServicesInUse servicesInUse(services);

    TPreviousInstance previous(QLatin1String(platform::ProgramTitle));
    if (previous.Exists()) {
        // Another instance runs: ask it to come to the front and end quietly,
        // before any window or the settings file is touched.
        TJustOne32 ask(nullptr, &previous);
        return 0;
    }

    // SIGTERM, SIGINT, SIGHUP and the session's end go the way of Exit. The
    // handlers are in place before the windows are made, so a signal during
    // start-up is not fatal: it ends any message box of the start-up and
    // takes effect once the loop runs.
    TExitRoutes routes(services);
    // What could not be done on a way out that nobody watches (settings that
    // cannot be written) is kept in the session log as well as on stderr.
    routes.SetReportHook([](const QString &text) {
        QString error;
        session::AppendLogLines(session::LogFilePath(), {session::LogLine(text)}, &error);
    });
    // Engine failures that no handler took go to the program's error box.
    services.Error = [](const QString &text) { desktop::ShowMessage(text); };
    // What a reader skipped of a file (or refused to open) is told in a box
    // that does not hold up the start.
    services.Notice = [](const QString &text) { desktop::ShowNotice(text); };
    auto *hold = new THoldForm;
    auto *idlix = new TIdlix(hold, run.Family, &routes, &previous);
    routes.Start();
    platform::StartupMark("message loop");
    const int rc = QApplication::exec();
    delete idlix;
    delete hold;
    return rc;
}
