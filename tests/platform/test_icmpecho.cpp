// The echo service itself on loopback: the reply record and the statuses of
// requests that cannot be sent.
#include "platform/icmpecho.h"
#include "platform/resolver.h"

#include <gtest/gtest.h>
#include <vector>

using namespace platform;

namespace {

class IcmpEcho : public ::testing::Test {
protected:
    void SetUp() override
    {
        handle = IcmpCreateFile();
        if (handle == kInvalidIcmpHandle)
            GTEST_SKIP() << "this process may not send ICMP echoes (status "
                         << IcmpLastError() << ")";
    }
    void TearDown() override
    {
        if (handle != kInvalidIcmpHandle) {
            EXPECT_TRUE(IcmpCloseHandle(handle));
        }
    }
    IcmpHandle handle = kInvalidIcmpHandle;
};

} // namespace

TEST_F(IcmpEcho, ReplyRecordFromLoopback)
{
    const std::vector<char> data(32, 'q');
    IpOptionInformation opt;
    opt.Ttl = 17;
    IcmpEchoReply reply;
    reply.Status = 12345;  // must be overwritten
    ASSERT_EQ(IcmpSendEcho(handle, InetAddr("127.0.0.1"), data.data(), int(data.size()), &opt,
                           &reply, 1000),
              1);
    EXPECT_EQ(IcmpLastError(), 0);
    EXPECT_EQ(reply.Status, 0u);
    EXPECT_EQ(reply.Address, InetAddr("127.0.0.1"));
    EXPECT_EQ(reply.DataSize, 32);
    EXPECT_LT(reply.RoundTripTime, 100u);
    // The kernel's reply carries its own TTL, not the request's 17.
    EXPECT_EQ(reply.Options.Ttl, 64);
    EXPECT_TRUE(IcmpAnswered(reply));

    // Back-to-back echoes each get their own answer, timed in microseconds:
    // loopback answers well inside a millisecond, yet never in no time, and
    // the record's milliseconds are that figure rounded to the nearest.
    for (int i = 0; i < 20; ++i) {
        ASSERT_EQ(IcmpSendEcho(handle, InetAddr("127.0.0.1"), data.data(), 8, nullptr, &reply, 1000),
                  1)
            << i;
        const std::int64_t us = IcmpLastRoundTripUs();
        EXPECT_GT(us, 0) << i;
        EXPECT_EQ(reply.RoundTripTime, std::uint32_t((us + 500) / 1000)) << us;
    }
}

TEST_F(IcmpEcho, RequestsThatCannotBeSent)
{
    const std::vector<char> data(70000, 'x');
    IcmpEchoReply reply;
    IpOptionInformation zeroTtl;
    struct Row {
        const char *what;
        IcmpHandle h;
        const void *data;
        int size;
        const IpOptionInformation *opt;
        int status;
    } rows[] = {
        {"closed handle", kInvalidIcmpHandle, data.data(), 8, nullptr, 10009},
        {"no data for a non-empty request", handle, nullptr, 8, nullptr, 11050},
        {"negative size", handle, data.data(), -1, nullptr, 11050},
        {"one byte over what IPv4 carries", handle, data.data(), 65508, nullptr, 11009},
        {"larger still", handle, data.data(), 70000, nullptr, 11009},
        {"TTL 0", handle, data.data(), 8, &zeroTtl, 11007},
    };
    for (const auto &r : rows) {
        EXPECT_EQ(IcmpSendEcho(r.h, InetAddr("127.0.0.1"), r.data, r.size, r.opt, &reply, 500), 0)
            << r.what;
        EXPECT_EQ(IcmpLastError(), r.status) << r.what;
        EXPECT_FALSE(IcmpAnswered(reply)) << r.what;  // nothing came from the network
        EXPECT_EQ(IcmpLastRoundTripUs(), -1) << r.what;  // not the earlier echo's time
    }
    // And the handle still works afterwards.
    EXPECT_EQ(IcmpSendEcho(handle, InetAddr("127.0.0.1"), data.data(), 65507, nullptr, &reply,
                           2000),
              1);
    EXPECT_EQ(reply.DataSize, 65507);
}

