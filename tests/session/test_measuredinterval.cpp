// The probe interval taken from the idle timer measured on the network in
// use ([KeepAlive] IntervalFrom=measured): 0.8 of the timer as the
// composition hands it over, never below 10 s, the frequency as set where
// nothing was measured or the setting says so, and a running session
// following a change.
#include "config/options.h"
#include "session/antiidlesession.h"
#include "../support/sessionaccess.h"
#include "../support/testutil.h"

#include <QTimer>
#include <gtest/gtest.h>

TEST(MeasuredInterval, TheSessionProbesAtTheMeasuredIntervalWhereItApplies)
{
    testutil::ScratchDir dir;
    struct Row {
        int from;        // TKeepAliveOptions::TIntervalFrom
        int measuredMs;  // what the hook says (-1: no hook)
        int expected;
    } rows[] = {
        {config::TKeepAliveOptions::AsSet, 24'000, 120'000},     // the setting rules
        {config::TKeepAliveOptions::Measured, 24'000, 24'000},
        {config::TKeepAliveOptions::Measured, 4'000, 10'000},    // at least 10 s
        {config::TKeepAliveOptions::Measured, 0, 120'000},       // nothing measured here
        {config::TKeepAliveOptions::Measured, -1, 120'000},      // no history to ask
    };
    for (const Row &r : rows) {
        SCOPED_TRACE(r.measuredMs);
        config::TOptions options;
        options.AntiIdle.Frequency = QStringLiteral("2");
        options.AntiIdle.Method = config::TAntiIdleOptions::IcmpPings;
        options.AntiIdle.Host = QStringLiteral("127.0.0.1");
        options.KeepAlive.IntervalFrom = r.from;
        TAntiIdleSession engine(options);
        if (r.measuredMs >= 0)
            engine.MeasuredIntervalMs = [ms = r.measuredMs] { return ms; };
        ASSERT_TRUE(engine.Start());
        EXPECT_EQ(Inside(engine).Timer3->interval(), r.expected);
        engine.Stop();
    }
}

TEST(MeasuredInterval, ARunningSessionFollowsTheNetworkAndThePreferences)
{
    testutil::ScratchDir dir;
    config::TOptions options;
    options.AntiIdle.Frequency = QStringLiteral("1");
    options.AntiIdle.Method = config::TAntiIdleOptions::IcmpPings;
    options.AntiIdle.Host = QStringLiteral("127.0.0.1");
    options.KeepAlive.IntervalFrom = config::TKeepAliveOptions::Measured;
    int measured = 0;
    TAntiIdleSession engine(options);
    engine.MeasuredIntervalMs = [&measured] { return measured; };
    ASSERT_TRUE(engine.Start());
    EXPECT_EQ(Inside(engine).Timer3->interval(), 60'000);
    // A network with a 30 s timer: every 24 s from now on.
    measured = 24'000;
    engine.IntervalSourceChanged();
    EXPECT_EQ(Inside(engine).Timer3->interval(), 24'000);
    EXPECT_TRUE(Inside(engine).Timer3->isActive());
    EXPECT_GT(Inside(engine).Timer3->remainingTime(), 23'000);
    // Back to the setting.
    options.KeepAlive.IntervalFrom = config::TKeepAliveOptions::AsSet;
    engine.IntervalSourceChanged();
    EXPECT_EQ(Inside(engine).Timer3->interval(), 60'000);
    engine.Stop();
    // A stopped session has no interval to follow.
    options.KeepAlive.IntervalFrom = config::TKeepAliveOptions::Measured;
    engine.IntervalSourceChanged();
    EXPECT_FALSE(Inside(engine).Timer3->isActive());
}
