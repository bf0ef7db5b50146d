#include "platform/icmpcodec.h"

#include <gtest/gtest.h>
#include <algorithm>
#include <memory>
#include <random>
#include <vector>

using namespace platform::icmp;
using Bytes = std::vector<std::uint8_t>;

namespace {

// An IPv4 header (20 bytes, protocol ICMP) in front of an ICMP message.
Bytes withIp(const Bytes &icmp, std::uint8_t ttl, Bytes src, Bytes dst)
{
    Bytes p(20, 0);
    p[0] = 0x45;
    const std::size_t total = 20 + icmp.size();
    p[2] = std::uint8_t(total >> 8);
    p[3] = std::uint8_t(total);
    p[8] = ttl;
    p[9] = 1;
    for (int i = 0; i < 4; ++i) {
        p[12 + i] = src[i];
        p[16 + i] = dst[i];
    }
    p.insert(p.end(), icmp.begin(), icmp.end());
    return p;
}

Bytes echoReply(std::uint16_t id, std::uint16_t seq, const Bytes &data)
{
    Bytes r = BuildEchoRequest(id, seq, data.data(), data.size());
    r[0] = kEchoReply;
    r[2] = r[3] = 0;
    const auto s = Checksum(r.data(), r.size());
    r[2] = std::uint8_t(s >> 8);
    r[3] = std::uint8_t(s);
    return r;
}

// An ICMP error quoting (IP header + first 8 bytes of) the given request.
Bytes errorFor(std::uint8_t type, std::uint8_t code, const Bytes &request, Bytes dst)
{
    Bytes quoted = withIp(request, 1, {10, 200, 1, 2}, dst);
    quoted.resize(20 + 8);
    Bytes e(8 + quoted.size(), 0);
    e[0] = type;
    e[1] = code;
    std::copy(quoted.begin(), quoted.end(), e.begin() + 8);
    const auto s = Checksum(e.data(), e.size());
    e[2] = std::uint8_t(s >> 8);
    e[3] = std::uint8_t(s);
    return e;
}

} // namespace

TEST(IcmpCodec, ChecksumKnownValues)
{
    // The worked example of RFC 1071 section 3: sum 0xDDF2, checksum ~ = 0x220D.
    const Bytes rfc = {0x00, 0x01, 0xF2, 0x03, 0xF4, 0xF5, 0xF6, 0xF7};
    EXPECT_EQ(Checksum(rfc.data(), rfc.size()), 0x220D);
    EXPECT_EQ(Checksum(nullptr, 0), 0xFFFF);
    const Bytes odd = {0x01};  // padded to 0x0100
    EXPECT_EQ(Checksum(odd.data(), odd.size()), 0xFEFF);
    // A message with its checksum in place sums to zero.
    const Bytes data = {'a', 'b', 'c'};
    const Bytes req = BuildEchoRequest(0x1234, 7, data.data(), data.size());
    EXPECT_EQ(Checksum(req.data(), req.size()), 0);
}

TEST(IcmpCodec, BuildsTheEchoRequest)
{
    const Bytes data = {1, 2, 3, 4, 5};
    const Bytes r = BuildEchoRequest(0xBEEF, 0x0102, data.data(), data.size());
    ASSERT_EQ(r.size(), 13u);
    EXPECT_EQ(r[0], 8);
    EXPECT_EQ(r[1], 0);
    EXPECT_EQ(r[4], 0xBE);
    EXPECT_EQ(r[5], 0xEF);
    EXPECT_EQ(r[6], 0x01);
    EXPECT_EQ(r[7], 0x02);
    EXPECT_EQ(Bytes(r.begin() + 8, r.end()), data);
    EXPECT_EQ(BuildEchoRequest(1, 1, nullptr, 0).size(), 8u);
}

