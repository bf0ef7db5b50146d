// The route and neighbour tables as the kernel prints them, written out by
// hand from `ip route` and `ip neigh` of a machine (not from the parser).
#include "platform/netroutes.h"
#include "platform/resolver.h"

#include <gtest/gtest.h>

using namespace platform;

namespace {

const char *const kHead4 = "Iface\tDestination\tGateway \tFlags\tRefCnt\tUse\tMetric\tMask\t\tMTU\tWindow\tIRTT\n";

IpAddress v4(const char *text) { return IpAddress::V4(InetAddr(text)); }
IpAddress v6(const char *text)
{
    IpAddress a;
    EXPECT_TRUE(ParseIPv6(text, a)) << text;
    return a;
}

struct RouteCase {
    const char *name;
    Family family;
    std::string text;
    bool found;
    const char *gateway;   // "" for a route without one
    const char *device;
};

TEST(NetRoutes, DefaultRouteOfEitherTable)
{
    const RouteCase cases[] = {
        // default via 192.168.1.1 dev wlan0 metric 600; 192.168.1.0/24 dev wlan0
        {"home", Family::IPv4,
         std::string(kHead4) + "wlan0\t00000000\t0101A8C0\t0003\t0\t0\t600\t00000000\t0\t0\t0\n"
                               "wlan0\t0001A8C0\t00000000\t0001\t0\t0\t600\t00FFFFFF\t0\t0\t0\n",
         true, "192.168.1.1", "wlan0"},
        // the wired default (metric 100) wins over the wireless one (600)
        {"lowest metric", Family::IPv4,
         std::string(kHead4) + "wlan0\t00000000\t0101A8C0\t0003\t0\t0\t600\t00000000\t0\t0\t0\n"
                               "eth0\t00000000\t0102000A\t0003\t0\t0\t100\t00000000\t0\t0\t0\n",
         true, "10.0.2.1", "eth0"},
        // default dev ppp0: onto the link, no gateway
        {"dial-up", Family::IPv4,
         std::string(kHead4) + "ppp0\t00000000\t00000000\t0001\t0\t0\t0\t00000000\t0\t0\t0\n", true, "", "ppp0"},
        // only the LAN: no way out
        {"no default", Family::IPv4,
         std::string(kHead4) + "eth0\t0001A8C0\t00000000\t0001\t0\t0\t0\t00FFFFFF\t0\t0\t0\n", false, "", ""},
        // "unreachable default": a rejecting route is no way out
        {"rejecting", Family::IPv4,
         std::string(kHead4) + "*\t00000000\t00000000\t0201\t0\t0\t0\t00000000\t0\t0\t0\n", false, "", ""},
        {"header only", Family::IPv4, kHead4, false, "", ""},
        {"garbage", Family::IPv4, "eth0 zz 00000000 0003\n\n\t\n", false, "", ""},
        // default via fe80::1 dev eth0 metric 1024, beside the kernel's own
        // unreachable default on lo and a link route
        {"ipv6 link-local", Family::IPv6,
         "fe800000000000000000000000000000 40 00000000000000000000000000000000 00 00000000000000000000000000000000 00000100 00000001 00000000 00000001     eth0\n"
         "00000000000000000000000000000000 00 00000000000000000000000000000000 00 fe800000000000000000000000000001 00000400 00000002 00000000 00000003     eth0\n"
         "00000000000000000000000000000000 00 00000000000000000000000000000000 00 00000000000000000000000000000000 ffffffff 00000001 00000000 00200200       lo\n",
         true, "fe80::1", "eth0"},
        {"ipv6 global", Family::IPv6,
         "00000000000000000000000000000000 00 00000000000000000000000000000000 00 fd000200000100000000000000000001 00000400 00000001 00000000 00000003     eth0\n",
         true, "fd00:200:1::1", "eth0"},
        {"ipv6 only lo", Family::IPv6,
         "00000000000000000000000000000000 00 00000000000000000000000000000000 00 00000000000000000000000000000000 ffffffff 00000001 00000000 00200200       lo\n",
         false, "", ""},
        // a /3 is not the default, however many zeros
        {"ipv6 prefix", Family::IPv6,
         "20000000000000000000000000000000 03 00000000000000000000000000000000 00 fd000200000100000000000000000001 00000400 00000001 00000000 00000003     eth0\n",
         false, "", ""},
    };
    for (const RouteCase &c : cases) {
        SCOPED_TRACE(c.name);
        TDefaultRoute route;
        ASSERT_EQ(ParseDefaultRoute(c.family, c.text, route), c.found);
        if (!c.found)
            continue;
        EXPECT_EQ(AddressText(route.Gateway), c.gateway);
        EXPECT_EQ(route.Device, c.device);
    }
}

TEST(NetRoutes, NeighbourEntries)
{
    const std::string arp =
        "IP address       HW type     Flags       HW address            Mask     Device\n"
        "192.168.1.1      0x1         0x2         aa:bb:cc:dd:ee:ff     *        wlan0\n"
        "192.168.1.7      0x1         0x0         00:00:00:00:00:00     *        wlan0\n"
        "10.0.0.1         0x1         0x6         00:11:22:33:44:55     *        eth0\n";
    const struct {
        const char *address;
        TNeighbour state;
    } cases[] = {
        {"192.168.1.1", TNeighbour::Complete},
        {"192.168.1.7", TNeighbour::Incomplete},   // asked, never answered
        {"10.0.0.1", TNeighbour::Complete},        // a permanent entry
        {"192.168.1.10", TNeighbour::Unknown},     // a prefix of another row's address is not it
        {"192.168.1.", TNeighbour::Unknown},
    };
    for (const auto &c : cases)
        EXPECT_EQ(ParseArpEntry(arp, v4(c.address)), c.state) << c.address;
    EXPECT_EQ(ParseArpEntry("", v4("192.168.1.1")), TNeighbour::Unknown);
    EXPECT_EQ(ParseArpEntry(arp, v6("fe80::1")), TNeighbour::Unknown);
}

TEST(NetRoutes, ThisMachineHasItsLoopback)
{
    bool loopback = false;
    for (const TInterface &i : Interfaces())
        if (i.Name == "lo") {
            loopback = i.Loopback && i.Up && i.HasV4;
        }
    EXPECT_TRUE(loopback);
}

} // namespace
