// The service manager's notification socket: the AF_UNIX datagram socket
// that systemd names in $NOTIFY_SOCKET for a service of Type=notify. Each
// message is one datagram of newline-separated "KEY=value" assignments
// ("READY=1", "STATUS=...", "WATCHDOG=1", "STOPPING=1").
//
// A datagram of our own rather than libsystemd's sd_notify(): the protocol
// is one sendto() on a socket, stable and documented, and the program
// needs nothing else of the library; linking it for this would add a
// dependency to every install, the desktop's included.
#pragma once

#include <QByteArray>
#include <QString>

namespace platform {

class TNotifySocket {
public:
    // For the address as $NOTIFY_SOCKET gives it: an absolute path, or
    // "@name" for a name in the abstract namespace. An empty address gives
    // a socket that is not Valid() and has no Error(): nobody listens.
    explicit TNotifySocket(const QByteArray &address);
    ~TNotifySocket();
    TNotifySocket(const TNotifySocket &) = delete;
    TNotifySocket &operator=(const TNotifySocket &) = delete;

    // The address could be used and a socket opened.
    bool Valid() const { return fd_ >= 0; }
    // Why an address that was given cannot be used.
    QString Error() const { return error_; }

    // Sends 'message' as one datagram. False with the system's reason when
    // it could not be sent whole (nobody listens, the message is too long).
    bool Send(const QByteArray &message, QString *error = nullptr) const;

private:
    int fd_ = -1;
    QByteArray address_;   // the struct sockaddr_un, as many bytes as count
    QString error_;
};

} // namespace platform
