// The framing of an HTTP/1.1 reply: whole replies of each framing, replies
// cut short or broken, the limits, and the same answers however the bytes
// are split on their way in.
#include "session/replyreader.h"

#include <gtest/gtest.h>

#include <random>

using session::TReplyReader;
using TState = TReplyReader::TState;

namespace {

struct TCase {
    const char *name;
    QByteArray bytes;
    int closed;              // 0: not closed, 1: closed cleanly, 2: closed without close_notify
    TState state;
    int status;
    qint64 body;
    const char *error;       // Broken: the reason
};

// Feeds 'bytes' in pieces cut at 'cuts', then the close the case asks for.
TReplyReader Read(const TCase &c, const std::vector<int> &cuts, int headerLimit = 256, qint64 bodyLimit = 64)
{
    TReplyReader reader(headerLimit, bodyLimit);
    int at = 0;
    for (int cut : cuts) {
        reader.Feed(c.bytes.constData() + at, cut - at);
        at = cut;
    }
    reader.Feed(c.bytes.constData() + at, c.bytes.size() - at);
    if (c.closed)
        reader.Closed(c.closed == 1);
    return reader;
}

const TCase Cases[] = {
    {"length", "HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\nhello", 0, TState::Done, 200, 5, ""},
    {"length, bytes after the document ignored", "HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nhiXYZ", 0,
     TState::Done, 200, 2, ""},
    {"length, LF line ends", "HTTP/1.0 302 Found\nLocation: /x\ncontent-length:3\n\nabc", 0, TState::Done, 302, 3, ""},
    {"length zero", "HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n", 0, TState::Done, 200, 0, ""},
    {"length, still coming", "HTTP/1.1 200 OK\r\nContent-Length: 9\r\n\r\nhello", 0, TState::Body, 200, 5, ""},
    {"length, cut short by a clean close", "HTTP/1.1 200 OK\r\nContent-Length: 9\r\n\r\nhello", 1, TState::Broken,
     200, 5, "the reply was cut short"},
    {"length twice, disagreeing", "HTTP/1.1 200 OK\r\nContent-Length: 2\r\nContent-Length: 3\r\n\r\nab", 0,
     TState::Broken, 200, 0, "the reply's Content-Length is broken"},
    {"length not a number", "HTTP/1.1 200 OK\r\nContent-Length: 2x\r\n\r\nab", 0, TState::Broken, 200, 0,
     "the reply's Content-Length is broken"},
    {"length over the limit, told at once", "HTTP/1.1 200 OK\r\nContent-Length: 65\r\n\r\n", 0, TState::Broken, 200,
     0, "the document is longer than 64 bytes"},
    {"chunked", "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n5\r\nhello\r\nA;x=y\r\n0123456789\r\n0\r\n\r\n",
     0, TState::Done, 200, 15, ""},
    {"chunked with a trailer", "HTTP/1.1 404 Not Found\r\nTransfer-Encoding: gzip, chunked\r\n\r\n1\r\nx\r\n0\r\nT: 1\r\n\r\n",
     0, TState::Done, 404, 1, ""},
    {"chunked wins over a length", "HTTP/1.1 200 OK\r\nContent-Length: 100\r\nTransfer-Encoding: chunked\r\n\r\n2\r\nab\r\n0\r\n\r\n",
     0, TState::Done, 200, 2, ""},
    {"chunked, no last chunk before the close", "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n5\r\nhello\r\n", 1,
     TState::Broken, 200, 5, "the reply was cut short"},
    {"chunked, bad size", "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\nzz\r\n", 0, TState::Broken, 200, 0,
     "the reply's chunks are broken"},
    {"chunked, data longer than its size", "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n2\r\nabc\r\n", 0,
     TState::Broken, 200, 2, "the reply's chunks are broken"},
    {"chunked, over the limit", "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n41\r\n", 0, TState::Body, 200,
     0, ""},
    {"to the close, closed cleanly", "HTTP/1.0 200 OK\r\n\r\nsome bytes", 1, TState::Done, 200, 10, ""},
    {"to the close, closed without close_notify", "HTTP/1.0 200 OK\r\n\r\nsome bytes", 2, TState::Broken, 200, 10,
     "the reply was cut short"},
    {"to the close, over the limit", QByteArray("HTTP/1.0 200 OK\r\n\r\n") + QByteArray(65, 'x'), 0, TState::Broken,
     200, 65, "the document is longer than 64 bytes"},
    {"no body after 204", "HTTP/1.1 204 No Content\r\nContent-Length: 7\r\n\r\n", 0, TState::Done, 204, 0, ""},
    {"no body after 304", "HTTP/1.1 304 Not Modified\r\n\r\n", 0, TState::Done, 304, 0, ""},
    {"interim answers first", "HTTP/1.1 100 Continue\r\n\r\nHTTP/1.1 103 Early\r\nLink: x\r\n\r\nHTTP/1.1 200 OK\r\nContent-Length: 1\r\n\r\nz",
     0, TState::Done, 200, 1, ""},
    {"closed before anything", "", 1, TState::Broken, -1, 0, "the server closed the connection without a reply"},
    {"closed within the header", "HTTP/1.1 200 OK\r\nContent-", 1, TState::Broken, -1, 0,
     "the server closed the connection within the header"},
    {"no HTTP reply", "SSH-2.0-OpenSSH\r\n\r\n", 0, TState::Broken, -1, 0, "the server's answer is no HTTP reply"},
    {"no code", "HTTP/1.1 2x0 OK\r\n\r\n", 0, TState::Broken, -1, 0, "the reply's status line has no code"},
    {"header over its limit", "HTTP/1.1 200 OK\r\nX: " + QByteArray(300, 'a') + "\r\n\r\n", 0, TState::Broken, -1, 0,
     "the header is longer than 256 bytes"},
};

} // namespace

