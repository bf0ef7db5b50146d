// The reflector on loopback, spoken to with hand-made datagrams and
// connections: what a key-less, replayed, stale or flooding client gets
// (nothing beyond the caps), and that answers never outweigh requests.
#include "idletimer/idlefinder.h"
#include "idletimer/reflector.h"
#include "platform/resolver.h"
#include "platform/socket.h"
#include "../support/testutil.h"

#include <gtest/gtest.h>

#include <QDateTime>
#include <QElapsedTimer>

using namespace idletimer;
using namespace std::chrono_literals;

namespace {

const QByteArray Key = "reflector test key, long enough";

platform::IpAddress Loopback() { return platform::IpAddress::V4(platform::InetAddr("127.0.0.1")); }

struct Client {
    platform::SocketHandle s = platform::kInvalidSocket;
    explicit Client(std::uint16_t port)
    {
        s = platform::SockOpen(platform::Family::IPv4, platform::kSockDatagram, 0);
        platform::SockConnect(s, Loopback(), port);
    }
    ~Client() { platform::SockClose(s); }
    void Send(const QByteArray &b) { platform::SockSend(s, b.constData(), int(b.size()), 0); }
    // Every datagram that arrives within 'span'.
    QList<QByteArray> Collect(std::chrono::milliseconds span)
    {
        QList<QByteArray> got;
        QElapsedTimer t;
        t.start();
        while (t.elapsed() < span.count()) {
            testutil::pump(10ms);
            char buf[512];
            int n;
            while ((n = platform::SockRecv(s, buf, sizeof buf)) > 0)
                got << QByteArray(buf, n);
        }
        return got;
    }
};

QByteArray Request(std::uint64_t nonce, std::uint32_t silence = 0, const QByteArray &key = Key,
                   qint64 skewMs = 0)
{
    TMessage m;
    m.Silence = silence;
    m.Nonce = nonce;
    m.ClockMs = QDateTime::currentMSecsSinceEpoch() + skewMs;
    return Encode(m, key);
}

class ReflectorTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        reflector = std::make_unique<TReflector>(Key);
        reflector->OnLog = [this](const QString &line) { log << line; };
        QString error;
        ASSERT_TRUE(reflector->Listen(Loopback(), 0, &error)) << error.toStdString();
    }
    std::unique_ptr<TReflector> reflector;
    QStringList log;
};

} // namespace

