// The finder against a reflector on the test network's host, from the
// client behind r1 made a NAT whose conntrack timeouts are set for real
// (seconds, so the suite stays fast; the long timers are the benchmark's).
#include "idletimer/idlefinder.h"
#include "idletimer/reflector.h"
#include "platform/resolver.h"
#include "../support/testnet.h"
#include "../support/testutil.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sched.h>
#include <unistd.h>

using namespace idletimer;
using namespace std::chrono_literals;

namespace {

testnet::TestNet *net = nullptr;
const QByteArray Key = "the finder test's shared key";

// Opens sockets in a host's namespace: the calling thread goes there and back.
class HostScope {
public:
    explicit HostScope(const std::string &ns)
    {
        saved_ = ::open("/proc/thread-self/ns/net", O_RDONLY | O_CLOEXEC);
        const int fd = ::open(("/run/netns/" + ns).c_str(), O_RDONLY | O_CLOEXEC);
        ok_ = fd >= 0 && ::setns(fd, CLONE_NEWNET) == 0;
        if (fd >= 0)
            ::close(fd);
    }
    ~HostScope()
    {
        ::setns(saved_, CLONE_NEWNET);
        ::close(saved_);
    }
    bool ok() const { return ok_; }

private:
    int saved_ = -1;
    bool ok_ = false;
};

class IdleFinderNet : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        if (testnet::TestNet::skipReason().empty())
            net = new testnet::TestNet;
    }
    static void TearDownTestSuite()
    {
        delete net;
        net = nullptr;
    }
    void SetUp() override
    {
        if (!testnet::TestNet::skipReason().empty())
            GTEST_SKIP() << testnet::TestNet::skipReason();
        ASSERT_TRUE(net->ok()) << net->error();
        HostScope host(net->nsName(testnet::Role::Host));
        ASSERT_TRUE(host.ok());
        reflector = std::make_unique<TReflector>(Key);
        QString error;
        ASSERT_TRUE(reflector->Listen(platform::IpAddress::V4(platform::InetAddr(testnet::kHost)), 0, &error))
            << error.toStdString();
    }
    void TearDown() override
    {
        if (net)
            net->clearNat();
    }

    // Runs a finder for each transport side by side, as the window may.
    std::vector<TIdleResult> Find(const std::vector<TTransport> &transports, int longest)
    {
        testnet::ClientScope in(*net);
        TTrialPlan::TSettings settings;
        settings.First = 2;
        settings.Floor = 1;
        settings.Longest = longest;
        std::vector<std::unique_ptr<TIdleTimerFinder>> finders;
        std::vector<TIdleResult> results(transports.size());
        int done = 0;
        for (std::size_t i = 0; i < transports.size(); ++i) {
            TIdleTrial::TTarget target{platform::IpAddress::V4(platform::InetAddr(testnet::kHost)),
                                       reflector->Port(), transports[i], Key};
            finders.push_back(std::make_unique<TIdleTimerFinder>(target, settings));
            finders.back()->OnDone = [&, i](const TIdleResult &r) {
                results[i] = r;
                ++done;
            };
            finders.back()->Start();
        }
        EXPECT_TRUE(testutil::waitFor([&] { return done == int(transports.size()); }, 90s));
        return results;
    }

    std::unique_ptr<TReflector> reflector;
};

} // namespace

TEST_F(IdleFinderNet, FindsTheNatsTimeoutsAsSet)
{
    // conntrack on r1 forgets idle UDP mappings after 6 s, idle TCP ones after 9 s.
    ASSERT_TRUE(net->setNat(6, 9));
    const std::vector<TIdleResult> results = Find({TTransport::Udp, TTransport::Tcp}, 40);
    const int timers[] = {6, 9};
    for (std::size_t i = 0; i < results.size(); ++i) {
        const TIdleResult &result = results[i];
        SCOPED_TRACE(ResultLine(result).toStdString());
        ASSERT_EQ(result.State, TTrialPlan::TState::Found);
        EXPECT_LE(std::abs(result.Seconds - timers[i]), 1);
        EXPECT_EQ(result.Gone - result.Alive, 1);
        // Short trials: a few kilobytes at most.
        EXPECT_LT(result.BytesSent, 10'000u);
    }
}

TEST_F(IdleFinderNet, WithoutANatNothingDropsTheMapping)
{
    const TIdleResult result = Find({TTransport::Udp}, 5).front();
    ASSERT_EQ(result.State, TTrialPlan::TState::AtLeast) << ResultLine(result).toStdString();
    EXPECT_EQ(result.Seconds, 5);
    EXPECT_TRUE(ResultLine(result).startsWith("udp idle timer: at least 5 s (alive after 5 s;"));
}
