// A datagram listener standing in for systemd's notification socket: the
// real protocol, received by the test instead of the service manager.
#pragma once

#include <QByteArray>
#include <QElapsedTimer>
#include <QList>

#include <cstddef>
#include <cstring>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <functional>

namespace testsupport {

class NotifyListener {
public:
    // Bound to 'path' (a socket file the test owns).
    explicit NotifyListener(const QByteArray &path)
    {
        fd_ = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
        sockaddr_un sa = {};
        sa.sun_family = AF_UNIX;
        if (size_t(path.size()) < sizeof sa.sun_path) {
            std::memcpy(sa.sun_path, path.constData(), size_t(path.size()));
            ok_ = ::bind(fd_, reinterpret_cast<sockaddr *>(&sa), sizeof sa) == 0;
        }
    }
    ~NotifyListener() { ::close(fd_); }
    bool ok() const { return ok_; }

    // Every datagram so far, each with the milliseconds of a clock started
    // with the listener at which it was taken.
    struct Message {
        QByteArray text;
        qint64 ms;
    };
    const QList<Message> &Messages()
    {
        Drain(0);
        return messages_;
    }
    // Waits up to timeoutMs for a message that satisfies 'match'.
    bool WaitFor(const std::function<bool(const QByteArray &)> &match, int timeoutMs)
    {
        QElapsedTimer clock;
        clock.start();
        for (;;) {
            for (const Message &m : messages_) {
                if (match(m.text))
                    return true;
            }
            const qint64 left = timeoutMs - clock.elapsed();
            if (left <= 0)
                return false;
            Drain(int(left));
        }
    }
    int Count(const QByteArray &text)
    {
        Drain(0);
        int n = 0;
        for (const Message &m : messages_)
            n += m.text == text;
        return n;
    }

private:
    void Drain(int waitMs)
    {
        pollfd p{fd_, POLLIN, 0};
        if (::poll(&p, 1, waitMs) <= 0)
            return;
        char buf[4096];
        for (;;) {
            const ssize_t n = ::recv(fd_, buf, sizeof buf, 0);
            if (n < 0)
                return;
            messages_.push_back({QByteArray(buf, int(n)), clock_.elapsed()});
        }
    }

    int fd_ = -1;
    bool ok_ = false;
    QList<Message> messages_;
    QElapsedTimer clock_ = [] { QElapsedTimer t; t.start(); return t; }();
};

} // namespace testsupport
