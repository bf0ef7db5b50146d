#include "platform/localsocket.h"

#include "platform/errcodes.h"
#include "platform/monoclock.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <poll.h>
#include <string>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace platform {

namespace {

int fail(int err)
{
    SetSocketLastError(ErrnoToCode(err));
    return -1;
}

// Fills addr with path; false (ENAMETOOLONG) when it does not fit, since
// a cut path would name another file.
bool addressOf(const std::string &path, sockaddr_un &addr)
{
    addr = {};
    addr.sun_family = AF_UNIX;
    if (path.empty() || path.size() >= sizeof addr.sun_path) {
        errno = path.empty() ? ENOENT : ENAMETOOLONG;
        return false;
    }
    std::memcpy(addr.sun_path, path.data(), path.size());
    return true;
}

int openStream()
{
    return ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
}

// Binds s at path inside a fresh folder only this user can enter, listens,
// narrows the file to 0600 and moves it to its place: once the file is at
// path, a caller is taken, never refused. errno tells a failure.
bool listenPrivately(int s, const std::string &path, int backlog)
{
    const std::string::size_type slash = path.rfind('/');
    std::string dir = (slash == std::string::npos ? std::string(".") : path.substr(0, slash)) + "/.idlix-sock.XXXXXX";
    if (!::mkdtemp(dir.data()))
        return false;
    const std::string staged = dir + "/s";
    sockaddr_un addr;
    bool ok = addressOf(staged, addr)
              && ::bind(s, reinterpret_cast<const sockaddr *>(&addr), sizeof addr) == 0
              && ::listen(s, backlog) == 0
              && ::chmod(staged.c_str(), S_IRUSR | S_IWUSR) == 0
              && ::rename(staged.c_str(), path.c_str()) == 0;
    const int err = errno;
    ::unlink(staged.c_str());  // still there only when a step failed
    ::rmdir(dir.c_str());
    errno = err;
    return ok;
}

} // namespace

SocketHandle LocalListen(const char *path, int backlog)
{
    sockaddr_un check;
    if (!addressOf(path, check))  // the final name must fit, as callers connect by it
        return fail(errno);
    const int s = openStream();
    if (s < 0)
        return fail(errno);
    if (!listenPrivately(s, path, backlog)) {
        const int err = errno;
        ::close(s);
        return fail(err);
    }
    return s;
}

int LocalSendOnce(const char *path, const void *data, int len, int timeoutMs)
{
    sockaddr_un addr;
    if (!addressOf(path, addr))
        return fail(errno);
    const int s = openStream();
    if (s < 0)
        return fail(errno);
    // A local connect is done or refused at once; with the listener's queue
    // full it fails with EAGAIN, which the caller treats as not listening.
    if (::connect(s, reinterpret_cast<const sockaddr *>(&addr), sizeof addr) != 0) {
        const int err = errno;
        ::close(s);
        return fail(err);
    }
    const auto *bytes = static_cast<const char *>(data);
    const std::int64_t deadline = MonoNowNs() + std::int64_t(timeoutMs > 0 ? timeoutMs : 0) * 1000000;
    int sent = 0;
    int err = 0;
    while (sent < len && err == 0) {
        const ssize_t n = ::send(s, bytes + sent, std::size_t(len - sent), MSG_NOSIGNAL);
        if (n > 0) {
            sent += int(n);
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EINTR) {
            err = errno;
            break;
        }
        const std::int64_t left = (deadline - MonoNowNs() + 999999) / 1000000;
        if (left <= 0) {
            err = ETIMEDOUT;
            break;
        }
        pollfd p{s, POLLOUT, 0};
        if (::poll(&p, 1, int(left > INT_MAX ? INT_MAX : left)) < 0 && errno != EINTR)
            err = errno;
    }
    ::close(s);
    return err == 0 ? 0 : fail(err);
}

} // namespace platform
