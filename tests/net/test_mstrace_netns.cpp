// The traceroute engine over the test network: client, r1, r2 and the hosts
// behind them, names from the test name server. The test thread runs inside
// the client namespace.
#include "net/mstrace.h"
#include "net/traceprobes.h"
#include "platform/resolver.h"
#include "tracerecorder.h"
#include "wiretap.h"
#include "../support/netfixture.h"
#include "../support/testutil.h"

#include <QElapsedTimer>
#include <QTimer>
#include <gtest/gtest.h>
#include <algorithm>

using namespace std::chrono_literals;

namespace {

class TraceNet : public testnet::NetTest {
protected:
    static void SetUpTestSuite()
    {
        NetTest::SetUpTestSuite();
        silentRoute = net && net->ok() && net->addSilentRoute();
    }
    void TearDown() override { scope.reset(); }
    // The route through the silent router, its far host named.
    void NeedSilentRoute()
    {
        ASSERT_TRUE(silentRoute);
        // dnsmasq rereads its records after the signal: wait until it has.
        ASSERT_TRUE(testutil::waitFor([] {
            platform::HostEntry e4, e6;
            return platform::LookupName("beyond.idlix.test", e4) == 0
                && platform::LookupHost("beyond.v6.idlix.test", platform::FamilyChoice::Automatic, e6) == 0;
        }, 5000ms));
    }
    static inline bool silentRoute = false;
};

const QStringList kRouteLines = {"data 11013 1\tRTT\tr1.idlix.test",
                                 "data 11013 2\tRTT\tr2.idlix.test"};

} // namespace

// The same lines in both modes, through both kinds of ICMP socket.
TEST_F(TraceNet, RouteWithNamesInBothModes)
{
    for (bool datagram : {true, false}) {
        ASSERT_TRUE(net->setPingAllowed(datagram));
        for (bool test : {false, true}) {
            QStringList expected = kRouteLines;
            expected << "data 0 3\tRTT\thost.idlix.test\treached";
            if (test) {
                expected.prepend("test 3");
                expected << "finished host.idlix.test reached in 3 hops. (expected: 3)";
            } else {
                expected << "finished host.idlix.test reached in 3 hops.";
            }
            for (TWSMode mode : {wsmAsync, wsmBlocking}) {
                SCOPED_TRACE(std::string(ModeName(mode)) + (test ? " with test echo" : "")
                             + (datagram ? " datagram" : " raw"));
                RecordedTrace r(mode);
                TMSTrace &t = r.trace;
                TraceRecorder &rec = r.rec;
                t.SetTimeToLive(64);
                t.SetTimeOut(3000);
                t.SendTestPacket = test;
                ASSERT_TRUE(rec.Run("host", 20s)) << rec.events.join('|').toStdString();
                EXPECT_EQ(rec.events.join('|').toStdString(), expected.join('|').toStdString());
                EXPECT_EQ(t.TargetName, "host.idlix.test");  // the official name, not "host"
                EXPECT_EQ(t.TargetAddrText, testnet::kHost);
                EXPECT_EQ(t.HopAddrText, testnet::kHost);
                EXPECT_LT(t.EchoReply.RoundTripTime, 1000u);
            }
        }
    }
}

TEST_F(TraceNet, TargetsByAddressAndUnknownNames)
{
    struct Case {
        const char *host;
        QStringList expected;
        const char *targetName;
    } cases[] = {
        // r2's own address on the LAN has no reverse record: still traced.
        {"10.200.3.1",
         {kRouteLines[0], "data 0 2\tRTT\t10.200.3.1\treached",
          "finished 10.200.3.1 reached in 2 hops."},
         "10.200.3.1"},
        {"10.200.3.10",
         {kRouteLines[0], kRouteLines[1], "data 0 3\tRTT\thost.idlix.test\treached",
          "finished host.idlix.test reached in 3 hops."},
         "host.idlix.test"},
        {"nosuch.idlix.test", {"error 11001 Authoritative Host not found"}, ""},
    };
    for (TWSMode mode : {wsmAsync, wsmBlocking}) {
        for (const auto &c : cases) {
            SCOPED_TRACE(std::string(c.host) + " " + ModeName(mode));
            RecordedTrace r(mode);
            TMSTrace &t = r.trace;
            TraceRecorder &rec = r.rec;
            ASSERT_TRUE(rec.Run(c.host, 20s));
            EXPECT_EQ(rec.events.join('|').toStdString(), c.expected.join('|').toStdString());
            EXPECT_EQ(t.TargetName, c.targetName);
        }
    }
}

