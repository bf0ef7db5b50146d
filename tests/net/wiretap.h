// Sees the packets that leave the client (a packet socket in its namespace),
// so a trace test can check the echo requests as they went on the wire: their
// TTL or hop limit and their data, IPv4 and IPv6 alike.
#pragma once

#include "net/hoptable.h"
#include "tracerecorder.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <linux/if_ether.h>
#include <linux/if_packet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <set>
#include <vector>

class WireTap {
public:
    // Outgoing packets reach only taps of every protocol.
    WireTap() { fd_ = socket(AF_PACKET, SOCK_DGRAM | SOCK_NONBLOCK, htons(ETH_P_ALL)); }
    ~WireTap() { if (fd_ >= 0) close(fd_); }
    WireTap(const WireTap &) = delete;
    WireTap &operator=(const WireTap &) = delete;
    bool ok() const { return fd_ >= 0; }
    struct Request {
        int ttl;                            // TTL, or the IPv6 hop limit
        std::vector<std::uint8_t> payload;  // the echo's data
    };
    // Echo requests (ICMP type 8, ICMPv6 type 128) to dest, an IPv4 or IPv6
    // address text, seen since the tap was opened or last read.
    std::vector<Request> Requests(const char *dest)
    {
        std::uint8_t want[16] = {};
        const bool v6 = inet_pton(AF_INET6, dest, want) == 1;
        if (!v6 && inet_pton(AF_INET, dest, want) != 1)
            return {};
        std::vector<Request> out;
        std::vector<std::uint8_t> buf(70000);
        for (;;) {
            sockaddr_ll from{};
            socklen_t len = sizeof from;
            const ssize_t got = recvfrom(fd_, buf.data(), buf.size(), 0,
                                         reinterpret_cast<sockaddr *>(&from), &len);
            if (got < 0)
                return out;
            const auto n = std::size_t(got);
            if (from.sll_pkttype != PACKET_OUTGOING)
                continue;
            if (!v6 && from.sll_protocol == htons(ETH_P_IP) && n >= 28 && (buf[0] >> 4) == 4
                && buf[9] == IPPROTO_ICMP) {
                const std::size_t ihl = std::size_t(buf[0] & 0x0F) * 4;
                if (std::memcmp(&buf[16], want, 4) != 0 || n < ihl + 8 || buf[ihl] != 8)
                    continue;
                out.push_back({buf[8], {buf.begin() + long(ihl + 8), buf.begin() + long(n)}});
            } else if (v6 && from.sll_protocol == htons(ETH_P_IPV6) && n >= 48
                       && (buf[0] >> 4) == 6 && buf[6] == IPPROTO_ICMPV6) {
                // The fixed header only: our echoes carry no extension headers.
                if (std::memcmp(&buf[24], want, 16) != 0 || buf[40] != 128)
                    continue;
                out.push_back({buf[7], {buf.begin() + 48, buf.begin() + long(n)}});
            }
        }
    }

private:
    int fd_ = -1;
};

// The hop requests of a run to a target 'hops' away behind two answering
// routers: each hop at most once (in whatever order their threads put them
// on the wire), every hop up to the target, and none past the first window
// and one more for each router's hop reported before the target's answer
// came in. (Threads that start after the run has ended send nothing, so
// hops past the target may be missing.)
inline void ExpectOneWindowOfHops(const std::vector<WireTap::Request> &requests, int hops)
{
    std::set<int> sent;
    for (const auto &r : requests)
        EXPECT_TRUE(sent.insert(r.ttl).second) << "hop " << r.ttl << " sent twice";
    for (int ttl = 1; ttl <= hops; ++ttl)
        EXPECT_EQ(sent.count(ttl), 1u) << "hop " << ttl;
    ASSERT_FALSE(sent.empty());
    EXPECT_GE(*sent.begin(), 1);
    EXPECT_LE(*sent.rbegin(), THopTable::kWindow + 2);
}

// Traces target, three hops away, with 100-byte echoes and the test echo,
// and checks what went out: every request carries 100 bytes of 0xAA, the
// test echo goes first with the whole hop limit (64), then the hops, one
// window of them; nothing more once the run has ended.
inline void ExpectTraceRequestsOnTheWire(const char *target)
{
    using namespace std::chrono_literals;
    WireTap tap;
    ASSERT_TRUE(tap.ok());
    TMSTrace t;
    t.SetPacketSize(100);
    t.SetTimeToLive(64);
    t.SendTestPacket = true;
    TraceRecorder rec(t);
    ASSERT_TRUE(rec.Run(target, 10s));
    ASSERT_EQ(rec.events.size(), 5) << rec.events.join('|').toStdString();
    testutil::pump(300ms);   // nothing more goes out once the run ended
    const auto seen = tap.Requests(target);
    ASSERT_FALSE(seen.empty());
    for (const auto &r : seen)
        EXPECT_EQ(r.payload, std::vector<std::uint8_t>(100, 0xAA));
    // The test echo with the hop limit, alone, then the hops.
    EXPECT_EQ(seen.front().ttl, 64);
    ExpectOneWindowOfHops({seen.begin() + 1, seen.end()}, 3);
}
