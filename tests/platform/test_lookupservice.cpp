// The lookup service against the system resolver, with names from
// /etc/hosts only: the bound on threads, the queue's order, cancelling by
// handle, the family of each request, and a shutdown that joins in time.
// The start hook holds lookups on their threads so that what is in flight
// and what is queued is known, not guessed from timing.
#include "platform/errcodes.h"
#include "platform/lookupservice.h"
#include "../support/testutil.h"

#include <QElapsedTimer>
#include <QObject>
#include <QThread>
#include <gtest/gtest.h>

#include <condition_variable>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

using namespace platform;
using namespace std::chrono_literals;

namespace {

// Holds every lookup in the start hook until opened, and counts the threads
// that came through and the most held at once.
struct Gate {
    std::mutex lock;
    std::condition_variable changed;
    bool open = false;
    int inside = 0;
    int mostInside = 0;
    std::set<std::thread::id> threads;
    std::vector<unsigned> started;   // handles, in the order they reached the hook

    std::function<void(unsigned)> Hook()
    {
        return [this](unsigned handle) {
            std::unique_lock<std::mutex> lk(lock);
            started.push_back(handle);
            threads.insert(std::this_thread::get_id());
            mostInside = std::max(mostInside, ++inside);
            changed.notify_all();
            changed.wait(lk, [&] { return open; });
            --inside;
        };
    }
    void Open()
    {
        std::lock_guard<std::mutex> g(lock);
        open = true;
        changed.notify_all();
    }
    int Inside()
    {
        std::lock_guard<std::mutex> g(lock);
        return inside;
    }
    std::vector<unsigned> Started()
    {
        std::lock_guard<std::mutex> g(lock);
        return started;
    }
};

// Runs at the end of its scope, failed assertions included: lets the held
// lookups go and joins the service's threads while what they use still lives.
struct AtEnd {
    std::function<void()> run;
    ~AtEnd() { run(); }
};

struct Answer {
    unsigned handle;
    int error;
    HostEntry entry;
};

// The localhost questions a test can ask anywhere: a forward and a reverse.
TLookupRequest Loopback(int n, bool ordered = false)
{
    return n % 2 ? TLookupRequest::ForAddress(IpAddress::V4(InetAddr("127.0.0.1")), ordered)
                 : TLookupRequest::ForName("localhost", FamilyChoice::IPv4Only, ordered);
}

} // namespace

TEST(LookupService, TheBoundHoldsWithManyQueued)
{
    struct Row {
        int bound;
        int requests;
    } rows[] = {{1, 20}, {4, 50}, {TLookupService::kMaxThreads, 200}, {200, 200}};
    for (const Row &r : rows) {
        SCOPED_TRACE(r.bound);
        const int most = std::min(r.bound, TLookupService::kMaxThreads);
        TLookupService service(r.bound);
        Gate gate;
        AtEnd end{[&] { gate.Open(); service.Shutdown(); }};
        service.SetStartHook(gate.Hook());
        QObject ctx;
        std::vector<Answer> got;
        for (int n = 0; n < r.requests; ++n)
            ASSERT_NE(service.Submit(&ctx, Loopback(n),
                                     [&](unsigned h, int e, const HostEntry &en) {
                                         got.push_back({h, e, en});
                                     }),
                      0u);
        ASSERT_TRUE(testutil::waitFor([&] { return gate.Inside() == most; }, 5s));
        // Given time, no more threads come, and the rest wait their turn.
        testutil::pump(200ms);
        EXPECT_EQ(gate.Inside(), most);
        EXPECT_EQ(service.Threads(), most);
        EXPECT_EQ(service.Queued(), r.requests - most);
        EXPECT_TRUE(got.empty());
        gate.Open();
        ASSERT_TRUE(testutil::waitFor([&] { return int(got.size()) == r.requests; }, 10s));
        EXPECT_EQ(gate.mostInside, most);
        EXPECT_EQ(service.MostBusy(), most);
        EXPECT_EQ(int(gate.threads.size()), most);
        EXPECT_EQ(service.Threads(), most);
        for (const Answer &a : got)
            EXPECT_EQ(a.error, 0);
    }
}

