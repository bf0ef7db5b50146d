#include "desktop/instanceguard.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLocalServer>
#include <QLocalSocket>
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

TInstanceGuard::~TInstanceGuard()
{
    if (server_) {
        server_->close();
        QFile::remove(SocketPath(title_));
    }
    if (lockFd_ >= 0)
        ::close(lockFd_);  // closing drops the lock
}

void TInstanceGuard::listen()
{
    // Holding the lock, any socket file still there was left by an instance
    // that died; it is safe to remove.
    const QString path = SocketPath(title_);
    QLocalServer::removeServer(path);
    server_ = new QLocalServer(this);
    server_->setSocketOptions(QLocalServer::UserAccessOption);
    if (!server_->listen(path))
        return;
    connect(server_, &QLocalServer::newConnection, this, [this] {
        while (QLocalSocket *s = server_->nextPendingConnection()) {
            connect(s, &QLocalSocket::readyRead, this, [this, s] { readRequest(s); });
            connect(s, &QLocalSocket::disconnected, s, &QObject::deleteLater);
            readRequest(s);  // the request may have arrived with the connection
        }
    });
}

void TInstanceGuard::readRequest(QLocalSocket *s)
{
    // One short request per connection; anything longer is not ours.
    if (s->bytesAvailable() < kActivate.size())
        return;
    const QByteArray req = s->read(kActivate.size());
    s->disconnectFromServer();
    if (req != kActivate)
        return;
    if (auto handler = OnActivate)
        handler();
}

bool TInstanceGuard::AskFirstToActivate(int timeoutMs)
{
    if (IsFirst())
        return false;
    // The holder may still be starting its socket: retry until the time-out.
    QElapsedTimer t;
    t.start();
    do {
        QLocalSocket s;
        s.connectToServer(SocketPath(title_));
        if (s.waitForConnected(qMax(1, timeoutMs - int(t.elapsed())))) {
            s.write(kActivate);
            const bool sent = s.waitForBytesWritten(qMax(1, timeoutMs - int(t.elapsed())))
                              || s.bytesToWrite() == 0;
            s.disconnectFromServer();
            return sent;
        }
        QThread::msleep(50);
    } while (t.elapsed() < timeoutMs);
    return false;
}

} // namespace desktop

// Built with this file rather than with the library's other classes, so that
// a program that never uses them (the headless service) does not link Qt Network.
#include "moc_instanceguard.cpp"
