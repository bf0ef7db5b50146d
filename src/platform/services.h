// Where the program's messages, notices, beeps and unhandled engine errors
// go. The composition (main) makes one TServices, fills in the routes its
// windows and log need and puts it in use for the run; a mode without a
// window (the service) makes its own with routes into its log. Code below
// the desktop layer (a file reader, an engine) has no window to ask, so it
// reaches the services in use through Services(): that one installed
// instance is the program's only process-wide state of this kind.
#pragma once

#include <QSet>
#include <QString>

#include <functional>
#include <mutex>

namespace platform {

class TServices {
public:
    // Takes the text of a message or warning box instead of the box; empty:
    // the box is shown.
    std::function<void(const QString &)> Message;
    // Takes a notice about a file read in part or refused (see
    // boundedread.h); empty: the notice goes to the error stream.
    std::function<void(const QString &)> Notice;
    // Takes an engine failure that no event handler took; empty: the error
    // stream.
    std::function<void(const QString &)> Error;
    // Sounds the short beep that comes with a warning; empty: the system's.
    std::function<void()> Beep;
    // Whether the desktop offers a notification area: 1 yes, 0 no, -1 the
    // desktop is asked (tests answer for the offscreen platform, which has
    // none).
    int TrayAvailable = -1;

    // True the first time key is asked about, false ever after: for what the
    // user is told once in a run (a hint on ICMP access). Safe from any thread.
    bool FirstTime(const QString &key);

    // Passes notice to Notice (or the error stream) unless a notice under
    // the same key was passed before: one problem is one message, however
    // often the file is read. Safe from any thread; the routes themselves
    // are filled in before the services are put in use.
    void TellOnce(const QString &key, const QString &notice);

private:
    std::mutex lock_;
    QSet<QString> told_;  // every key asked about
};

// The services in use: the instance put in use last (TServicesInUse), or the
// default one, whose routes are empty until someone fills them in.
TServices &Services();

// Puts services in use for its own lifetime, then restores the ones before.
class TServicesInUse {
public:
    explicit TServicesInUse(TServices &services);
    ~TServicesInUse();
    TServicesInUse(const TServicesInUse &) = delete;
    TServicesInUse &operator=(const TServicesInUse &) = delete;

private:
    TServices *previous_;
};

} // namespace platform
