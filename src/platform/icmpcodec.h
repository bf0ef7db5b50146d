// ICMP packet building and decoding: pure functions over bytes, no I/O.
// Used by the echo service for both the datagram and the raw socket path.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace platform::icmp {

constexpr std::uint8_t kEchoReply = 0;
constexpr std::uint8_t kDestUnreach = 3;
constexpr std::uint8_t kSourceQuench = 4;
constexpr std::uint8_t kEchoRequest = 8;
constexpr std::uint8_t kTimeExceeded = 11;
constexpr std::uint8_t kParamProblem = 12;

constexpr std::size_t kHeaderLen = 8;      // type, code, checksum, id, sequence
constexpr std::size_t kMinIpHeaderLen = 20;
// Largest echo payload one IPv4 datagram carries: 65535 - IP header - ICMP header.
constexpr std::size_t kMaxPayload = 65535 - kMinIpHeaderLen - kHeaderLen;

// The Internet checksum (RFC 1071) of a byte block.
std::uint16_t Checksum(const std::uint8_t *data, std::size_t len);

// An echo request with the given identifier, sequence and payload, checksum
// filled in. Identifier and sequence are in host order here.
std::vector<std::uint8_t> BuildEchoRequest(std::uint16_t id, std::uint16_t seq,
                                           const std::uint8_t *payload, std::size_t len);

// What one received ICMP message says about our echoes.
struct Decoded {
    enum Kind { Ignored, EchoReply, Error } kind = Ignored;
    std::uint8_t type = 0;
    std::uint8_t code = 0;
    std::uint16_t id = 0;          // of the reply, or of the quoted request for errors
    std::uint16_t seq = 0;
    std::uint32_t source = 0;      // sender (network order); 0 when no IP header was given
    std::uint8_t ttl = 0;          // IP TTL of the message; 0 when no IP header was given
    std::uint32_t quotedDest = 0;  // errors: destination of the quoted datagram (network order)
};

// Decodes an ICMP message. withIpHeader: the bytes start with the IPv4 header
// (raw sockets), else with the ICMP header (datagram sockets). Echo replies and
// the errors that quote an echo request are reported; everything else, and
// anything truncated or malformed, comes back Ignored. The checksum of a raw
// packet is checked; the kernel has already checked it on the datagram path.
Decoded Decode(const std::uint8_t *data, std::size_t len, bool withIpHeader);

// The quoted request of an error delivered by the kernel's error queue: the
// bytes are the ICMP header of our own request and what follows of it.
bool DecodeQuotedRequest(const std::uint8_t *data, std::size_t len, std::uint16_t &id,
                         std::uint16_t &seq);

// The IP status code (11002..11016, 11050) for an ICMP error type and code.
int StatusForError(std::uint8_t type, std::uint8_t code);

} // namespace platform::icmp
