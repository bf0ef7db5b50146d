#include "platform/linetraffic.h"

#include <QtEndian>

#include <arpa/inet.h>

#include <cerrno>
#include <cstring>
#include <linux/if_link.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <net/if.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

namespace platform {

namespace {

struct TFd {
    int fd = -1;
    ~TFd()
    {
        if (fd >= 0)
            ::close(fd);
    }
};

QString Fail(QString *error, const QString &text)
{
    if (error)
        *error = text;
    return {};
}

// One request to the kernel's routing socket and its first answer: a
// message of 'type' with its body, or nothing (and *error set).
std::optional<QByteArray> AskKernel(const void *request, size_t length, quint16 type, QString *error)
{
    TFd sock;
    sock.fd = ::socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC, NETLINK_ROUTE);
    if (sock.fd < 0) {
        Fail(error, QString::fromLocal8Bit(std::strerror(errno)));
        return std::nullopt;
    }
    const timeval limit{1, 0};
    ::setsockopt(sock.fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    sockaddr_nl kernel{};
    kernel.nl_family = AF_NETLINK;
    if (::sendto(sock.fd, request, length, 0, reinterpret_cast<sockaddr *>(&kernel), sizeof kernel) < 0) {
        Fail(error, QString::fromLocal8Bit(std::strerror(errno)));
        return std::nullopt;
    }
    alignas(nlmsghdr) char buf[16384];
    const ssize_t n = ::recv(sock.fd, buf, sizeof buf, 0);
    if (n < 0) {
        Fail(error, QString::fromLocal8Bit(std::strerror(errno)));
        return std::nullopt;
    }
    int len = int(n);
    for (auto *h = reinterpret_cast<nlmsghdr *>(buf); NLMSG_OK(h, len); h = NLMSG_NEXT(h, len)) {
        if (h->nlmsg_type == NLMSG_ERROR) {
            const auto *e = static_cast<const nlmsgerr *>(NLMSG_DATA(h));
            Fail(error, QString::fromLocal8Bit(std::strerror(-e->error)));
            return std::nullopt;
        }
        if (h->nlmsg_type == type)
            return QByteArray(static_cast<const char *>(NLMSG_DATA(h)), int(h->nlmsg_len - NLMSG_HDRLEN));
    }
    Fail(error, QStringLiteral("no answer"));
    return std::nullopt;
}

} // namespace

QString RouteInterface(const QString &target, QString *error)
{
    // The address's bytes as the kernel takes them; a zone does not choose the route here.
    const QByteArray text = target.section(QLatin1Char('%'), 0, 0).toLatin1();
    unsigned char bytes[16] = {};
    const bool v4 = inet_pton(AF_INET, text.constData(), bytes) == 1;
    if (!v4 && inet_pton(AF_INET6, text.constData(), bytes) != 1)
        return Fail(error, QStringLiteral("not an IP address"));

    struct {
        nlmsghdr hdr;
        rtmsg rt;
        char attrs[64];
    } req{};
    const int addrLen = v4 ? 4 : 16;
    req.hdr.nlmsg_type = RTM_GETROUTE;
    req.hdr.nlmsg_flags = NLM_F_REQUEST;
    req.hdr.nlmsg_seq = 1;
    req.rt.rtm_family = v4 ? AF_INET : AF_INET6;
    req.rt.rtm_dst_len = v4 ? 32 : 128;
    auto *rta = reinterpret_cast<rtattr *>(req.attrs);
    rta->rta_type = RTA_DST;
    rta->rta_len = RTA_LENGTH(addrLen);
    std::memcpy(RTA_DATA(rta), bytes, addrLen);
    req.hdr.nlmsg_len = NLMSG_LENGTH(sizeof(rtmsg)) + RTA_SPACE(addrLen);

    const std::optional<QByteArray> answer = AskKernel(&req, req.hdr.nlmsg_len, RTM_NEWROUTE, error);
    if (!answer || answer->size() < int(sizeof(rtmsg)))
        return {};
    int attrLen = answer->size() - int(NLMSG_ALIGN(sizeof(rtmsg)));
    for (auto *a = reinterpret_cast<const rtattr *>(answer->constData() + NLMSG_ALIGN(sizeof(rtmsg)));
         RTA_OK(a, attrLen); a = RTA_NEXT(a, attrLen)) {
        if (a->rta_type != RTA_OIF || RTA_PAYLOAD(a) < sizeof(int))
            continue;
        int index = 0;
        std::memcpy(&index, RTA_DATA(a), sizeof index);
        // The name from the kernel of this network namespace (if_indextoname
        // asks through a socket of the calling thread's).
        char name[IF_NAMESIZE] = {};
        if (!::if_indextoname(unsigned(index), name))
            return Fail(error, QString::fromLocal8Bit(std::strerror(errno)));
        return QString::fromLocal8Bit(name);
    }
    return Fail(error, QStringLiteral("no route"));
}

std::optional<TLineCounters> InterfaceCounters(const QString &interface)
{
    const QByteArray name = interface.toLocal8Bit();
    if (name.isEmpty() || name.size() >= IF_NAMESIZE)
        return std::nullopt;
    // Over netlink rather than /sys/class/net: sysfs shows the namespace it
    // was mounted in, the kernel's socket the one the thread is in.
    struct {
        nlmsghdr hdr;
        ifinfomsg ifi;
        char attrs[32];
    } req{};
    req.hdr.nlmsg_type = RTM_GETLINK;
    req.hdr.nlmsg_flags = NLM_F_REQUEST;
    req.hdr.nlmsg_seq = 1;
    req.ifi.ifi_family = AF_UNSPEC;
    auto *rta = reinterpret_cast<rtattr *>(req.attrs);
    rta->rta_type = IFLA_IFNAME;
    rta->rta_len = RTA_LENGTH(name.size() + 1);
    std::memcpy(RTA_DATA(rta), name.constData(), size_t(name.size()) + 1);
    req.hdr.nlmsg_len = NLMSG_LENGTH(sizeof(ifinfomsg)) + RTA_SPACE(name.size() + 1);

    const std::optional<QByteArray> answer = AskKernel(&req, req.hdr.nlmsg_len, RTM_NEWLINK, nullptr);
    if (!answer || answer->size() < int(sizeof(ifinfomsg)))
        return std::nullopt;
    int attrLen = answer->size() - int(NLMSG_ALIGN(sizeof(ifinfomsg)));
    for (auto *a = reinterpret_cast<const rtattr *>(answer->constData() + NLMSG_ALIGN(sizeof(ifinfomsg)));
         RTA_OK(a, attrLen); a = RTA_NEXT(a, attrLen)) {
        if (a->rta_type != IFLA_STATS64 || RTA_PAYLOAD(a) < sizeof(rtnl_link_stats64))
            continue;
        rtnl_link_stats64 stats{};
        std::memcpy(&stats, RTA_DATA(a), sizeof stats);
        return TLineCounters{interface, stats.rx_packets, stats.tx_packets};
    }
    return std::nullopt;
}

} // namespace platform