TEST(IcmpCodec, DecodesRepliesAndQuotedErrors)
{
    const Bytes data(20, 'x');
    const Bytes request = BuildEchoRequest(0x4242, 99, data.data(), data.size());

    // Datagram path: the ICMP message alone.
    auto d = Decode(echoReply(0x4242, 99, data).data(), 28, false);
    EXPECT_EQ(d.kind, Decoded::EchoReply);
    EXPECT_EQ(d.id, 0x4242);
    EXPECT_EQ(d.seq, 99);

    // Raw path: TTL and source come from the IP header.
    const Bytes raw = withIp(echoReply(0x4242, 99, data), 61, {10, 200, 3, 10}, {10, 200, 1, 2});
    d = Decode(raw.data(), raw.size(), true);
    EXPECT_EQ(d.kind, Decoded::EchoReply);
    EXPECT_EQ(d.ttl, 61);
    const std::uint8_t *src = reinterpret_cast<const std::uint8_t *>(&d.source);
    EXPECT_EQ(Bytes(src, src + 4), (Bytes{10, 200, 3, 10}));

    struct Row { std::uint8_t type, code; int status; } rows[] = {
        {3, 0, 11002}, {3, 1, 11003}, {3, 2, 11004}, {3, 3, 11005}, {3, 4, 11009},
        {3, 13, 11003}, {11, 0, 11013}, {11, 1, 11014}, {12, 0, 11015}, {4, 0, 11016},
    };
    for (const auto &row : rows) {
        const Bytes err = withIp(errorFor(row.type, row.code, request, {10, 200, 9, 9}), 64,
                                 {10, 200, 1, 1}, {10, 200, 1, 2});
        d = Decode(err.data(), err.size(), true);
        ASSERT_EQ(d.kind, Decoded::Error) << int(row.type) << "/" << int(row.code);
        EXPECT_EQ(d.id, 0x4242);
        EXPECT_EQ(d.seq, 99);
        const std::uint8_t *q = reinterpret_cast<const std::uint8_t *>(&d.quotedDest);
        EXPECT_EQ(Bytes(q, q + 4), (Bytes{10, 200, 9, 9}));
        EXPECT_EQ(StatusForError(d.type, d.code), row.status);
    }

    std::uint16_t id = 0, seq = 0;
    EXPECT_TRUE(DecodeQuotedRequest(request.data(), 8, id, seq));
    EXPECT_EQ(id, 0x4242);
    EXPECT_EQ(seq, 99);
    EXPECT_FALSE(DecodeQuotedRequest(request.data(), 7, id, seq));
}

TEST(IcmpCodec, IgnoresWhatIsNotOurs)
{
    const Bytes data(8, 'y');
    const Bytes request = BuildEchoRequest(1, 2, data.data(), data.size());
    // Our own request (raw sockets see it on loopback), a corrupted checksum,
    // an error quoting a UDP datagram, truncated messages, a non-IPv4 header.
    Bytes corrupt = withIp(echoReply(1, 2, data), 64, {127, 0, 0, 1}, {127, 0, 0, 1});
    corrupt.back() ^= 0xFF;
    Bytes udpErr = errorFor(3, 3, request, {1, 2, 3, 4});
    udpErr[8 + 9] = 17;
    Bytes v6 = withIp(echoReply(1, 2, data), 64, {1, 1, 1, 1}, {2, 2, 2, 2});
    v6[0] = 0x65;
    Bytes shortReply = echoReply(1, 2, data);
    shortReply.resize(7);
    Bytes shortError = errorFor(11, 0, request, {1, 2, 3, 4});
    shortError.resize(30);  // the quoted IP header is cut
    const std::vector<std::pair<Bytes, bool>> cases = {
        {withIp(request, 64, {127, 0, 0, 1}, {127, 0, 0, 1}), true},
        {corrupt, true},
        {udpErr, false},
        {shortReply, false},
        {shortError, false},
        {v6, true},
        {Bytes{}, false},
        {Bytes{0x45}, true},
    };
    for (std::size_t i = 0; i < cases.size(); ++i)
        EXPECT_EQ(Decode(cases[i].first.data(), cases[i].first.size(), cases[i].second).kind,
                  Decoded::Ignored)
            << "case " << i;
    EXPECT_EQ(Decode(nullptr, 100, true).kind, Decoded::Ignored);
}

TEST(IcmpCodec, RandomInputNeverReadsOutOfBounds)
{
    // Random bytes and mutations of valid messages: the decoder must stay in
    // bounds (run under the sanitizers) and only ever report consistent kinds.
    std::mt19937 rng(20261208);
    const Bytes data(16, 'z');
    const Bytes seedMsgs[] = {
        withIp(echoReply(5, 6, data), 64, {1, 2, 3, 4}, {5, 6, 7, 8}),
        withIp(errorFor(11, 0, BuildEchoRequest(5, 6, data.data(), 16), {9, 9, 9, 9}), 64,
               {1, 2, 3, 4}, {5, 6, 7, 8}),
    };
    int decoded = 0;
    for (int i = 0; i < 20000; ++i) {
        Bytes b;
        if (i % 2) {
            b.resize(rng() % 80);
            for (auto &x : b)
                x = std::uint8_t(rng());
        } else {
            b = seedMsgs[i % 4 / 2];
            const int flips = 1 + int(rng() % 3);
            for (int f = 0; f < flips && !b.empty(); ++f)
                b[rng() % b.size()] = std::uint8_t(rng());
            b.resize(rng() % (b.size() + 1));
        }
        // Exact-size heap copy so an overrun is a real out-of-bounds read.
        std::unique_ptr<std::uint8_t[]> exact(new std::uint8_t[b.size() + (b.empty() ? 1 : 0)]);
        std::copy(b.begin(), b.end(), exact.get());
        for (bool ip : {true, false}) {
            const auto d = Decode(exact.get(), b.size(), ip);
            if (d.kind == Decoded::EchoReply) {
                EXPECT_EQ(d.type, 0);
            }
            if (d.kind != Decoded::Ignored)
                ++decoded;
        }
    }
    EXPECT_GT(decoded, 0);  // the mutations do not all break the messages
}

