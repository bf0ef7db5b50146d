// Idlix entry point. The single-instance guard is taken before any window
// exists; then the hidden hold window (the program ends when it closes), then
#include "app/cmdline.h"
// the main window with its features, then the message loop. The main window
// is destroyed before the hold window and writes the settings as it goes.
#include "app/headlesslaunch.h"
#include "app/idlix.h"
#include "desktop/justone32.h"
#include "desktop/msgbox.h"
#include "net/errorreport.h"
#include "shell/exitpath.h"
#include "shell/holdform.h"

#include <QApplication>

int main(int argc, char **argv)
{
    // The unattended service runs without any of what follows.
    if (WantsHeadless(argc, argv))
        return LaunchHeadless(argv);
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
    // Engine failures that no handler took go to the program's error box.
    net::SetErrorReporter([](const QString &text) { platform::ShowMessage(text); });
    HoldForm = new THoldForm;
    auto *idlix = new TIdlix;   // sets MainForm
    routes.Start();
    const int rc = QApplication::exec();
    delete idlix;
    delete HoldForm;
    return rc;
}
