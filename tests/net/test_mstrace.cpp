// The traceroute engine on loopback: its texts, properties and result
// classification, whole runs to 127.0.0.1 in both modes, refusals, cancels and
// a process without ICMP access. Routes of several hops: test_mstrace_netns.
#include "net/mstrace.h"
#include "net/errorreport.h"
#include "tracerecorder.h"
#include "../support/testutil.h"
#include "platform/services.h"

#include <gtest/gtest.h>
#include <unistd.h>

using namespace std::chrono_literals;

namespace {

bool canPing() { return platform::IcmpAvailable(nullptr); }

} // namespace

TEST(MSTraceTexts, BothTablesAndTheirGaps)
{
    struct Row {
        int code;
        const char *winsock;
        const char *icmp;
    } rows[] = {
        {0, "", "Success"},
        {10004, "Blocking call cancelled", ""},
        {10035, "Socket marked as non-blocking and SO_LINGER set not 0", ""},
        {10065, "Host unreachable", ""},
        {10093, "WSA Startup not initialized", ""},
        // Same numbers, two meanings: resolver outcome or IP status.
        {11001, "Authoritative Host not found", "Buffer too small"},
        {11002, "Non-authoritative Host not found or server failure", "Destination net unreachable"},
        {11003, "Non-recoverable: refused or not implemented", "Destination host unreachable"},
        {11004, "Valid name, no data record for type", "Destination protocol unreachable"},
        {11007, "", "Bad Option"},
        {11010, "", "Request timed out"},
        {11013, "", "TTL expired in transit"},
        {11018, "", "Bad destination"},
        {11022, "", "Unload"},
        {11050, "", "General failure"},
        {10013, "", ""},  // in neither table
        {11023, "", ""},
        {-1, "", ""},
    };
    for (const auto &r : rows) {
        EXPECT_EQ(WinsockErrorText(r.code), r.winsock) << r.code;
        EXPECT_EQ(IcmpStatusText(r.code), r.icmp) << r.code;
    }
}

TEST(MSTraceProps, DefaultsAndStoredRanges)
{
    TMSTrace t;
    EXPECT_EQ(t.PacketSize(), 56);
    EXPECT_EQ(t.TimeOut(), 2500);
    EXPECT_EQ(t.TimeToLive(), 32);
    EXPECT_EQ(t.ProbeOptions.Ttl, 32);
    EXPECT_EQ(t.Mode, wsmAsync);
    EXPECT_FALSE(t.Resolve);
    EXPECT_FALSE(t.SendTestPacket);
    EXPECT_FALSE(t.Busy());
    EXPECT_EQ(t.DestAddr, 0xFFFFFFFFu);

    struct Row { int set, size, timeout, ttl; } rows[] = {
        {3, 8, 3, 3},             // size below 8 stored as 8
        {8, 8, 8, 8},
        {-5, 8, 0, 1},
        {65535, 65535, 65535, 255},
        {70000, 70000, 65535, 255},  // a time-out beyond 16 bits is clamped
        {1000000, 1000000, 65535, 255},
    };
    for (const auto &r : rows) {
        t.SetPacketSize(r.set);
        t.SetTimeOut(r.set);
        t.SetTimeToLive(r.set);
        EXPECT_EQ(t.PacketSize(), r.size) << r.set;
        EXPECT_EQ(t.TimeOut(), r.timeout) << r.set;
        EXPECT_EQ(t.TimeToLive(), r.ttl) << r.set;
    }
}

TEST(MSTraceProps, HopsFromTheReplyTtl)
{
    struct Row { int ttl, hops; } rows[] = {
        {255, 1}, {250, 6}, {129, 127},  // started at 255
        {128, 1}, {120, 9}, {65, 64},    // at 128
        {64, 1}, {62, 3}, {60, 5}, {33, 32},  // at 64 (a Linux host)
        {32, 1}, {30, 3}, {1, 32},       // at 32
        {0, 0},                          // unknown: no estimate
    };
    for (const auto &r : rows)
        EXPECT_EQ(TMSTrace::HopsForReplyTtl(r.ttl), r.hops) << r.ttl;
}

