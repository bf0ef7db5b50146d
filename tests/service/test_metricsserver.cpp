// The metrics endpoint against real clients on loopback: what it serves,
// what it refuses, and that no client can hold it (slow senders, slow
// readers, endless request lines, more connections than it takes).
#include "platform/resolver.h"
#include "service/metricsserver.h"
#include "../support/httpclient.h"
#include "../support/qtprint.h"
#include "../support/testutil.h"

#include <QElapsedTimer>
#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <thread>
#include <vector>

using service::TListenAddress;
using service::TMetricsServer;
using testsupport::HttpExchange;
using testsupport::HttpGet;
using testsupport::RawClient;

namespace {

TListenAddress Loopback(int port = 0)
{
    TListenAddress at;
    at.Address = platform::IpAddress::V4(platform::InetAddr("127.0.0.1"));
    at.Port = std::uint16_t(port);
    return at;
}

// A server on a port of its own, limits as given.
std::unique_ptr<TMetricsServer> Serving(const TMetricsServer::TLimits &limits = {})
{
    auto server = std::make_unique<TMetricsServer>(limits);
    QString error;
    EXPECT_TRUE(server->Listen(Loopback(), &error)) << error.toStdString();
    EXPECT_NE(server->Address().Port, 0);
    return server;
}

bool WaitOpen(const TMetricsServer &s, int open, int ms = 3000)
{
    QElapsedTimer clock;
    clock.start();
    while (s.OpenConnections() != open && clock.elapsed() < ms)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    return s.OpenConnections() == open;
}

} // namespace

TEST(MetricsServer, ServesWhatWasLastPublished)
{
    auto server = Serving();
    const int port = server->Address().Port;
    EXPECT_EQ(server->Address().Text(), QStringLiteral("127.0.0.1:%1").arg(port));
    server->Publish("x 1\n");
    int status = 0;
    EXPECT_EQ(HttpGet("127.0.0.1", port, "/metrics", &status), "x 1\n");
    EXPECT_EQ(status, 200);
    server->Publish("x 2\n");
    EXPECT_EQ(HttpGet("127.0.0.1", port, "/metrics", &status), "x 2\n");

    const struct {
        const char *name;
        QByteArray request;
        int status;
    } cases[] = {
        {"HEAD", "HEAD /metrics HTTP/1.0\r\n\r\n", 200},
        {"the root", "GET / HTTP/1.0\r\n\r\n", 200},
        {"another path", "GET /debug HTTP/1.1\r\n\r\n", 404},
        {"another method", "DELETE /metrics HTTP/1.1\r\n\r\n", 405},
        {"not HTTP", "hello\n", 400},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        HttpExchange("127.0.0.1", port, c.request, &status);
        EXPECT_EQ(status, c.status);
    }
    EXPECT_EQ(server->Served(), 7u);
    EXPECT_TRUE(WaitOpen(*server, 0));

    // Closed: nobody answers on the port any more.
    server->Close();
    EXPECT_FALSE(server->Listening());
    EXPECT_FALSE(RawClient("127.0.0.1", port, 1000).Connected());
}

TEST(MetricsServer, AddressesItCannotTake)
{
    auto first = Serving();
    TMetricsServer second;
    QString error;
    TMetricsServer::TListenError why = TMetricsServer::TListenError::None;
    EXPECT_FALSE(second.Listen(Loopback(first->Address().Port), &error, &why));
    EXPECT_EQ(why, TMetricsServer::TListenError::AddressInUse);
    EXPECT_FALSE(error.isEmpty());
    EXPECT_FALSE(second.Listening());

    // An address this machine does not have (TEST-NET-1).
    TListenAddress foreign;
    foreign.Address = platform::IpAddress::V4(platform::InetAddr("192.0.2.1"));
    foreign.Port = 9417;
    EXPECT_FALSE(second.Listen(foreign, &error, &why));
    EXPECT_EQ(why, TMetricsServer::TListenError::Other);
}

TEST(MetricsServer, IPv6Loopback)
{
    TListenAddress at;
    ASSERT_TRUE(platform::ParseIPv6("::1", at.Address));
    TMetricsServer server;
    QString error;
    if (!server.Listen(at, &error))
        GTEST_SKIP() << "no IPv6 loopback here: " << error.toStdString();
    server.Publish("y 1\n");
    EXPECT_EQ(server.Address().Text(), QStringLiteral("[::1]:%1").arg(server.Address().Port));
    EXPECT_EQ(HttpGet("::1", server.Address().Port, "/metrics"), "y 1\n");
}

