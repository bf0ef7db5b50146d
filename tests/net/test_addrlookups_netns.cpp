// The names of a run of addresses asked several at once, against the test
// name server: every answer handed on once with its index, no question past
// the limit the owner allows, and nothing after Cancel or the owner's end.
// Root only; the test thread runs inside the client host.
#include "net/addrlookups.h"
#include "platform/resolver.h"
#include "../support/netfixture.h"
#include "../support/testutil.h"

#include <QSet>
#include <gtest/gtest.h>

#include <map>

using namespace std::chrono_literals;

namespace {

class AddrLookupsNet : public testnet::NetTest {
protected:
    void TearDown() override
    {
        if (net)
            net->silenceNameServer(false);
        scope.reset();
    }
    // 10.200.3.1 .. 10.200.3.count
    static std::vector<std::uint32_t> Block(int count)
    {
        std::vector<std::uint32_t> out;
        for (int n = 1; n <= count; ++n)
            out.push_back(platform::InetAddr("10.200.3." + std::to_string(n)));
        return out;
    }
    // Addresses the name server was asked for since 'skip' questions.
    static QSet<QString> AskedSince(std::size_t skip)
    {
        QSet<QString> out;
        const auto all = net->nameServerQueries();
        for (std::size_t i = skip; i < all.size(); ++i)
            if (all[i].rfind("PTR ", 0) == 0)
                out << QString::fromStdString(all[i].substr(4));
        return out;
    }

    struct Answer {
        int error;
        std::string name;
    };
    std::map<int, Answer> answers;
    int repeats = 0;
    TAddrLookups::TDone Record()
    {
        return [this](int index, int error, const std::string &name) {
            repeats += answers.count(index) ? 1 : 0;
            answers[index] = {error, name};
        };
    }
};

} // namespace

TEST_F(AddrLookupsNet, EveryAddressAnsweredOnceWithItsIndex)
{
    TAddrLookups lookups;
    auto addrs = Block(40);
    addrs.push_back(0xFFFFFFFFu);   // a text that was no address
    ASSERT_TRUE(lookups.Start(addrs, 8, 1000, Record()));
    ASSERT_TRUE(testutil::waitFor([&] { return answers.size() == addrs.size(); }, 10s));
    testutil::pump(100ms);
    EXPECT_EQ(repeats, 0);
    struct Row {
        int index;
        int error;
        const char *name;
    } rows[] = {
        {9, 0, "host.idlix.test"}, {19, 0, "quiet.idlix.test"}, {29, 0, "slow.idlix.test"},
        {0, 11001, ""}, {39, 11001, ""}, {40, 11001, ""},
    };
    for (const Row &r : rows) {
        EXPECT_EQ(answers[r.index].error, r.error) << r.index;
        EXPECT_EQ(answers[r.index].name, r.name) << r.index;
    }
}

TEST_F(AddrLookupsNet, NothingIsAskedPastTheLimitAllowed)
{
    const std::size_t before = net->nameServerQueries().size();
    TAddrLookups lookups;
    ASSERT_TRUE(lookups.Start(Block(30), 4, 5, Record()));
    ASSERT_TRUE(testutil::waitFor([&] { return answers.size() == 5; }, 5s));
    testutil::pump(300ms);
    EXPECT_EQ(answers.size(), 5u);
    EXPECT_EQ(AskedSince(before).size(), 5);
    EXPECT_EQ(answers.rbegin()->first, 4);
    // A limit below the one given changes nothing; a higher one lets more go.
    lookups.Allow(3);
    lookups.Allow(12);
    ASSERT_TRUE(testutil::waitFor([&] { return answers.size() == 12; }, 5s));
    testutil::pump(300ms);
    EXPECT_EQ(answers.size(), 12u);
    EXPECT_EQ(AskedSince(before).size(), 12);
}

TEST_F(AddrLookupsNet, NothingAfterCancelOrTheOwnersEnd)
{
    for (bool destroy : {false, true}) {
        SCOPED_TRACE(destroy ? "owner destroyed" : "cancelled");
        answers.clear();
        ASSERT_TRUE(net->silenceNameServer(true));
        const std::size_t before = net->nameServerQueries().size();
        auto *lookups = new TAddrLookups;
        ASSERT_TRUE(lookups->Start(Block(50), 6, 1000, Record()));
        testutil::pump(200ms);
        if (destroy) {
            delete lookups;
            lookups = nullptr;
        } else {
            lookups->Cancel();
        }
        ASSERT_TRUE(net->silenceNameServer(false));
        // The questions out come back; nothing is handed on, nothing more asked.
        ASSERT_TRUE(testutil::waitFor([] { return TAddrLookups::Running() == 0; }, 10s));
        testutil::pump(200ms);
        EXPECT_TRUE(answers.empty());
        EXPECT_LE(AskedSince(before).size(), 6);
        delete lookups;
    }
}
