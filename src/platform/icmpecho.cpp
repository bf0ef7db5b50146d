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
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

namespace platform {

namespace {

thread_local int tLastError = 0;

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

bool isRawSocket(int fd)
{
    int type = 0;
    socklen_t len = sizeof type;
    if (getsockopt(fd, SOL_SOCKET, SO_TYPE, &type, &len) != 0)
        return false;
    return type == SOCK_RAW;
}

double nowRealtimeMs()
{
    timespec ts{};
    clock_gettime(CLOCK_REALTIME, &ts);
    return ts.tv_sec * 1000.0 + ts.tv_nsec / 1e6;
}

double nowMonotonicMs()
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return ts.tv_sec * 1000.0 + ts.tv_nsec / 1e6;
}

// What came with a received message besides its bytes.
struct Ancillary {
    double stampMs = -1;  // kernel receive time (CLOCK_REALTIME), -1 if absent
    int ttl = -1;
    const sock_extended_err *ee = nullptr;
    sockaddr_in offender{};
};

void readAncillary(msghdr &msg, Ancillary &anc)
{
    for (cmsghdr *c = CMSG_FIRSTHDR(&msg); c; c = CMSG_NXTHDR(&msg, c)) {
        if (c->cmsg_level == SOL_SOCKET && c->cmsg_type == SCM_TIMESTAMPNS
            && c->cmsg_len >= CMSG_LEN(sizeof(timespec))) {
            timespec ts;
            memcpy(&ts, CMSG_DATA(c), sizeof ts);
            anc.stampMs = ts.tv_sec * 1000.0 + ts.tv_nsec / 1e6;
        } else if (c->cmsg_level == IPPROTO_IP && c->cmsg_type == IP_TTL
                   && c->cmsg_len >= CMSG_LEN(sizeof(int))) {
            memcpy(&anc.ttl, CMSG_DATA(c), sizeof(int));
        } else if (c->cmsg_level == IPPROTO_IP && c->cmsg_type == IP_RECVERR
                   && c->cmsg_len >= CMSG_LEN(sizeof(sock_extended_err))) {
            anc.ee = reinterpret_cast<const sock_extended_err *>(CMSG_DATA(c));
            // The offender follows the record only when the kernel had one.
            if (c->cmsg_len >= CMSG_LEN(sizeof(sock_extended_err) + sizeof(sockaddr_in))) {
                const sockaddr *off = SO_EE_OFFENDER(anc.ee);
                if (off->sa_family == AF_INET)
                    memcpy(&anc.offender, off, sizeof anc.offender);
            }
        }
    }
}

std::uint32_t roundTrip(double sentMs, const Ancillary &anc)
{
    const double at = anc.stampMs >= 0 ? anc.stampMs : nowRealtimeMs();
    const double rtt = at - sentMs;
    return rtt <= 0 ? 0 : std::uint32_t(std::lround(rtt));
}

int finish(int status, int replies)
{
    tLastError = status;
    return replies;
}

// Status for an errno of sendto: a kernel with no route answers at once.
int sendStatus(int err)
{
    switch (err) {
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

} // namespace

IcmpHandle IcmpCreateFile()
{
    int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, IPPROTO_ICMP);
    const int dgramErr = errno;
    if (fd < 0) {
        fd = socket(AF_INET, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_ICMP);
        if (fd < 0) {
            // Report why the datagram socket failed when that is the telling
            // one (not permitted), else the raw socket's reason.
            const int err = (dgramErr == EACCES || dgramErr == EPERM) ? EACCES : errno;
            tLastError = ErrnoToCode(err == EPERM ? EACCES : err);
            return kInvalidIcmpHandle;
        }
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

int IcmpLastError() { return tLastError; }

namespace {

// One echo in flight: what its answer must match.
struct EchoProbe {
    int fd = -1;
    bool raw = false;            // raw socket: replies carry the IP header
    std::uint16_t id = 0;        // identifier the answer must quote
    std::uint16_t seq = 0;       // sequence the answer must quote
    std::uint32_t dest = 0;      // the address the echo went to
    double sentMs = 0;           // CLOCK_REALTIME at the send, for the round trip
};

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
// datagram socket the kernel puts its own identifier (the local port) in
// the request, and probe.id is changed to it.
int sendRequest(EchoProbe &probe, const void *data, int size)
{
    const auto pkt = icmp::BuildEchoRequest(probe.id, probe.seq,
                                            static_cast<const std::uint8_t *>(data),
                                            std::size_t(size));
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = probe.dest;
    probe.sentMs = nowRealtimeMs();
    if (sendto(probe.fd, pkt.data(), pkt.size(), 0, reinterpret_cast<sockaddr *>(&to), sizeof to) < 0)
        return sendStatus(errno);
    if (!probe.raw) {
        sockaddr_in local{};
        socklen_t llen = sizeof local;
        if (getsockname(probe.fd, reinterpret_cast<sockaddr *>(&local), &llen) == 0)
            probe.id = ntohs(local.sin_port);
    }
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
    sockaddr_in from{};
    Ancillary anc;
    alignas(cmsghdr) char control[512];
};

// Reads one message without waiting; false when there was none.
bool receive(int fd, std::vector<std::uint8_t> &buf, int flags, Received &rx)
{
    iovec iov{buf.data(), buf.size()};
    msghdr msg{};
    msg.msg_name = &rx.from;
    msg.msg_namelen = sizeof rx.from;
    msg.msg_iov = &iov;
    msg.msg_iovlen = 1;
    msg.msg_control = rx.control;
    msg.msg_controllen = sizeof rx.control;
    rx.size = recvmsg(fd, &msg, flags | MSG_DONTWAIT);
    if (rx.size < 0)
        return false;
    readAncillary(msg, rx.anc);
    return true;
}

// Reads one ICMP error from a datagram socket's error queue. True, with 'r'
// filled in, when it answers this probe.
bool readError(const EchoProbe &probe, std::vector<std::uint8_t> &buf, IcmpEchoReply &r)
{
    Received rx;
    if (!receive(probe.fd, buf, MSG_ERRQUEUE, rx))
        return false;
    std::uint16_t qid = 0, qseq = 0;
    if (!rx.anc.ee || rx.anc.ee->ee_origin != SO_EE_ORIGIN_ICMP
        || !icmp::DecodeQuotedRequest(buf.data(), std::size_t(rx.size), qid, qseq)
        || qid != probe.id || qseq != probe.seq || rx.from.sin_addr.s_addr != probe.dest)
        return false;
    r.Address = rx.anc.offender.sin_addr.s_addr;
    r.Status = icmp::StatusForError(rx.anc.ee->ee_type, rx.anc.ee->ee_code);
    r.RoundTripTime = roundTrip(probe.sentMs, rx.anc);
    r.Options.Ttl = std::uint8_t(rx.anc.ttl > 0 ? rx.anc.ttl : 0);
    return true;
}

// Reads one message of the normal queue: an echo reply, or on a raw socket
// also an ICMP error quoting the request. True, with 'r' filled in, when it
// answers this probe.
bool readReply(const EchoProbe &probe, std::vector<std::uint8_t> &buf, IcmpEchoReply &r)
{
    Received rx;
    if (!receive(probe.fd, buf, 0, rx))
        return false;   // a pending socket error is read from the queue next round
    const auto d = icmp::Decode(buf.data(), std::size_t(rx.size), probe.raw);
    if (d.kind == icmp::Decoded::EchoReply) {
        if (d.id != probe.id || d.seq != probe.seq || rx.from.sin_addr.s_addr != probe.dest)
            return false;
        r.Address = rx.from.sin_addr.s_addr;
        r.Status = kIpSuccess;
        r.RoundTripTime = roundTrip(probe.sentMs, rx.anc);
        const std::size_t hdr = probe.raw ? std::size_t(buf[0] & 0x0F) * 4 + icmp::kHeaderLen
                                          : icmp::kHeaderLen;
        r.DataSize = std::uint16_t(std::size_t(rx.size) > hdr ? std::size_t(rx.size) - hdr : 0);
        r.Options.Ttl = std::uint8_t(probe.raw ? d.ttl : (rx.anc.ttl > 0 ? rx.anc.ttl : 0));
        return true;
    }
    if (probe.raw && d.kind == icmp::Decoded::Error && d.id == probe.id && d.seq == probe.seq
        && d.quotedDest == probe.dest) {
        r.Address = d.source;
        r.Status = icmp::StatusForError(d.type, d.code);
        r.RoundTripTime = roundTrip(probe.sentMs, rx.anc);
        r.Options.Ttl = d.ttl;
        return true;
    }
    return false;
}

} // namespace

int IcmpSendEcho(IcmpHandle handle, std::uint32_t dest, const void *data, int size,
                 const IpOptionInformation *options, IcmpEchoReply *reply, int timeoutMs)
{
    IcmpEchoReply scratch;
    IcmpEchoReply &r = reply ? *reply : scratch;
    r = IcmpEchoReply{};
    r.Address = dest;
    if (handle < 0)
        return finish(ErrnoToCode(EBADF), 0);
    if (size < 0 || (size > 0 && !data))
        return finish(kIpGeneralFailure, 0);
    if (std::size_t(size) > icmp::kMaxPayload)
        return finish(r.Status = kIpPacketTooBig, 0);
    const int ttl = options ? options->Ttl : 64;
    if (ttl == 0)  // the kernel refuses a TTL of 0: nothing could be sent
        return finish(r.Status = kIpBadOption, 0);

    EchoProbe probe;
    probe.fd = int(handle);
    probe.raw = isRawSocket(probe.fd);
    probe.dest = dest;
    if (setsockopt(probe.fd, IPPROTO_IP, IP_TTL, &ttl, sizeof ttl) != 0)
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
            if (readError(probe, buf, r))
                return finish(int(r.Status), 0);
            continue;
        }
        if (readReply(probe, buf, r))
            return finish(int(r.Status), int(r.Status) == kIpSuccess ? 1 : 0);
    }
}

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
