// The endpoint's request heads and responses as bytes: what completes a
// head, what is refused and how, and a run of random bytes that must never
// be taken for more than they are.
#include "service/httprequest.h"

#include <QRandomGenerator>
#include <gtest/gtest.h>

using service::ParseRequestHead;
using service::TRequestHead;
using TState = TRequestHead::TState;

namespace {

constexpr int kLimit = 8192;

} // namespace

TEST(HttpRequest, HeadsAsTheyArrive)
{
    const struct {
        const char *name;
        QByteArray bytes;
        TState state;
        const char *method, *target;
    } cases[] = {
        {"nothing yet", "", TState::Incomplete, "", ""},
        {"half a request line", "GET /metr", TState::Incomplete, "", ""},
        {"a line, no blank line yet", "GET /metrics HTTP/1.1\r\nHost: x\r\n", TState::Incomplete, "", ""},
        {"Prometheus's scrape", "GET /metrics HTTP/1.1\r\nHost: 127.0.0.1:9417\r\nAccept: text/plain\r\n\r\n",
         TState::Complete, "GET", "/metrics"},
        {"bare line feeds", "GET / HTTP/1.0\n\n", TState::Complete, "GET", "/"},
        {"HTTP/1.0 with no headers", "HEAD /metrics HTTP/1.0\r\n\r\n", TState::Complete, "HEAD", "/metrics"},
        {"blank lines first", "\r\n\r\nGET /metrics HTTP/1.1\r\n\r\n", TState::Complete, "GET", "/metrics"},
        {"a query", "GET /metrics?x=1 HTTP/1.1\r\n\r\n", TState::Complete, "GET", "/metrics?x=1"},
        {"a body after the head", "POST /metrics HTTP/1.1\r\nContent-Length: 3\r\n\r\nabc", TState::Complete,
         "POST", "/metrics"},
        {"lower case method is a token", "get /metrics HTTP/1.1\r\n\r\n", TState::Complete, "get", "/metrics"},
        {"no version", "GET /metrics\r\n\r\n", TState::Bad, "", ""},
        {"HTTP/2", "PRI * HTTP/2.0\r\n\r\n", TState::Bad, "", ""},
        {"two blanks", "GET  /metrics HTTP/1.1\r\n\r\n", TState::Bad, "", ""},
        {"absolute form", "GET http://x/metrics HTTP/1.1\r\n\r\n", TState::Bad, "", ""},
        {"a control in the target", "GET /met\x01rics HTTP/1.1\r\n\r\n", TState::Bad, "", ""},
        {"bad at once, before the head ends", "\x16\x03\x01\x02\x05\x01\n", TState::Bad, "", ""},
        {"a TLS hello is never a head", QByteArray("\x16\x03\x01\x00\xa5\x01", 6), TState::Incomplete, "", ""},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        const TRequestHead head = ParseRequestHead(c.bytes, kLimit);
        EXPECT_EQ(head.State, c.state);
        EXPECT_EQ(head.Method, QByteArray(c.method));
        EXPECT_EQ(head.Target, QByteArray(c.target));
    }
}

TEST(HttpRequest, NothingPastTheLimitIsRead)
{
    const QByteArray line = "GET /" + QByteArray(1 << 20, 'a');   // a 1 MB request line
    EXPECT_EQ(ParseRequestHead(line.left(kLimit - 1), kLimit).State, TState::Incomplete);
    EXPECT_EQ(ParseRequestHead(line.left(kLimit), kLimit).State, TState::TooLarge);
    EXPECT_EQ(ParseRequestHead(line, kLimit).State, TState::TooLarge);
    // A head of exactly the limit is whole; one byte more and its end is
    // never looked at.
    auto head = [](int size) {
        const QByteArray line = "GET /metrics HTTP/1.1\r\n";
        return line + "X: " + QByteArray(size - line.size() - 7, 'a') + "\r\n\r\n";
    };
    ASSERT_EQ(head(kLimit).size(), kLimit);
    EXPECT_EQ(ParseRequestHead(head(kLimit), kLimit).State, TState::Complete);
    EXPECT_EQ(ParseRequestHead(head(kLimit + 1), kLimit).State, TState::TooLarge);
}