TEST(MetricsServer, ASlowSenderIsCutAtTheTimeAndOthersAreServedMeanwhile)
{
    TMetricsServer::TLimits limits;
    limits.TimeoutMs = 600;
    auto server = Serving(limits);
    server->Publish("x 1\n");
    const int port = server->Address().Port;
    RawClient slow("127.0.0.1", port);
    ASSERT_TRUE(slow.Connected());
    ASSERT_EQ(slow.Send("GET /metr"), 9);
    ASSERT_TRUE(WaitOpen(*server, 1));
    // Served while the slow one waits.
    EXPECT_EQ(HttpGet("127.0.0.1", port, "/metrics"), "x 1\n");

    QElapsedTimer clock;
    clock.start();
    EXPECT_TRUE(slow.ReadUntilClosed(5000));
    EXPECT_TRUE(slow.Received().isEmpty());
    EXPECT_LT(clock.elapsed(), 3000);
    EXPECT_TRUE(WaitOpen(*server, 0));
}

TEST(MetricsServer, AnEndlessRequestLineIsRefusedAndNeverKept)
{
    auto server = Serving();
    const int port = server->Address().Port;
    const long before = testutil::residentKiB();
    // 64 MB of request line: the server reads its limit, answers 431 and
    // closes, so most of it can never be sent.
    RawClient hostile("127.0.0.1", port);
    ASSERT_TRUE(hostile.Connected());
    const QByteArray line = "GET /" + QByteArray(64 << 20, 'a');
    const qsizetype sent = hostile.Send(line, 3000);
    EXPECT_LT(sent, line.size());
    hostile.ReadUntilClosed(3000);
    // Either the refusal arrived or the close reset it away; never a 200.
    EXPECT_TRUE(hostile.Status() == 431 || hostile.Received().isEmpty()) << hostile.Status();
    EXPECT_TRUE(WaitOpen(*server, 0));
    EXPECT_EQ(server->Served(), 1u);
    // The 64 MB of the line is this process's own; the server kept none of it.
    EXPECT_LT(testutil::residentKiB() - before, 64 * 1024 + 16 * 1024);

    // A request line of exactly 1 MB gets its 431 whole.
    RawClient big("127.0.0.1", port);
    ASSERT_TRUE(big.Connected());
    big.Send("GET /" + QByteArray((1 << 20) - 5, 'a'), 3000);
    ASSERT_TRUE(big.ReadUntilClosed(3000));
    EXPECT_TRUE(big.Status() == 431 || big.Received().isEmpty());
}

TEST(MetricsServer, ConnectionsHeldIdleAtTheCapNeverKeepAScrapeOut)
{
    auto server = Serving();
    server->Publish("x 1\n");
    const int port = server->Address().Port;
    const int cap = TMetricsServer::TLimits().MaxConnections;
    // One client holds the cap's worth of connections without a request,
    // and opens a new one for each one closed.
    std::atomic<bool> done{false};
    std::atomic<int> reopened{0};
    std::thread holder([&] {
        std::vector<std::unique_ptr<RawClient>> idle;
        for (int i = 0; i < cap; ++i)
            idle.push_back(std::make_unique<RawClient>("127.0.0.1", port));
        while (!done) {
            for (auto &c : idle) {
                if (!c->Connected() || c->ReadUntilClosed(0)) {
                    c = std::make_unique<RawClient>("127.0.0.1", port);
                    ++reopened;
                }
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
    });
    ASSERT_TRUE(WaitOpen(*server, cap));
    int answered = 0;
    for (int i = 0; i < 60; ++i) {
        // Each scrape meets the cap held.
        EXPECT_TRUE(WaitOpen(*server, cap));
        int status = 0;
        answered += HttpGet("127.0.0.1", port, "/metrics", &status) == "x 1\n" && status == 200;
        EXPECT_LE(server->OpenConnections(), cap);
    }
    done = true;
    holder.join();
    std::printf("scrapes answered under %d held connections: %d of 60 (%d reopened)\n", cap, answered,
                int(reopened));
    EXPECT_EQ(answered, 60);
    EXPECT_GT(reopened, 0);
}

TEST(MetricsServer, AReaderThatNeverReadsHoldsNothingPastItsTime)
{
    TMetricsServer::TLimits limits;
    limits.TimeoutMs = 800;
    auto server = Serving(limits);
    // A text far larger than the system's socket buffers.
    const QByteArray big(16 << 20, 'x');
    server->Publish(big);
    const int port = server->Address().Port;
    RawClient stuck("127.0.0.1", port);
    ASSERT_TRUE(stuck.Connected());
    ASSERT_EQ(stuck.Send("GET /metrics HTTP/1.1\r\n\r\n"), 25);
    QElapsedTimer clock;
    clock.start();
    while (server->Served() < 1 && clock.elapsed() < 3000)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    ASSERT_EQ(server->Served(), 1u);
    // Whoever reads meanwhile is served (and a small text is quick).
    server->Publish("x 1\n");
    EXPECT_EQ(HttpGet("127.0.0.1", port, "/metrics"), "x 1\n");
    ASSERT_TRUE(WaitOpen(*server, 0, 4000));
    // What got out before the end is a beginning of the response, never all of it.
    stuck.ReadUntilClosed(2000);
    EXPECT_LT(stuck.Received().size(), big.size());
}
