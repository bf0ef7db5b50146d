// A GoogleTest fixture over the test network: one network per test suite,
// and each test runs in the client host with echoes allowed. Without root
// every test skips with the reason.
#pragma once

#include "testnet.h"

#include <gtest/gtest.h>
#include <memory>

namespace testnet {

class NetTest : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        if (TestNet::skipReason().empty())
            net = new TestNet;
    }
    static void TearDownTestSuite()
    {
        delete net;
        net = nullptr;
    }
    // Derived fixtures call this first and stop when it skipped or failed
    // (Ready() tells).
    void SetUp() override
    {
        if (!TestNet::skipReason().empty())
            GTEST_SKIP() << TestNet::skipReason();
        ASSERT_TRUE(net && net->ok()) << (net ? net->error() : "no network");
        ASSERT_TRUE(net->setPingAllowed(true));
        scope = std::make_unique<ClientScope>(*net);
        ASSERT_TRUE(scope->ok()) << net->error();
    }
    bool Ready() const { return !IsSkipped() && !HasFatalFailure(); }

    static inline TestNet *net = nullptr;
    std::unique_ptr<ClientScope> scope;
};

} // namespace testnet
