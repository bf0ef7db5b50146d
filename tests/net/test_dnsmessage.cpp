#include "net/dnsmessage.h"

#include <QStringList>

#include <gtest/gtest.h>
#include <random>

using namespace dnsmsg;

namespace {

// Replies are written out byte by byte here, as a server would send them,
// not through the code under test.
QByteArray be16(int v)
{
    QByteArray b;
    b += char((v >> 8) & 0xff);
    b += char(v & 0xff);
    return b;
}

QByteArray header(int id, int flags, int qd, int an, int ns = 0, int ar = 0)
{
    return be16(id) + be16(flags) + be16(qd) + be16(an) + be16(ns) + be16(ar);
}

// "host.idlix.test" in wire form.
const QByteArray kHostWire("\x04host\x05idlix\x04test\x00", 17);

QByteArray question(const QByteArray &wire, int type, int cls = 1)
{
    return wire + be16(type) + be16(cls);
}

// A record whose owner is a pointer to the question's name (offset 12).
QByteArray record(int type, const QByteArray &rdata, int cls = 1)
{
    return QByteArray("\xc0\x0c", 2) + be16(type) + be16(cls) + QByteArray("\x00\x00\x0e\x10", 4)
           + be16(int(rdata.size())) + rdata;
}

const QByteArray kAddr("\x0a\xc8\x03\x0a", 4);

} // namespace

TEST(DnsMessage, EncodeNameAcceptsHostNamesAndRefusesTheRest)
{
    struct Case {
        const char *name;
        QByteArray wire;   // empty: refused
    } cases[] = {
        {"host.idlix.test", kHostWire},
        {"host.idlix.test.", kHostWire},
        {"HOST.Idlix.test", QByteArray("\x04HOST\x05Idlix\x04test\x00", 17)},
        {"_dmarc.a-b.test", QByteArray("\x06_dmarc\x03" "a-b\x04test\x00", 17)},
        {"", {}},
        {".", {}},
        {"a..test", {}},
        {".test", {}},
        {"sp ace.test", {}},
        {"slash/x.test", {}},
        {"b\xc3\xbc" "cher.test", {}},
    };
    for (const Case &c : cases) {
        QString error;
        const auto wire = EncodeName(QString::fromUtf8(c.name), &error);
        if (c.wire.isEmpty()) {
            EXPECT_FALSE(wire) << c.name;
            EXPECT_FALSE(error.isEmpty()) << c.name;
        } else {
            ASSERT_TRUE(wire) << c.name << ": " << error.toStdString();
            EXPECT_EQ(*wire, c.wire) << c.name;
        }
    }
    // The limits of RFC 1035: 63 bytes a label, 255 the whole name.
    const QString label63(63, QLatin1Char('a'));
    EXPECT_TRUE(EncodeName(label63 + QStringLiteral(".test")));
    EXPECT_FALSE(EncodeName(label63 + QStringLiteral("a.test")));
    QString longest = QStringList(4, QString(62, QLatin1Char('b'))).join(QLatin1Char('.'));
    EXPECT_TRUE(EncodeName(longest));   // 4 * 63 + 1 = 253 bytes
    EXPECT_FALSE(EncodeName(longest + QStringLiteral(".cc")));
}

TEST(DnsMessage, QueryIsOneRecursiveQuestionOfClassIn)
{
    const QByteArray q = BuildQuery(0xbeef, kHostWire, TType::MX);
    const QByteArray expected = header(0xbeef, 0x0100, 1, 0) + question(kHostWire, 15);
    EXPECT_EQ(q.toHex().toStdString(), expected.toHex().toStdString());
}

TEST(DnsMessage, TypeNamesInAnyCase)
{
    struct Case {
        const char *name;
        std::optional<TType> type;
    } cases[] = {
        {"A", TType::A}, {"aaaa", TType::AAAA}, {"Mx", TType::MX}, {"txt", TType::TXT},
        {"NS", TType::NS}, {"soa", TType::SOA}, {"CNAME", std::nullopt}, {"", std::nullopt},
        {"A ", std::nullopt},
    };
    for (const Case &c : cases)
        EXPECT_EQ(TypeByName(QString::fromLatin1(c.name)), c.type) << c.name;
    EXPECT_EQ(TypeName(TType::AAAA), QStringLiteral("AAAA"));
}

