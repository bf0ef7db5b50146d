// The ICMP echo service: open a handle, send one blocking echo, close.
// A datagram ICMP socket is tried first (allowed to the groups in
// net.ipv4.ping_group_range), a raw socket (CAP_NET_RAW) second.
#pragma once

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

// IP status codes the service leaves for IcmpLastError().
enum : int {
    kIpSuccess = 0,
    kIpBufTooSmall = 11001,
    kIpDestNetUnreachable = 11002,
    kIpDestHostUnreachable = 11003,
    kIpDestProtUnreachable = 11004,
    kIpDestPortUnreachable = 11005,
    kIpNoResources = 11006,
    kIpBadOption = 11007,
    kIpPacketTooBig = 11009,
    kIpReqTimedOut = 11010,
    kIpBadRoute = 11012,
    kIpTtlExpiredTransit = 11013,
    kIpTtlExpiredReassem = 11014,
    kIpParamProblem = 11015,
    kIpSourceQuench = 11016,
    kIpBadDestination = 11018,
    kIpGeneralFailure = 11050,
};

// Opens an echo handle, or returns kInvalidIcmpHandle and leaves the reason
// (a socket-layer code, 10013 when ICMP is not permitted) for IcmpLastError().
IcmpHandle IcmpCreateFile();
// Closes a handle; false when it was not open.
bool IcmpCloseHandle(IcmpHandle handle);
// True when the handle sends through a raw socket rather than a datagram one.
bool IcmpHandleIsRaw(IcmpHandle handle);

// Sends one echo request carrying `data` (size bytes) to `dest` (network
// order) with options->Ttl (nullptr: 64) and waits up to timeoutMs for the
// answer. Returns 1 when the echo reply came back, 0 otherwise; the reply
// record is filled either way (the replying router for an ICMP error) and the
// status stays for IcmpLastError(): 0, 11002.. for ICMP errors, 11010 for no
// answer in time, 11009 for a size one IPv4 datagram cannot carry, 11050 for a
// local failure. Only answers with this request's identifier and sequence count.
int IcmpSendEcho(IcmpHandle handle, std::uint32_t dest, const void *data, int size,
                 const IpOptionInformation *options, IcmpEchoReply *reply, int timeoutMs);

// The status left by the last call of this thread.
int IcmpLastError();

// Whether the network answered an echo (its reply, or an ICMP error from a
// router or the target) rather than the call failing locally or timing out:
// a record filled from a received message carries that message's TTL, which
// is never 0, while the other outcomes leave Options.Ttl at 0.
inline bool IcmpAnswered(const IcmpEchoReply &reply) { return reply.Options.Ttl != 0; }

// Whether this process may send ICMP echoes at all. When it may not, *hint
// gets one paragraph telling the user how to allow it.
bool IcmpAvailable(QString *hint = nullptr);

} // namespace platform