TEST(LookupService, QuestionsStartInTheOrderAsked)
{
    TLookupService service(1);
    Gate gate;
    gate.Open();
    service.SetStartHook(gate.Hook());
    QObject ctx;
    std::vector<unsigned> asked;
    int answers = 0;
    for (int n = 0; n < 30; ++n)
        asked.push_back(service.Submit(&ctx, Loopback(n),
                                       [&](unsigned, int, const HostEntry &) { ++answers; }));
    ASSERT_TRUE(testutil::waitFor([&] { return answers == 30; }, 10s));
    EXPECT_EQ(gate.Started(), asked);
}

TEST(LookupService, OrderedAnswersComeInTheOrderAsked)
{
    // The first question is held on its thread until every other one is
    // answered; only ordered requests wait for it.
    struct Row {
        bool ordered;
        bool firstComesFirst;
    } rows[] = {{true, true}, {false, false}};
    for (const Row &r : rows) {
        SCOPED_TRACE(r.ordered);
        TLookupService service(8);
        std::atomic<unsigned> held{0};
        std::atomic<bool> release{false};
        AtEnd end{[&] { release = true; service.Shutdown(); }};
        service.SetStartHook([&](unsigned h) {
            if (h == held.load())
                while (!release.load())
                    std::this_thread::sleep_for(5ms);
        });
        QObject ctx;
        std::vector<unsigned> asked, answered;
        auto record = [&](unsigned h, int e, const HostEntry &) {
            EXPECT_EQ(e, 0);
            answered.push_back(h);
        };
        // Held before it can start: the hook compares with the first handle.
        held = 1;
        for (int n = 0; n < 12; ++n)
            asked.push_back(service.Submit(&ctx, Loopback(n, r.ordered), record));
        ASSERT_EQ(asked.front(), 1u);
        if (r.ordered) {
            testutil::pump(300ms);
            EXPECT_TRUE(answered.empty());
        } else {
            ASSERT_TRUE(testutil::waitFor([&] { return answered.size() == 11; }, 5s));
        }
        release = true;
        ASSERT_TRUE(testutil::waitFor([&] { return answered.size() == 12; }, 5s));
        EXPECT_EQ(answered.front() == asked.front(), r.firstComesFirst);
        if (r.ordered) {
            EXPECT_EQ(answered, asked);
        }
    }
}

TEST(LookupService, CancelledWhileQueuedNeverStarts)
{
    TLookupService service(1);
    Gate gate;
    AtEnd end{[&] { gate.Open(); service.Shutdown(); }};
    service.SetStartHook(gate.Hook());
    QObject ctx;
    std::vector<unsigned> answered;
    auto record = [&](unsigned h, int, const HostEntry &) { answered.push_back(h); };
    const unsigned first = service.Submit(&ctx, Loopback(0), record);
    const unsigned second = service.Submit(&ctx, Loopback(1), record);
    const unsigned third = service.Submit(&ctx, Loopback(2), record);
    ASSERT_TRUE(testutil::waitFor([&] { return gate.Inside() == 1; }, 5s));
    EXPECT_EQ(service.Queued(), 2);
    EXPECT_EQ(service.Cancel(second), 0);
    EXPECT_EQ(service.Cancel(second), kErrInvalid);
    EXPECT_EQ(service.Queued(), 1);
    gate.Open();
    ASSERT_TRUE(testutil::waitFor([&] { return answered.size() == 2; }, 5s));
    testutil::pump(100ms);
    EXPECT_EQ(answered, (std::vector<unsigned>{first, third}));
    EXPECT_EQ(gate.Started(), (std::vector<unsigned>{first, third}));
    EXPECT_EQ(service.Cancel(first), kErrInvalid);   // answered: no longer pending
    EXPECT_EQ(service.Cancel(0), kErrInvalid);
}