namespace {

// fd00:200:1::2 and fd00:200:9::9, written out byte by byte.
const Bytes kClient6 = {0xfd, 0x00, 0x02, 0x00, 0x00, 0x01, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x02};
const Bytes kFar6 = {0xfd, 0x00, 0x02, 0x00, 0x00, 0x09, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x09};

// An ICMPv6 echo request or reply as it travels (checksum left to the kernel).
Bytes echo6(std::uint8_t type, std::uint16_t id, std::uint16_t seq, const Bytes &data)
{
    Bytes m = {type, 0, 0, 0, std::uint8_t(id >> 8), std::uint8_t(id), std::uint8_t(seq >> 8),
               std::uint8_t(seq)};
    m.insert(m.end(), data.begin(), data.end());
    return m;
}

// An ICMPv6 error quoting the packet that carried 'request' from kClient6 to
// 'dst': the error header, the quoted IPv6 header, then the request.
Bytes error6(std::uint8_t type, std::uint8_t code, const Bytes &request, const Bytes &dst,
             std::uint8_t nextHeader = 58)
{
    Bytes e = {type, code, 0, 0, 0, 0, 0x05, 0x00};  // the MTU or pointer word
    Bytes ip(40, 0);
    ip[0] = 0x60;
    ip[4] = std::uint8_t(request.size() >> 8);
    ip[5] = std::uint8_t(request.size());
    ip[6] = nextHeader;
    ip[7] = 1;  // hop limit as it ran out
    std::copy(kClient6.begin(), kClient6.end(), ip.begin() + 8);
    std::copy(dst.begin(), dst.end(), ip.begin() + 24);
    e.insert(e.end(), ip.begin(), ip.end());
    e.insert(e.end(), request.begin(), request.end());
    return e;
}

} // namespace

TEST(IcmpCodec, BuildsTheIcmpV6EchoRequest)
{
    const Bytes data = {9, 8, 7};
    const Bytes r = BuildEchoRequestV6(0xBEEF, 0x0102, data.data(), data.size());
    EXPECT_EQ(r, (Bytes{128, 0, 0, 0, 0xBE, 0xEF, 0x01, 0x02, 9, 8, 7}));
    EXPECT_EQ(BuildEchoRequestV6(1, 1, nullptr, 0).size(), 8u);
}

TEST(IcmpCodec, DecodesIcmpV6RepliesAndQuotedErrors)
{
    const Bytes data(24, 'q');
    const Bytes request = echo6(128, 0x4242, 77, data);

    auto d = DecodeV6(echo6(129, 0x4242, 77, data).data(), 32);
    EXPECT_EQ(d.kind, Decoded::EchoReply);
    EXPECT_EQ(d.id, 0x4242);
    EXPECT_EQ(d.seq, 77);

    // RFC 4443 types and codes onto the statuses (and so the texts) of IPv4.
    struct Row { std::uint8_t type, code; int status; } rows[] = {
        {1, 0, 11002},  // no route to destination
        {1, 1, 11003},  // administratively prohibited
        {1, 2, 11003},  // beyond the scope of the source address
        {1, 3, 11003},  // address unreachable
        {1, 4, 11005},  // port unreachable
        {1, 5, 11003},  // source address failed policy
        {1, 6, 11002},  // reject route
        {2, 0, 11009},  // packet too big
        {3, 0, 11013},  // hop limit exceeded in transit
        {3, 1, 11014},  // fragment reassembly time exceeded
        {4, 0, 11015},  // erroneous header field
        {4, 1, 11004},  // unrecognised next header: the protocol is not there
        {4, 2, 11015},  // unrecognised option
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(std::to_string(row.type) + "/" + std::to_string(row.code));
        const Bytes err = error6(row.type, row.code, request, kFar6);
        d = DecodeV6(err.data(), err.size());
        ASSERT_EQ(d.kind, Decoded::Error);
        EXPECT_EQ(d.id, 0x4242);
        EXPECT_EQ(d.seq, 77);
        EXPECT_EQ(Bytes(d.quotedDest6.begin(), d.quotedDest6.end()), kFar6);
        EXPECT_EQ(StatusForErrorV6(d.type, d.code), row.status);
    }
    // An error that quotes only the request's header still names it.
    Bytes cut = error6(3, 0, request, kFar6);
    cut.resize(8 + 40 + 8);
    EXPECT_EQ(DecodeV6(cut.data(), cut.size()).kind, Decoded::Error);

    std::uint16_t id = 0, seq = 0;
    EXPECT_TRUE(DecodeQuotedRequestV6(request.data(), 8, id, seq));
    EXPECT_EQ(id, 0x4242);
    EXPECT_EQ(seq, 77);
    EXPECT_FALSE(DecodeQuotedRequestV6(request.data(), 7, id, seq));
    // An ICMP (IPv4) request is not an ICMPv6 one.
    const Bytes v4 = BuildEchoRequest(1, 2, data.data(), data.size());
    EXPECT_FALSE(DecodeQuotedRequestV6(v4.data(), v4.size(), id, seq));
}

