// "Skip a probe when the line carried traffic since the last one" over the
// test network: web transfers from the client to the test host make the
// client's line busy both ways, the session's echoes are skipped while they
// run and go out again once they stop. Root only.
#include "recorder.h"

#include "config/options.h"
#include "../support/netfixture.h"
#include "../support/testutil.h"

#include <QFile>
#include <QThread>
#include <gtest/gtest.h>

using sessiontest::TRecorder;

namespace {

class SkipBusy : public testnet::WebNetTest {
protected:
    static void SetUpTestSuite() { SetUpWeb({{"index.html", QByteArray(4000, 'x')}}); }
};

} // namespace

TEST_F(SkipBusy, ProbesSkippedWhileTrafficFlowsAndBackOnceItStops)
{
    testutil::ScratchDir dir;
    const QString done = dir.file("flow.done");
    config::TOptions options;
    options.AntiIdle.Frequency = QStringLiteral("1");
    options.AntiIdle.Method = config::TAntiIdleOptions::IcmpPings;
    options.AntiIdle.Host = testnet::kHost;
    options.KeepAlive.SkipWhenBusy = true;
    TRecorder rec;
    TAntiIdleSession engine(options);
    engine.AddObserver(&rec);
    const auto results = [&](std::size_t n) {
        return testutil::waitFor([&] { return rec.results.size() >= n; }, std::chrono::seconds(10));
    };
    ASSERT_TRUE(engine.Start());
    ASSERT_TRUE(results(1));
    ASSERT_EQ(OutcomeName(rec.results[0].Outcome), "ok");

    // No traffic since the opening echo: the next one goes out.
    engine.Tick();
    ASSERT_TRUE(results(2));
    EXPECT_EQ(OutcomeName(rec.results[1].Outcome), "ok");

    // About two seconds of web transfers from the client, then a mark.
    ASSERT_EQ(net->run(testnet::Role::Client,
                       "(for i in $(seq 20); do curl -s -o /dev/null http://" + std::string(testnet::kHost)
                           + "/; sleep 0.1; done; touch " + done.toStdString() + ") >/dev/null 2>&1 &"),
              0);
    QThread::msleep(500);
    engine.Tick();
    QThread::msleep(400);
    engine.Tick();
    ASSERT_EQ(rec.results.size(), 4u) << "a skipped probe ends at once";
    ASSERT_TRUE(testutil::waitFor([&] { return QFile::exists(done); }, std::chrono::seconds(20)));
    // The flow went on after the last skip: skipped once more, then quiet.
    engine.Tick();
    engine.Tick();
    ASSERT_TRUE(results(6));

    QStringList outcomes;
    for (const TProbeResult &r : rec.results)
        outcomes << OutcomeName(r.Outcome);
    EXPECT_EQ(outcomes, (QStringList{"ok", "ok", "skipped", "skipped", "skipped", "ok"}));
    for (std::size_t i = 2; i < 5; ++i) {
        const TProbeResult &r = rec.results[i];
        EXPECT_FALSE(r.Counted) << "a skipped probe is no attempt";
        EXPECT_EQ(r.BytesSent + r.BytesReceived, 0) << "nothing went";
        EXPECT_EQ(r.SavedSent, 84) << "what the last echo cost";
        EXPECT_EQ(r.SavedReceived, 84);
        EXPECT_EQ(r.Address, testnet::kHost);
    }
    // Only the probes sent count, and the line stayed up throughout.
    EXPECT_EQ(engine.Stats().Attempts(), 3);
    EXPECT_EQ(engine.Stats().Failures(), 0);
    EXPECT_EQ(engine.Link().Link(), TLinkMonitor::TLink::Up);
    EXPECT_EQ(rec.events.filter("sent echo").size(), 3);
    engine.Stop();
    engine.RemoveObserver(&rec);
}

TEST_F(SkipBusy, OffByDefaultEveryTickSendsItsProbe)
{
    config::TOptions options;
    options.AntiIdle.Frequency = QStringLiteral("1");
    options.AntiIdle.Method = config::TAntiIdleOptions::IcmpPings;
    options.AntiIdle.Host = testnet::kHost;
    TRecorder rec;
    TAntiIdleSession engine(options);
    engine.AddObserver(&rec);
    ASSERT_TRUE(engine.Start());
    ASSERT_TRUE(testutil::waitFor([&] { return rec.results.size() >= 1; }, std::chrono::seconds(10)));
    ASSERT_EQ(net->run(testnet::Role::Client, "for i in 1 2 3; do curl -s -o /dev/null http://"
                                                  + std::string(testnet::kHost) + "/; done"),
              0);
    engine.Tick();
    ASSERT_TRUE(testutil::waitFor([&] { return rec.results.size() >= 2; }, std::chrono::seconds(10)));
    EXPECT_EQ(OutcomeName(rec.results[1].Outcome), "ok");
    engine.Stop();
    engine.RemoveObserver(&rec);
}
