#include "platform/notifysocket.h"

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstring>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace platform {

TNotifySocket::TNotifySocket(const QByteArray &address)
{
    if (address.isEmpty())
        return;
    sockaddr_un sa = {};
    sa.sun_family = AF_UNIX;
    const bool abstract = address.startsWith('@');
    if (!abstract && !address.startsWith('/')) {
        // Other forms (a vsock address of a virtual machine's manager) are
        // not ours to speak.
        error_ = QStringLiteral("unsupported notification socket address '%1'")
                     .arg(QString::fromLocal8Bit(address));
        return;
    }
    if (size_t(address.size()) > sizeof sa.sun_path) {
        error_ = QStringLiteral("notification socket address too long");
        return;
    }
    std::memcpy(sa.sun_path, address.constData(), size_t(address.size()));
    // An abstract name starts with a NUL byte in place of the '@' and is
    // exactly as long as given; a path ends with its NUL.
    if (abstract)
        sa.sun_path[0] = '\0';
    const size_t length = offsetof(sockaddr_un, sun_path) + size_t(address.size()) + (abstract ? 0 : 1);
    address_ = QByteArray(reinterpret_cast<const char *>(&sa), int(std::min(length, sizeof sa)));

    fd_ = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd_ < 0)
        error_ = QString::fromLocal8Bit(std::strerror(errno));
}

TNotifySocket::~TNotifySocket()
{
    if (fd_ >= 0)
        ::close(fd_);
}

bool TNotifySocket::Send(const QByteArray &message, QString *error) const
{
    if (fd_ < 0) {
        if (error)
            *error = error_.isEmpty() ? QStringLiteral("no notification socket") : error_;
        return false;
    }
    ssize_t sent;
    do {
        // Never waits: a manager that stops reading must not stop the
        // program; the message is lost instead, and the caller told.
        sent = ::sendto(fd_, message.constData(), size_t(message.size()), MSG_NOSIGNAL | MSG_DONTWAIT,
                        reinterpret_cast<const sockaddr *>(address_.constData()),
                        socklen_t(address_.size()));
    } while (sent < 0 && errno == EINTR);
    if (sent == message.size())
        return true;
    if (error)
        *error = sent < 0 ? (errno == EAGAIN ? QStringLiteral("its queue is full; a message was dropped")
                                             : QString::fromLocal8Bit(std::strerror(errno)))
                          : QStringLiteral("short send");
    return false;
}

} // namespace platform
