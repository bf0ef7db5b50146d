// ICMP and ICMPv6 packet building and decoding: pure functions over bytes,
// no I/O. Used by the echo service for both the datagram and the raw socket
// path of either family.
#pragma once

#include <array>
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

// Destination unreachable codes (RFC 792, RFC 1812).
constexpr std::uint8_t kUnreachNet = 0;
constexpr std::uint8_t kUnreachHost = 1;
constexpr std::uint8_t kUnreachProtocol = 2;
constexpr std::uint8_t kUnreachPort = 3;
constexpr std::uint8_t kUnreachNeedFrag = 4;
constexpr std::uint8_t kUnreachSourceRoute = 5;
constexpr std::uint8_t kUnreachNetUnknown = 6;
constexpr std::uint8_t kUnreachHostUnknown = 7;
constexpr std::uint8_t kUnreachNetProhibited = 9;
constexpr std::uint8_t kUnreachHostProhibited = 10;
constexpr std::uint8_t kUnreachNetTos = 11;
constexpr std::uint8_t kUnreachHostTos = 12;
constexpr std::uint8_t kUnreachFilterProhibited = 13;
// Time exceeded codes.
constexpr std::uint8_t kExceededTransit = 0;
constexpr std::uint8_t kExceededReassembly = 1;

// ICMPv6 (RFC 4443) types and codes.
constexpr std::uint8_t kV6DestUnreach = 1;
constexpr std::uint8_t kV6PacketTooBig = 2;
constexpr std::uint8_t kV6TimeExceeded = 3;
constexpr std::uint8_t kV6ParamProblem = 4;
constexpr std::uint8_t kV6EchoRequest = 128;
constexpr std::uint8_t kV6EchoReply = 129;
constexpr std::uint8_t kV6UnreachNoRoute = 0;
constexpr std::uint8_t kV6UnreachProhibited = 1;
constexpr std::uint8_t kV6UnreachBeyondScope = 2;
constexpr std::uint8_t kV6UnreachAddress = 3;
constexpr std::uint8_t kV6UnreachPort = 4;
constexpr std::uint8_t kV6UnreachPolicy = 5;
constexpr std::uint8_t kV6UnreachRejectRoute = 6;
constexpr std::uint8_t kV6ExceededHopLimit = 0;
constexpr std::uint8_t kV6ExceededReassembly = 1;
constexpr std::uint8_t kV6ParamNextHeader = 1;  // unrecognised next header: no such protocol

constexpr std::uint8_t kProtoIcmp = 1;
constexpr std::uint8_t kProtoIcmpV6 = 58;

constexpr std::size_t kHeaderLen = 8;      // type, code, checksum, id, sequence
constexpr std::size_t kMinIpHeaderLen = 20;
constexpr std::size_t kIpV6HeaderLen = 40;
// Largest echo payload one IPv4 datagram carries: 65535 - IP header - ICMP header.
constexpr std::size_t kMaxPayload = 65535 - kMinIpHeaderLen - kHeaderLen;
// Largest echo payload of one IPv6 packet (no jumbograms): the payload length
// field counts the ICMPv6 header and the data.
constexpr std::size_t kMaxPayloadV6 = 65535 - kHeaderLen;

// The Internet checksum (RFC 1071) of a byte block.
std::uint16_t Checksum(const std::uint8_t *data, std::size_t len);

// An echo request with the given identifier, sequence and payload, checksum
// filled in. Identifier and sequence are in host order here.
std::vector<std::uint8_t> BuildEchoRequest(std::uint16_t id, std::uint16_t seq,
                                           const std::uint8_t *payload, std::size_t len);

// An ICMPv6 echo request. Its checksum covers the IPv6 pseudo-header, which
// only the kernel knows (the source address), so it is left zero: the kernel
// fills it on both socket kinds.
std::vector<std::uint8_t> BuildEchoRequestV6(std::uint16_t id, std::uint16_t seq,
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
    std::array<std::uint8_t, 16> quotedDest6{};  // ICMPv6 errors: that of the quoted packet
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

// Decodes an ICMPv6 message as both socket kinds deliver it (the ICMPv6
// header first; the kernel has checked the checksum): echo replies, and the
// errors (unreachable, packet too big, time exceeded, parameter problem) that
// quote an ICMPv6 echo request right after the quoted IPv6 header.
// Everything else, and anything truncated, comes back Ignored.
Decoded DecodeV6(const std::uint8_t *data, std::size_t len);

// The quoted request of an ICMPv6 error from the kernel's error queue: our
// own echo request, header first.
bool DecodeQuotedRequestV6(const std::uint8_t *data, std::size_t len, std::uint16_t &id,
                           std::uint16_t &seq);

// The IP status code (11002..11016, 11050) for an ICMP error type and code.
int StatusForError(std::uint8_t type, std::uint8_t code);
// The same for an ICMPv6 error, onto the same codes and so the same texts.
int StatusForErrorV6(std::uint8_t type, std::uint8_t code);

} // namespace platform::icmp
