// The bookkeeping of a traceroute with several probes out: which hop may go
// next, whose turn it is, where the route ends, and when a silent hop is
// given up. Times are made up here, so every rule is checked exactly.
#include "net/hoptable.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

constexpr std::uint32_t kNone = 0xFFFFFFFFu;

// A reply record as a router (time exceeded) or the target (echo reply) sends it.
platform::IcmpEchoReply Reply(std::uint32_t status, std::uint32_t from = 0x0100000A)
{
    platform::IcmpEchoReply r;
    r.Address = from;
    r.Status = status;
    r.Options.Ttl = 64;
    return r;
}

platform::IcmpEchoReply NoReply()
{
    platform::IcmpEchoReply r;
    r.Address = kNone;
    return r;
}

// Sends every hop the table lets go, at 'at', each left at once.
std::vector<int> SendAll(THopTable &t, std::int64_t at)
{
    std::vector<int> sent;
    while (const int ttl = t.NextToSend()) {
        t.Sent(ttl, at);
        t.Left(ttl, at);
        sent.push_back(ttl);
    }
    return sent;
}

std::vector<int> Range(int from, int to)
{
    std::vector<int> out;
    for (int i = from; i <= to; ++i)
        out.push_back(i);
    return out;
}

} // namespace

TEST(HopTable, SilentWaitFollowsTheNearestAnswerWithinItsBounds)
{
    struct Row {
        std::int64_t laterRttUs;
        int timeOutMs;
        std::int64_t waitUs;
    } rows[] = {
        {-1, 15000, 15'000'000},   // nothing later answered: the whole time-out
        {-1, 0, 0},
        {200, 15000, 10'000},      // 10 x 0.2 ms is below the floor
        {1'000, 15000, 10'000},    // 10 x 1 ms is the floor itself
        {4'000, 15000, 40'000},    // 10 x 4 ms
        {120'000, 15000, 1'200'000},
        {900'000, 2000, 2'000'000},  // never past the time-out
        {500, 5, 5'000},           // a time-out below the floor wins
    };
    for (const Row &r : rows)
        EXPECT_EQ(THopTable::SilentWaitUs(r.laterRttUs, r.timeOutMs), r.waitUs)
            << r.laterRttUs << " us, time-out " << r.timeOutMs << " ms";
}

TEST(HopTable, AWindowOfHopsGoesOutCountedFromTheHopWhoseTurnItIs)
{
    THopTable t;
    t.Reset(64, 1000);
    EXPECT_EQ(SendAll(t, 0), Range(1, THopTable::kWindow));
    // Answers beyond the first hop open nothing: hop 1 still holds its place.
    for (int ttl = 2; ttl <= 5; ++ttl)
        EXPECT_TRUE(t.Answered(ttl, 0, Reply(platform::kIpTtlExpiredTransit), 100, false));
    EXPECT_EQ(t.NextToSend(), 0);
    EXPECT_EQ(t.Ready(), 0);
    ASSERT_TRUE(t.Answered(1, 0, Reply(platform::kIpTtlExpiredTransit), 100, false));
    // Reported in hop order, each opening one more place in the window.
    std::vector<int> reported;
    while (const int ttl = t.Ready()) {
        reported.push_back(ttl);
        t.Reported();
    }
    EXPECT_EQ(reported, Range(1, 5));
    EXPECT_EQ(SendAll(t, 0), Range(THopTable::kWindow + 1, THopTable::kWindow + 5));
    EXPECT_EQ(t.OutCount(), THopTable::kWindow);

    // The hop limit ends the sending whatever the window allows.
    t.Reset(3, 1000);
    EXPECT_EQ(SendAll(t, 0), Range(1, 3));
    EXPECT_EQ(t.LastHop(), 3);
}

TEST(HopTable, TheTargetsAnswerEndsTheRouteThere)
{
    THopTable t;
    t.Reset(64, 1000);
    SendAll(t, 0);
    // Hop 6 and 9 are answered by the target; hop 4 by a router.
    EXPECT_TRUE(t.Answered(9, 0, Reply(platform::kIpSuccess), 300, false));
    EXPECT_EQ(t.LastHop(), 9);
    EXPECT_TRUE(t.Answered(6, 0, Reply(platform::kIpSuccess), 300, false));
    EXPECT_EQ(t.LastHop(), 6);
    EXPECT_TRUE(t.Answered(4, 0, Reply(platform::kIpTtlExpiredTransit), 100, false));
    EXPECT_EQ(t.LastHop(), 6);
    // Answers from beyond the target's hop are not waited for.
    EXPECT_FALSE(t.Answered(7, 0, Reply(platform::kIpSuccess), 300, false));
    EXPECT_FALSE(t.Answered(12, 11010, NoReply(), 1'000'000, false));
    // However many hops are reported now, nothing more goes out.
    for (int ttl : {1, 2, 3, 5})
        t.Answered(ttl, 0, Reply(platform::kIpTtlExpiredTransit), 100, false);
    std::vector<int> reported;
    while (const int ttl = t.Ready()) {
        reported.push_back(ttl);
        EXPECT_EQ(t.NextToSend(), 0) << "after hop " << ttl;
        t.Reported();
    }
    EXPECT_EQ(reported, Range(1, 6));
    EXPECT_EQ(t.NextToSend(), 0);
    EXPECT_EQ(t.OutCount(), 0);
    // A failure or a time-out is no target's answer.
    t.Reset(64, 1000);
    SendAll(t, 0);
    t.Answered(2, 11010, NoReply(), 1'000'000, false);
    t.Answered(3, 0, Reply(platform::kIpDestHostUnreachable), 100, false);
    EXPECT_EQ(t.LastHop(), 64);
}

TEST(HopTable, SilentHopsAreGivenUpOnlyOnceALaterHopAnswered)
{
    const std::int64_t sent = 1'000'000;
    THopTable t;
    t.Reset(64, 5000);
    SendAll(t, sent);
    // Nothing answered yet: no give-up is due, every hop waits for its echo.
    EXPECT_EQ(t.GiveUp(sent + 4'000'000), -1);
    EXPECT_EQ(t.Ready(), 0);
    // Hop 1 answers; 2 and 3 stay silent; 4 answers in 2 ms and 6 in 3 ms.
    t.Answered(1, 0, Reply(platform::kIpTtlExpiredTransit), 500, false);
    t.Answered(4, 0, Reply(platform::kIpTtlExpiredTransit), 2'000, false);
    t.Answered(6, 0, Reply(platform::kIpTtlExpiredTransit), 3'000, false);
    // Hops 2 and 3 go 10 x 2 ms after they left; hop 5 10 x 3 ms after.
    EXPECT_EQ(t.GiveUp(sent + 19'999), sent + 20'000);
    EXPECT_EQ(t.Hop(2).stage, THopTable::TStage::Out);
    EXPECT_EQ(t.GiveUp(sent + 20'000), sent + 30'000);
    EXPECT_EQ(t.Hop(2).stage, THopTable::TStage::GivenUp);
    EXPECT_EQ(t.Hop(3).stage, THopTable::TStage::GivenUp);
    EXPECT_EQ(t.Hop(5).stage, THopTable::TStage::Out);
    // Hops 7 and beyond have nothing answered after them.
    EXPECT_EQ(t.GiveUp(sent + 30'000), -1);
    EXPECT_EQ(t.Hop(5).stage, THopTable::TStage::GivenUp);
    EXPECT_EQ(t.Hop(7).stage, THopTable::TStage::Out);
    // A given-up hop's late answer is no longer wanted.
    EXPECT_FALSE(t.Answered(2, 0, Reply(platform::kIpTtlExpiredTransit), 25'000, false));
    std::vector<int> reported;
    while (const int ttl = t.Ready()) {
        reported.push_back(ttl);
        t.Reported();
    }
    EXPECT_EQ(reported, Range(1, 6));
}

TEST(HopTable, WhatDoesNotCountForAGiveUp)
{
    const std::int64_t sent = 0;
    struct Case {
        const char *what;
        std::int32_t laterCode;      // how hop 3 ended
        bool hop2Left;               // hop 2's echo was on the wire
        THopTable::TStage hop2;      // hop 2 a second later
    } cases[] = {
        {"a later answer", 0, true, THopTable::TStage::GivenUp},
        {"a later hop's own time-out", 11010, true, THopTable::TStage::Out},
        {"a later hop's local failure", 10055, true, THopTable::TStage::Out},
        // Its thread has not sent it yet: it is not silent, only late.
        {"a hop not yet on the wire", 0, false, THopTable::TStage::Out},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        THopTable t;
        t.Reset(3, 5000);
        for (int ttl = 1; ttl <= 3; ++ttl) {
            t.Sent(ttl, sent);
            if (ttl != 2 || c.hop2Left)
                t.Left(ttl, sent);
        }
        t.Answered(3, c.laterCode, c.laterCode ? NoReply() : Reply(platform::kIpSuccess), 1'000,
                   false);
        t.GiveUp(sent + 1'000'000);
        EXPECT_EQ(t.Hop(2).stage, c.hop2);
    }
    // The wait counts from the moment the echo left, not from its hand-over.
    THopTable t;
    t.Reset(3, 5000);
    for (int ttl = 1; ttl <= 3; ++ttl)
        t.Sent(ttl, sent);
    t.Left(3, sent);
    t.Left(2, sent + 50'000);   // its thread started 50 ms late
    t.Answered(3, 0, Reply(platform::kIpSuccess), 1'000, false);
    EXPECT_EQ(t.GiveUp(sent + 55'000), sent + 60'000);
    EXPECT_EQ(t.Hop(2).stage, THopTable::TStage::Out);
}

TEST(HopTable, AHopWaitsForItsNameBeforeItsTurn)
{
    THopTable t;
    t.Reset(4, 1000);
    SendAll(t, 0);
    t.Answered(1, 0, Reply(platform::kIpTtlExpiredTransit), 100, true);
    t.Answered(2, 0, Reply(platform::kIpTtlExpiredTransit), 100, false);
    EXPECT_EQ(t.Ready(), 0);
    t.Named(2, "r2.example");
    EXPECT_EQ(t.Ready(), 0);    // hop 1's name is still to come
    t.Named(1, "");             // it has none
    EXPECT_EQ(t.Ready(), 1);
    EXPECT_EQ(t.Hop(1).name, "");
    t.Reported();
    EXPECT_EQ(t.Ready(), 2);
    EXPECT_EQ(t.Hop(2).name, "r2.example");
    // A name for a hop that is not Done changes nothing.
    t.Named(3, "late.example");
    EXPECT_EQ(t.Hop(3).name, "");
    EXPECT_EQ(t.Hop(3).stage, THopTable::TStage::Out);
}
