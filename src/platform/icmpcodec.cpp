#include "platform/icmpcodec.h"

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
        if (!ihl || data[9] != 1)  // protocol must be ICMP
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
        if (!qihl || q[9] != 1)
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

int StatusForError(std::uint8_t type, std::uint8_t code)
{
    switch (type) {
    case kDestUnreach:
        switch (code) {
        case 0:   // net unreachable
        case 6:   // net unknown
        case 9:   // net administratively prohibited
        case 11:  // net unreachable for this type of service
            return 11002;
        case 1:   // host unreachable
        case 7:   // host unknown
        case 10:  // host administratively prohibited
        case 12:  // host unreachable for this type of service
        case 13:  // communication administratively prohibited
            return 11003;
        case 2:
            return 11004;
        case 3:
            return 11005;
        case 4:   // fragmentation needed and DF set
            return 11009;
        case 5:   // source route failed
            return 11012;
        default:
            return 11003;
        }
    case kTimeExceeded:
        return code == 1 ? 11014 : 11013;
    case kParamProblem:
        return 11015;
    case kSourceQuench:
        return 11016;
    default:
        return 11050;
    }
}

} // namespace platform::icmp
