// Single-instance guard. The first instance holds an flock() on a lock file
// named after the application title in the user's runtime directory, and
// listens on a local socket beside it. A later instance finds the lock taken,
// asks the first one through the socket to come to the front, and ends.
// The kernel drops the lock when its holder dies, so a crashed instance never
// blocks the next start.
#pragma once

#include <QObject>
#include <QString>
#include <functional>
#include <memory>
#include <vector>

class QSocketNotifier;

namespace desktop {

class TInstanceGuard : public QObject {
    Q_OBJECT
public:
    // Tries to take the guard for title.
    explicit TInstanceGuard(const QString &title, QObject *parent = nullptr);
    ~TInstanceGuard() override;  // releases the lock and the socket

    // False when another instance holds the guard. (True also when no lock
    // file could be made at all: the program then runs unguarded.)
    bool IsFirst() const { return first_; }
    // True when this process holds the lock.
    bool Holds() const { return lockFd_ >= 0; }

    // From a later instance: asks the holder to come to the front. True when
    // the request was delivered within timeoutMs.
    bool AskFirstToActivate(int timeoutMs = 2000);

    // Holder: fired (GUI thread) when a later instance asks for the front.
    std::function<void()> OnActivate;

    // Where the lock file and the socket of a title live.
    static QString LockPath(const QString &title);
    static QString SocketPath(const QString &title);

    // Most callers whose request is still incomplete; a further one ends the oldest.
    static constexpr int kMaxCallers = 8;

private:
    struct TCaller;
    void listen();
    void acceptCallers();
    void readRequest(TCaller *caller);
    void dropCaller(TCaller *caller);

    QString title_;
    int lockFd_ = -1;
    bool first_ = true;
    int listenFd_ = -1;                              // the socket later starts ask through
    QSocketNotifier *listening_ = nullptr;           // watches listenFd_ for callers
    std::vector<std::unique_ptr<TCaller>> callers_;  // connected, request not yet whole
};

} // namespace desktop