// IPv6 hosts start from 64, 128 or 255: a hop limit of 32 or less is far
// from a host that started at 64, not near one that started at 32.
TEST(MSTraceProps, HopsFromTheReplyHopLimit)
{
    struct Row { int hopLimit, hops; } rows[] = {
        {255, 1}, {250, 6}, {129, 127},
        {128, 1}, {65, 64},
        {64, 1}, {62, 3}, {33, 32}, {32, 33}, {30, 35}, {1, 64},
        {0, 0},
    };
    for (const auto &r : rows)
        EXPECT_EQ(TMSTrace::HopsForReplyTtl(r.hopLimit, platform::Family::IPv6), r.hops)
            << r.hopLimit;
}

TEST(MSTraceProps, CheckResultClassifies)
{
    struct Row {
        std::int32_t code;
        std::uint32_t replyStatus;
        bool reported;
        std::int32_t after;
        std::uint32_t statusAfter;
        const char *text;
    } rows[] = {
        {0, 0, true, 0, 0, "Success"},
        {0, 11013, true, 11013, 11013, "TTL expired in transit"},
        {0, 11003, true, 11003, 11003, "Destination host unreachable"},
        {11010, 0, true, 11010, 11010, "Request timed out"},
        {11009, 0, true, 11009, 11009, "Packet too big"},
        {kMsNoIcmp, 0, false, kMsNoIcmp, 0, "Unable to get a handle for the Ping"},
        {10055, 0, false, 10055, 0, "No buffer space available"},
        {10000, 0, false, 10000, 0, ""},
        {11000, 0, false, 11000, 0, ""},
    };
    TMSicmp p;
    for (const auto &r : rows) {
        p.ResultCode = r.code;
        p.EchoReply.Status = r.replyStatus;
        EXPECT_EQ(p.CheckResult(), r.reported) << r.code;
        EXPECT_EQ(p.ResultCode, r.after) << r.code;
        EXPECT_EQ(p.EchoReply.Status, r.statusAfter) << r.code;
        EXPECT_EQ(p.ResultText, r.text) << r.code;
    }
}

TEST(MSTraceProps, ErrorsWithoutAHandlerGoToAMessageBox)
{
    QStringList shown;
    platform::Services().Error = [&](const QString &t) { shown << t; };
    TMSTrace t;
    t.Start(QString());
    platform::Services().Error = {};
    EXPECT_EQ(shown, QStringList{"Ping Error -2147483646: No Address Specified"});
}

TEST(MSTraceRun, LoopbackInBothModes)
{
    if (!canPing())
        GTEST_SKIP() << "this process may not send ICMP echoes";
    struct Case {
        const char *host;
        bool test;
        QStringList expected;
    } cases[] = {
        // No test echo to loopback: it counts as answered from TTL 255.
        {"127.0.0.1", true,
         {"test 1", "data 0 1\tRTT\tlocalhost\treached",
          "finished localhost reached in 1 hops. (expected: 1)"}},
        {"localhost", false,
         {"data 0 1\tRTT\tlocalhost\treached", "finished localhost reached in 1 hops."}},
    };
    for (TWSMode mode : {wsmAsync, wsmBlocking}) {
        for (const auto &c : cases) {
            SCOPED_TRACE(std::string(c.host) + " " + ModeName(mode));
            RecordedTrace r(mode);
            TMSTrace &t = r.trace;
            TraceRecorder &rec = r.rec;
            t.SendTestPacket = c.test;
            ASSERT_TRUE(rec.Run(c.host, 10s)) << rec.events.join('|').toStdString();
            EXPECT_EQ(rec.events, c.expected);
            EXPECT_EQ(rec.sender, &t);
            EXPECT_TRUE(rec.busyInEvents);
            EXPECT_EQ(t.TargetAddrText, "127.0.0.1");
            EXPECT_EQ(t.TargetName, "localhost");
            EXPECT_EQ(t.HopText(), "");  // outside a run
        }
    }
}

