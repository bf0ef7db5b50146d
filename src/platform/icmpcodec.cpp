#include "platform/icmpcodec.h"
#include "platform/ipstatus.h"

namespace platform::icmp {

namespace {

std::uint16_t be16(const std::uint8_t *p) { return std::uint16_t(p[0] << 8 | p[1]); }

std::uint32_t raw32(const std::uint8_t *p)
{
    // Addresses stay in network order: copy the bytes as they are.
    std::uint32_t v;
    auto *d = reinterpret_cast<std::uint8_t *>(&v);
    for (int i = 0; i < 4; ++i)
        d[i] = p[i];
    return v;
}

// Length of a well-formed IPv4 header at p, or 0.
std::size_t ipHeaderLen(const std::uint8_t *p, std::size_t len)
{
    if (len < kMinIpHeaderLen || (p[0] >> 4) != 4)
        return 0;
    const std::size_t ihl = std::size_t(p[0] & 0x0F) * 4;
    if (ihl < kMinIpHeaderLen || ihl > len)
        return 0;
    return ihl;
}

} // namespace

std::uint16_t Checksum(const std::uint8_t *data, std::size_t len)
{
    std::uint32_t sum = 0;
    std::size_t i = 0;
    for (; i + 1 < len; i += 2)
        sum += be16(data + i);
    if (i < len)
        sum += std::uint32_t(data[i]) << 8;  // odd byte padded with a zero
    while (sum >> 16)
        sum = (sum & 0xFFFF) + (sum >> 16);
    return std::uint16_t(~sum);
}

std::vector<std::uint8_t> BuildEchoRequest(std::uint16_t id, std::uint16_t seq,
                                           const std::uint8_t *payload, std::size_t len)
{
    std::vector<std::uint8_t> pkt(kHeaderLen + len, 0);
    pkt[0] = kEchoRequest;
    pkt[1] = 0;
    pkt[4] = std::uint8_t(id >> 8);
    pkt[5] = std::uint8_t(id);
    pkt[6] = std::uint8_t(seq >> 8);
    pkt[7] = std::uint8_t(seq);
    for (std::size_t i = 0; i < len; ++i)
        pkt[kHeaderLen + i] = payload[i];
    const std::uint16_t sum = Checksum(pkt.data(), pkt.size());
    pkt[2] = std::uint8_t(sum >> 8);
    pkt[3] = std::uint8_t(sum);
    return pkt;
}

bool DecodeQuotedRequest(const std::uint8_t *data, std::size_t len, std::uint16_t &id,
                         std::uint16_t &seq)
{
    if (!data || len < kHeaderLen || data[0] != kEchoRequest || data[1] != 0)
        return false;
    id = be16(data + 4);
    seq = be16(data + 6);
    return true;
}

Decoded Decode(const std::uint8_t *data, std::size_t len, bool withIpHeader)
{
    Decoded d;
    if (!data)
        return d;
    if (withIpHeader) {
        const std::size_t ihl = ipHeaderLen(data, len);
        if (!ihl || data[9] != kProtoIcmp)
            return d;
        // The kernel hands raw sockets the whole datagram; trust the smaller
        // of what arrived and what the header claims.
        std::size_t total = be16(data + 2);
        if (total < ihl || total > len)
            total = len;
        d.ttl = data[8];
        d.source = raw32(data + 12);
        const std::size_t icmpLen = total - ihl;
        if (icmpLen < kHeaderLen || Checksum(data + ihl, icmpLen) != 0)
            return Decoded{};
        Decoded inner = Decode(data + ihl, icmpLen, false);
        inner.ttl = d.ttl;
        inner.source = d.source;
        return inner;
    }

    if (len < kHeaderLen)
        return d;
    d.type = data[0];
    d.code = data[1];
    switch (d.type) {
    case kEchoReply:
        if (d.code != 0)
            return Decoded{};
        d.kind = Decoded::EchoReply;
        d.id = be16(data + 4);
        d.seq = be16(data + 6);
        return d;
    case kDestUnreach:
    case kSourceQuench:
    case kTimeExceeded:
    case kParamProblem: {
        // Error: 8-byte header, then the offending IP header and at least the
        // first 8 bytes of what it carried.
        const std::uint8_t *q = data + kHeaderLen;
        const std::size_t qlen = len - kHeaderLen;
        const std::size_t qihl = ipHeaderLen(q, qlen);
        if (!qihl || q[9] != kProtoIcmp)
            return Decoded{};
        if (!DecodeQuotedRequest(q + qihl, qlen - qihl, d.id, d.seq))
            return Decoded{};
        d.quotedDest = raw32(q + 16);
        d.kind = Decoded::Error;
        return d;
    }
    default:
        return Decoded{};
    }
}

std::vector<std::uint8_t> BuildEchoRequestV6(std::uint16_t id, std::uint16_t seq,
                                             const std::uint8_t *payload, std::size_t len)
{
    std::vector<std::uint8_t> pkt(kHeaderLen + len, 0);
    pkt[0] = kV6EchoRequest;
    pkt[4] = std::uint8_t(id >> 8);
    pkt[5] = std::uint8_t(id);
    pkt[6] = std::uint8_t(seq >> 8);
    pkt[7] = std::uint8_t(seq);
    for (std::size_t i = 0; i < len; ++i)
        pkt[kHeaderLen + i] = payload[i];
    return pkt;
}

bool DecodeQuotedRequestV6(const std::uint8_t *data, std::size_t len, std::uint16_t &id,
                           std::uint16_t &seq)
{
    if (!data || len < kHeaderLen || data[0] != kV6EchoRequest || data[1] != 0)
        return false;
    id = be16(data + 4);
    seq = be16(data + 6);
    return true;
}

Decoded DecodeV6(const std::uint8_t *data, std::size_t len)
{
    Decoded d;
    if (!data || len < kHeaderLen)
        return d;
    d.type = data[0];
    d.code = data[1];
    switch (d.type) {
    case kV6EchoReply:
        if (d.code != 0)
            return Decoded{};
        d.kind = Decoded::EchoReply;
        d.id = be16(data + 4);
        d.seq = be16(data + 6);
        return d;
    case kV6DestUnreach:
    case kV6PacketTooBig:
    case kV6TimeExceeded:
    case kV6ParamProblem: {
        // Error: 8-byte header, then as much of the offending packet as fits:
        // its IPv6 header, and our echo request right after it (the requests
        // carry no extension headers).
        const std::uint8_t *q = data + kHeaderLen;
        const std::size_t qlen = len - kHeaderLen;
        if (qlen < kIpV6HeaderLen || (q[0] >> 4) != 6 || q[6] != kProtoIcmpV6)
            return Decoded{};
        if (!DecodeQuotedRequestV6(q + kIpV6HeaderLen, qlen - kIpV6HeaderLen, d.id, d.seq))
            return Decoded{};
        for (std::size_t i = 0; i < 16; ++i)
            d.quotedDest6[i] = q[24 + i];
        d.kind = Decoded::Error;
        return d;
    }
    default:
        return Decoded{};
    }
}

int StatusForError(std::uint8_t type, std::uint8_t code)
{
    switch (type) {
    case kDestUnreach:
        switch (code) {
        case kUnreachNet:
        case kUnreachNetUnknown:
        case kUnreachNetProhibited:
        case kUnreachNetTos:
            return kIpDestNetUnreachable;
        case kUnreachHost:
        case kUnreachHostUnknown:
        case kUnreachHostProhibited:
        case kUnreachHostTos:
        case kUnreachFilterProhibited:
            return kIpDestHostUnreachable;
        case kUnreachProtocol:
            return kIpDestProtUnreachable;
        case kUnreachPort:
            return kIpDestPortUnreachable;
        case kUnreachNeedFrag:
            return kIpPacketTooBig;
        case kUnreachSourceRoute:
            return kIpBadRoute;
        default:
            return kIpDestHostUnreachable;
        }
    case kTimeExceeded:
        return code == kExceededReassembly ? kIpTtlExpiredReassem : kIpTtlExpiredTransit;
    case kParamProblem:
        return kIpParamProblem;
    case kSourceQuench:
        return kIpSourceQuench;
    default:
        return kIpGeneralFailure;
    }
}

int StatusForErrorV6(std::uint8_t type, std::uint8_t code)
{
    switch (type) {
    case kV6DestUnreach:
        switch (code) {
        case kV6UnreachNoRoute:
        case kV6UnreachRejectRoute:
            return kIpDestNetUnreachable;
        case kV6UnreachPort:
            return kIpDestPortUnreachable;
        case kV6UnreachProhibited:
        case kV6UnreachBeyondScope:
        case kV6UnreachAddress:
        case kV6UnreachPolicy:
        default:
            return kIpDestHostUnreachable;
        }
    case kV6PacketTooBig:
        return kIpPacketTooBig;
    case kV6TimeExceeded:
        return code == kV6ExceededReassembly ? kIpTtlExpiredReassem : kIpTtlExpiredTransit;
    case kV6ParamProblem:
        return code == kV6ParamNextHeader ? kIpDestProtUnreachable : kIpParamProblem;
    default:
        return kIpGeneralFailure;
    }
}

} // namespace platform::icmp
