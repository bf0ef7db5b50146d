// Idlix entry point. The single-instance guard is taken before any window
// exists; then the hidden hold window (the program ends when it closes), then
// the main window, then the message loop. The main window is destroyed before
// the hold window and writes the settings as it goes.
#include "app/cmdline.h"
#include "app/exitpath.h"
#include "app/holdform.h"
#include "app/justone32.h"
#include "app/mainform.h"

#include <QApplication>

int main(int argc, char **argv)
{
    // --help and --version answer at once: no window, no instance guard.
    if (const int rc = AnswerCommandLine(argc, argv); rc >= 0)
        return rc;

    QApplication app(argc, argv);
    QApplication::setApplicationDisplayName("Idlix v2.0");
    // Wayland desktops find the menu entry (and so the icon) through this name.
    QApplication::setDesktopFileName("com.brisvane.Idlix");
    // Hiding the main window (to the tray) must not end the program.
    QApplication::setQuitOnLastWindowClosed(false);

    TPreviousInstance previous("Idlix v2.0");
    if (previous.Exists()) {
        // Another instance runs: ask it to come to the front and end quietly,
        // before any window or the settings file is touched.
        TJustOne32 ask(nullptr, &previous);
        return 0;
    }

    // SIGTERM, SIGINT, SIGHUP and the session's end go the way of Exit. The
    // handlers are in place before the windows are made, so a signal during
    // start-up is not fatal; it takes effect once the loop runs.
    TExitRoutes routes;
    HoldForm = new THoldForm;
    MainForm = new TMainForm;
    routes.Start();
    const int rc = QApplication::exec();
    delete MainForm;
    delete HoldForm;
    return rc;
}
