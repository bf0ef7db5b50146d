// A plain blocking TCP client for tests of servers that run on their own
// thread or in another process: connect, send bytes, read until the server
// closes, each step with a time-out, with no event loop involved.
#pragma once

#include <QByteArray>
#include <QElapsedTimer>

#include <algorithm>
#include <cerrno>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string>

namespace testsupport {

class RawClient {
public:
    // Connects to address (IPv4 or IPv6 text) and port, waiting up to timeoutMs.
    RawClient(const std::string &address, int port, int timeoutMs = 5000)
    {
        sockaddr_storage sa = {};
        socklen_t len = 0;
        auto *v4 = reinterpret_cast<sockaddr_in *>(&sa);
        auto *v6 = reinterpret_cast<sockaddr_in6 *>(&sa);
        if (inet_pton(AF_INET, address.c_str(), &v4->sin_addr) == 1) {
            v4->sin_family = AF_INET;
            v4->sin_port = htons(uint16_t(port));
            len = sizeof *v4;
        } else if (inet_pton(AF_INET6, address.c_str(), &v6->sin6_addr) == 1) {
            v6->sin6_family = AF_INET6;
            v6->sin6_port = htons(uint16_t(port));
            len = sizeof *v6;
        } else {
            return;
        }
        fd_ = ::socket(sa.ss_family, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
        if (::connect(fd_, reinterpret_cast<sockaddr *>(&sa), len) != 0 && errno != EINPROGRESS)
            return;
        pollfd p{fd_, POLLOUT, 0};
        int err = 0;
        socklen_t errLen = sizeof err;
        connected_ = ::poll(&p, 1, timeoutMs) == 1 && getsockopt(fd_, SOL_SOCKET, SO_ERROR, &err, &errLen) == 0
                     && err == 0;
    }
    ~RawClient()
    {
        if (fd_ >= 0)
            ::close(fd_);
    }
    RawClient(const RawClient &) = delete;
    RawClient &operator=(const RawClient &) = delete;

    bool Connected() const { return connected_; }

    // Sends bytes, waiting up to timeoutMs for room; the bytes sent.
    qsizetype Send(const QByteArray &bytes, int timeoutMs = 5000)
    {
        QElapsedTimer clock;
        clock.start();
        qsizetype sent = 0;
        while (sent < bytes.size() && clock.elapsed() < timeoutMs) {
            const ssize_t n = ::send(fd_, bytes.constData() + sent, size_t(bytes.size() - sent), MSG_NOSIGNAL);
            if (n > 0) {
                sent += n;
                continue;
            }
            if (n < 0 && errno != EAGAIN && errno != EINTR)
                break;
            pollfd p{fd_, POLLOUT, 0};
            ::poll(&p, 1, int(std::max<qint64>(1, timeoutMs - clock.elapsed())));
        }
        return sent;
    }

    // Reads until the peer closes (true) or timeoutMs passes (false); what
    // came is in Received(). A reset counts as closed.
    bool ReadUntilClosed(int timeoutMs = 5000)
    {
        QElapsedTimer clock;
        clock.start();
        char buf[65536];
        for (;;) {
            const ssize_t n = ::recv(fd_, buf, sizeof buf, 0);
            if (n > 0) {
                received_.append(buf, int(n));
                continue;
            }
            if (n == 0 || (errno != EAGAIN && errno != EINTR))
                return true;
            const qint64 left = timeoutMs - clock.elapsed();
            if (left <= 0)
                return false;
            pollfd p{fd_, POLLIN, 0};
            ::poll(&p, 1, int(left));
        }
    }

    const QByteArray &Received() const { return received_; }
    // The status code of the response received, 0 when there is none.
    int Status() const
    {
        return received_.startsWith("HTTP/1.") ? received_.mid(9, 3).toInt() : 0;
    }
    QByteArray Body() const
    {
        const int end = received_.indexOf("\r\n\r\n");
        return end < 0 ? QByteArray() : received_.mid(end + 4);
    }

private:
    int fd_ = -1;
    bool connected_ = false;
    QByteArray received_;
};

// One request and its whole response.
inline QByteArray HttpExchange(const std::string &address, int port, const QByteArray &request,
                               int *status = nullptr, int timeoutMs = 5000)
{
    RawClient c(address, port, timeoutMs);
    if (!c.Connected() || c.Send(request, timeoutMs) != request.size() || !c.ReadUntilClosed(timeoutMs))
        return {};
    if (status)
        *status = c.Status();
    return c.Body();
}

inline QByteArray HttpGet(const std::string &address, int port, const QByteArray &path, int *status = nullptr)
{
    return HttpExchange(address, port, "GET " + path + " HTTP/1.1\r\nHost: test\r\nConnection: close\r\n\r\n",
                        status);
}

} // namespace testsupport
