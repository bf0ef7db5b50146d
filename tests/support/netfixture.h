// A GoogleTest fixture over the test network: one network per test suite,
// and each test runs in the client host with echoes allowed. Without root
// every test skips with the reason.
#pragma once

#include "testnet.h"
#include "platform/lookupservice.h"

#include <QByteArray>
#include <QFile>
#include <QString>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <memory>
#include <utility>
#include <vector>

namespace testnet {

// The lookups of a test on the test network. The lookup service's threads
// stay in the namespaces of the thread that made them, so the service of a
// test made inside the client asks the test name server, and one made
// before it (or in an earlier suite's network) would not.
struct ClientLookups {
    platform::TLookupService service;
    platform::TLookupService::TInstall installed{service};
};

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
        lookups = std::make_unique<ClientLookups>();
    }
    bool Ready() const { return !IsSkipped() && !HasFatalFailure(); }

    static inline TestNet *net = nullptr;
    std::unique_ptr<ClientScope> scope;
    std::unique_ptr<ClientLookups> lookups;
};

// The test network with nginx on the host (kHost, port 80) serving files the
// suite chooses. A derived suite's SetUpTestSuite calls SetUpWeb.
class WebNetTest : public NetTest {
protected:
    using Files = std::vector<std::pair<QString, QByteArray>>;

    static void SetUpWeb(const Files &files)
    {
        NetTest::SetUpTestSuite();
        if (!net || !net->ok())
            return;
        www = new QTemporaryDir;
        // nginx's workers run as another user: the root must be readable.
        QFile::setPermissions(www->path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner
                                               | QFile::ReadOther | QFile::ExeOther);
        for (const auto &[name, bytes] : files) {
            QFile f(www->filePath(name));
            if (!f.open(QIODevice::WriteOnly) || f.write(bytes) != bytes.size())
                return;   // web stays -1: every test then fails with the reason
        }
        web = net->startNginx(Role::Host, www->path().toStdString(), 80);
    }
    static void TearDownTestSuite()
    {
        if (net && web > 0)
            TestNet::stopNginx(web);
        web = -1;
        delete www;
        www = nullptr;
        NetTest::TearDownTestSuite();
    }
    void SetUp() override
    {
        NetTest::SetUp();
        if (!Ready())
            return;
        ASSERT_GT(web, 0) << "nginx did not start on the test host";
    }

    static inline QTemporaryDir *www = nullptr;
    static inline pid_t web = -1;
};

} // namespace testnet
