// The single way the program ends. Exit closes the hold window, which ends
// the message loop; the main window is destroyed afterwards and saves the
// settings. Requests from outside (termination signals, the desktop session
// ending, a stray application quit) are routed to that same path.
#pragma once

#include <QObject>
#include <QString>
#include <functional>

class QSessionManager;
namespace platform {
class TQuitSignals;
}

class THoldForm;
class TMainForm;

// The hold window and the main window the program ends through; handed over
// by the composition (either may be missing).
void SetExitWindows(THoldForm *hold, TMainForm *main);

// Ends the program as Exit does. Without a hold window the loop is simply
// asked to end.
void RequestExit();

// The same for a request that nobody watches (a termination signal): from
// now on every message meant for a box goes to the error stream and to the
// exit report hook instead, so nothing on the way out waits for a click.
void RequestExitUnattended();

// Receives those messages as well (settings that could not be written on
// the way out), for a log that should keep them; empty to remove.
void SetExitReportHook(std::function<void(const QString &)> hook);

// Set by the hold window when it starts closing (cleared when one is made);
// while set, an application quit request is the program's own and passes.
void SetExitUnderWay(bool on);
bool ExitUnderWay();

class TExitRoutes : public QObject {
    Q_OBJECT
public:
    // Installs the signal handlers at once (so an early signal is kept, not
    // fatal), routes the application's quit requests and the session
    // manager's data request. A signal is delivered by whichever event loop
    // runs first: one during the start-up ends the loop it came in (a
    // message box) and takes effect again when Start() is called.
    explicit TExitRoutes(QObject *parent = nullptr);
    ~TExitRoutes() override;

    // Called just before the message loop runs: an exit asked for earlier
    // (a signal during the start-up) is carried out as soon as the loop runs.
    void Start();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void commitData(QSessionManager &manager);

    platform::TQuitSignals *quitSignals_ = nullptr;
};