TEST(MSTraceRun, RefusalsAndCancelledLookups)
{
    if (!canPing())
        GTEST_SKIP() << "this process may not send ICMP echoes";
    for (TWSMode mode : {wsmAsync, wsmBlocking}) {
        SCOPED_TRACE(ModeName(mode));
        TMSTrace t;
        t.Mode = mode;
        TraceRecorder rec(t);
        // Empty host: an error, no OnFinished, idle again.
        ASSERT_TRUE(rec.Run(QString(), 2s));
        EXPECT_EQ(rec.events, QStringList{"error -2147483646 No Address Specified"});
        EXPECT_FALSE(t.Busy());
        // Cancel with nothing running does nothing.
        t.Cancel();
        testutil::pump(50ms);
        EXPECT_EQ(rec.ends, 1);
        // A run after an error is accepted.
        ASSERT_TRUE(rec.Run("127.0.0.1", 10s));
        EXPECT_EQ(rec.events.last().toStdString(), "finished 127.0.0.1 reached in 1 hops.");
    }

    // Start while busy: refused, and the running trace goes on to its end.
    TMSTrace t;
    TraceRecorder rec(t);
    t.Start("localhost");
    ASSERT_TRUE(t.Busy());
    t.Start("127.0.0.1");
    EXPECT_EQ(rec.events, QStringList{"error -2147483388 Already in Progress"});
    EXPECT_TRUE(t.Busy());
    rec.ends = 0;
    ASSERT_TRUE(rec.Wait(10s));
    EXPECT_EQ(rec.events.last().toStdString(), "finished 127.0.0.1 reached in 1 hops.");

    // Cancel while the asynchronous lookup is out: the run ends at once.
    rec.events.clear();
    t.Start("localhost");
    ASSERT_EQ(t.State(), TMSicmpTask::TState::LookingUp);
    t.Cancel();
    EXPECT_EQ(rec.events, QStringList{"error -2147483647 Cancelled Asynchronous lookup"});
    EXPECT_FALSE(t.Busy());
    testutil::pump(300ms);  // the lookup's late answer goes nowhere
    EXPECT_EQ(rec.events.size(), 1);
}

TEST(MSTraceRun, OversizedPacketsAreReportedPerHop)
{
    if (!canPing())
        GTEST_SKIP() << "this process may not send ICMP echoes";
    TMSTrace t;
    t.SetPacketSize(2000000000);  // never allocated: no datagram carries it
    t.SetTimeToLive(3);
    TraceRecorder rec(t);
    ASSERT_TRUE(rec.Run("localhost", 10s));
    const QString line = "data 11009 localhost: Packet too big";
    EXPECT_EQ(rec.events,
              (QStringList{line, line, line, "finished localhost: Packet too big"}));
    EXPECT_EQ(rec.hopTtls, (QList<int>{1, 2, 3}));
}

// Without ICMP the program still starts; each trace says so and finishes.
TEST(MSTraceRun, WithoutIcmpEachTraceErrsThenFinishes)
{
    if (!testutil::isRoot())
        GTEST_SKIP() << "needs root to make a namespace and drop a capability";
    const int failed = testutil::withoutIcmpAccess([] {
        TMSTrace t;  // creating it is fine without ICMP
        TraceRecorder rec(t);
        for (int i = 0; i < 2; ++i) {
            rec.events.clear();
            t.Start("127.0.0.1");
            const QString why = "ICMP disabled: this system lets Idlix open no ICMP socket (allow it with "
                                "net.ipv4.ping_group_range or cap_net_raw)";
            if (rec.events != QStringList{"error -2147483392 " + why, "finished " + why})
                return 20;
            if (t.Busy())
                return 21;
        }
        // The window's one-time hint on allowing ICMP.
        const QString hint = TMSicmp::AccessHintOnce();
        if (!hint.contains("ping_group_range") || !TMSicmp::AccessHintOnce().isEmpty())
            return 22;
        return 0;
    });
    EXPECT_EQ(failed, 0) << "step that failed: " << failed;
}
