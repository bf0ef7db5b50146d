// The ICMP echo service: open a handle, send one blocking echo, close. A
// handle speaks one family: IcmpCreateFile opens an ICMP one, Icmp6CreateFile
// an ICMPv6 one. A datagram socket is tried first (Linux allows both kinds to
// the groups in net.ipv4.ping_group_range), a raw socket (CAP_NET_RAW)
// second.
#pragma once

#include "platform/ipaddress.h"
#include "platform/ipstatus.h"

#include <QString>
#include <cstdint>

namespace platform {

using IcmpHandle = std::intptr_t;
constexpr IcmpHandle kInvalidIcmpHandle = -1;

// Options of a request; only Ttl is used, the rest must be zero.
struct IpOptionInformation {
    std::uint8_t Ttl = 0;
    std::uint8_t Tos = 0;
    std::uint8_t Flags = 0;
    std::uint8_t OptionsSize = 0;
    std::uint32_t OptionsData = 0;
};

// The reply record, laid out as the 28-byte record the engines keep whole.
struct IcmpEchoReply {
    std::uint32_t Address = 0;        // replying host (network order)
    std::uint32_t Status = 0;         // IP status code, 0 for an echo reply
    std::uint32_t RoundTripTime = 0;  // milliseconds
    std::uint16_t DataSize = 0;       // payload bytes echoed back
    std::uint16_t Reserved = 0;
    std::uint32_t Data = 0;           // unused: the echoed data is not kept
    IpOptionInformation Options;      // Options.Ttl: TTL of the reply as received
};
static_assert(sizeof(IcmpEchoReply) == 28, "the reply record is 28 bytes");

// Opens an ICMP echo handle, or returns kInvalidIcmpHandle and leaves the
// reason (a socket-layer code, 10013 when ICMP is not permitted) for
// IcmpLastError().
IcmpHandle IcmpCreateFile();
// The same for ICMPv6 (a raw socket gets an ICMP6_FILTER that lets only echo
// replies and the errors that can quote a request through).
IcmpHandle Icmp6CreateFile();
// Closes a handle; false when it was not open.
bool IcmpCloseHandle(IcmpHandle handle);
// True when the handle sends through a raw socket rather than a datagram one.
bool IcmpHandleIsRaw(IcmpHandle handle);
// The family a handle speaks; None for a handle that is not open.
Family IcmpHandleFamily(IcmpHandle handle);

// Sends one echo request carrying `data` (size bytes) to `dest` (network
// order) with options->Ttl (nullptr: 64) and waits up to timeoutMs for the
// answer. Returns 1 when the echo reply came back, 0 otherwise; the reply
// record is filled either way (the replying router for an ICMP error) and the
// status stays for IcmpLastError(): 0, 11002.. for ICMP errors, 11010 for no
// answer in time, 11009 for a size one IPv4 datagram cannot carry, 11050 for a
// local failure. Only answers with this request's identifier and sequence count.
int IcmpSendEcho(IcmpHandle handle, std::uint32_t dest, const void *data, int size,
                 const IpOptionInformation *options, IcmpEchoReply *reply, int timeoutMs);

// The same for a destination of either family, through a handle of that
// family (another family fails with 11018). For IPv6, options->Ttl is the
// hop limit and the record's Options.Ttl the hop limit the answer arrived
// with; reply->Address stays 0 and *replier (when given) gets the replying
// address, of either family, with its zone for a link-local one. The largest
// IPv6 payload is 65527 bytes. On a datagram socket the kernel puts its own
// identifier into the request, so answers are matched by sequence and
// source there; on a raw socket by identifier, sequence and source.
int IcmpSendEchoTo(IcmpHandle handle, const IpAddress &dest, const void *data, int size,
                   const IpOptionInformation *options, IcmpEchoReply *reply, int timeoutMs,
                   IpAddress *replier = nullptr);

// The status left by the last call of this thread.
int IcmpLastError();
// The round trip of the last call of this thread in microseconds, to the
// kernel's receive time stamp of the answer (echo reply or ICMP error); -1
// when nothing answered. The record's RoundTripTime is this figure rounded to
// the nearest millisecond.
std::int64_t IcmpLastRoundTripUs();

// Whether the network answered an echo (its reply, or an ICMP error from a
// router or the target) rather than the call failing locally or timing out:
// a record filled from a received message carries that message's TTL, which
// is never 0, while the other outcomes leave Options.Ttl at 0.
inline bool IcmpAnswered(const IcmpEchoReply &reply) { return reply.Options.Ttl != 0; }

// Whether this process may send ICMP echoes at all. When it may not, *hint
// gets one paragraph telling the user how to allow it.
bool IcmpAvailable(QString *hint = nullptr);

} // namespace platform