TEST(HttpRequest, ResponsesByStatus)
{
    const QByteArray metrics = "# TYPE x gauge\nx 1\n";
    const struct {
        const char *name;
        QByteArray request;
        int status;
        QByteArray startsWith, body, extraHeader;
    } cases[] = {
        {"metrics", "GET /metrics HTTP/1.1\r\n\r\n", 200,
         "HTTP/1.1 200 OK\r\nContent-Type: text/plain; version=0.0.4; charset=utf-8\r\nContent-Length: 19\r\n",
         metrics, ""},
        {"metrics with a query", "GET /metrics?a HTTP/1.1\r\n\r\n", 200, "HTTP/1.1 200 OK\r\n", metrics, ""},
        {"head has no body", "HEAD /metrics HTTP/1.1\r\n\r\n", 200, "HTTP/1.1 200 OK\r\n", "", ""},
        {"the root points at /metrics", "GET / HTTP/1.1\r\n\r\n", 200,
         "HTTP/1.1 200 OK\r\nContent-Type: text/plain; charset=utf-8\r\n", "Idlix: the metrics are at /metrics\n", ""},
        {"another path", "GET /metricsx HTTP/1.1\r\n\r\n", 404, "HTTP/1.1 404 Not Found\r\n", "404 Not Found\n", ""},
        {"another method", "POST /metrics HTTP/1.1\r\n\r\n", 405, "HTTP/1.1 405 Method Not Allowed\r\n",
         "405 Method Not Allowed\n", "Allow: GET, HEAD\r\n"},
        {"not HTTP", "hello\r\n", 400, "HTTP/1.1 400 Bad Request\r\n", "400 Bad Request\n", ""},
        {"too long", "GET /" + QByteArray(kLimit, 'a'), 431, "HTTP/1.1 431 Request Header Fields Too Large\r\n",
         "431 Request Header Fields Too Large\n", ""},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        const TRequestHead head = ParseRequestHead(c.request, kLimit);
        EXPECT_EQ(service::ResponseStatus(head), c.status);
        const QByteArray response = service::BuildResponse(head, metrics);
        EXPECT_TRUE(response.startsWith(c.startsWith)) << response.toStdString();
        const int end = response.indexOf("\r\n\r\n");
        ASSERT_GT(end, 0);
        const QByteArray headers = response.left(end + 2);
        EXPECT_EQ(response.mid(end + 4), c.body);
        EXPECT_TRUE(headers.contains("\r\nConnection: close\r\n"));
        EXPECT_TRUE(c.extraHeader.isEmpty() || headers.contains(c.extraHeader));
        // The length is the body's even where HEAD leaves it out.
        const QByteArray rest = headers.mid(headers.indexOf("Content-Length: ") + 16);
        const int length = rest.left(rest.indexOf('\r')).toInt();
        EXPECT_EQ(length, c.request.startsWith("HEAD") ? metrics.size() : c.body.size());
    }
}

TEST(HttpRequest, RandomBytesAreNeverMoreThanTheyAre)
{
    // Random heads built from the pieces a request is made of, and plain
    // noise: a Complete head always has an HTTP/1.x line and a blank line in
    // the bytes seen; nothing is ever taken from past the limit.
    QRandomGenerator random(20240229);
    const QByteArray pieces[] = {"GET", "HEAD", " ", "/", "metrics", "HTTP/1.1", "HTTP/1.0", "\r\n", "\n",
                                 "\r", "Host: x", ":", QByteArray(1, '\0'), "\xff", "?", "%"};
    for (int round = 0; round < 20000; ++round) {
        QByteArray bytes;
        const int count = random.bounded(1, 24);
        for (int i = 0; i < count; ++i) {
            if (random.bounded(4) == 0)
                bytes += char(random.bounded(256));
            else
                bytes += pieces[random.bounded(int(std::size(pieces)))];
        }
        const int limit = random.bounded(1, 64);
        const TRequestHead head = ParseRequestHead(bytes, limit);
        const QByteArray seen = bytes.left(limit);
        switch (head.State) {
        case TState::Complete:
            ASSERT_TRUE(seen.contains(" HTTP/1.")) << bytes.toHex().toStdString();
            ASSERT_TRUE(seen.contains("\n\n") || seen.contains("\n\r\n")) << bytes.toHex().toStdString();
            ASSERT_TRUE(seen.contains(head.Method + ' ' + head.Target + ' '));
            break;
        case TState::TooLarge:
            ASSERT_GE(bytes.size(), limit);
            break;
        case TState::Incomplete:
            ASSERT_LT(bytes.size(), limit);
            break;
        case TState::Bad:
            ASSERT_TRUE(seen.contains('\n'));
            break;
        }
    }
}