TEST_F(TraceNet, HostThatDropsEchoes)
{
    for (TWSMode mode : {wsmAsync, wsmBlocking}) {
        SCOPED_TRACE(ModeName(mode));
        RecordedTrace r(mode);
        TMSTrace &t = r.trace;
        TraceRecorder &rec = r.rec;
        t.SetTimeToLive(4);
        t.SetTimeOut(300);
        // The test echo is not answered: the run ends before hop 1.
        t.SendTestPacket = true;
        ASSERT_TRUE(rec.Run("quiet", 10s));
        EXPECT_EQ(rec.events, QStringList{"error 11010 Request timed out"});
        // Without it the hops after the last router time out, up to the limit.
        t.SendTestPacket = false;
        ASSERT_TRUE(rec.Run("quiet", 10s));
        QStringList expected = kRouteLines;
        expected << "data 11010 3\t*\ttimed out" << "data 11010 4\t*\ttimed out"
                 << "finished quiet.idlix.test: Request timed out";
        EXPECT_EQ(rec.events.join('|').toStdString(), expected.join('|').toStdString());
    }
}

TEST_F(TraceNet, CancelInEachStep)
{
    for (TWSMode mode : {wsmAsync, wsmBlocking}) {
        SCOPED_TRACE(ModeName(mode));
        // Asynchronously every echo out would wait 4 s: a cancel that waited
        // for one would show. Blocking, the window is frozen while the echoes
        // are out: the click is taken when they come back, and then at once.
        const auto kLongWait = mode == wsmAsync ? 4000ms : 1500ms;
        RecordedTrace r(mode);
        TMSTrace &t = r.trace;
        TraceRecorder &rec = r.rec;
        t.SetTimeOut(int(kLongWait.count()));
        // While hop 3's echo (and the ones after it) are out to a host that
        // never answers: hop 3 is reported as cancelled at once, after the
        // click has returned.
        QElapsedTimer sinceCancel;
        int eventsInCancel = -1;
        auto record = t.OnData;
        t.OnData = [&](QObject *s, std::int32_t status) {
            record(s, status);
            if (t.ProbeOptions.Ttl == 2)
                QTimer::singleShot(200, &t, [&] {
                    const qsizetype before = rec.events.size();
                    sinceCancel.start();
                    t.Cancel();
                    eventsInCancel = int(rec.events.size() - before);
                });
        };
        ASSERT_TRUE(rec.Run("quiet", 20s));
        QStringList expected = kRouteLines;
        expected << "data -2147483389 <cancel>" << "finished Trace Cancelled after 2 hops.";
        EXPECT_EQ(rec.events.join('|').toStdString(), expected.join('|').toStdString());
        EXPECT_EQ(eventsInCancel, 0);
        EXPECT_LT(sinceCancel.elapsed(), kLongWait.count() / 2);
        t.OnData = record;

        // During the test echo, which the quiet host never answers: no hop
        // was probed, and none is.
        t.SendTestPacket = true;
        rec.events.clear();
        rec.ends = 0;
        t.Start("quiet");
        ASSERT_TRUE(testutil::waitFor(
            [&] { return t.State() == TMSicmpTask::TState::Testing; }, 5s));
        sinceCancel.start();
        t.Cancel();
        ASSERT_TRUE(rec.Wait(10s));
        EXPECT_LT(sinceCancel.elapsed(), kLongWait.count() / 2);
        EXPECT_EQ(rec.events, (QStringList{"data -2147483389 <cancel>",
                                           "finished Trace Cancelled after 0 hops."}));
    }
    // During the asynchronous lookup of a name the test server knows.
    TMSTrace t;
    TraceRecorder rec(t);
    t.Start("host.idlix.test");
    t.Cancel();
    EXPECT_EQ(rec.events, QStringList{"error -2147483647 Cancelled Asynchronous lookup"});
    testutil::pump(500ms);
    EXPECT_EQ(rec.events.size(), 1);
    EXPECT_FALSE(t.Busy());
}

