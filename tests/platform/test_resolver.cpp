#include "platform/errcodes.h"
#include "platform/lookupservice.h"
#include "platform/resolver.h"
#include "../support/testutil.h"

#include <QObject>
#include <QThread>
#include <gtest/gtest.h>
#include <memory>
#include <vector>

using namespace platform;
using namespace std::chrono_literals;

TEST(Resolver, InetAddrAcceptsTheClassicForms)
{
    struct Row { const char *text; const char *dotted; } rows[] = {
        {"127.0.0.1", "127.0.0.1"},
        {"10.1", "10.0.0.1"},             // a.b: b fills the last 24 bits
        {"0x7f.1", "127.0.0.1"},          // hex part
        {"010.0.0.1", "8.0.0.1"},         // a leading zero means octal
        {"192.168.0.255", "192.168.0.255"},
    };
    for (const auto &r : rows) {
        const auto a = InetAddr(r.text);
        ASSERT_NE(a, 0xFFFFFFFFu) << r.text;
        EXPECT_EQ(InetNtoa(a), r.dotted) << r.text;
    }
    for (const char *bad : {"", "localhost", "1.2.3.4.5", "256.1.1.1", "1.2.3.x"})
        EXPECT_EQ(InetAddr(bad), 0xFFFFFFFFu) << bad;
}

TEST(Resolver, BlockingLookupsOfLoopback)
{
    HostEntry e;
    ASSERT_EQ(LookupName("localhost", e), 0);
    ASSERT_FALSE(e.addrs.empty());
    EXPECT_EQ(InetNtoa(e.addrs.front()), "127.0.0.1");
    EXPECT_FALSE(e.name.empty());

    HostEntry r;
    ASSERT_EQ(LookupAddr(InetAddr("127.0.0.1"), r), 0);
    EXPECT_FALSE(r.name.empty());
    ASSERT_EQ(r.addrs.size(), 1u);
    EXPECT_EQ(InetNtoa(r.addrs[0]), "127.0.0.1");

    // Names only from /etc/hosts here: this machine's name server is not ours to ask.
    HostEntry n;
    EXPECT_EQ(LookupName("", n), kErrHostNotFound);
    EXPECT_FALSE(LocalHostName().empty());
}

struct Done {
    unsigned handle;
    int error;
    HostEntry entry;
};

TEST(Resolver, AsyncCompletesOnTheGuiThreadWithItsHandle)
{
    QObject ctx;
    std::vector<Done> got;
    const unsigned h1 = Lookups().Submit(&ctx, TLookupRequest::ForName("localhost", FamilyChoice::IPv4Only),
                                        [&](unsigned h, int e, const HostEntry &en) {
                                            EXPECT_EQ(QThread::currentThread(), ctx.thread());
                                            got.push_back({h, e, en});
                                        });
    const unsigned h2 = Lookups().Submit(&ctx, TLookupRequest::ForAddress(IpAddress::V4(InetAddr("127.0.0.1"))),
                                        [&](unsigned h, int e, const HostEntry &en) {
                                            got.push_back({h, e, en});
                                        });
    EXPECT_NE(h1, 0u);
    EXPECT_NE(h2, 0u);
    EXPECT_NE(h1, h2);
    // Nothing is delivered inside the call: only the event loop brings it.
    EXPECT_TRUE(got.empty());
    ASSERT_TRUE(testutil::waitFor([&] { return got.size() == 2; }, 5000ms));
    for (const auto &d : got) {
        EXPECT_EQ(d.error, 0);
        ASSERT_FALSE(d.entry.addrs.empty());
        EXPECT_EQ(InetNtoa(d.entry.addrs[0]), "127.0.0.1");
    }
    // A completed handle can no longer be cancelled.
    EXPECT_EQ(Lookups().Cancel(h1), kErrInvalid);
    EXPECT_EQ(Lookups().Cancel(0), kErrInvalid);
}

TEST(Resolver, CancelAndDestroyedContextDropTheCompletion)
{
    int calls = 0;
    QObject keep;
    const unsigned h = Lookups().Submit(&keep, TLookupRequest::ForName("localhost", FamilyChoice::IPv4Only),
                                       [&](unsigned, int, const HostEntry &) { ++calls; });
    EXPECT_EQ(Lookups().Cancel(h), 0);
    EXPECT_EQ(Lookups().Cancel(h), kErrInvalid);

    auto gone = std::make_unique<QObject>();
    Lookups().Submit(gone.get(), TLookupRequest::ForName("localhost", FamilyChoice::IPv4Only), [&](unsigned, int, const HostEntry &) { ++calls; });
    gone.reset();

    // A third lookup tells when the worker threads have had their time.
    bool third = false;
    Lookups().Submit(&keep, TLookupRequest::ForName("localhost", FamilyChoice::IPv4Only), [&](unsigned, int, const HostEntry &) { third = true; });
    ASSERT_TRUE(testutil::waitFor([&] { return third; }, 5000ms));
    testutil::pump(200ms);
    EXPECT_EQ(calls, 0);
}