TEST(IcmpEchoHandle, CloseAndAvailability)
{
    EXPECT_FALSE(IcmpCloseHandle(kInvalidIcmpHandle));
    QString hint = "unchanged";
    const bool available = IcmpAvailable(&hint);
    const IcmpHandle h = IcmpCreateFile();
    EXPECT_EQ(available, h != kInvalidIcmpHandle);
    if (available) {
        EXPECT_EQ(hint, "unchanged");  // nothing to tell
        EXPECT_TRUE(IcmpCloseHandle(h));
    } else {
        EXPECT_TRUE(hint.contains("ping_group_range"));
    }
}

namespace {

class Icmp6Echo : public ::testing::Test {
protected:
    void SetUp() override
    {
        handle = Icmp6CreateFile();
        if (handle == kInvalidIcmpHandle)
            GTEST_SKIP() << "this process may not send ICMPv6 echoes (status "
                         << IcmpLastError() << ")";
        ASSERT_TRUE(ParseIPv6("::1", loopback));
    }
    void TearDown() override
    {
        if (handle != kInvalidIcmpHandle) {
            EXPECT_TRUE(IcmpCloseHandle(handle));
        }
    }
    IcmpHandle handle = kInvalidIcmpHandle;
    IpAddress loopback;
};

} // namespace

TEST_F(Icmp6Echo, ReplyRecordFromLoopback)
{
    EXPECT_EQ(IcmpHandleFamily(handle), Family::IPv6);
    const std::vector<char> data(40, 'v');
    IpOptionInformation opt;
    opt.Ttl = 9;
    IcmpEchoReply reply;
    reply.Status = 12345;
    IpAddress from;
    ASSERT_EQ(IcmpSendEchoTo(handle, loopback, data.data(), int(data.size()), &opt, &reply, 1000,
                             &from),
              1);
    EXPECT_EQ(IcmpLastError(), 0);
    EXPECT_EQ(reply.Status, 0u);
    EXPECT_EQ(AddressText(from), "::1");
    EXPECT_EQ(reply.Address, 0u);  // the 32-bit field holds IPv4 repliers only
    EXPECT_EQ(reply.DataSize, 40);
    EXPECT_LT(reply.RoundTripTime, 100u);
    // The kernel answers with its own hop limit, not the request's 9.
    EXPECT_EQ(reply.Options.Ttl, 64);
    for (int i = 0; i < 20; ++i)
        ASSERT_EQ(IcmpSendEchoTo(handle, loopback, data.data(), 8, nullptr, &reply, 1000), 1) << i;
}

TEST_F(Icmp6Echo, RequestsThatCannotBeSent)
{
    const std::vector<char> data(70000, 'x');
    IcmpEchoReply reply;
    IpOptionInformation zeroTtl;
    const IcmpHandle v4 = IcmpCreateFile();
    const IpAddress v4Loopback = IpAddress::V4(InetAddr("127.0.0.1"));
    struct Row {
        const char *what;
        IcmpHandle h;
        IpAddress dest;
        int size;
        const IpOptionInformation *opt;
        int status;
    } rows[] = {
        {"IPv4 address through an ICMPv6 handle", handle, v4Loopback, 8, nullptr, 11018},
        {"no address", handle, IpAddress{}, 8, nullptr, 11018},
        {"one byte over what IPv6 carries", handle, loopback, 65528, nullptr, 11009},
        {"hop limit 0", handle, loopback, 8, &zeroTtl, 11007},
    };
    for (const auto &r : rows) {
        EXPECT_EQ(IcmpSendEchoTo(r.h, r.dest, data.data(), r.size, r.opt, &reply, 500), 0) << r.what;
        EXPECT_EQ(IcmpLastError(), r.status) << r.what;
        EXPECT_FALSE(IcmpAnswered(reply)) << r.what;
    }
    if (v4 != kInvalidIcmpHandle) {
        EXPECT_EQ(IcmpSendEchoTo(v4, loopback, data.data(), 8, nullptr, &reply, 500), 0);
        EXPECT_EQ(IcmpLastError(), 11018);
        IcmpCloseHandle(v4);
    }
    // The largest IPv6 payload goes and comes back.
    EXPECT_EQ(IcmpSendEchoTo(handle, loopback, data.data(), 65527, nullptr, &reply, 2000), 1);
    EXPECT_EQ(reply.DataSize, 65527);
}