// Both families: IPv4's TTL and IPv6's hop limit set per hop.
TEST_F(TraceNet, EchoRequestsOnTheWire)
{
    for (const char *target : {testnet::kHost, testnet::kHost6}) {
        for (bool datagram : {true, false}) {
            SCOPED_TRACE(std::string(target) + (datagram ? " datagram" : " raw"));
            ASSERT_TRUE(net->setPingAllowed(datagram));
            ExpectTraceRequestsOnTheWire(target);
        }
    }
}

// A router that never answers, with hops after it that do: the silent hop
// is given up long before its time-out, and the lines are the same as if it
// had been waited for, in hop order.
TEST_F(TraceNet, SilentRouterIsGivenUpOnceTheHopsAfterItAnswered)
{
    NeedSilentRoute();
    const struct {
        const char *name;       // as typed
        const char *domain;     // of the routers and the far host
        const char *address;    // the far host's
    } families[] = {
        {"beyond", "idlix.test", testnet::kBeyond},
        {"beyond.v6", "v6.idlix.test", testnet::kBeyond6},
    };
    constexpr int kTimeOut = 10000;
    for (const auto &f : families) {
        for (bool test : {false, true}) {
            for (TWSMode mode : {wsmAsync, wsmBlocking}) {
                SCOPED_TRACE(std::string(f.name) + " " + ModeName(mode) + (test ? " with test echo" : ""));
                RecordedTrace r(mode);
                TMSTrace &t = r.trace;
                TraceRecorder &rec = r.rec;
                t.SetTimeToLive(64);
                t.SetTimeOut(kTimeOut);
                t.SendTestPacket = test;
                QElapsedTimer took;
                took.start();
                ASSERT_TRUE(rec.Run(f.name, 20s)) << rec.events.join('|').toStdString();
                const QString far = QStringLiteral("beyond.%1").arg(f.domain);
                QStringList expected;
                for (int hop : {1, 2})
                    expected << QStringLiteral("data 11013 %1\tRTT\tr%1.%2").arg(hop).arg(f.domain);
                expected << "data 11010 3\t*\ttimed out" << "data 0 4\tRTT\t" + far + "\treached";
                if (test) {
                    expected.prepend("test 4");
                    expected << "finished " + far + " reached in 4 hops. (expected: 4)";
                } else {
                    expected << "finished " + far + " reached in 4 hops.";
                }
                EXPECT_EQ(rec.events.join('|').toStdString(), expected.join('|').toStdString());
                EXPECT_EQ(rec.hopTtls, (QList<int>{1, 2, 3, 4}));
                EXPECT_EQ(t.TargetAddrText, f.address);
                EXPECT_LT(took.elapsed(), kTimeOut / 4);
            }
        }
    }
}

// Hops with nothing answering after them keep the whole time-out: the quiet
// host never answers, so hop 3 is not reported before its time-out, and the
// hops after it (out at the same time) follow at once.
TEST_F(TraceNet, SilentHopsWithNothingAfterThemKeepTheTimeOut)
{
    constexpr int kTimeOut = 800;
    for (TWSMode mode : {wsmAsync, wsmBlocking}) {
        SCOPED_TRACE(ModeName(mode));
        RecordedTrace r(mode);
        TMSTrace &t = r.trace;
        TraceRecorder &rec = r.rec;
        t.SetTimeToLive(6);
        t.SetTimeOut(kTimeOut);
        QElapsedTimer took;
        qint64 hop3At = -1;
        auto record = t.OnData;
        t.OnData = [&](QObject *s, std::int32_t status) {
            record(s, status);
            if (t.ProbeOptions.Ttl == 3)
                hop3At = took.elapsed();
        };
        took.start();
        ASSERT_TRUE(rec.Run("quiet", 10s));
        QStringList expected = kRouteLines;
        for (int hop = 3; hop <= 6; ++hop)
            expected << QStringLiteral("data 11010 %1\t*\ttimed out").arg(hop);
        expected << "finished quiet.idlix.test: Request timed out";
        EXPECT_EQ(rec.events.join('|').toStdString(), expected.join('|').toStdString());
        // The echo's own wait may end a little short of the time-out (whole
        // milliseconds); a give-up would come after 10 ms or so.
        EXPECT_GE(hop3At, kTimeOut - 50);
        // All four silent hops were out together: one time-out, not four.
        EXPECT_LT(took.elapsed(), 3 * kTimeOut);
    }
}