TEST(DnsMessage, RepliesReadAndCheckedAgainstTheQuery)
{
    const QByteArray q = question(kHostWire, 1);
    const QByteArray cname = record(5, QByteArray("\x05other\xc0\x11", 8));
    struct Case {
        const char *what;
        QByteArray bytes;
        TParse parse;
        int rcode, answers;
        bool truncated;
    } cases[] = {
        {"one address", header(7, 0x8180, 1, 1) + q + record(1, kAddr), TParse::Reply, 0, 1, false},
        {"two addresses", header(7, 0x8180, 1, 2) + q + record(1, kAddr) + record(1, kAddr), TParse::Reply, 0, 2, false},
        {"a cname before the address", header(7, 0x8180, 1, 2) + q + cname + record(1, kAddr), TParse::Reply, 0, 1, false},
        {"only a cname", header(7, 0x8180, 1, 1) + q + cname, TParse::Reply, 0, 0, false},
        {"an address of class CH", header(7, 0x8180, 1, 1) + q + record(1, kAddr, 3), TParse::Reply, 0, 0, false},
        {"an address in the additional section", header(7, 0x8180, 1, 0, 0, 1) + q + record(1, kAddr), TParse::Reply, 0, 0, false},
        {"nxdomain", header(7, 0x8183, 1, 0) + q, TParse::Reply, 3, 0, false},
        {"servfail", header(7, 0x8182, 1, 0) + q, TParse::Reply, 2, 0, false},
        {"refused", header(7, 0x8105, 1, 0) + q, TParse::Reply, 5, 0, false},
        {"truncated", header(7, 0x8380, 1, 0) + q, TParse::Reply, 0, 0, true},
        {"question in upper case", header(7, 0x8180, 1, 1) + question(QByteArray("\x04HOST\x05IDLIX\x04TEST\x00", 17), 1) + record(1, kAddr),
         TParse::Reply, 0, 1, false},
        {"another id", header(8, 0x8180, 1, 1) + q + record(1, kAddr), TParse::OtherId, -1, 0, false},
        {"shorter than a header", header(7, 0x8180, 1, 1).left(11), TParse::OtherId, -1, 0, false},
        {"a query, not a reply", header(7, 0x0100, 1, 0) + q, TParse::Malformed, -1, 0, false},
        {"no question", header(7, 0x8180, 0, 1) + record(1, kAddr), TParse::Malformed, -1, 0, false},
        {"two questions", header(7, 0x8180, 2, 0) + q + q, TParse::Malformed, -1, 0, false},
        {"another name", header(7, 0x8180, 1, 1) + question(QByteArray("\x04host\x05idlix\x03net\x00", 16), 1) + record(1, kAddr),
         TParse::Malformed, -1, 0, false},
        {"another type", header(7, 0x8180, 1, 0) + question(kHostWire, 28), TParse::Malformed, -1, 0, false},
        {"another class", header(7, 0x8180, 1, 0) + question(kHostWire, 1, 3), TParse::Malformed, -1, 0, false},
        {"question cut short", header(7, 0x8180, 1, 0) + q.left(q.size() - 1), TParse::Malformed, -1, 0, false},
        {"more answers counted than sent", header(7, 0x8180, 1, 2) + q + record(1, kAddr), TParse::Malformed, -1, 0, false},
        {"rdata past the end", header(7, 0x8180, 1, 1) + q + record(1, kAddr).left(14), TParse::Malformed, -1, 0, false},
        {"pointer to itself", header(7, 0x8180, 1, 1) + q + QByteArray("\xc0\x21", 2) + be16(1) + be16(1) + QByteArray(4, 0) + be16(4) + kAddr,
         TParse::Malformed, -1, 0, false},
        {"pointer forwards", header(7, 0x8180, 1, 1) + q + QByteArray("\xc0\x30", 2) + be16(1) + be16(1) + QByteArray(4, 0) + be16(4) + kAddr,
         TParse::Malformed, -1, 0, false},
        {"reserved label kind", header(7, 0x8180, 1, 1) + q + QByteArray("\x40\x00", 2) + be16(1) + be16(1) + QByteArray(4, 0) + be16(4) + kAddr,
         TParse::Malformed, -1, 0, false},
        {"longer than 512 bytes", header(7, 0x8180, 1, 1) + q + record(16, QByteArray(480, 'x')), TParse::Malformed, -1, 0, false},
    };
    for (const Case &c : cases) {
        TReplyInfo info;
        QString why;
        const TParse parse = ParseReply(c.bytes, 7, kHostWire, TType::A, info, &why);
        EXPECT_EQ(parse, c.parse) << c.what;
        if (parse == TParse::Reply) {
            EXPECT_EQ(info.Rcode, c.rcode) << c.what;
            EXPECT_EQ(info.Answers, c.answers) << c.what;
            EXPECT_EQ(info.Truncated, c.truncated) << c.what;
        }
        if (parse == TParse::Malformed) {
            EXPECT_FALSE(why.isEmpty()) << c.what;
        }
    }
}

// Random bytes and random damage to a good reply: never a crash, and a
// reply is only ever read from a datagram that carries our question.
TEST(DnsMessage, RandomInputNeverPassesForAnAnswer)
{
    std::mt19937 gen(20261209);
    const QByteArray good = header(7, 0x8180, 1, 1) + question(kHostWire, 1) + record(1, kAddr);
    for (int round = 0; round < 20000; ++round) {
        QByteArray bytes;
        if (round % 2 == 0) {
            bytes = header(7, 0x8180, 1, int(gen() % 4)) + QByteArray(int(gen() % 100), '\0');
            for (int i = 12; i < bytes.size(); ++i)
                bytes[i] = char(gen());
        } else {
            bytes = good;
            const int flips = 1 + int(gen() % 4);
            for (int i = 0; i < flips; ++i)
                bytes[int(gen() % bytes.size())] = char(gen());
            bytes.truncate(int(gen() % (bytes.size() + 1)));
        }
        TReplyInfo info;
        if (ParseReply(bytes, 7, kHostWire, TType::A, info) == TParse::Reply) {
            ASSERT_GE(bytes.size(), 12 + kHostWire.size() + 4);
            ASSERT_EQ(bytes.mid(12, kHostWire.size()).toLower(), kHostWire.toLower());
            ASSERT_LE(info.Answers, 1 + bytes.size() / 11);
            ASSERT_GE(info.Rcode, 0);
            ASSERT_LE(info.Rcode, 15);
        }
    }
}
