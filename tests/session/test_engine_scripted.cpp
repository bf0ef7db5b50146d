// The session engine over scripted transports and a hand-moved clock: what
// each way a probe can end makes the session say and count, the requests it
// hands the transports, late and cut-short results, the starts that cannot
// work, and the length of an outage, all without a socket.
#include "scriptedengine.h"

#include "config/options.h"
#include "../support/qtprint.h"
#include "../support/testutil.h"

#include "session/webtransfer.h"

#include <QFile>
#include <gtest/gtest.h>

#include <chrono>
#include <set>

using namespace std::chrono_literals;

using sessiontest::Answer;
using sessiontest::Held;
using sessiontest::TManualClock;
using sessiontest::TRecorder;
using sessiontest::TScriptedTransport;
using config::TAntiIdleOptions;

using sessiontest::ScriptedEngine;
using sessiontest::Echo;
using sessiontest::Http;
using sessiontest::Tcp;
using sessiontest::Https;
using sessiontest::Dns;
using sessiontest::Burst;

TEST_F(ScriptedEngine, EachOutcomeHasItsTextsAndCounts)
{
    const struct {
        const char *name;
        int method;
        sessiontest::TStep step;
        qint64 body;
        QStringList events;      // from the probe sent on
        const char *status;      // the last status text
        int successes, failures; // of the session, the opening echo's success included
    } cases[] = {
        {"echo answered", TAntiIdleOptions::IcmpPings, Answer(TProbeOutcome::Ok, 12), 0,
         {"sent echo h.test", "line Sending 56 bytes to h.test", "line h.test pinged in 12 msecs",
          "result echo h.test ok row 1"},
         "Status: h.test pinged in 12 msecs", 2, 0},
        {"echo timed out", TAntiIdleOptions::IcmpPings, Answer(TProbeOutcome::Timeout, -1, "Request timed out"), 0,
         {"sent echo h.test", "line Sending 56 bytes to h.test", "line Error pinging h.test : Request timed out",
          "result echo h.test timeout row 1"},
         "Status: Error pinging h.test : Request timed out", 1, 1},
        {"echo's name unknown", TAntiIdleOptions::IcmpPings, Answer(TProbeOutcome::LookupFailed, -1, "Unknown Host"), 0,
         {"sent echo h.test", "line Unknown Host h.test", "result echo h.test lookup-failed row 1"},
         "Status: Unknown Host h.test", 1, 1},
        {"echo not permitted", TAntiIdleOptions::IcmpPings,
         Answer(TProbeOutcome::NotPermitted, -1, "Operation not permitted"), 0,
         {"sent echo h.test", "line Sending 56 bytes to h.test",
          "line Error pinging h.test : Operation not permitted", "result echo h.test not-permitted row 1"},
         "Status: Error pinging h.test : Operation not permitted", 1, 1},
        {"document received", TAntiIdleOptions::HttpGets, Answer(TProbeOutcome::Ok, 37), 1234,
         {"sent http h.test", "line Connecting to h.test", "line Received 1234 bytes from h.test in 37ms",
          "result http h.test ok row 1"},
         "Status: Received 1234 bytes from h.test in 37ms", 2, 0},
        {"connection refused", TAntiIdleOptions::HttpGets, Answer(TProbeOutcome::Refused, -1, "Connection refused"), 0,
         {"sent http h.test", "line Connecting to h.test", "line Transfer from h.test failed. Connection refused",
          "result http h.test refused row 1"},
         "Status: Transfer from h.test failed. Connection refused", 1, 1},
        {"web server's name unknown", TAntiIdleOptions::HttpGets,
         Answer(TProbeOutcome::LookupFailed, -1, "can't resolve hostname to IP address"), 0,
         {"sent http h.test", "line Transfer from h.test failed. can't resolve hostname to IP address",
          "result http h.test lookup-failed row 1"},
         "Status: Transfer from h.test failed. can't resolve hostname to IP address", 1, 1},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        rec = TRecorder();
        options.AntiIdle.Method = c.method;
        sessiontest::TStep step = c.step;
        step.Reply.BodyBytes = c.body;
        // The opening echo answers as the transport's default does.
        if (c.method == TAntiIdleOptions::HttpGets)
            http.Script = {step};
        else
            echo.Script = {echo.Otherwise, step};
        ASSERT_TRUE(engine->Start());
        engine->Tick();
        EXPECT_EQ(EventsFromSent(), c.events);
        EXPECT_EQ(rec.statuses.last(), c.status);
        EXPECT_EQ(engine->Stats().Attempts(), 2);
        EXPECT_EQ(engine->Stats().Successes(), c.successes);
        EXPECT_EQ(engine->Stats().Failures(), c.failures);
        ASSERT_EQ(rec.results.size(), 2u);
        const TProbeResult &r = rec.results.back();
        EXPECT_TRUE(r.Counted);
        EXPECT_EQ(r.Ms, c.step.Reply.Ms);
        EXPECT_EQ(r.Us, c.step.Reply.Us);
        EXPECT_EQ(r.Reason, c.step.Reply.Reason);
        EXPECT_EQ(r.Address, c.step.Reply.Address);
        engine->Stop();
    }
}