// Once the target has answered nothing is sent beyond it: on the silent
// route the target answers every probe from hop 4 on at once, and nothing
// but the first window (and what the routers' reports let out before the
// target's answers came in) reaches it, not even after the run. The rule
// itself, hop by hop: HopTable.TheTargetsAnswerEndsTheRouteThere.
TEST_F(TraceNet, TargetsAnswerStopsFurtherSends)
{
    NeedSilentRoute();
    for (TWSMode mode : {wsmAsync, wsmBlocking}) {
        SCOPED_TRACE(ModeName(mode));
        WireTap tap;
        ASSERT_TRUE(tap.ok());
        RecordedTrace r(mode);
        r.trace.SetTimeToLive(64);
        r.trace.SetTimeOut(5000);
        ASSERT_TRUE(r.rec.Run(testnet::kBeyond, 10s));
        EXPECT_EQ(r.rec.events.last(), "finished beyond.idlix.test reached in 4 hops.");
        testutil::pump(300ms);
        // The first window, and at most the two routers' hops reported before
        // the target's answers came in.
        ExpectOneWindowOfHops(tap.Requests(testnet::kBeyond), 4);
    }
}

// A worker's echo still out when its component goes: it finishes on its own
// and writes nowhere (run under AddressSanitizer to see a fault).
TEST_F(TraceNet, DestroyedWhileAnEchoIsOut)
{
    // Probes dropped by earlier cases end by their own time-outs.
    ASSERT_TRUE(testutil::waitFor(
        [] { return TPingThread::Running() == 0 && TTraceProbes::Running() == 0; }, 10s));
    for (bool test : {false, true}) {
        SCOPED_TRACE(test ? "test echo out" : "hop echo out");
        int events = 0;
        auto *t = new TMSTrace;
        t->SetTimeOut(700);
        t->SendTestPacket = test;
        t->OnData = [&](QObject *, std::int32_t) { ++events; };
        t->OnError = [&](QObject *, std::int32_t, const QString &) { ++events; };
        t->OnFinished = [&](QObject *) { ++events; };
        t->Start("quiet");
        ASSERT_TRUE(testutil::waitFor(
            [&] { return t->State() != TMSicmpTask::TState::LookingUp; }, 5s));
        if (test) {
            EXPECT_EQ(TPingThread::Running(), 1);
        } else {
            // The routers answer at once; hop 3 and the ones after it wait.
            ASSERT_TRUE(testutil::waitFor([&] { return events == 2; }, 5s));
            EXPECT_GE(TTraceProbes::Running(), 1);
        }
        const int before = events;
        delete t;
        ASSERT_TRUE(testutil::waitFor(
            [] { return TPingThread::Running() == 0 && TTraceProbes::Running() == 0; }, 3s));
        testutil::pump(200ms);
        EXPECT_EQ(events, before);
    }
    // A handler may free its component in the middle of a blocking run.
    auto *t = new TMSTrace;
    t->Mode = wsmBlocking;
    int hops = 0;
    t->OnData = [&](QObject *s, std::int32_t) {
        if (++hops == 2)
            delete static_cast<TMSTrace *>(s);
    };
    t->Start("host");
    EXPECT_EQ(hops, 2);
}
