// The network's name from the kernel's routing and neighbour tables, as
// /proc shows them (the texts below are copied from a machine's tables).
#include "platform/netidentity.h"

#include <gtest/gtest.h>

namespace {

const QByteArray kRouteHead =
    "Iface\tDestination\tGateway \tFlags\tRefCnt\tUse\tMetric\tMask\t\tMTU\tWindow\tIRTT\n";
const QByteArray kArp =
    "IP address       HW type     Flags       HW address            Mask     Device\n"
    "192.168.1.1      0x1         0x2         a4:91:b1:0c:22:7e     *        wlan0\n"
    "10.0.0.1         0x1         0x0         00:00:00:00:00:00     *        eth0\n";

} // namespace

TEST(NetIdentity, TheDefaultRouteWithTheLowestMetricNamesTheNetwork)
{
    struct Row {
        const char *what;
        QByteArray route;
        QString expected;
    } rows[] = {
        {"wifi", kRouteHead + "wlan0\t00000000\t0101A8C0\t0003\t0\t0\t600\t00000000\t0\t0\t0\n"
                              "wlan0\t0001A8C0\t00000000\t0001\t0\t0\t600\t00FFFFFF\t0\t0\t0\n",
         "gateway 192.168.1.1 (a4:91:b1:0c:22:7e) via wlan0"},
        {"the wired route wins by its metric; its gateway is not resolved yet",
         kRouteHead + "wlan0\t00000000\t0101A8C0\t0003\t0\t0\t600\t00000000\t0\t0\t0\n"
                      "eth0\t00000000\t0100000A\t0003\t0\t0\t100\t00000000\t0\t0\t0\n",
         "gateway 10.0.0.1 via eth0"},
        {"no default route", kRouteHead + "wlan0\t0001A8C0\t00000000\t0001\t0\t0\t600\t00FFFFFF\t0\t0\t0\n", QString()},
        {"nothing", QByteArray(), QString()},
        {"garbage", kRouteHead + "x 00000000 zz 0 0 0 abc 00000000\n" + QByteArray(300, '\t'), QString()},
    };
    for (const Row &r : rows) {
        SCOPED_TRACE(r.what);
        EXPECT_EQ(platform::GatewayIdentity(r.route, kArp), r.expected);
    }
}
