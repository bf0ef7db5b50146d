// A session over the test network recording into a scratch history: echoes
// to the test host, with a firewall rule in the host's namespace to drop
// them for a while. Shared by the history's and the report's network tests;
// each test file includes support/netfixture.h itself, which makes CTest run
// it as one process.
#pragma once

#include "config/options.h"
#include "history/historyrecorder.h"
#include "history/historystore.h"
#include "session/antiidlesession.h"
#include "../support/netfixture.h"
#include "../support/sessionaccess.h"
#include "../support/testutil.h"

#include <QStandardPaths>
#include <gtest/gtest.h>

#include <memory>
#include <vector>

namespace historytest {

class TRecordedNet : public testnet::NetTest {
protected:
    // Opens the history and makes the session (echoes every minute, each
    // given timeoutMs) with its recorder; the line goes down after downAfter
    // failed probes and up after upAfter answered ones. Skips without nft.
    void SetUpSession(int downAfter, int upAfter, int timeoutMs)
    {
        if (QStandardPaths::findExecutable("nft").isEmpty())
            GTEST_SKIP() << "nft is not installed (scripts/deps.sh test installs nftables)";
        ASSERT_TRUE(store.Open(history::THistoryStore::DefaultPath()));
        options.AntiIdle.Method = config::TAntiIdleOptions::IcmpPings;
        options.AntiIdle.Frequency = "1";
        options.AntiIdle.Host = testnet::kHost;
        options.History.DownAfter = downAfter;
        options.History.UpAfter = upAfter;
        engine = std::make_unique<TAntiIdleSession>(options);
        Inside(engine).Ping2->SetTimeout(timeoutMs);
        recorder = std::make_unique<history::THistoryRecorder>(*engine, store);
    }
    void TearDown() override
    {
        recorder.reset();
        engine.reset();
        if (net && dropping)
            Drop(false);
        NetTest::TearDown();
    }
    // The host's firewall drops echo requests (true) or lets them in again.
    void Drop(bool on)
    {
        const std::string rule = on
            ? "nft add table inet idlixtest && nft 'add chain inet idlixtest input { type filter hook input "
              "priority 0 ; }' && nft add rule inet idlixtest input icmp type echo-request drop"
            : "nft delete table inet idlixtest";
        ASSERT_EQ(net->run(testnet::Role::Host, rule), 0) << rule;
        dropping = on;
    }

    testutil::ScratchDir dir;   // the history and the session log go here
    config::TOptions options;
    history::THistoryStore store;
    std::unique_ptr<TAntiIdleSession> engine;
    std::unique_ptr<history::THistoryRecorder> recorder;
    bool dropping = false;
};

} // namespace historytest