TEST_F(ScriptedEngine, RequestsCarryTheSizeAndTheWatchdogOfTheInterval)
{
    const struct {
        const char *name;
        int method;
        bool vary;
        const char *frequency;
        int measuredMs;          // 0: none measured
        int timeoutMs;           // of the tick's request
    } cases[] = {
        {"echo, fixed size", TAntiIdleOptions::IcmpPings, false, "1", 0, 0},
        {"echo, varied size", TAntiIdleOptions::IcmpPings, true, "1", 0, 0},
        {"http every minute", TAntiIdleOptions::HttpGets, false, "1", 0, 50'000},
        {"http every five minutes: the longest transfer", TAntiIdleOptions::HttpGets, false, "5", 0, 60'000},
        {"http every 12 s measured", TAntiIdleOptions::HttpGets, false, "1", 12'000, 2'000},
        {"http at the 10 s floor: half the interval", TAntiIdleOptions::HttpGets, false, "1", 4'000, 5'000},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        echo.Requests.clear();
        http.Requests.clear();
        options.AntiIdle.Method = c.method;
        options.AntiIdle.Options[TAntiIdleOptions::VaryPacketSize] = c.vary;
        options.AntiIdle.Frequency = QString::fromLatin1(c.frequency);
        options.KeepAlive.IntervalFrom = c.measuredMs ? config::TKeepAliveOptions::Measured
                                                      : config::TKeepAliveOptions::AsSet;
        engine->MeasuredIntervalMs = [ms = c.measuredMs] { return ms; };
        ASSERT_TRUE(engine->Start());
        for (int i = 0; i < 8; ++i)
            engine->Tick();
        engine->Stop();

        // The opening echo: the size the last echo had, the echo's own time-out.
        ASSERT_FALSE(echo.Requests.empty());
        EXPECT_EQ(echo.Requests.front().Target, "h.test");
        EXPECT_EQ(echo.Requests.front().TimeoutMs, 0);
        const std::vector<probe::TRequest> &ticks = c.method == TAntiIdleOptions::HttpGets
            ? http.Requests
            : std::vector<probe::TRequest>(echo.Requests.begin() + 1, echo.Requests.end());
        ASSERT_EQ(ticks.size(), 8u);
        std::set<int> sizes;
        for (const probe::TRequest &r : ticks) {
            EXPECT_EQ(r.Target, "h.test");
            EXPECT_EQ(r.TimeoutMs, c.timeoutMs);
            if (c.method == TAntiIdleOptions::HttpGets) {
                EXPECT_EQ(r.Size, 0);
                EXPECT_EQ(r.BodyLimit, session::ProbeBodyLimit);
                continue;
            }
            if (!c.vary) {
                EXPECT_EQ(r.Size, session::MinEchoSize);
            }
            EXPECT_GE(r.Size, session::MinEchoSize);
            EXPECT_LE(r.Size, session::MaxEchoSize);
            sizes.insert(r.Size);
        }
        if (c.method == TAntiIdleOptions::IcmpPings) {
            EXPECT_EQ(sizes.size() > 1, c.vary);
        }
    }
    // The next session opens with the size the last echo had.
    options.AntiIdle.Method = TAntiIdleOptions::IcmpPings;
    options.AntiIdle.Options[TAntiIdleOptions::VaryPacketSize] = true;
    options.KeepAlive.IntervalFrom = config::TKeepAliveOptions::AsSet;
    echo.Requests.clear();
    ASSERT_TRUE(engine->Start());
    engine->Tick();
    engine->Stop();
    ASSERT_TRUE(engine->Start());
    ASSERT_EQ(echo.Requests.size(), 3u);
    EXPECT_EQ(echo.Requests[2].Size, echo.Requests[1].Size);
    engine->Stop();
}

TEST_F(ScriptedEngine, ABusyTransportIsSkippedAndACancelledProbeTellsNothing)
{
    options.AntiIdle.Method = TAntiIdleOptions::HttpGets;
    ASSERT_TRUE(engine->Start());
    http.BusyNow = true;
    engine->Tick();
    EXPECT_TRUE(http.Requests.empty());
    EXPECT_EQ(rec.events.mid(rec.events.size() - 2),
              (QStringList{"sent http h.test", "line HTTP GET to h.test skipped: the previous transfer still runs"}));
    EXPECT_EQ(rec.results.size(), 1u);   // the opening echo's only

    // Cut short, by the transport or because the program ends.
    http.BusyNow = false;
    http.Script = {Held(Answer(TProbeOutcome::Ok, 9)),
                   [] { auto s = Answer(TProbeOutcome::Ok, 9); s.Reply.Cancelled = true; return s; }()};
    engine->Tick();
    ASSERT_EQ(http.Pending(), 1);
    engine->CancelProbes();
    EXPECT_EQ(http.Pending(), 0);
    engine->Tick();
    EXPECT_EQ(http.Requests.size(), 2u);
    EXPECT_EQ(rec.results.size(), 1u);
    EXPECT_EQ(engine->Stats().Successes() + engine->Stats().Failures(), 1);
    EXPECT_FALSE(rec.events.last().startsWith("line Received")) << rec.events.last().toStdString();

    // A lookup superseded by the next probe ends as cancelled: the next one counts.
    options.AntiIdle.Method = TAntiIdleOptions::IcmpPings;
    echo.Supersedes = true;
    echo.Script = {Held(Answer(TProbeOutcome::Ok, 1)), Answer(TProbeOutcome::Ok, 2)};
    engine->Tick();
    engine->Tick();
    ASSERT_EQ(rec.results.size(), 2u);
    EXPECT_EQ(rec.results.back().Ms, 2);
    engine->Stop();
}

TEST_F(ScriptedEngine, LateResultsCountWhereTheirProbeWent)
{
    // A row's probe that ends after the next row's: counted in its own row.
    WriteServers("a.test\r\nb.test\r\n");
    options.AntiIdle.Options[TAntiIdleOptions::CycleServerList] = true;
    echo.Script = {Answer(TProbeOutcome::Ok, 3), Held(Answer(TProbeOutcome::Timeout, -1, "Request timed out")),
                   Answer(TProbeOutcome::Ok, 4)};
    ASSERT_TRUE(engine->Start());        // a.test
    engine->Tick();                      // b.test, held
    engine->Tick();                      // a.test again
    echo.Release();
    ASSERT_EQ(rec.results.size(), 3u);
    const TProbeResult &late = rec.results.back();
    EXPECT_EQ(late.Host, "b.test");
    EXPECT_EQ(late.ServerIndex, 1);
    EXPECT_EQ(late.Row, 2);
    EXPECT_TRUE(late.Counted);
    EXPECT_EQ(rec.events.mid(rec.events.size() - 2),
              (QStringList{"line Error pinging b.test : Request timed out", "result echo b.test timeout row 2"}));
    const TSessionStats &stats = engine->Stats();
    EXPECT_EQ(stats.Rows()[0].Successes, 2);
    EXPECT_EQ(stats.Rows()[0].Failures, 0);
    EXPECT_EQ(stats.Rows()[1].Failures, 1);

    // A probe of a session that a newer one replaced is shown, not counted.
    echo.Script = {Held(Answer(TProbeOutcome::Ok, 7))};
    engine->Tick();                      // b.test, held
    engine->Stop();
    options.AntiIdle.Options[TAntiIdleOptions::CycleServerList] = false;
    ASSERT_TRUE(engine->Start());        // h.test answers at once
    const int before = int(rec.results.size());
    echo.Release();
    ASSERT_EQ(int(rec.results.size()), before + 1);
    EXPECT_FALSE(rec.results.back().Counted);
    EXPECT_EQ(rec.events.last(), "result echo b.test ok row 2 uncounted");
    EXPECT_TRUE(rec.events.contains("line b.test pinged in 7 msecs"));
    EXPECT_EQ(engine->Stats().Attempts(), 1);
    EXPECT_EQ(engine->Stats().Successes(), 1);

    // One that ends after its own session stopped, with none newer: counted
    // there. It ends later through the event loop.
    sessiontest::TStep later = Answer(TProbeOutcome::Ok, 8);
    later.DelayMs = 30;
    echo.Script = {later};
    engine->Tick();
    engine->Stop();
    ASSERT_EQ(echo.Pending(), 1);
    ASSERT_TRUE(testutil::waitFor([&] { return echo.Pending() == 0; }, 5s));
    EXPECT_TRUE(rec.results.back().Counted);
    EXPECT_EQ(rec.results.back().Ms, 8);
}

TEST_F(ScriptedEngine, StartsThatCannotWorkSayWhyAndSendNothing)
{
    const struct {
        const char *name;
        bool cycle;
        const char *frequency, *host;
        QByteArray servers;
        const char *reason;      // nullptr: the session starts
    } cases[] = {
        {"no host", false, "1", "", "a.test\r\n", NoHostText},
        {"frequency no number, one host", false, "1x", "h.test", "", "'1x' is not a valid integer value"},
        {"empty frequency, one host", false, "", "h.test", "", "'' is not a valid integer value"},
        {"frequency no number, cycling", true, "x", "", "a.test\r\n", "'x' is not a valid integer value"},
        {"empty list", true, "1", "h.test", "", "List index out of bounds (0)"},
        {"a host that is a URL without its port", false, "1", "tcp://h.test", "",
         "Cannot probe tcp://h.test: no port (tcp://HOST:PORT)"},
        {"a host that is a URL of no known kind", false, "1", "gopher://h.test", "",
         "Cannot probe gopher://h.test: unknown kind of probe \"gopher://\" (tcp, https, dns and echo are known)"},
        {"frequency with blanks", false, " 2 ", "h.test", "", nullptr},
        {"one host", false, "1", "h.test", "", nullptr},
        {"a list", true, "1", "", "a.test\r\n", nullptr},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        rec = TRecorder();
        echo.Requests.clear();
        WriteServers(c.servers);
        options.AntiIdle.Options[TAntiIdleOptions::CycleServerList] = c.cycle;
        options.AntiIdle.Frequency = QString::fromLatin1(c.frequency);
        options.AntiIdle.Host = QString::fromLatin1(c.host);
        QString reason = QStringLiteral("unchanged");
        const bool started = engine->Start(&reason);
        EXPECT_EQ(started, c.reason == nullptr);
        if (c.reason) {
            EXPECT_EQ(reason, c.reason);
            EXPECT_EQ(rec.messages, QStringList{c.reason});
            EXPECT_EQ(engine->Phase(), TSessionPhase::Starting);
            EXPECT_TRUE(echo.Requests.empty());
            EXPECT_FALSE(rec.events.contains("scheduled"));
            EXPECT_FALSE(rec.events.contains("started"));
        } else {
            EXPECT_EQ(reason, "unchanged");
            EXPECT_TRUE(rec.messages.isEmpty());
            EXPECT_EQ(engine->Phase(), TSessionPhase::Running);
            EXPECT_EQ(echo.Requests.size(), 1u);
            EXPECT_TRUE(rec.events.contains("started"));
        }
        engine->Stop();
        EXPECT_EQ(engine->Phase(), TSessionPhase::Idle);
    }
}

TEST_F(ScriptedEngine, AnOutageLastsFromItsFirstLostProbeToTheFirstAnswerBack)
{
    const struct {
        const char *name;
        const char *probes;      // after the opening echo, one a minute: o answered, x lost
        int downs, ups;
        qint64 durationMs;       // of the outage that ended (-1 none)
        int lost;
    } cases[] = {
        {"three lost, two back", "xxxoo", 1, 1, 3 * 60'000, 3},
        {"two lost: no outage", "xxoo", 0, 0, -1, 0},
        {"a lone answer does not end it", "xxxxoxoo", 1, 1, 6 * 60'000, 5},
        {"still down at the end", "xxxxo", 1, 0, -1, 0},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        rec = TRecorder();
        std::vector<TOutage> ups;
        struct TUps : TSessionObserver {
            std::vector<TOutage> *into;
            void LinkUp(const TOutage &o) override { into->push_back(o); }
        } upWatch;
        upWatch.into = &ups;
        engine->AddObserver(&upWatch);
        options.History.DownAfter = 3;
        options.History.UpAfter = 2;
        ASSERT_TRUE(engine->Start());
        const qint64 opened = clock.Ms();
        for (const char *p = c.probes; *p; ++p) {
            clock.Advance(60'000);
            echo.Script = {*p == 'o' ? Answer(TProbeOutcome::Ok, 10)
                                     : Answer(TProbeOutcome::Timeout, -1, "Request timed out")};
            engine->Tick();
        }
        EXPECT_EQ(int(rec.events.filter("link down").size()), c.downs);
        EXPECT_EQ(int(ups.size()), c.ups);
        if (c.durationMs >= 0) {
            ASSERT_EQ(ups.size(), 1u);
            EXPECT_EQ(ups[0].DurationMs(), c.durationMs);
            EXPECT_EQ(ups[0].ProbesLost, c.lost);
            // The first lost probe went a minute after the opening one.
            EXPECT_EQ(ups[0].Start.MonoNs / 1'000'000, opened + 60'000);
            EXPECT_EQ(ups[0].Start.WallUtc, clock.Start.addMSecs(opened + 60'000));
            EXPECT_EQ(ups[0].FirstReason, "Request timed out");
        }
        engine->Stop();
        engine->RemoveObserver(&upWatch);
    }
}

TEST_F(ScriptedEngine, AnEntryNamedByUrlGoesToItsKindWhateverTheMethod)
{
    const struct {
        const char *host;
        int method;
        session::TProbeKind kind;   // the transport the probes go to
        const char *target;         // what it is handed
        sessiontest::TStep step;    // the tick's probe (the opening one answers Ok)
        qint64 body;
        QStringList events;         // from the tick's probe sent on
        int successes, failures;
    } cases[] = {
        {"tcp://h.test:80", TAntiIdleOptions::IcmpPings, Tcp, "tcp://h.test:80", Answer(TProbeOutcome::Ok, 12), 0,
         {"sent tcp tcp://h.test:80", "line Connecting to h.test:80", "line TCP connect to h.test:80 in 12 msecs",
          "result tcp tcp://h.test:80 ok row 1"},
         2, 0},
        {" tcp://[fd00::1]:22 ", TAntiIdleOptions::Alternate, Tcp, "tcp://[fd00::1]:22",
         Answer(TProbeOutcome::Refused, -1, "refused"), 0,
         {"sent tcp  tcp://[fd00::1]:22 ", "line Connecting to [fd00::1]:22",
          "line TCP connect to [fd00::1]:22 failed: refused", "result tcp  tcp://[fd00::1]:22  refused row 1"},
         1, 1},
        {"https://h.test/x", TAntiIdleOptions::IcmpPings, Https, "https://h.test/x", Answer(TProbeOutcome::Ok, 40),
         321,
         {"sent https https://h.test/x", "line Connecting to https://h.test/x",
          "line Received 321 bytes from https://h.test/x in 40ms", "result https https://h.test/x ok row 1"},
         2, 0},
        {"https://h.test/x", TAntiIdleOptions::HttpGets, Https, "https://h.test/x",
         Answer(TProbeOutcome::TlsFailed, -1, "certificate has expired"), 0,
         {"sent https https://h.test/x", "line Connecting to https://h.test/x",
          "line Transfer from https://h.test/x failed. certificate has expired",
          "result https https://h.test/x tls-failed row 1"},
         1, 1},
        // A transfer's failed lookup is a failed transfer, as the designed GET's is.
        {"https://h.test", TAntiIdleOptions::HttpGets, Https, "https://h.test",
         Answer(TProbeOutcome::LookupFailed, -1, "can't resolve hostname to IP address"), 0,
         {"sent https https://h.test", "line Transfer from https://h.test failed. can't resolve hostname to IP address",
          "result https https://h.test lookup-failed row 1"},
         1, 1},
        {"dns:///x.test?type=mx", TAntiIdleOptions::HttpGets, Dns, "dns:///x.test?type=mx",
         Answer(TProbeOutcome::Ok, 7), 0,
         {"sent dns dns:///x.test?type=mx", "line Asking for x.test (MX)", "line DNS answer for x.test (MX) in 7 msecs",
          "result dns dns:///x.test?type=mx ok row 1"},
         2, 0},
        {"dns://10.0.0.53/x.test", TAntiIdleOptions::IcmpPings, Dns, "dns://10.0.0.53/x.test",
         Answer(TProbeOutcome::DnsError, -1, "NXDOMAIN"), 0,
         {"sent dns dns://10.0.0.53/x.test", "line Asking for x.test (A) at 10.0.0.53:53",
          "line DNS query for x.test (A) at 10.0.0.53:53 failed: NXDOMAIN",
          "result dns dns://10.0.0.53/x.test dns-error row 1"},
         1, 1},
        {"echo://h.test?count=5", TAntiIdleOptions::HttpGets, Burst, "echo://h.test?count=5",
         Answer(TProbeOutcome::Ok, 9), 0,
         {"sent burst echo://h.test?count=5", "line Sending 5 echoes to h.test", "line h.test pinged in 9 msecs",
          "result burst echo://h.test?count=5 ok row 1"},
         2, 0},
        // A burst's unknown name is told and counted as the designed echo's.
        {"echo://h.test?count=3", TAntiIdleOptions::IcmpPings, Burst, "echo://h.test?count=3",
         Answer(TProbeOutcome::LookupFailed, -1, "Unknown Host"), 0,
         {"sent burst echo://h.test?count=3", "line Unknown Host h.test",
          "result burst echo://h.test?count=3 lookup-failed row 1"},
         1, 1},
        // echo:// without a count is the designed echo, even with the HTTP method.
        {"echo://h.test", TAntiIdleOptions::HttpGets, Echo, "h.test", Answer(TProbeOutcome::Ok, 3), 0,
         {"sent echo echo://h.test", "line Sending 56 bytes to h.test", "line h.test pinged in 3 msecs",
          "result echo echo://h.test ok row 1"},
         2, 0},
        // http:// stays the designed GET's, handed over as written.
        {"http://h.test/x", TAntiIdleOptions::HttpGets, Http, "http://h.test/x", Answer(TProbeOutcome::Ok, 8), 10,
         {"sent http http://h.test/x", "line Connecting to http://h.test/x",
          "line Received 10 bytes from http://h.test/x in 8ms", "result http http://h.test/x ok row 1"},
         2, 0},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.host);
        rec = TRecorder();
        options.AntiIdle.Method = c.method;
        options.AntiIdle.Host = QString::fromUtf8(c.host);
        TScriptedTransport &transport = Of(c.kind);
        transport.Requests.clear();
        sessiontest::TStep step = c.step;
        step.Reply.BodyBytes = c.body;
        // A plain entry (http://) opens with the designed echo; a URL with its own kind.
        if (c.kind == Http)
            transport.Script = {step};
        else
            transport.Script = {transport.Otherwise, step};
        ASSERT_TRUE(engine->Start());
        engine->Tick();
        EXPECT_EQ(EventsFromSent(), c.events);
        EXPECT_EQ(rec.statuses.last(), QStringLiteral("Status: ") + c.events[c.events.size() - 2].mid(5));
        ASSERT_EQ(rec.results.size(), 2u);
        EXPECT_EQ(rec.results.front().Kind, c.kind == Http ? Echo : c.kind) << "the opening probe";
        ASSERT_FALSE(transport.Requests.empty());
        EXPECT_EQ(transport.Requests.back().Target, QString::fromUtf8(c.target));
        EXPECT_EQ(engine->Stats().Attempts(), 2);
        EXPECT_EQ(engine->Stats().Successes(), c.successes);
        EXPECT_EQ(engine->Stats().Failures(), c.failures);
        const TProbeResult &r = rec.results.back();
        EXPECT_EQ(r.Ms, c.step.Reply.Ms);
        EXPECT_EQ(r.Reason, c.step.Reply.Reason);
        engine->Stop();
    }
}

TEST_F(ScriptedEngine, AListMixesKindsAndAMalformedEntryIsAFailedProbe)
{
    WriteServers("a.test\r\nftp://x.test\r\ntcp://b.test:22\r\necho://c.test?count=40\r\nhttps://d.test\r\n");
    options.AntiIdle.Options[TAntiIdleOptions::CycleServerList] = true;
    options.AntiIdle.Method = TAntiIdleOptions::Alternate;
    tcp.Script = {Answer(TProbeOutcome::Timeout, -1, "no answer within 5000 ms")};
    https.Script = {Answer(TProbeOutcome::HttpError, -1, "Not Found")};
    ASSERT_TRUE(engine->Start());
    for (int i = 0; i < 5; ++i)
        engine->Tick();
    QStringList results;
    for (const TProbeResult &r : rec.results)
        results << QStringLiteral("%1 %2 %3 row %4").arg(sessiontest::KindName(r.Kind), r.Host, OutcomeName(r.Outcome)).arg(r.Row);
    // Alternate flips at every probe, URL or not: the plain entry gets an
    // echo first, then an HTTP GET when the list comes round; a malformed
    // entry is recorded under the method's kind.
    EXPECT_EQ(results, (QStringList{"echo a.test ok row 1", "http ftp://x.test failed row 2",
                                    "tcp tcp://b.test:22 timeout row 3", "http echo://c.test?count=40 failed row 4",
                                    "https https://d.test http-error row 5", "http a.test ok row 1"}));
    EXPECT_TRUE(rec.events.contains(
        "line Cannot probe ftp://x.test: unknown kind of probe \"ftp://\" (tcp, https, dns and echo are known)"));
    EXPECT_TRUE(rec.events.contains("line Cannot probe echo://c.test?count=40: count \"40\" is not a number in 1..20"));
    EXPECT_TRUE(rec.events.contains("line TCP connect to b.test:22 failed: no answer within 5000 ms"));
    EXPECT_TRUE(rec.events.contains("line Transfer from https://d.test failed. Not Found"));
    EXPECT_TRUE(burst.Requests.empty()) << "a malformed entry sends nothing";
    EXPECT_EQ(engine->Stats().Attempts(), 6);
    EXPECT_EQ(engine->Stats().Failures(), 4);
    engine->Stop();
}