TEST(LookupService, CancelledWhileStartedDropsTheAnswer)
{
    for (bool ordered : {false, true}) {
        SCOPED_TRACE(ordered);
        TLookupService service(2);
        Gate gate;
        AtEnd end{[&] { gate.Open(); service.Shutdown(); }};
        service.SetStartHook([&, hook = gate.Hook()](unsigned h) {
            if (h == 1)
                hook(h);
        });
        QObject ctx;
        std::vector<unsigned> answered;
        auto record = [&](unsigned h, int, const HostEntry &) { answered.push_back(h); };
        const unsigned stuck = service.Submit(&ctx, Loopback(0, ordered), record);
        ASSERT_EQ(stuck, 1u);
        ASSERT_TRUE(testutil::waitFor([&] { return gate.Inside() == 1; }, 5s));
        const unsigned next = service.Submit(&ctx, Loopback(1, ordered), record);
        // An ordered answer behind the stuck one waits for it...
        if (ordered) {
            testutil::pump(200ms);
            EXPECT_TRUE(answered.empty());
        }
        // ...until the stuck one is cancelled; its thread is still held.
        EXPECT_EQ(service.Cancel(stuck), 0);
        ASSERT_TRUE(testutil::waitFor([&] { return answered.size() == 1; }, 5s));
        EXPECT_EQ(answered.front(), next);
        EXPECT_EQ(service.Busy(), 1);
        gate.Open();
        ASSERT_TRUE(testutil::waitFor([&] { return service.Busy() == 0; }, 5s));
        testutil::pump(100ms);
        EXPECT_EQ(answered, std::vector<unsigned>{next});
    }
}

TEST(LookupService, EachRequestHasItsOwnFamily)
{
    struct Row {
        const char *host;
        FamilyChoice family;
        int error;
        const char *first;   // the first address, when one is expected
    } rows[] = {
        {"localhost", FamilyChoice::IPv4Only, 0, "127.0.0.1"},
        {"::1", FamilyChoice::IPv6Only, 0, "::1"},
        {"127.0.0.1", FamilyChoice::IPv6Only, kErrAfNoSupport, nullptr},
        {"::1", FamilyChoice::IPv4Only, kErrAfNoSupport, nullptr},
        {"[::1]", FamilyChoice::Automatic, 0, "::1"},
        {"127.0.0.1", FamilyChoice::Automatic, 0, "127.0.0.1"},
        {"localhost", FamilyChoice::IPv6Only, -1, nullptr},   // whatever comes is IPv6
    };
    // All asked at once on one service: a choice of the process could not
    // give each its own.
    TLookupService service(4);
    QObject ctx;
    std::map<unsigned, Answer> got;
    std::map<unsigned, const Row *> asked;
    for (int round = 0; round < 3; ++round)
        for (const Row &r : rows)
            asked[service.Submit(&ctx, TLookupRequest::ForName(r.host, r.family),
                                 [&](unsigned h, int e, const HostEntry &en) {
                                     got[h] = {h, e, en};
                                 })] = &r;
    ASSERT_TRUE(testutil::waitFor([&] { return got.size() == asked.size(); }, 5s));
    for (const auto &[handle, r] : asked) {
        SCOPED_TRACE(std::string(r->host) + " " + std::to_string(int(r->family)));
        const Answer &a = got[handle];
        if (r->error >= 0) {
            EXPECT_EQ(a.error, r->error);
        }
        if (r->first) {
            ASSERT_FALSE(a.entry.addresses.empty());
            EXPECT_EQ(AddressText(a.entry.addresses.front()), r->first);
        }
        for (const IpAddress &addr : a.entry.addresses) {
            if (r->family == FamilyChoice::IPv4Only) {
                EXPECT_TRUE(addr.IsV4()) << AddressText(addr);
            }
            if (r->family == FamilyChoice::IPv6Only) {
                EXPECT_TRUE(addr.IsV6()) << AddressText(addr);
            }
        }
    }
}

