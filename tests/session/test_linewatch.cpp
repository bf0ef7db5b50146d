// "Skip when busy": the decision over two readings of a line's counters, the
// watch that keeps a reading per interface, and the route and counters read
// from the kernel for loopback.
#include "session/linewatch.h"

#include <gtest/gtest.h>

using platform::TLineCounters;

TEST(LineWatch, OtherTrafficNeedsPacketsBothWaysBeyondTheProbesOwn)
{
    const TLineCounters before{"eth0", 100, 200};
    const struct {
        TLineCounters now;
        quint64 own;
        bool busy;
        const char *why;
    } cases[] = {
        {{"eth0", 100, 200}, 0, false, "nothing moved"},
        {{"eth0", 101, 201}, 0, true, "one packet each way"},
        {{"eth0", 150, 200}, 0, false, "only in (a broadcast, a scan)"},
        {{"eth0", 100, 260}, 0, false, "only out"},
        {{"eth0", 103, 203}, 3, false, "a web probe's own closing packets"},
        {{"eth0", 104, 204}, 3, true, "more than the probe's own"},
        {{"eth0", 104, 203}, 3, false, "more in, not more out"},
        {{"wlan0", 900, 900}, 0, false, "another interface"},
        {{"eth0", 5, 5}, 0, false, "counters went back (interface recreated)"},
    };
    for (const auto &c : cases)
        EXPECT_EQ(OtherTraffic(before, c.now, c.own, c.own), c.busy) << c.why;
}

TEST(LineWatch, JudgesEachInterfaceFromItsOwnMark)
{
    TLineCounters eth{"eth0", 10, 10}, wlan{"wlan0", 50, 50};
    TLineWatch watch;
    const QString viaEth("10.0.0.1"), viaWlan("192.168.1.1"), nowhere("10.9.9.9");
    watch.Read = [&](const QString &a) -> std::optional<TLineCounters> {
        if (a == viaEth)
            return eth;
        if (a == viaWlan)
            return wlan;
        return std::nullopt;
    };
    eth.RxPackets = eth.TxPackets = 20;
    EXPECT_FALSE(watch.Busy(viaEth, 0)) << "never marked: the probe goes";
    watch.Mark(viaEth);
    watch.Mark(viaWlan);
    eth.RxPackets = eth.TxPackets = 25;
    EXPECT_TRUE(watch.Busy(viaEth, 0));
    EXPECT_FALSE(watch.Busy(viaWlan, 0)) << "wlan0 carried nothing";
    EXPECT_FALSE(watch.Busy(nowhere, 0)) << "unreadable: the probe goes";
    watch.Mark(viaEth);
    EXPECT_FALSE(watch.Busy(viaEth, 0)) << "marked anew";
    eth.RxPackets = eth.TxPackets = 30;
    watch.Clear();
    EXPECT_FALSE(watch.Busy(viaEth, 0)) << "cleared: the probe goes";
}

TEST(LineWatch, KernelRouteAndCountersOfLoopback)
{
    QString error;
    EXPECT_EQ(platform::RouteInterface(QStringLiteral("127.0.0.1"), &error), "lo") << error.toStdString();
    EXPECT_EQ(platform::RouteInterface(QStringLiteral("::1"), &error), "lo") << error.toStdString();
    EXPECT_TRUE(platform::RouteInterface(QString(), &error).isEmpty());
    EXPECT_FALSE(error.isEmpty());
    const auto lo = platform::InterfaceCounters("lo");
    ASSERT_TRUE(lo.has_value());
    EXPECT_EQ(lo->Interface, "lo");
    for (const char *bad : {"", "../lo", "lo/statistics", ".", "no-such-interface0"})
        EXPECT_FALSE(platform::InterfaceCounters(bad).has_value()) << bad;
}
