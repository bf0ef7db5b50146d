// The network's name from the kernel's routing and neighbour tables, as
// /proc shows them (the texts below are copied from a machine's tables), and
// from NetworkManager's primary connection (python3-dbusmock's, on a private
// system bus) where it runs.
#include "bus/netidentity.h"

#include "../support/mockbus.h"

#include <QDBusObjectPath>
#include <QDBusVariant>
#include <QProcess>
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
        EXPECT_EQ(bus::GatewayIdentity(r.route, kArp), r.expected);
    }
}

TEST(NetIdentity, NetworkManagersPrimaryConnectionComesFirst)
{
    const QString skip = testsupport::MockBus::SkipReason();
    if (!skip.isEmpty())
        GTEST_SKIP() << skip.toStdString();
    testsupport::MeteredNetworkManager nm;
    ASSERT_TRUE(nm.Start());
    // No primary connection known: the gateway names the network.
    EXPECT_EQ(bus::NetworkManagerIdentity(), "");
    EXPECT_FALSE(bus::CurrentNetworkIdentity().startsWith("NetworkManager"));

    const QString active = "/org/freedesktop/NetworkManager/ActiveConnection/7";
    auto gdbus = [&](const QStringList &args) {
        return QProcess::execute("gdbus", QStringList{"call", "--address", nm.bus.Address(), "--dest",
                                                      "org.freedesktop.NetworkManager"} + args);
    };
    ASSERT_EQ(gdbus({"--object-path", "/org/freedesktop/NetworkManager", "--method",
                     "org.freedesktop.DBus.Mock.AddObject", active,
                     "org.freedesktop.NetworkManager.Connection.Active",
                     "{'Uuid': <'5b0c3f6e-1d2a-4c5b-9e8f-0a1b2c3d4e5f'>, 'Id': <'Home  Wi-Fi'>}", "@a(ssss) []"}),
              0);
    const QDBusMessage set = nm.bus.Call(
        "org.freedesktop.NetworkManager", "/org/freedesktop/NetworkManager", "org.freedesktop.DBus.Mock", "AddProperty",
        {"org.freedesktop.NetworkManager", "PrimaryConnection",
         QVariant::fromValue(QDBusVariant(QVariant::fromValue(QDBusObjectPath(active))))});
    ASSERT_EQ(set.type(), QDBusMessage::ReplyMessage) << set.errorMessage().toStdString();
    const QString want = "NetworkManager Home Wi-Fi (uuid 5b0c3f6e-1d2a-4c5b-9e8f-0a1b2c3d4e5f)";
    EXPECT_EQ(bus::NetworkManagerIdentity(), want);
    EXPECT_EQ(bus::CurrentNetworkIdentity(), want);
}
