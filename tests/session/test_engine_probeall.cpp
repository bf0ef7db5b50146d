// Every target each interval, over scripted transports and a hand-moved
// clock: when each entry goes, what the interval may be, a slow target and a
// transport that sends one probe at a time, a pause, and the designed cycle
// left as it was when the setting is off.
#include "scriptedengine.h"

#include "../support/qtprint.h"
#include "../support/sessionaccess.h"

#include <QTimer>

using config::TAntiIdleOptions;
using sessiontest::Answer;
using sessiontest::Held;
using sessiontest::ScriptedEngine;

namespace {

class ProbeAllEngine : public ScriptedEngine {
protected:
    void SetUp() override
    {
        ScriptedEngine::SetUp();
        options.ProbeAll.Enabled = true;
    }
    // Cycles the list 'servers' with every target each 'seconds'.
    void UseList(const QByteArray &servers, int seconds)
    {
        WriteServers(servers);
        options.AntiIdle.Options[TAntiIdleOptions::CycleServerList] = true;
        options.ProbeAll.Interval = seconds;
    }
    // Lets the plan's timer fire, moving the clock to each of its wake-ups,
    // up to 'untilMs' after the clock's start.
    void RunUntil(qint64 untilMs)
    {
        QTimer *timer = Inside(engine).ProbeAllTimer;
        for (int guard = 0; guard < 1000; ++guard) {
            ASSERT_TRUE(timer->isActive()) << "the plan's timer is not armed at " << clock.Ms();
            if (clock.Ms() + timer->interval() > untilMs)
                return;
            clock.Advance(timer->interval());
            engine->Tick();
        }
        FAIL() << "the timer did not get to " << untilMs;
    }
    // Every probe sent so far as "<ms after the start> <entry>".
    QStringList SentAt() const
    {
        QStringList out;
        for (const TProbeSent &s : rec.sent)
            out << QStringLiteral("%1 %2").arg(s.At.MonoNs / 1'000'000).arg(s.Host);
        return out;
    }
};

} // namespace

