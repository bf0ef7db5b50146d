#include "platform/socket.h"

#include "platform/errcodes.h"

#include <cerrno>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace platform {

namespace {

// Per thread as errno is: what the last call on this thread left behind.
thread_local int lastError = 0;

int fail(int err)
{
    lastError = ErrnoToCode(err);
    return -1;
}

int check(int rc)
{
    return rc < 0 ? fail(errno) : rc;
}

int nameOf(SocketHandle s, IpAddress &addr, std::uint16_t &port, bool peer)
{
    sockaddr_storage sa{};
    socklen_t len = sizeof sa;
    int rc = peer ? getpeername(s, reinterpret_cast<sockaddr *>(&sa), &len)
                  : getsockname(s, reinterpret_cast<sockaddr *>(&sa), &len);
    if (rc < 0)
        return fail(errno);
    addr = FromSockaddr(reinterpret_cast<const sockaddr *>(&sa), &port);
    return 0;
}

} // namespace

int SocketLastError() { return lastError; }
void SetSocketLastError(int code) { lastError = code; }

SocketHandle SockOpen(Family family, int type, int protocol)
{
    if (family == Family::None)
        return fail(EAFNOSUPPORT);
    int t = (type == kSockDatagram ? SOCK_DGRAM : SOCK_STREAM) | SOCK_NONBLOCK | SOCK_CLOEXEC;
    int s = socket(family == Family::IPv6 ? AF_INET6 : AF_INET, t, protocol);
    return s < 0 ? fail(errno) : s;
}

int SockConnect(SocketHandle s, const IpAddress &addr, std::uint16_t port)
{
    sockaddr_storage sa;
    const socklen_t len = ToSockaddr(addr, port, sa);
    if (len == 0)
        return fail(EAFNOSUPPORT);
    if (connect(s, reinterpret_cast<sockaddr *>(&sa), len) == 0)
        return 0;
    // A non-blocking connect that has started reports EINPROGRESS; callers
    // treat it like the would-block answer and wait for the writable event.
    if (errno == EINPROGRESS || errno == EAGAIN) {
        lastError = kErrWouldBlock;
        return -1;
    }
    return fail(errno);
}

int SockPendingError(SocketHandle s)
{
    int err = 0;
    socklen_t len = sizeof err;
    if (getsockopt(s, SOL_SOCKET, SO_ERROR, &err, &len) < 0)
        err = errno;
    return err == 0 ? 0 : ErrnoToCode(err);
}

int SockSend(SocketHandle s, const void *data, int len, int flags)
{
    int f = MSG_NOSIGNAL | (flags == kSendOutOfBand ? MSG_OOB : 0);
    return check(static_cast<int>(send(s, data, static_cast<size_t>(len), f)));
}

int SockSendTo(SocketHandle s, const void *data, int len, int flags, const IpAddress &addr,
               std::uint16_t port)
{
    sockaddr_storage sa;
    const socklen_t salen = ToSockaddr(addr, port, sa);
    if (salen == 0)
        return fail(EAFNOSUPPORT);
    int f = MSG_NOSIGNAL | (flags == kSendOutOfBand ? MSG_OOB : 0);
    return check(static_cast<int>(sendto(s, data, static_cast<size_t>(len), f,
                                         reinterpret_cast<sockaddr *>(&sa), salen)));
}

int SockRecv(SocketHandle s, void *buf, int len)
{
    if (len < 0)
        return fail(EINVAL);
    return check(static_cast<int>(recv(s, buf, static_cast<size_t>(len), 0)));
}

int SockRecvFrom(SocketHandle s, void *buf, int len, IpAddress &addr, std::uint16_t &port)
{
    if (len < 0)
        return fail(EINVAL);
    sockaddr_storage sa{};
    socklen_t salen = sizeof sa;
    const int rc = check(static_cast<int>(recvfrom(s, buf, static_cast<size_t>(len), MSG_TRUNC,
                                                   reinterpret_cast<sockaddr *>(&sa), &salen)));
    if (rc >= 0)
        addr = FromSockaddr(reinterpret_cast<const sockaddr *>(&sa), &port);
    return rc;
}

int SockPeek(SocketHandle s, void *buf, int len)
{
    return check(static_cast<int>(recv(s, buf, static_cast<size_t>(len), MSG_PEEK | MSG_DONTWAIT)));
}

int SockShutdown(SocketHandle s, int how)
{
    int h = how == 0 ? SHUT_RD : how == 1 ? SHUT_WR : SHUT_RDWR;
    return check(shutdown(s, h));
}

int SockClose(SocketHandle s)
{
    return check(close(s));
}

int SockSetLinger(SocketHandle s, bool on, int seconds)
{
    linger l{};
    l.l_onoff = on ? 1 : 0;
    l.l_linger = seconds;
    return check(setsockopt(s, SOL_SOCKET, SO_LINGER, &l, sizeof l));
}

int SockSetOption(SocketHandle s, SockOption opt, bool on)
{
    int name = opt == SockOption::KeepAlive ? SO_KEEPALIVE
             : opt == SockOption::ReuseAddr ? SO_REUSEADDR
                                            : SO_BROADCAST;
    int v = on ? 1 : 0;
    return check(setsockopt(s, SOL_SOCKET, name, &v, sizeof v));
}

int SockBytesReadable(SocketHandle s, int &count)
{
    int n = 0;
    if (ioctl(s, FIONREAD, &n) < 0)
        return fail(errno);
    count = n;
    return 0;
}

int SockBindAny(SocketHandle s, Family family)
{
    IpAddress any;  // all zero bytes: the unspecified address of either family
    any.family = family;
    sockaddr_storage sa;
    const socklen_t len = ToSockaddr(any, 0, sa);
    if (len == 0)
        return fail(EAFNOSUPPORT);
    return check(bind(s, reinterpret_cast<sockaddr *>(&sa), len));
}

int SockBind(SocketHandle s, const IpAddress &addr, std::uint16_t port)
{
    sockaddr_storage sa;
    const socklen_t len = ToSockaddr(addr, port, sa);
    if (len == 0)
        return fail(EAFNOSUPPORT);
    return check(bind(s, reinterpret_cast<sockaddr *>(&sa), len));
}

int SockListen(SocketHandle s, int backlog)
{
    return check(listen(s, backlog));
}

SocketHandle SockAccept(SocketHandle s)
{
    int c;
    do {
        c = accept4(s, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
    } while (c < 0 && errno == EINTR);
    return c < 0 ? fail(errno) : c;
}

int SockLocalAddr(SocketHandle s, IpAddress &addr, std::uint16_t &port)
{
    return nameOf(s, addr, port, false);
}

int SockPeerAddr(SocketHandle s, IpAddress &addr, std::uint16_t &port)
{
    return nameOf(s, addr, port, true);
}

int ServicePort(const char *name, const char *proto)
{
    servent buf{};
    servent *res = nullptr;
    char scratch[1024];
    if (getservbyname_r(name, proto, &buf, scratch, sizeof scratch, &res) != 0 || !res)
        return -1;
    return ntohs(static_cast<std::uint16_t>(res->s_port));
}

int ProtocolNumber(const char *name)
{
    protoent buf{};
    protoent *res = nullptr;
    char scratch[1024];
    if (getprotobyname_r(name, &buf, scratch, sizeof scratch, &res) != 0 || !res)
        return -1;
    return res->p_proto;
}

} // namespace platform
