#include "platform/icmpecho.h"
#include "platform/errcodes.h"
#include "platform/icmpcodec.h"

#include <arpa/inet.h>
#include <atomic>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <linux/errqueue.h>
#include <linux/icmp.h>
#include <netinet/icmp6.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

namespace platform {

namespace {

// Per thread as errno is: what the last call on this thread left behind.
thread_local int tLastError = 0;
thread_local std::int64_t tLastRoundTripUs = -1;

// Raw sockets see every ICMP message of the host; the identifier tells ours
// from other programs' echoes. Datagram sockets get the local port from the
// kernel instead.
std::uint16_t rawIdentifier() { return std::uint16_t(getpid() & 0xFFFF); }

// One counter for the process, so no two echoes in flight share a sequence,
// whichever handle or thread sent them.
std::atomic<std::uint16_t> gSequence{0};

int setFlag(int fd, int level, int name)
{
    const int one = 1;
    return setsockopt(fd, level, name, &one, sizeof one);
}

int socketOption(int fd, int name)
{
    int value = -1;
    socklen_t len = sizeof value;
    if (getsockopt(fd, SOL_SOCKET, name, &value, &len) != 0)
        return -1;
    return value;
}

bool isRawSocket(int fd) { return socketOption(fd, SO_TYPE) == SOCK_RAW; }

// Nanoseconds, kept whole: a double of milliseconds since 1970 still holds
// microseconds, but the sum of two such conversions need not round the same.
std::int64_t nowRealtimeNs()
{
    timespec ts{};
    clock_gettime(CLOCK_REALTIME, &ts);
    return std::int64_t(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

double nowMonotonicMs()
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return ts.tv_sec * 1000.0 + ts.tv_nsec / 1e6;
}

// What came with a received message besides its bytes.
struct Ancillary {
    std::int64_t stampNs = -1;  // kernel receive time (CLOCK_REALTIME), -1 if absent
    int ttl = -1;         // IPv4 TTL or IPv6 hop limit
    const sock_extended_err *ee = nullptr;
    IpAddress offender;
};

bool isCmsg(const cmsghdr *c, int level, int type, std::size_t size)
{
    return c->cmsg_level == level && c->cmsg_type == type && c->cmsg_len >= CMSG_LEN(size);
}

void readAncillary(msghdr &msg, Ancillary &anc)
{
    for (cmsghdr *c = CMSG_FIRSTHDR(&msg); c; c = CMSG_NXTHDR(&msg, c)) {
        if (isCmsg(c, SOL_SOCKET, SCM_TIMESTAMPNS, sizeof(timespec))) {
            timespec ts;
            memcpy(&ts, CMSG_DATA(c), sizeof ts);
            anc.stampNs = std::int64_t(ts.tv_sec) * 1000000000 + ts.tv_nsec;
        } else if (isCmsg(c, IPPROTO_IP, IP_TTL, sizeof(int))
                   || isCmsg(c, IPPROTO_IPV6, IPV6_HOPLIMIT, sizeof(int))) {
            memcpy(&anc.ttl, CMSG_DATA(c), sizeof(int));
        } else if (isCmsg(c, IPPROTO_IP, IP_RECVERR, sizeof(sock_extended_err))
                   || isCmsg(c, IPPROTO_IPV6, IPV6_RECVERR, sizeof(sock_extended_err))) {
            anc.ee = reinterpret_cast<const sock_extended_err *>(CMSG_DATA(c));
            // The offender follows the record only when the kernel had one.
            const std::size_t room = c->cmsg_len - CMSG_LEN(sizeof(sock_extended_err));
            const sockaddr *off = SO_EE_OFFENDER(anc.ee);
            if ((off->sa_family == AF_INET && room >= sizeof(sockaddr_in))
                || (off->sa_family == AF_INET6 && room >= sizeof(sockaddr_in6)))
                anc.offender = FromSockaddr(off);
        }
    }
}

// The round trip in microseconds, to the kernel's receive time stamp of the
// answer (the time the reply reached the socket, not when this thread got to
// read it: a busy machine delays the read, not the stamp). Sets the record's
// whole milliseconds, rounded to the nearest as they always were, from the
// same figure so the two never disagree.
void setRoundTrip(std::int64_t sentNs, const Ancillary &anc, IcmpEchoReply &r)
{
    const std::int64_t at = anc.stampNs >= 0 ? anc.stampNs : nowRealtimeNs();
    const std::int64_t us = at > sentNs ? (at - sentNs + 500) / 1000 : 0;
    tLastRoundTripUs = us;
    r.RoundTripTime = std::uint32_t((us + 500) / 1000);
}

int finish(int status, int replies)
{
    tLastError = status;
    return replies;
}

// Status for an errno of sendto: a kernel with no route answers at once,
// and so does a firewall of this machine that forbids echoes (EPERM): that
// one is no answer of the line, but this system not letting the echo out.
int sendStatus(int err)
{
    switch (err) {
    case EPERM:
    case EACCES:
        return kErrAccess;
    case ENETUNREACH:
        return kIpDestNetUnreachable;
    case EHOSTUNREACH:
        return kIpDestHostUnreachable;
    case EMSGSIZE:
        return kIpPacketTooBig;
    case ENOBUFS:
    case ENOMEM:
        return kIpNoResources;
    default:
        return kIpGeneralFailure;
    }
}

// Opens a datagram echo socket of the family, or a raw one where datagram
// ones are not allowed. -1 with tLastError set when neither can be had.
int openEchoSocket(int domain, int protocol)
{
    int fd = socket(domain, SOCK_DGRAM | SOCK_CLOEXEC, protocol);
    const int dgramErr = errno;
    if (fd >= 0)
        return fd;
    fd = socket(domain, SOCK_RAW | SOCK_CLOEXEC, protocol);
    if (fd < 0) {
        // Report why the datagram socket failed when that is the telling
        // one (not permitted), else the raw socket's reason.
        const int err = (dgramErr == EACCES || dgramErr == EPERM) ? EACCES : errno;
        tLastError = ErrnoToCode(err == EPERM ? EACCES : err);
    }
    return fd;
}

} // namespace

IcmpHandle IcmpCreateFile()
{
    const int fd = openEchoSocket(AF_INET, IPPROTO_ICMP);
    if (fd < 0)
        return kInvalidIcmpHandle;
    if (isRawSocket(fd)) {
        // Only echo replies and the errors that can quote an echo request.
        icmp_filter filt{};
        filt.data = ~((1u << icmp::kEchoReply) | (1u << icmp::kDestUnreach)
                      | (1u << icmp::kSourceQuench) | (1u << icmp::kTimeExceeded)
                      | (1u << icmp::kParamProblem));
        setsockopt(fd, SOL_RAW, ICMP_FILTER, &filt, sizeof filt);
    } else {
        setFlag(fd, IPPROTO_IP, IP_RECVERR);
    }
    setFlag(fd, IPPROTO_IP, IP_RECVTTL);
    setFlag(fd, SOL_SOCKET, SO_TIMESTAMPNS);
    tLastError = 0;
    return fd;
}

IcmpHandle Icmp6CreateFile()
{
    const int fd = openEchoSocket(AF_INET6, IPPROTO_ICMPV6);
    if (fd < 0)
        return kInvalidIcmpHandle;
    if (isRawSocket(fd)) {
        icmp6_filter filt;
        ICMP6_FILTER_SETBLOCKALL(&filt);
        for (std::uint8_t type : {icmp::kV6EchoReply, icmp::kV6DestUnreach, icmp::kV6PacketTooBig,
                                  icmp::kV6TimeExceeded, icmp::kV6ParamProblem})
            ICMP6_FILTER_SETPASS(type, &filt);
        setsockopt(fd, IPPROTO_ICMPV6, ICMP6_FILTER, &filt, sizeof filt);
    } else {
        setFlag(fd, IPPROTO_IPV6, IPV6_RECVERR);
    }
    setFlag(fd, IPPROTO_IPV6, IPV6_RECVHOPLIMIT);
    setFlag(fd, SOL_SOCKET, SO_TIMESTAMPNS);
    tLastError = 0;
    return fd;
}

bool IcmpCloseHandle(IcmpHandle handle)
{
    if (handle < 0)
        return false;
    return close(int(handle)) == 0;
}

bool IcmpHandleIsRaw(IcmpHandle handle)
{
    return handle >= 0 && isRawSocket(int(handle));
}

Family IcmpHandleFamily(IcmpHandle handle)
{
    if (handle < 0)
        return Family::None;
    switch (socketOption(int(handle), SO_DOMAIN)) {
    case AF_INET: return Family::IPv4;
    case AF_INET6: return Family::IPv6;
    default: return Family::None;
    }
}

int IcmpLastError() { return tLastError; }

namespace {

// One echo in flight: what its answer must match.
struct EchoProbe {
    int fd = -1;
    bool raw = false;            // raw socket: IPv4 replies carry the IP header
    bool v6 = false;
    std::uint16_t id = 0;        // identifier a raw socket's answer must quote
    std::uint16_t seq = 0;       // sequence the answer must quote
    IpAddress dest;              // the address the echo went to
    std::int64_t sentNs = 0;     // CLOCK_REALTIME at the send, for the round trip
};

// The same host, whatever zone index the kernel put on the answer's address.
bool sameHost(const IpAddress &a, const IpAddress &b)
{
    return a.family == b.family && a.bytes == b.bytes;
}

// Leftovers of an earlier echo (a late reply, an error) must not be taken
// for this one's; the sequence check would drop them, but emptying the
// queues keeps the wait loop short.
void drainQueues(int fd, std::vector<std::uint8_t> &buf)
{
    while (recv(fd, buf.data(), buf.size(), MSG_DONTWAIT | MSG_ERRQUEUE) > 0) {}
    while (recv(fd, buf.data(), buf.size(), MSG_DONTWAIT) >= 0) {}
}

// Sends the request of 'probe' (id and seq set by the caller) with 'size'
// bytes of 'data'; 0 or the status of a send the kernel refused at once. On a
// datagram socket the kernel puts its own identifier (the local port) in the
// request.
int sendRequest(EchoProbe &probe, const void *data, int size)
{
    const auto *payload = static_cast<const std::uint8_t *>(data);
    const auto pkt = probe.v6 ? icmp::BuildEchoRequestV6(probe.id, probe.seq, payload, std::size_t(size))
                              : icmp::BuildEchoRequest(probe.id, probe.seq, payload, std::size_t(size));
    sockaddr_storage to;
    const socklen_t len = ToSockaddr(probe.dest, 0, to);
    probe.sentNs = nowRealtimeNs();
    if (sendto(probe.fd, pkt.data(), pkt.size(), 0, reinterpret_cast<sockaddr *>(&to), len) < 0)
        return sendStatus(errno);
    return 0;
}

enum class TWait { Ready, Again, TimedOut, Failed };

// Waits until the socket has something to read or the deadline (monotonic
// ms) passes; 'revents' gets what poll reported.
TWait waitReadable(int fd, double deadline, short &revents)
{
    const double left = deadline - nowMonotonicMs();
    if (left <= 0)
        return TWait::TimedOut;
    pollfd p{fd, POLLIN, 0};
    const int n = poll(&p, 1, int(std::ceil(left)));
    if (n < 0 && errno != EINTR)
        return TWait::Failed;
    if (n <= 0)
        return TWait::Again;   // interrupted, or the time is up: the next round decides
    revents = p.revents;
    return TWait::Ready;
}

// A message received with its sender and ancillary data. The extended error
// record of the ancillary data points into 'control'.
struct Received {
    ssize_t size = -1;
    IpAddress from;
    Ancillary anc;
    alignas(cmsghdr) char control[512];
};

// Reads one message without waiting; false when there was none.
bool receive(int fd, std::vector<std::uint8_t> &buf, int flags, Received &rx)
{
    sockaddr_storage from{};
    iovec iov{buf.data(), buf.size()};
    msghdr msg{};
    msg.msg_name = &from;
    msg.msg_namelen = sizeof from;
    msg.msg_iov = &iov;
    msg.msg_iovlen = 1;
    msg.msg_control = rx.control;
    msg.msg_controllen = sizeof rx.control;
    rx.size = recvmsg(fd, &msg, flags | MSG_DONTWAIT);
    if (rx.size < 0)
        return false;
    rx.from = FromSockaddr(reinterpret_cast<const sockaddr *>(&from));
    readAncillary(msg, rx.anc);
    return true;
}

std::uint8_t ttlOf(const Ancillary &anc) { return std::uint8_t(anc.ttl > 0 ? anc.ttl : 0); }

// Reads one ICMP error from a datagram socket's error queue. True, with 'r'
// and 'replier' filled in, when it answers this probe: the quoted request
// carries its sequence and it went to the probe's destination.
bool readError(const EchoProbe &probe, std::vector<std::uint8_t> &buf, IcmpEchoReply &r,
               IpAddress &replier)
{
    Received rx;
    if (!receive(probe.fd, buf, MSG_ERRQUEUE, rx))
        return false;
    const std::uint8_t origin = probe.v6 ? SO_EE_ORIGIN_ICMP6 : SO_EE_ORIGIN_ICMP;
    std::uint16_t qid = 0, qseq = 0;
    const bool quoted = probe.v6 ? icmp::DecodeQuotedRequestV6(buf.data(), std::size_t(rx.size), qid, qseq)
                                 : icmp::DecodeQuotedRequest(buf.data(), std::size_t(rx.size), qid, qseq);
    if (!rx.anc.ee || rx.anc.ee->ee_origin != origin || !quoted || qseq != probe.seq
        || !sameHost(rx.from, probe.dest))
        return false;
    replier = rx.anc.offender;
    r.Status = probe.v6 ? icmp::StatusForErrorV6(rx.anc.ee->ee_type, rx.anc.ee->ee_code)
                        : icmp::StatusForError(rx.anc.ee->ee_type, rx.anc.ee->ee_code);
    setRoundTrip(probe.sentNs, rx.anc, r);
    r.Options.Ttl = ttlOf(rx.anc);
    return true;
}

// Reads one message of the normal queue: an echo reply, or on a raw socket
// also an ICMP error quoting the request. True, with 'r' and 'replier'
// filled in, when it answers this probe.
bool readReply(const EchoProbe &probe, std::vector<std::uint8_t> &buf, IcmpEchoReply &r,
               IpAddress &replier)
{
    Received rx;
    if (!receive(probe.fd, buf, 0, rx))
        return false;   // a pending socket error is read from the queue next round
    const std::size_t size = std::size_t(rx.size);
    // Only raw IPv4 sockets hand over the IP header; ICMPv6 comes without it.
    const bool withIp = probe.raw && !probe.v6;
    const auto d = probe.v6 ? icmp::DecodeV6(buf.data(), size) : icmp::Decode(buf.data(), size, withIp);
    // A datagram socket gets only the replies that carry its identifier: the
    // kernel put it there and checks it.
    const bool ours = d.seq == probe.seq && (!probe.raw || d.id == probe.id);
    if (d.kind == icmp::Decoded::EchoReply) {
        if (!ours || !sameHost(rx.from, probe.dest))
            return false;
        replier = rx.from;
        r.Status = kIpSuccess;
        setRoundTrip(probe.sentNs, rx.anc, r);
        const std::size_t hdr = withIp ? std::size_t(buf[0] & 0x0F) * 4 + icmp::kHeaderLen
                                       : icmp::kHeaderLen;
        r.DataSize = std::uint16_t(size > hdr ? size - hdr : 0);
        r.Options.Ttl = withIp ? d.ttl : ttlOf(rx.anc);
        return true;
    }
    if (!probe.raw || d.kind != icmp::Decoded::Error || !ours)
        return false;
    if (probe.v6) {
        if (d.quotedDest6 != probe.dest.bytes)
            return false;
        replier = rx.from;
        r.Status = icmp::StatusForErrorV6(d.type, d.code);
        r.Options.Ttl = ttlOf(rx.anc);
    } else {
        if (d.quotedDest != probe.dest.v4())
            return false;
        replier = IpAddress::V4(d.source);
        r.Status = icmp::StatusForError(d.type, d.code);
        r.Options.Ttl = d.ttl;
    }
    setRoundTrip(probe.sentNs, rx.anc, r);
    return true;
}

} // namespace

int IcmpSendEcho(IcmpHandle handle, std::uint32_t dest, const void *data, int size,
                 const IpOptionInformation *options, IcmpEchoReply *reply, int timeoutMs)
{
    return IcmpSendEchoTo(handle, IpAddress::V4(dest), data, size, options, reply, timeoutMs);
}

int IcmpSendEchoTo(IcmpHandle handle, const IpAddress &dest, const void *data, int size,
                   const IpOptionInformation *options, IcmpEchoReply *reply, int timeoutMs,
                   IpAddress *replier)
{
    IcmpEchoReply scratch;
    IcmpEchoReply &r = reply ? *reply : scratch;
    IpAddress from = dest;
    // Whatever the outcome, the caller learns who answered (the target
    // itself until an answer says otherwise).
    struct Report {
        IcmpEchoReply &r;
        IpAddress &from;
        IpAddress *out;
        ~Report()
        {
            r.Address = from.IsV4() ? from.v4() : 0;
            if (out)
                *out = from;
        }
    } report{r, from, replier};
    r = IcmpEchoReply{};
    tLastRoundTripUs = -1;
    if (handle < 0)
        return finish(ErrnoToCode(EBADF), 0);
    const Family family = IcmpHandleFamily(handle);
    if (!dest.Valid() || family != dest.family)
        return finish(r.Status = kIpBadDestination, 0);
    if (size < 0 || (size > 0 && !data))
        return finish(kIpGeneralFailure, 0);
    const bool v6 = family == Family::IPv6;
    if (std::size_t(size) > (v6 ? icmp::kMaxPayloadV6 : icmp::kMaxPayload))
        return finish(r.Status = kIpPacketTooBig, 0);
    const int ttl = options ? options->Ttl : 64;
    if (ttl == 0)  // the kernel refuses a TTL of 0: nothing could be sent
        return finish(r.Status = kIpBadOption, 0);

    EchoProbe probe;
    probe.fd = int(handle);
    probe.raw = isRawSocket(probe.fd);
    probe.v6 = v6;
    probe.dest = dest;
    const int set = v6 ? setsockopt(probe.fd, IPPROTO_IPV6, IPV6_UNICAST_HOPS, &ttl, sizeof ttl)
                       : setsockopt(probe.fd, IPPROTO_IP, IP_TTL, &ttl, sizeof ttl);
    if (set != 0)
        return finish(r.Status = kIpBadOption, 0);

    std::vector<std::uint8_t> buf(65536 + 64);
    drainQueues(probe.fd, buf);
    probe.seq = ++gSequence;
    probe.id = rawIdentifier();
    if (const int status = sendRequest(probe, data, size); status != 0)
        return finish(r.Status = status, 0);

    const double deadline = nowMonotonicMs() + (timeoutMs > 0 ? timeoutMs : 0);
    for (;;) {
        short revents = 0;
        switch (waitReadable(probe.fd, deadline, revents)) {
        case TWait::TimedOut:
            return finish(r.Status = kIpReqTimedOut, 0);
        case TWait::Failed:
            return finish(r.Status = kIpGeneralFailure, 0);
        case TWait::Again:
            continue;
        case TWait::Ready:
            break;
        }
        if (!probe.raw && (revents & POLLERR)) {
            if (readError(probe, buf, r, from))
                return finish(int(r.Status), 0);
            continue;
        }
        if (readReply(probe, buf, r, from))
            return finish(int(r.Status), int(r.Status) == kIpSuccess ? 1 : 0);
    }
}

std::int64_t IcmpLastRoundTripUs() { return tLastRoundTripUs; }

bool IcmpAvailable(QString *hint)
{
    const IcmpHandle h = IcmpCreateFile();
    if (h != kInvalidIcmpHandle) {
        IcmpCloseHandle(h);
        return true;
    }
    if (hint)
        *hint = QStringLiteral(
            "This system does not let Idlix send ICMP echoes (pings), so every ping will "
            "fail. To allow them for all users, run as root:\n"
            "    sysctl -w net.ipv4.ping_group_range=\"0 2147483647\"\n"
            "(add the setting to /etc/sysctl.conf to keep it), or give the program the "
            "capability:\n"
            "    setcap cap_net_raw+ep <path of the idlix program>");
    return false;
}

} // namespace platform
