#include "platform/httpexchange.h"

#include "platform/monoclock.h"

#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace platform {

namespace {

// A head longer than this is no page a check needs to read further.
constexpr std::size_t kMostHead = 8192;
// A page read whole is a check page: small, or not the one that was meant.
constexpr std::size_t kMostBody = 8192;

constexpr int kErrTimedOut = 10060;
constexpr int kErrRefused = 10061;
constexpr int kErrFailed = 10050;

// Waits for 'events' on fd until the deadline; false when it passed.
bool WaitFor(int fd, short events, std::int64_t deadlineNs)
{
    for (;;) {
        const std::int64_t left = (deadlineNs - MonoNowNs()) / 1000000;
        if (left <= 0)
            return false;
        pollfd p{fd, events, 0};
        const int n = ::poll(&p, 1, int(left));
        if (n > 0)
            return true;
        if (n < 0 && errno != EINTR)
            return false;
    }
}

} // namespace

int HttpExchange(const IpAddress &addr, std::uint16_t port, const std::string &request,
                 std::string *head, int timeoutMs, std::string *body)
{
    const std::int64_t deadline = MonoNowNs() + std::int64_t(timeoutMs) * 1000000;
    sockaddr_storage sa{};
    const unsigned len = ToSockaddr(addr, port, sa);
    if (len == 0)
        return kErrFailed;
    const int fd = ::socket(sa.ss_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return kErrFailed;
    int code = 0;
    if (::connect(fd, reinterpret_cast<const sockaddr *>(&sa), len) != 0 && errno != EINPROGRESS)
        code = errno == ECONNREFUSED ? kErrRefused : kErrFailed;
    if (code == 0 && !WaitFor(fd, POLLOUT, deadline))
        code = kErrTimedOut;
    if (code == 0) {
        int error = 0;
        socklen_t size = sizeof error;
        ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &size);
        if (error != 0)
            code = error == ECONNREFUSED ? kErrRefused : kErrFailed;
    }
    for (std::size_t sent = 0; code == 0 && sent < request.size();) {
        const ssize_t n = ::send(fd, request.data() + sent, request.size() - sent, MSG_NOSIGNAL);
        if (n > 0)
            sent += std::size_t(n);
        else if (n < 0 && errno != EAGAIN && errno != EINTR)
            code = kErrFailed;
        else if (!WaitFor(fd, POLLOUT, deadline))
            code = kErrTimedOut;
    }
    std::string got;
    const auto more = [&] {
        if (!body)
            return got.size() < kMostHead && got.find("\r\n\r\n") == std::string::npos;
        const std::size_t end = got.find("\r\n\r\n");
        return end == std::string::npos ? got.size() < kMostHead : got.size() - end - 4 < kMostBody;
    };
    while (code == 0 && more()) {
        if (!WaitFor(fd, POLLIN, deadline)) {
            code = got.empty() ? kErrTimedOut : 0;
            break;
        }
        char buffer[2048];
        const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
        if (n > 0)
            got.append(buffer, std::size_t(n));
        else if (n == 0)
            break;   // closed: what came is the head
        else if (errno != EAGAIN && errno != EINTR)
            code = got.empty() ? kErrFailed : 0;
    }
    ::close(fd);
    if (code == 0 && got.empty())
        code = kErrFailed;
    const std::size_t end = got.find("\r\n\r\n");
    if (code == 0 && head)
        *head = got.substr(0, std::min(end, kMostHead));
    if (code == 0 && body)
        *body = end == std::string::npos ? std::string() : got.substr(end + 4, kMostBody);
    return code;
}

} // namespace platform
