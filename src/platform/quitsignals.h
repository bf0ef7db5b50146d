// Termination requests from outside the program: SIGTERM (kill, shutdown),
// SIGINT (Ctrl+C in a terminal) and SIGHUP (the terminal went away). The
// signal handler only writes the signal number into a pipe; the pipe's read
// end is watched by the event loop, so the callback runs on the GUI thread
// where any ordinary code may run.
//
// The first signal asks the program to end; a second one while the first is
// pending or being carried out ends the process at once, by the signal's
// default action, so a program that hangs on its way out can still be
// stopped.
#pragma once

#include <QObject>
#include <functional>

class QSocketNotifier;

namespace platform {

class TQuitSignals : public QObject {
    Q_OBJECT
public:
    // Installs the handlers. Only one instance may exist at a time; a second
    // one stays inert (Installed() false).
    explicit TQuitSignals(QObject *parent = nullptr);
    // Restores the handlers that were in place before and closes the pipe.
    ~TQuitSignals() override;

    // True when the handlers are in place.
    bool Installed() const { return installed_; }

    // Whether the event loop delivers arrived signals to OnQuit. Off at
    // first: a signal caught before the owner is ready waits in the pipe and
    // is delivered as soon as watching is turned on.
    void SetWatching(bool on);

    // Called on the GUI thread with the signal number of the quit request
    // (once: a later signal ends the process, see above).
    std::function<void(int signo)> OnQuit;

private:
    void readPipe();

    QSocketNotifier *notifier_ = nullptr;
    bool installed_ = false;
};

} // namespace platform
