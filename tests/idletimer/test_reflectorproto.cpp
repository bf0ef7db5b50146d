// The reflector's messages and the checks before it answers: layouts built
// by hand, every altered byte refused, random input, and the guard's
// freshness, replay and rate decisions on a clock the test keeps.
#include "idletimer/reflectorguard.h"
#include "idletimer/reflectorproto.h"

#include <gtest/gtest.h>

#include <QMessageAuthenticationCode>
#include <QRandomGenerator>

using namespace idletimer;

namespace {

const QByteArray Key = "a shared key of some length";

TMessage Request(std::uint64_t nonce, std::int64_t clockMs = 1'800'000'000'000)
{
    TMessage m;
    m.Transport = TTransport::Tcp;
    m.Silence = 960;
    m.Nonce = nonce;
    m.ClockMs = clockMs;
    return m;
}

} // namespace

TEST(ReflectorProto, LayoutAndTag)
{
    const QByteArray bytes = Encode(Request(0x0102030405060708ull), Key);
    ASSERT_EQ(bytes.size(), kRequestSize);
    const QByteArray head = QByteArray::fromHex("49444c58" "01" "01" "0002" "000003c0" "0102030405060708");
    EXPECT_EQ(bytes.left(20), head);
    EXPECT_EQ(bytes.mid(20, 8), QByteArray::fromHex("000001a3185c5000"));
    EXPECT_EQ(bytes.mid(28, kRequestSize - 16 - 28), QByteArray(kRequestSize - 16 - 28, '\0'));
    const QByteArray tag = QMessageAuthenticationCode::hash(bytes.left(kRequestSize - 16), Key,
                                                            QCryptographicHash::Sha256);
    EXPECT_EQ(bytes.right(16), tag.left(16));

    const auto m = Decode(bytes, Key, TKind::Request);
    ASSERT_TRUE(m);
    EXPECT_EQ(m->Nonce, 0x0102030405060708ull);
    EXPECT_EQ(m->Silence, 960u);
    EXPECT_EQ(m->Transport, TTransport::Tcp);
    // Both answers together are smaller than the request: nothing amplifies.
    TMessage ack = *m;
    ack.Kind = TKind::Ack;
    EXPECT_EQ(Encode(ack, Key).size(), kAnswerSize);
    EXPECT_LE(2 * kAnswerSize, kRequestSize);
}

TEST(ReflectorProto, RefusesWhatIsNotSignedOrWellFormed)
{
    const QByteArray good = Encode(Request(42), Key);
    struct Row {
        const char *what;
        QByteArray bytes;
        QByteArray key;
        TKind expected;
        TRefusal why;
    } rows[] = {
        {"other key", good, "another key of some length", TKind::Request, TRefusal::Tag},
        {"empty key", good, QByteArray(), TKind::Request, TRefusal::Tag},
        {"short", good.left(kRequestSize - 1), Key, TKind::Request, TRefusal::Size},
        {"long", good + 'x', Key, TKind::Request, TRefusal::Size},
        {"a cut request read as an ack", good.left(kAnswerSize), Key, TKind::Ack, TRefusal::Tag},
        {"a request where an ack is due", good, Key, TKind::Ack, TRefusal::Size},
        {"magic", QByteArray("XDLX") + good.mid(4), Key, TKind::Request, TRefusal::Magic},
        {"version", good.left(4) + '\x02' + good.mid(5), Key, TKind::Request, TRefusal::Version},
    };
    for (const Row &r : rows) {
        SCOPED_TRACE(r.what);
        TRefusal why = TRefusal::None;
        EXPECT_FALSE(Decode(r.bytes, r.key, r.expected, &why));
        EXPECT_EQ(why, r.why);
    }
    // A signed message of the wrong kind, and a silence past the limit.
    TMessage late = Request(1);
    late.Kind = TKind::Late;
    TRefusal why = TRefusal::None;
    EXPECT_FALSE(Decode(Encode(late, Key), Key, TKind::Ack, &why));
    EXPECT_EQ(why, TRefusal::Kind);
    TMessage tooLong = Request(2);
    tooLong.Silence = kMaxSilence + 1;
    EXPECT_FALSE(Decode(Encode(tooLong, Key), Key, TKind::Request, &why));
    EXPECT_EQ(why, TRefusal::Silence);
}