TEST_F(ReflectorTest, AnswersOnlySignedFreshUnseenRequests)
{
    Client c(reflector->Port());
    const QByteArray good = Request(1, 1);
    struct Row {
        const char *what;
        QByteArray bytes;
        int answers;   // datagrams back within 1.5 s
    } rows[] = {
        {"signed: the acknowledgement, then the late answer after 1 s", good, 2},
        {"the same request again", good, 0},
        {"another key", Request(2, 0, "not the reflector's key at all"), 0},
        {"no key", Request(3, 0, QByteArray()), 0},
        {"clock five minutes behind", Request(4, 0, Key, -300'000), 0},
        {"not ours", QByteArray(kRequestSize, 'x'), 0},
        {"a large datagram", QByteArray(9000, '\0'), 0},
    };
    for (const Row &r : rows) {
        SCOPED_TRACE(r.what);
        c.Send(r.bytes);
        const QList<QByteArray> got = c.Collect(r.answers ? 1500ms : 300ms);
        ASSERT_EQ(got.size(), r.answers);
        if (r.answers) {
            EXPECT_TRUE(Decode(got[0], Key, TKind::Ack));
            EXPECT_TRUE(Decode(got[1], Key, TKind::Late));
        }
    }
    // The replay is refused from another port (another client) as well.
    Client other(reflector->Port());
    other.Send(good);
    EXPECT_TRUE(other.Collect(300ms).isEmpty());
    EXPECT_EQ(reflector->Counts().Accepted, 1u);
    EXPECT_EQ(reflector->Counts().Refused, 7u);
    EXPECT_TRUE(log.join('\n').contains("replayed")) << log.join('\n').toStdString();
    EXPECT_TRUE(log.join('\n').contains("not signed with this key"));
}

TEST_F(ReflectorTest, AFloodGetsTheBurstAndTheRateAndNeverMoreBytesThanItSent)
{
    Client c(reflector->Port());
    QElapsedTimer t;
    t.start();
    qint64 sent = 0;
    for (std::uint64_t n = 1; n <= 400; ++n) {
        const QByteArray r = Request(1000 + n);
        c.Send(r);
        sent += r.size();
        if (n % 50 == 0)
            testutil::pump(100ms);
    }
    const QList<QByteArray> got = c.Collect(500ms);
    const double seconds = t.elapsed() / 1000.0;
    // 16 at once and 4 a second: each accepted request gets two answers.
    const TReflectorGuard::TLimits limits;
    EXPECT_GE(got.size(), 2 * int(limits.Burst));
    EXPECT_LE(got.size(), 2 * int(limits.Burst + limits.PerSecond * seconds + 1));
    qint64 back = 0;
    for (const QByteArray &a : got) {
        EXPECT_EQ(a.size(), kAnswerSize);
        back += a.size();
    }
    EXPECT_LE(back, sent / 4);
    EXPECT_LE(reflector->Counts().BytesOut, reflector->Counts().BytesIn);
    // The refusals are told, not one line each.
    EXPECT_LE(log.size(), 3);
}

TEST_F(ReflectorTest, TcpAcknowledgesThenSendsOneByteAfterTheSilence)
{
    platform::SocketHandle s = platform::SockOpen(platform::Family::IPv4, platform::kSockStream, 0);
    platform::SockConnect(s, Loopback(), reflector->Port());
    ASSERT_TRUE(testutil::waitFor([&] { return platform::SockPendingError(s) == 0; }, 2s));
    TMessage m;
    m.Transport = TTransport::Tcp;
    m.Silence = 1;
    m.Nonce = 77;
    m.ClockMs = QDateTime::currentMSecsSinceEpoch();
    const QByteArray req = Encode(m, Key);
    testutil::pump(50ms);
    ASSERT_EQ(platform::SockSend(s, req.constData(), int(req.size()), 0), kRequestSize);
    QByteArray got;
    QElapsedTimer t;
    t.start();
    qint64 lateAt = -1;
    while (t.elapsed() < 3000 && lateAt < 0) {
        testutil::pump(10ms);
        char buf[128];
        const int n = platform::SockRecv(s, buf, sizeof buf);
        if (n > 0) {
            got.append(buf, n);
            if (got.size() > kAnswerSize)
                lateAt = t.elapsed();
        }
    }
    platform::SockClose(s);
    ASSERT_EQ(got.size(), kAnswerSize + 1);
    EXPECT_TRUE(Decode(got.left(kAnswerSize), Key, TKind::Ack));
    EXPECT_EQ(got.back(), kTcpLateByte);
    EXPECT_GE(lateAt, 950);
    // A request sent as a datagram asking for a TCP answer is refused.
    Client c(reflector->Port());
    c.Send(req);
    EXPECT_TRUE(c.Collect(300ms).isEmpty());
}

TEST_F(ReflectorTest, FinderWithTheWrongKeyMeasuresNothingAndSaysWhy)
{
    TIdleTrial::TTarget target{Loopback(), reflector->Port(), TTransport::Udp, "a key the reflector does not have"};
    TTrialPlan::TSettings settings;
    settings.First = 1;
    settings.Longest = 2;
    TIdleTimerFinder finder(target, settings);
    std::optional<TIdleResult> result;
    finder.OnDone = [&](const TIdleResult &r) { result = r; };
    finder.Start();
    ASSERT_TRUE(testutil::waitFor([&] { return result.has_value(); }, 15s));
    EXPECT_EQ(result->State, TTrialPlan::TState::Failed);
    EXPECT_TRUE(ResultLine(*result).startsWith("udp idle timer: not measured (the reflector at 127.0.0.1"))
        << ResultLine(*result).toStdString();
    EXPECT_EQ(reflector->Counts().Accepted, 0u);
}

TEST_F(ReflectorTest, ConnectionsOfOneSourceAreCappedAndIdleOnesClosed)
{
    std::vector<platform::SocketHandle> held;
    for (int i = 0; i < 70; ++i) {
        held.push_back(platform::SockOpen(platform::Family::IPv4, platform::kSockStream, 0));
        platform::SockConnect(held.back(), Loopback(), reflector->Port());
    }
    // Past 64 from one address, a connection is closed at once, and the rest
    // hold nothing but their slot (no request: no answer, ever).
    auto closed = [&] {
        int n = 0;
        for (platform::SocketHandle s : held) {
            char c;
            n += platform::SockPeek(s, &c, 1) == 0;
        }
        return n;
    };
    ASSERT_TRUE(testutil::waitFor([&] { return closed() == 6; }, 3s)) << closed();
    EXPECT_EQ(reflector->Waiting(), 64u);
    for (platform::SocketHandle s : held)
        platform::SockClose(s);
    ASSERT_TRUE(testutil::waitFor([&] { return reflector->Waiting() == 0; }, 3s));
    EXPECT_EQ(reflector->Counts().Accepted, 0u);
}