TEST(LookupService, WaitBlocksOnlyItsCaller)
{
    TLookupService service(2);
    HostEntry direct;
    ASSERT_EQ(ResolveOnThisThread(Loopback(1), direct), 0);
    // Several threads at once, more than the pool has: each gets its own answer.
    std::vector<std::thread> askers;
    std::vector<int> errors(6, -1);
    std::vector<HostEntry> entries(6);
    for (int n = 0; n < 6; ++n)
        askers.emplace_back([&, n] { errors[n] = service.Wait(Loopback(n), entries[n]); });
    for (std::thread &t : askers)
        t.join();
    for (int n = 0; n < 6; ++n) {
        EXPECT_EQ(errors[n], 0) << n;
        ASSERT_FALSE(entries[n].addrs.empty()) << n;
        EXPECT_EQ(InetNtoa(entries[n].addrs.front()), "127.0.0.1");
        if (n % 2) {
            EXPECT_EQ(entries[n].name, direct.name);
        }
    }
    EXPECT_LE(service.MostBusy(), 2);
    HostEntry none;
    EXPECT_EQ(service.Wait(TLookupRequest::ForName("", FamilyChoice::Automatic), none),
              kErrHostNotFound);
}

TEST(LookupService, ShutdownJoinsInTime)
{
    // Every lookup takes 200 ms on its thread: four in flight and the rest
    // queued when the service shuts down. The queued ones are dropped, the
    // four end, and nothing reaches the context afterwards.
    auto service = std::make_unique<TLookupService>(4);
    service->SetStartHook([](unsigned) { std::this_thread::sleep_for(200ms); });
    QObject ctx;
    int answers = 0;
    for (int n = 0; n < 50; ++n)
        service->Submit(&ctx, Loopback(n), [&](unsigned, int, const HostEntry &) { ++answers; });
    int waited = -1;
    HostEntry entry;
    std::thread waiter([&] { waited = service->Wait(Loopback(0), entry); });
    AtEnd end{[&] {
        if (service)
            service->Shutdown();
        if (waiter.joinable())
            waiter.join();
    }};
    ASSERT_TRUE(testutil::waitFor([&] { return service->Busy() == 4; }, 5s));
    QElapsedTimer took;
    took.start();
    service->Shutdown();
    EXPECT_LT(took.elapsed(), 2000);
    waiter.join();
    EXPECT_EQ(waited, kErrInterrupted);
    EXPECT_EQ(service->Submit(&ctx, Loopback(0), [&](unsigned, int, const HostEntry &) { ++answers; }),
              0u);
    EXPECT_EQ(service->Wait(Loopback(0), entry), kErrInterrupted);
    service.reset();
    testutil::pump(300ms);
    EXPECT_EQ(answers, 0);
}

TEST(LookupService, TheInstalledServiceTakesTheProgramsLookups)
{
    TLookupService own(2);
    std::vector<unsigned> seen;
    std::mutex lock;
    own.SetStartHook([&](unsigned h) {
        std::lock_guard<std::mutex> g(lock);
        seen.push_back(h);
    });
    {
        TLookupService::TInstall installed(own);
        EXPECT_EQ(&TLookupService::Installed(), &own);
        QObject ctx;
        bool done = false;
        const unsigned h = Lookups().Submit(&ctx, TLookupRequest::ForName("localhost", FamilyChoice::IPv4Only),
                                            [&](unsigned, int, const HostEntry &) { done = true; });
        ASSERT_TRUE(testutil::waitFor([&] { return done; }, 5s));
        HostEntry e;
        EXPECT_EQ(LookupAddr(InetAddr("127.0.0.1"), e), 0);
        std::lock_guard<std::mutex> g(lock);
        EXPECT_EQ(seen.size(), 2u);
        EXPECT_EQ(seen.front(), h);
    }
    EXPECT_NE(&TLookupService::Installed(), &own);
}
