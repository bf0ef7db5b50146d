#include "desktop/instanceguard.h"

#include "platform/errcodes.h"
#include "platform/localsocket.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QPointer>
#include <QSocketNotifier>
#include <QStandardPaths>
#include <QThread>
#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace desktop {

namespace {

const QByteArray kActivate = "activate\n";

QString runtimeDir()
{
    QString dir = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (dir.isEmpty() || !QDir(dir).exists())
        dir = QDir::tempPath();
    return dir;
}

// The title made safe as a file name; /tmp is shared by all users, so the
// user id is part of the name.
QString baseName(const QString &title)
{
    QString name = title;
    name.replace(QLatin1Char('/'), QLatin1Char('_'));
    if (name.isEmpty())
        name = QStringLiteral("_");
    return runtimeDir() + QLatin1Char('/') + name + QLatin1Char('-') + QString::number(::getuid());
}

} // namespace

QString TInstanceGuard::LockPath(const QString &title)
{
    return baseName(title) + QStringLiteral(".lock");
}

QString TInstanceGuard::SocketPath(const QString &title)
{
    return baseName(title) + QStringLiteral(".sock");
}

TInstanceGuard::TInstanceGuard(const QString &title, QObject *parent)
    : QObject(parent), title_(title)
{
    const QByteArray path = QFile::encodeName(LockPath(title));
    int fd = ::open(path.constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0)
        return;  // no lock file possible: run unguarded rather than not at all
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        first_ = errno != EWOULDBLOCK;
        ::close(fd);
        return;
    }
    lockFd_ = fd;
    listen();
}

namespace {

// The notifiers have no parent and go only through here: the activation
// handler may end the guard from inside a notifier's own signal (the one of
// a caller, or the listener's while it takes a caller), and that notifier
// must outlive the signal. Disabled at once, freed by the event loop.
void RetireNotifier(QSocketNotifier *notifier)
{
    notifier->setEnabled(false);
    notifier->deleteLater();
}

} // namespace

// A later start that has connected, and what it has sent so far.
struct TInstanceGuard::TCaller {
    platform::SocketHandle Socket = platform::kInvalidSocket;
    QSocketNotifier *Readable = nullptr;
    QByteArray Got;
};

TInstanceGuard::~TInstanceGuard()
{
    while (!callers_.empty())
        dropCaller(callers_.front().get());
    if (listenFd_ >= 0) {
        RetireNotifier(listening_);
        platform::SockClose(listenFd_);
        QFile::remove(SocketPath(title_));
    }
    if (lockFd_ >= 0)
        ::close(lockFd_);  // closing drops the lock
}

void TInstanceGuard::listen()
{
    // Holding the lock, any socket file still there was left by an instance
    // that died: LocalListen puts the new one in its place.
    listenFd_ = platform::LocalListen(QFile::encodeName(SocketPath(title_)).constData(), kMaxCallers);
    if (listenFd_ < 0)
        return;  // later starts cannot reach this one, but it runs guarded all the same
    listening_ = new QSocketNotifier(listenFd_, QSocketNotifier::Read);
    connect(listening_, &QSocketNotifier::activated, this, [this] { acceptCallers(); });
}

void TInstanceGuard::acceptCallers()
{
    const QPointer<TInstanceGuard> alive(this);
    for (;;) {
        const platform::SocketHandle s = platform::SockAccept(listenFd_);
        if (s < 0)
            return;  // none left (or no descriptor to take one: it waits for the next turn)
        // A caller that connects and never sends cannot pile up descriptors.
        if (int(callers_.size()) >= kMaxCallers)
            dropCaller(callers_.front().get());
        auto caller = std::make_unique<TCaller>();
        caller->Socket = s;
        caller->Readable = new QSocketNotifier(s, QSocketNotifier::Read);
        TCaller *c = caller.get();
        connect(caller->Readable, &QSocketNotifier::activated, this, [this, c] { readRequest(c); });
        callers_.push_back(std::move(caller));
        readRequest(c);  // the request may have arrived with the connection
        if (!alive)
            return;
    }
}

void TInstanceGuard::readRequest(TCaller *caller)
{
    // One short request per connection; anything else is not ours.
    char buf[16];
    const int want = int(kActivate.size()) - int(caller->Got.size());
    const int n = platform::SockRecv(caller->Socket, buf, want);
    if (n < 0 && platform::SocketLastError() == platform::kErrWouldBlock)
        return;
    if (n > 0)
        caller->Got.append(buf, n);
    if (n > 0 && caller->Got.size() < kActivate.size())
        return;
    const bool activate = caller->Got == kActivate;
    dropCaller(caller);
    // Last: the handler may run a nested loop, or end this guard.
    if (activate)
        if (auto handler = OnActivate)
            handler();
}

void TInstanceGuard::dropCaller(TCaller *caller)
{
    for (auto it = callers_.begin(); it != callers_.end(); ++it) {
        if (it->get() != caller)
            continue;
        RetireNotifier(caller->Readable);
        platform::SockClose(caller->Socket);
        callers_.erase(it);
        return;
    }
}

bool TInstanceGuard::AskFirstToActivate(int timeoutMs)
{
    if (IsFirst())
        return false;
    // The holder may still be starting its socket: retry until the time-out.
    const QByteArray path = QFile::encodeName(SocketPath(title_));
    QElapsedTimer t;
    t.start();
    do {
        const int left = qMax(1, timeoutMs - int(t.elapsed()));
        if (platform::LocalSendOnce(path.constData(), kActivate.constData(), int(kActivate.size()), left) == 0)
            return true;
        if (platform::SocketLastError() == platform::kErrTimedOut)
            return false;  // connected, but the holder does not read
        QThread::msleep(50);
    } while (t.elapsed() < timeoutMs);
    return false;
}

} // namespace desktop

// Built with this file rather than with the library's other classes, so that
// a program that uses none of them links none of their libraries.
#include "moc_instanceguard.cpp"
