// The single way the program ends. Exit closes the hold window, which ends
// the message loop; the main window is destroyed afterwards and saves the
// settings. Requests from outside (termination signals, the desktop session
// ending, a stray application quit) are routed to that same path.
#pragma once

#include "platform/services.h"

#include <QObject>
#include <QPointer>
#include <QString>
#include <functional>

class QSessionManager;
namespace platform {
class TQuitSignals;
}

class THoldForm;
class TMainForm;

// The ways out, owned by the composition, which hands it the windows once
// they are made.
class TExitRoutes : public QObject {
    Q_OBJECT
public:
    // Installs the signal handlers at once (so an early signal is kept, not
    // fatal), routes the application's quit requests and the session
    // manager's data request. A signal is delivered by whichever event loop
    // runs first: one during the start-up ends the loop it came in (a
    // message box) and takes effect again when Start() is called.
    // On a way out that nobody watches, services' messages are sent to the
    // error stream and the report hook (see RequestExitUnattended).
    explicit TExitRoutes(platform::TServices &services = platform::Services(),
                         QObject *parent = nullptr);
    ~TExitRoutes() override;

    // The hold window and the main window the program ends through (either
    // may be missing).
    void SetWindows(THoldForm *hold, TMainForm *main);
    // Receives the messages of a way out that nobody watches (settings that
    // could not be written), for a log that should keep them; empty to remove.
    void SetReportHook(std::function<void(const QString &)> hook);

    // Called just before the message loop runs: an exit asked for earlier
    // (a signal during the start-up) is carried out as soon as the loop runs.
    void Start();

    // Ends the program as Exit does. Without a hold window the loop is simply
    // asked to end.
    void RequestExit();
    // The same for a request that nobody watches (a termination signal): from
    // now on every message meant for a box goes to the error stream and to
    // the report hook instead, so nothing on the way out waits for a click.
    void RequestExitUnattended();

    // The hold window has started closing: an application quit request is
    // then the program's own and passes.
    bool ExitUnderWay() const;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void ReportWithoutBoxes();
    void commitData(QSessionManager &manager);

    platform::TServices &services_;
    platform::TQuitSignals *quitSignals_ = nullptr;
    QPointer<THoldForm> hold_;
    QPointer<TMainForm> main_;
    std::function<void(const QString &)> reportHook_;
    // Set by the first request to end: one that comes while the windows are
    // still being made ends the nested loop it came in (a message box of the
    // start-up), and is carried out again once the main loop runs.
    bool exitRequested_ = false;
    bool mainLoopStarted_ = false;   // Start was called
};