TEST(ReplyReader, FramingsLimitsAndBrokenReplies)
{
    for (const TCase &c : Cases) {
        SCOPED_TRACE(c.name);
        const TReplyReader r = Read(c, {});
        EXPECT_EQ(int(r.State()), int(c.state));
        EXPECT_EQ(r.Status(), c.status);
        EXPECT_EQ(r.BodyBytes(), c.body);
        EXPECT_EQ(r.Error().toStdString(), c.error);
    }
    TReplyReader ok(256, 64);
    const QByteArray reply = "HTTP/1.1 301 Moved Permanently  \r\n\r\n";
    ok.Feed(reply.constData(), reply.size());
    EXPECT_EQ(ok.ReasonPhrase(), QStringLiteral("Moved Permanently"));
}

// However the bytes are cut on their way (one at a time, between a CR and
// its LF, inside a chunk's size), a reply reads the same.
TEST(ReplyReader, TheSameAnswerHoweverTheBytesAreSplit)
{
    std::mt19937 random(7);
    for (const TCase &c : Cases) {
        SCOPED_TRACE(c.name);
        std::vector<int> everyByte;
        for (int i = 1; i < c.bytes.size(); ++i)
            everyByte.push_back(i);
        std::vector<std::vector<int>> splits{everyByte};
        for (int k = 0; k < 30 && c.bytes.size() > 1; ++k) {
            std::vector<int> cuts;
            for (int i = 1; i < c.bytes.size(); ++i)
                if (random() % 4 == 0)
                    cuts.push_back(i);
            splits.push_back(cuts);
        }
        for (const auto &cuts : splits) {
            const TReplyReader r = Read(c, cuts);
            ASSERT_EQ(int(r.State()), int(c.state));
            ASSERT_EQ(r.Status(), c.status);
            ASSERT_EQ(r.BodyBytes(), c.body);
            ASSERT_EQ(r.Error().toStdString(), c.error);
        }
    }
}

// Random bytes, and random damage to good replies: the reader always ends
// in one of its states with its counts in bounds.
TEST(ReplyReader, RandomBytesNeverBreakTheReader)
{
    std::mt19937 random(11);
    for (int i = 0; i < 20000; ++i) {
        QByteArray bytes = Cases[random() % std::size(Cases)].bytes;
        for (int k = int(random() % 4); k > 0 && !bytes.isEmpty(); --k)
            bytes[int(random() % bytes.size())] = char(random() % 256);
        if (i % 3 == 0)
            bytes = QByteArray(int(random() % 200), char(random() % 256));
        TReplyReader r(256, 64);
        r.Feed(bytes.constData(), bytes.size());
        r.Closed(random() % 2);
        EXPECT_NE(int(r.State()), int(TState::Header));
        EXPECT_LE(r.BodyBytes(), bytes.size());
        EXPECT_EQ(r.State() == TState::Broken, !r.Error().isEmpty());
    }
}