TEST(ReflectorProto, EveryAlteredByteIsRefusedAndRandomInputNeverPasses)
{
    const QByteArray good = Encode(Request(7), Key);
    for (int i = 0; i < good.size(); ++i) {
        QByteArray bad = good;
        bad[i] = char(bad[i] ^ (1 << (i % 8)));
        EXPECT_FALSE(Decode(bad, Key, TKind::Request)) << "byte " << i;
    }
    QRandomGenerator rng(37);
    for (int round = 0; round < 20000; ++round) {
        QByteArray bytes(int(rng.bounded(2 * kRequestSize)), '\0');
        for (char &c : bytes)
            c = char(rng.bounded(256));
        // Half of them look like ours up to the tag.
        if (round % 2 && bytes.size() >= 6)
            bytes.replace(0, 6, QByteArray("IDLX\x01\x01", 6));
        EXPECT_FALSE(Decode(bytes, Key, round % 3 ? TKind::Request : TKind::Late));
    }
}

TEST(ReflectorProto, KeysTooShortOrMissingAreRefused)
{
    EXPECT_FALSE(KeyProblem(QString()).isEmpty());
    EXPECT_FALSE(KeyProblem(QStringLiteral("   ")).isEmpty());
    EXPECT_FALSE(KeyProblem(QStringLiteral("fifteen chars!!")).isEmpty());
    EXPECT_TRUE(KeyProblem(QStringLiteral("sixteen chars!!!")).isEmpty());
    EXPECT_EQ(KeyBytes(QStringLiteral(" clé \t")), QByteArray("cl\xc3\xa9"));
}

TEST(ReflectorGuard, FreshnessReplayAndRate)
{
    TReflectorGuard::TLimits limits;
    limits.Burst = 3;
    limits.PerSecond = 2;
    TReflectorGuard guard(limits);
    const std::int64_t wall = 1'800'000'000'000;
    const QString a = QStringLiteral("192.0.2.1"), b = QStringLiteral("192.0.2.2");
    struct Row {
        QString source;
        std::uint64_t nonce;
        std::int64_t clockSkewMs;
        std::int64_t monoMs;
        TAdmit verdict;
    } rows[] = {
        {a, 1, 0, 0, TAdmit::Accept},
        {a, 1, 0, 0, TAdmit::Replayed},           // the same request again
        {b, 1, 0, 0, TAdmit::Replayed},           // ... from anywhere else
        {a, 2, -121'000, 0, TAdmit::Stale},       // clock too far behind
        {a, 3, +121'000, 0, TAdmit::Stale},       // or ahead
        {a, 4, 119'000, 0, TAdmit::Accept},
        {a, 5, 0, 0, TAdmit::Accept},             // the burst of three is used up
        {a, 6, 0, 0, TAdmit::RateLimited},
        {b, 60, 0, 0, TAdmit::Accept},            // another source has its own
        {a, 6, 0, 499, TAdmit::RateLimited},      // just under one answer's refill
        {a, 6, 0, 501, TAdmit::Accept},
        {a, 7, 0, 501, TAdmit::RateLimited},
    };
    for (const Row &r : rows) {
        SCOPED_TRACE(r.nonce);
        EXPECT_EQ(guard.Admit(r.source, Request(r.nonce, wall + r.clockSkewMs), wall, r.monoMs), r.verdict);
    }
    // A nonce is forgotten only once its clock can no longer pass.
    EXPECT_EQ(guard.Nonces(), 5u);
    const std::int64_t later = 2 * limits.ClockWindowMs + 2000;
    EXPECT_EQ(guard.Admit(a, Request(1, wall), wall + later, later), TAdmit::Stale);
    EXPECT_EQ(guard.Nonces(), 0u);
}

TEST(ReflectorGuard, FullTablesRefuseRatherThanForget)
{
    TReflectorGuard::TLimits limits;
    limits.MaxNonces = 4;
    limits.MaxSources = 2;
    TReflectorGuard guard(limits);
    const std::int64_t wall = 1'800'000'000'000;
    for (std::uint64_t n = 1; n <= 4; ++n)
        EXPECT_EQ(guard.Admit(QStringLiteral("192.0.2.1"), Request(n, wall), wall, 0), TAdmit::Accept);
    EXPECT_EQ(guard.Admit(QStringLiteral("192.0.2.1"), Request(5, wall), wall, 0), TAdmit::Busy);
    EXPECT_EQ(guard.Admit(QStringLiteral("192.0.2.2"), Request(6, wall), wall, 0), TAdmit::Busy);
    EXPECT_EQ(guard.Admit(QStringLiteral("192.0.2.3"), Request(7, wall), wall, 0), TAdmit::Busy);
    EXPECT_EQ(guard.Sources(), 2u);
}