TEST_F(ProbeAllEngine, EveryEntryGoesOncePerIntervalAtItsShareOfIt)
{
    const struct {
        const char *name;
        QStringList entries;     // empty: the host field, without cycling
        int seconds;
        qint64 untilMs;
        QStringList sent;
    } cases[] = {
        {"three over 30 s", {"a.test", "b.test", "c.test"}, 30, 59'999,
         {"0 a.test", "10000 b.test", "20000 c.test", "30000 a.test", "40000 b.test", "50000 c.test"}},
        {"seven over 10 s: thirds of a millisecond dropped, never gained", {"1", "2", "3", "4", "5", "6", "7"}, 10,
         11'500, {"0 1", "1428 2", "2857 3", "4285 4", "5714 5", "7142 6", "8571 7", "10000 1", "11428 2"}},
        {"two over the shortest interval", {"a.test", "b.test"}, 5, 10'000,
         {"0 a.test", "2500 b.test", "5000 a.test", "7500 b.test", "10000 a.test"}},
        {"the host field alone", {}, 20, 45'000, {"0 h.test", "20000 h.test", "40000 h.test"}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        rec = sessiontest::TRecorder();
        const qint64 start = clock.Ms();
        const bool cycle = !c.entries.isEmpty();
        if (cycle) {
            UseList(c.entries.join("\r\n").toLatin1(), c.seconds);
        } else {
            options.AntiIdle.Options[TAntiIdleOptions::CycleServerList] = false;
            options.ProbeAll.Interval = c.seconds;
        }
        ASSERT_TRUE(engine->Start());
        EXPECT_EQ(engine->ProbeAllIntervalMs(), c.seconds * 1000);
        // Neither the designed timer nor an opening echo of its own.
        EXPECT_FALSE(Inside(engine).Timer3->isActive());
        EXPECT_TRUE(rec.events.contains(QStringLiteral("stats every %1 ms over %2")
                                            .arg(c.seconds * 1000)
                                            .arg(cycle ? c.entries.join(',') : QStringLiteral("h.test"))));
        RunUntil(start + c.untilMs);
        QStringList sent;
        for (const TProbeSent &s : rec.sent)
            sent << QStringLiteral("%1 %2").arg(s.At.MonoNs / 1'000'000 - start).arg(s.Host);
        EXPECT_EQ(sent, c.sent);
        // Each result in its own entry's row, counted there.
        ASSERT_EQ(rec.results.size(), std::size_t(c.sent.size()));
        for (const TProbeResult &r : rec.results) {
            const int index = cycle ? int(c.entries.indexOf(r.Host)) : -1;
            EXPECT_EQ(r.ServerIndex, index) << r.Host.toStdString();
            EXPECT_EQ(r.Row, cycle ? index + 1 : 1) << r.Host.toStdString();
            EXPECT_TRUE(r.Counted);
        }
        EXPECT_EQ(engine->Stats().Attempts(), int(c.sent.size()));
        EXPECT_EQ(engine->Stats().Successes(), int(c.sent.size()));
        engine->Stop();
        EXPECT_FALSE(Inside(engine).ProbeAllTimer->isActive());
        EXPECT_EQ(engine->ProbeAllIntervalMs(), 0);
    }
}

TEST_F(ProbeAllEngine, AnIntervalOutOfBoundsIsRefusedWithItsReason)
{
    const struct {
        int seconds;
        const char *reason;      // nullptr: the session starts
    } cases[] = {
        {4, "[Probe All] Interval of 4 s is too short: every target is probed at most every 5 s"},
        {0, "[Probe All] Interval of 0 s is too short: every target is probed at most every 5 s"},
        {-1, "[Probe All] Interval is not a number of seconds: every target needs an interval of 5 to 86400 s"},
        {86401, "[Probe All] Interval of 86401 s is too long: every target is probed at least once a day (86400 s)"},
        {5, nullptr},
        {86400, nullptr},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.seconds);
        rec = sessiontest::TRecorder();
        echo.Requests.clear();
        UseList("a.test\nb.test\n", c.seconds);
        QString reason;
        EXPECT_EQ(engine->Start(&reason), c.reason == nullptr);
        if (c.reason) {
            EXPECT_EQ(reason, c.reason);
            EXPECT_EQ(rec.messages, QStringList{c.reason});
            EXPECT_TRUE(echo.Requests.empty());
            EXPECT_FALSE(Inside(engine).ProbeAllTimer->isActive());
            EXPECT_FALSE(Inside(engine).Timer3->isActive());
        } else {
            EXPECT_EQ(echo.Requests.size(), 1u);
            EXPECT_EQ(Inside(engine).ProbeAllTimer->interval(), c.seconds * 500);
        }
        engine->Stop();
    }
    // Off, the interval is not looked at: the designed cycle starts.
    options.ProbeAll.Enabled = false;
    options.ProbeAll.Interval = 1;
    EXPECT_TRUE(engine->Start());
    EXPECT_TRUE(Inside(engine).Timer3->isActive());
    engine->Stop();
}

TEST_F(ProbeAllEngine, ASlowTargetDoesNotDelayTheOthers)
{
    // Kinds whose transports run probes side by side: tcp:// a never
    // answers before its next turn.
    UseList("tcp://a.test:7\nhttps://b.test/\ntcp://c.test:9\n", 30);
    tcp.Script = {Held(Answer(TProbeOutcome::Ok, 900))};
    ASSERT_TRUE(engine->Start());
    RunUntil(clock.Ms() + 40'000);
    EXPECT_EQ(SentAt(), (QStringList{"0 tcp://a.test:7", "10000 https://b.test/", "20000 tcp://c.test:9",
                                     "40000 https://b.test/"}));
    EXPECT_TRUE(rec.events.contains("line Probe of tcp://a.test:7 skipped: the previous one still runs"));
    ASSERT_EQ(tcp.Requests.size(), 2u);   // a's, then c's beside it
    EXPECT_EQ(tcp.Requests[1].Target, "tcp://c.test:9");
    EXPECT_EQ(tcp.Pending(), 1);

    // Back late, counted in its own row; its next turn goes again.
    tcp.Release();
    ASSERT_FALSE(rec.results.empty());
    EXPECT_EQ(rec.results.back().Host, "tcp://a.test:7");
    EXPECT_EQ(rec.results.back().Row, 1);
    EXPECT_TRUE(rec.results.back().Counted);
    RunUntil(60'000);
    EXPECT_EQ(SentAt().last(), "60000 tcp://a.test:7");
    EXPECT_EQ(engine->Stats().Rows()[0].Successes, 2);
    EXPECT_EQ(engine->Stats().Rows()[1].Successes, 2);
    EXPECT_EQ(engine->Stats().Rows()[2].Successes, 2);
    engine->Stop();
}

TEST_F(ProbeAllEngine, AOneAtATimeTransportQueuesProbesWithoutLosingOne)
{
    // Echoes go one at a time: a second Send would end the first. The
    // others wait for it and go as soon as it is back, in their order.
    UseList("a.test\nb.test\nc.test\n", 30);
    echo.Supersedes = true;
    echo.Script = {Held(Answer(TProbeOutcome::Timeout, -1, "Request timed out"))};
    ASSERT_TRUE(engine->Start());
    RunUntil(25'000);
    EXPECT_EQ(SentAt(), (QStringList{"0 a.test", "10000 b.test", "20000 c.test"}));
    ASSERT_EQ(echo.Requests.size(), 1u);
    echo.Release();
    ASSERT_EQ(echo.Requests.size(), 3u);
    EXPECT_EQ(echo.Requests[1].Target, "b.test");
    EXPECT_EQ(echo.Requests[2].Target, "c.test");
    EXPECT_EQ(echo.Cancels, 0);
    QStringList results;
    for (const TProbeResult &r : rec.results)
        results << QStringLiteral("%1 row %2 %3").arg(r.Host).arg(r.Row).arg(OutcomeName(r.Outcome));
    EXPECT_EQ(results, (QStringList{"a.test row 1 timeout", "b.test row 2 ok", "c.test row 3 ok"}));
    EXPECT_EQ(engine->Stats().Attempts(), 3);
    EXPECT_EQ(engine->Stats().Failures(), 1);

    // A transfer that is not ours (the server list download) holds the web
    // client: the probe waits for the next wake-up after it is free.
    options.AntiIdle.Method = TAntiIdleOptions::HttpGets;
    http.BusyNow = true;
    RunUntil(30'000);
    EXPECT_TRUE(http.Requests.empty());
    http.BusyNow = false;
    RunUntil(40'000);
    ASSERT_EQ(http.Requests.size(), 2u);
    EXPECT_EQ(http.Requests[0].Target, "a.test");
    EXPECT_EQ(http.Requests[1].Target, "b.test");
    // The transfer ends well before the entry's next turn.
    EXPECT_EQ(http.Requests[0].TimeoutMs, 20'000);

    // Probes cut short because the program ends: what waits behind them
    // stays waiting rather than going out now.
    http.Supersedes = true;
    http.Script = {Held(Answer(TProbeOutcome::Ok, 3))};
    RunUntil(60'000);                          // c at 50000 held, a at 60000 waits
    ASSERT_EQ(http.Requests.size(), 3u);
    engine->CancelProbes();
    EXPECT_EQ(http.Pending(), 0);
    EXPECT_EQ(http.Requests.size(), 3u);
    engine->Stop();
    http.Supersedes = false;

    // What still waits when the session stops goes nowhere.
    http.BusyNow = true;
    ASSERT_TRUE(engine->Start());
    engine->Stop();
    http.BusyNow = false;
    ASSERT_TRUE(engine->Start());
    EXPECT_EQ(http.Requests.size(), 4u);
    EXPECT_EQ(http.Requests.back().Target, "a.test");
    engine->Stop();
}

TEST_F(ProbeAllEngine, APauseLetsTheSlotsPassAndALongStallProbesEachOnce)
{
    UseList("a.test\nb.test\n", 10);
    ASSERT_TRUE(engine->Start());              // a at 0
    engine->Pause(QStringLiteral("suspended"));
    RunUntil(21'000);                          // b 5000, a 10000, b 15000, a 20000 pass
    EXPECT_EQ(SentAt(), QStringList{"0 a.test"});
    engine->Resume(QStringLiteral("suspended"));
    RunUntil(25'000);
    EXPECT_EQ(SentAt(), (QStringList{"0 a.test", "25000 b.test"}));

    // The clock jumps three intervals (a wake from sleep): each entry goes
    // once, then the plan keeps its slots.
    clock.Advance(33'000);                     // at 58000
    engine->Tick();
    EXPECT_EQ(SentAt().mid(2), (QStringList{"58000 a.test", "58000 b.test"}));
    EXPECT_EQ(Inside(engine).ProbeAllTimer->interval(), 2'000);
    RunUntil(65'000);
    EXPECT_EQ(SentAt().mid(4), (QStringList{"60000 a.test", "65000 b.test"}));
    engine->Stop();
}

TEST_F(ProbeAllEngine, OffTheDesignedCycleIsAsItWas)
{
    UseList("a.test\nb.test\nc.test\n", 5);
    // On for one session, then off: nothing of the plan stays behind.
    ASSERT_TRUE(engine->Start());
    engine->Stop();
    options.ProbeAll.Enabled = false;
    rec = sessiontest::TRecorder();
    const qint64 start = clock.Ms();
    ASSERT_TRUE(engine->Start());
    for (int i = 0; i < 4; ++i) {
        clock.Advance(60'000);
        engine->Tick();
    }
    QStringList sent;
    for (const TProbeSent &s : rec.sent)
        sent << QStringLiteral("%1 %2 %3").arg((s.At.MonoNs / 1'000'000 - start) / 1000).arg(s.Host).arg(s.ServerIndex);
    EXPECT_EQ(sent, (QStringList{"0 a.test 0", "60 b.test 1", "120 c.test 2", "180 a.test 0", "240 b.test 1"}));
    EXPECT_EQ(engine->ProbeAllIntervalMs(), 0);
    EXPECT_FALSE(Inside(engine).ProbeAllTimer->isActive());
    EXPECT_TRUE(Inside(engine).Timer3->isActive());
    EXPECT_EQ(Inside(engine).Timer3->interval(), 60'000);
    EXPECT_TRUE(rec.events.contains("stats every 60000 ms over a.test,b.test,c.test"));
    // A busy transport still skips the tick, as designed, rather than queueing.
    options.AntiIdle.Method = TAntiIdleOptions::HttpGets;
    http.BusyNow = true;
    engine->Tick();
    EXPECT_TRUE(http.Requests.empty());
    EXPECT_EQ(rec.events.last(), "line HTTP GET to c.test skipped: the previous transfer still runs");
    engine->Stop();
}