TEST(IcmpCodec, IcmpV6IgnoresWhatIsNotOurs)
{
    const Bytes data(8, 'y');
    const Bytes request = echo6(128, 1, 2, data);
    Bytes cutQuote = error6(1, 3, request, kFar6);
    cutQuote.resize(8 + 39);                        // the quoted IPv6 header is cut
    Bytes cutRequest = error6(1, 3, request, kFar6);
    cutRequest.resize(8 + 40 + 7);                  // the quoted request is cut
    Bytes notV6 = error6(3, 0, request, kFar6);
    notV6[8] = 0x45;                                // the quoted header is IPv4's
    Bytes badCode = echo6(129, 1, 2, data);
    badCode[1] = 1;
    const std::vector<std::pair<const char *, Bytes>> cases = {
        {"our own request", request},
        {"neighbour solicitation", echo6(135, 0, 0, data)},
        {"echo reply with a code", badCode},
        {"error quoting UDP", error6(1, 4, request, kFar6, 17)},
        {"error quoting an extension header", error6(1, 4, request, kFar6, 0)},
        {"error quoting a reply", error6(3, 0, echo6(129, 1, 2, data), kFar6)},
        {"quoted header cut", cutQuote},
        {"quoted request cut", cutRequest},
        {"quoted header of IPv4", notV6},
        {"short reply", Bytes{129, 0, 0, 0, 0, 1, 0}},
        {"nothing", Bytes{}},
    };
    for (const auto &[what, bytes] : cases)
        EXPECT_EQ(DecodeV6(bytes.data(), bytes.size()).kind, Decoded::Ignored) << what;
    EXPECT_EQ(DecodeV6(nullptr, 100).kind, Decoded::Ignored);
    EXPECT_EQ(StatusForErrorV6(200, 0), 11050);
}

TEST(IcmpCodec, IcmpV6RandomInputNeverReadsOutOfBounds)
{
    std::mt19937 rng(20260611);
    const Bytes data(16, 'z');
    const Bytes seeds[] = {
        echo6(129, 5, 6, data),
        error6(3, 0, echo6(128, 5, 6, data), kFar6),
        error6(2, 0, echo6(128, 5, 6, data), kFar6),
    };
    int decoded = 0;
    for (int i = 0; i < 20000; ++i) {
        Bytes b;
        if (i % 2) {
            b.resize(rng() % 100);
            for (auto &x : b)
                x = std::uint8_t(rng());
        } else {
            b = seeds[(i / 2) % 3];
            const int flips = 1 + int(rng() % 3);
            for (int f = 0; f < flips; ++f)
                b[rng() % b.size()] = std::uint8_t(rng());
            b.resize(rng() % (b.size() + 1));
        }
        std::unique_ptr<std::uint8_t[]> exact(new std::uint8_t[b.size() + (b.empty() ? 1 : 0)]);
        std::copy(b.begin(), b.end(), exact.get());
        const auto d = DecodeV6(exact.get(), b.size());
        if (d.kind == Decoded::EchoReply) {
            EXPECT_EQ(d.type, 129);
            EXPECT_EQ(d.code, 0);
        }
        if (d.kind == Decoded::Error) {
            EXPECT_GE(b.size(), 8u + 40u + 8u);
            EXPECT_GE(d.type, 1);
            EXPECT_LE(d.type, 4);
        }
        if (d.kind != Decoded::Ignored)
            ++decoded;
    }
    EXPECT_GT(decoded, 0);
}
