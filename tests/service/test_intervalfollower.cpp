// The session's interval from the idle timers kept in the history, as the
// window's program and the service both set it up: 0.8 of the shortest
// timer found on the network in use, the timers of other networks ignored.
#include "config/options.h"
#include "bus/netidentity.h"
#include "service/intervalfollower.h"
#include "session/antiidlesession.h"
#include "../support/sessionaccess.h"
#include "../support/testutil.h"

#include <QTimer>
#include <gtest/gtest.h>

TEST(IntervalFollower, ProbesAtFourFifthsOfTheShortestTimerOfThisNetwork)
{
    testutil::ScratchDir dir;
    history::THistoryStore store;
    ASSERT_TRUE(store.Open(dir.file("history.db")));
    const QString here = bus::CurrentNetworkIdentity();
    auto timer = [&](const QString &network, int seconds, const char *verdict) {
        store.AddIdleTimer({1, "udp", network, verdict, seconds, seconds - 1, seconds + 1, "", 0, 0});
    };
    timer(here, 120, "found");
    timer(here, 30, "found");
    timer(here, 10, "at least");          // no verdict on the timer itself
    timer(QStringLiteral("elsewhere"), 20, "found");

    config::TOptions options;
    options.AntiIdle.Frequency = QStringLiteral("5");
    options.AntiIdle.Method = config::TAntiIdleOptions::IcmpPings;
    options.AntiIdle.Host = QStringLiteral("127.0.0.1");
    options.KeepAlive.IntervalFrom = config::TKeepAliveOptions::Measured;
    TAntiIdleSession engine(options);
    {
        service::TIntervalFollower follower(engine, store);
        ASSERT_TRUE(engine.Start());
        EXPECT_EQ(Inside(engine).Timer3->interval(), 24'000);
        engine.Stop();
    }
    // Without the follower the setting's frequency is all there is.
    ASSERT_TRUE(engine.Start());
    EXPECT_EQ(Inside(engine).Timer3->interval(), 300'000);
    engine.Stop();
}
