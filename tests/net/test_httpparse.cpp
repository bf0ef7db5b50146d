// The HTTP client's byte-level pieces on their own: URL splitting, Base64,
// dates, document names, status and field lines, redirects, the request
// header, and the receive line buffer under every split and random input.
#include "net/httpparse.h"

#include <gtest/gtest.h>
#include <random>

namespace {

struct UrlRow {
    const char *url, *proto, *user, *pass, *host, *port, *path;
};

TEST(SplitUrl, Table)
{
    const UrlRow rows[] = {
        {"", "", "", "", "", "", ""},
        {"www.example.test", "", "", "", "www.example.test", "", ""},
        {"http://h.test", "http", "", "", "h.test", "", ""},
        {"http://h.test/", "http", "", "", "h.test", "", "/"},
        {"http://u:p@h.test:8080/a/b.html?x=1", "http", "u", "p", "h.test", "8080", "/a/b.html?x=1"},
        {"http://u@h.test/x", "http", "u", "", "h.test", "", "/x"},
        {"http://u:p:q@h.test", "http", "u", "p:q", "h.test", "", ""},
        {"ftp://h.test:21", "ftp", "", "", "h.test", "21", ""},
        {"h.test:81/doc", "", "", "", "h.test", "81", "/doc"},
        {"/path/only", "http", "", "", "", "", "/path/only"},
        {"//h.test/x", "http", "", "", "", "", "/h.test/x"},
        {"/", "http", "", "", "", "", ""},
        {"HTTP:/rel", "http", "", "", "", "", "/rel"},
        {"mailto:joe@h.test", "mailto", "joe", "", "h.test", "", ""},
        {"page.html", "", "", "", "page.html", "", ""},
        {"user:pw@proxy.test", "", "user", "pw", "proxy.test", "", ""},
        {"proxy.test:3128", "", "", "", "proxy.test", "3128", ""},
        {"http://a@b@h.test:1", "http", "a@b", "", "h.test", "1", ""},
        // IPv6 hosts keep (or are given) their brackets.
        {"http://[fd00::10]/", "http", "", "", "[fd00::10]", "", "/"},
        {"http://[fd00::10]:8080/a", "http", "", "", "[fd00::10]", "8080", "/a"},
        {"http://u:p@[::1]:81", "http", "u", "p", "[::1]", "81", ""},
        {"http://[fe80::1%25eth0]/", "http", "", "", "[fe80::1%25eth0]", "", "/"},
        {"[fd00::10]", "", "", "", "[fd00::10]", "", ""},
        {"fd00::10", "", "", "", "[fd00::10]", "", ""},
        {"fe80::1%eth0", "", "", "", "[fe80::1%eth0]", "", ""},
        {"http://[fd00::10", "http", "", "", "[fd00::10", "", ""},
    };
    for (const UrlRow &r : rows) {
        SCOPED_TRACE(r.url);
        TUrlParts p = SplitUrl(QString::fromLatin1(r.url));
        EXPECT_EQ(p.Proto, QLatin1String(r.proto));
        EXPECT_EQ(p.User, QLatin1String(r.user));
        EXPECT_EQ(p.Pass, QLatin1String(r.pass));
        EXPECT_EQ(p.Host, QLatin1String(r.host));
        EXPECT_EQ(p.Port, QLatin1String(r.port));
        EXPECT_EQ(p.Path, QLatin1String(r.path));
    }
}

TEST(UrlHost, LookupTextAndHostLine)
{
    const struct {
        const char *host, *lookup, *line;
    } rows[] = {
        {"h.test", "h.test", "h.test"},
        {"10.200.3.10", "10.200.3.10", "10.200.3.10"},
        {"[fd00::10]", "[fd00::10]", "[fd00::10]"},
        // The URL writes a zone "%25"; the server never sees it.
        {"[fe80::1%25eth0]", "[fe80::1%eth0]", "[fe80::1]"},
        {"[fe80::1%eth0]", "[fe80::1%eth0]", "[fe80::1]"},
    };
    for (const auto &r : rows) {
        EXPECT_EQ(UrlHostToHostText(QString::fromLatin1(r.host)), QLatin1String(r.lookup)) << r.host;
        EXPECT_EQ(HostHeaderText(QString::fromLatin1(r.host)), QLatin1String(r.line)) << r.host;
    }
    TRequestHeader h;
    h.Method = "GET";
    h.Path = "/";
    h.HostName = "[fe80::1%25eth0]";
    EXPECT_EQ(RequestLines(h), QStringList({"GET / HTTP/1.0", "Host: [fe80::1]"}));
}

TEST(Base64Text, KnownVectors)
{
    const std::pair<const char *, const char *> rows[] = {
        {"", ""}, {"f", "Zg=="}, {"fo", "Zm8="}, {"foo", "Zm9v"}, {"foob", "Zm9vYg=="},
        {"Aladdin:open sesame", "QWxhZGRpbjpvcGVuIHNlc2FtZQ=="},
        {"user:", "dXNlcjo="},
    };
    for (auto &[in, out] : rows)
        EXPECT_EQ(Base64Text(QString::fromLatin1(in)), QLatin1String(out)) << in;
    // Long input: no line breaks inserted.
    EXPECT_FALSE(Base64Text(QString(200, QLatin1Char('x'))).contains(QLatin1Char('\n')));
}

TEST(HttpDateText, DaysAndTimes)
{
    // Day 2 is Monday 1 January 1900; 45356 is 5 March 2024 (a Tuesday).
    EXPECT_EQ(HttpDateText(2.0), QLatin1String("Mon, 01 Jan 1900 00:00:00"));
    EXPECT_EQ(HttpDateText(45356.0 + (8 * 3600 + 9 * 60 + 10) / 86400.0),
              QLatin1String("Tue, 05 Mar 2024 08:09:10"));
    EXPECT_EQ(HttpDateText(36526.5), QLatin1String("Sat, 01 Jan 2000 12:00:00"));
    EXPECT_EQ(HttpDateText(45657.999999), QLatin1String("Tue, 31 Dec 2024 23:59:59"));
    // Before the epoch the weekday stays in range.
    EXPECT_EQ(HttpDateText(-1.0).left(3), QLatin1String("Fri"));
}

TEST(DocumentName, FromPaths)
{
    const std::pair<const char *, const char *> rows[] = {
        {"", "document.htm"}, {"/", "document.htm"}, {"/a/b.html", "b.html"},
        {"/dir/", "dir"}, {"/x/y.cgi?a=1/2", "2"}, {"/y.cgi?q=1", "y.cgi"},
        {"/servers20.dat", "servers20.dat"},
    };
    for (auto &[in, out] : rows)
        EXPECT_EQ(DocumentNameOf(QString::fromLatin1(in)), QLatin1String(out)) << in;
    EXPECT_EQ(DocumentNameOf(QLatin1Char('/') + QString(400, QLatin1Char('n'))).size(), 255);

    EXPECT_EQ(FixExeDocumentName("setup.EXE", "text/html"), QLatin1String("setup.htm"));
    EXPECT_EQ(FixExeDocumentName("setup.exe", "application/octet-stream"),
              QLatin1String("setup.exe"));
    EXPECT_EQ(FixExeDocumentName("a.exe.txt", "text/html"), QLatin1String("a.exe.txt"));
}

TEST(StatusLine, Table)
{
    struct Row {
        const char *line;
        TStatusLine kind;
        int code;
        const char *reason;
    };
    const Row rows[] = {
        {"HTTP/1.0 200 OK", TStatusLine::Valid, 200, "OK"},
        {"HTTP/1.1 404 Not Found", TStatusLine::Valid, 404, "Not Found"},
        {"HTTP/1.1 302", TStatusLine::Valid, 302, ""},
        {"HTTP/1.1 20", TStatusLine::BadCode, 0, ""},
        {"HTTP/1.1 2x0 OK", TStatusLine::BadCode, 0, ""},
        {"HTTP/1.0", TStatusLine::BadCode, 0, ""},
        {"HTTP/2 200 OK", TStatusLine::NotStatus, 0, ""},
        {"HTTP/1.2 200 OK", TStatusLine::NotStatus, 0, ""},
        {"http/1.0 200 OK", TStatusLine::NotStatus, 0, ""},
        {"Server: x", TStatusLine::NotStatus, 0, ""},
    };
    for (const Row &r : rows) {
        SCOPED_TRACE(r.line);
        int code = 0;
        QString reason;
        EXPECT_EQ(ParseStatusLine(r.line, code, reason), r.kind);
        if (r.kind == TStatusLine::Valid) {
            EXPECT_EQ(code, r.code);
            EXPECT_EQ(reason, QLatin1String(r.reason));
        }
    }
}

TEST(HeaderLine, NamesAndValues)
{
    QByteArray name;
    QString value;
    ASSERT_TRUE(SplitHeaderLine("Content-Type: text/html", name, value));
    EXPECT_EQ(name, "content-type");
    EXPECT_EQ(value, QLatin1String("text/html"));
    ASSERT_TRUE(SplitHeaderLine("LOCATION:/next", name, value));
    EXPECT_EQ(name, "location");
    EXPECT_EQ(value, QLatin1String("/next"));
    ASSERT_TRUE(SplitHeaderLine("X:  a: b ", name, value));
    EXPECT_EQ(value, QLatin1String("a: b"));
    EXPECT_FALSE(SplitHeaderLine("no colon here", name, value));

    int n = 7;
    EXPECT_TRUE(ParseDecimal(" 1234 ", n));
    EXPECT_EQ(n, 1234);
    for (const char *bad : {"", "12a", "abc", "99999999999", "-"})
        EXPECT_FALSE(ParseDecimal(QString::fromLatin1(bad), n)) << bad;
}

TEST(Location, Redirects)
{
    struct Row {
        const char *location;
        bool proxy;
        const char *host, *port, *hostName, *path;
    };
    // Start: host a.test on port 8080, path /old.
    const Row rows[] = {
        {"/new?x=1", false, "a.test", "8080", "a.test", "/new?x=1"},
        {"http://b.test/doc", false, "b.test", "80", "b.test", "/doc"},
        {"http://b.test:9000/doc", false, "b.test", "9000", "b.test", "/doc"},
        {"page.html", false, "a.test", "8080", "a.test", "http://a.test/page.html"},
        {"https:///doc", false, "a.test", "8080", "a.test", "https://a.test/doc"},
        {"/new", true, "proxy.test", "3128", "a.test", "http://a.test/new"},
        {"page.html", true, "proxy.test", "3128", "a.test", "http://a.test/page.html"},
        {"http://b.test/doc", true, "proxy.test", "3128", "a.test", "http://b.test/doc"},
    };
    for (const Row &r : rows) {
        SCOPED_TRACE(r.location);
        TRequestTarget t;
        t.TargetHost = r.proxy ? "proxy.test" : "a.test";
        t.TargetPort = r.proxy ? "3128" : "8080";
        t.HostName = "a.test";
        t.RequestPath = "/old";
        ApplyLocation(QString::fromLatin1(r.location), r.proxy, t);
        EXPECT_EQ(t.TargetHost, QLatin1String(r.host));
        EXPECT_EQ(t.TargetPort, QLatin1String(r.port));
        EXPECT_EQ(t.HostName, QLatin1String(r.hostName));
        EXPECT_EQ(t.RequestPath, QLatin1String(r.path));
    }
}

TEST(RequestHeader, LinesInOrder)
{
    TRequestHeader h;
    h.Method = "GET";
    h.Path = "/";
    h.HostName = "h.test";
    h.NoCache = true;
    EXPECT_EQ(RequestLines(h),
              QStringList({"GET / HTTP/1.0", "Host: h.test", "Pragma: no-cache"}));

    h.Method = "POST";
    h.Sender = "me@h.test";
    h.Reference = "http://r.test/";
    h.Agent = "Idlix";
    h.ContentTypePost = "application/x-www-form-urlencoded";
    h.PostSize = 12;
    h.ModifiedSince = 36526.5;
    h.Username = "u";
    h.Password = "p";
    h.ProxyUsername = "pu";
    h.ProxyPassword = "pp";
    h.Cookie = "a=b";
    QStringList withoutProxy = RequestLines(h);
    EXPECT_FALSE(withoutProxy.join('|').contains("Proxy-Authorization"));
    h.ViaProxy = true;
    EXPECT_EQ(RequestLines(h), QStringList({
        "POST / HTTP/1.0", "From: me@h.test", "Referer: http://r.test/",
        "Content-Type: application/x-www-form-urlencoded", "User-Agent: Idlix",
        "Host: h.test", "Pragma: no-cache", "Content-Length: 12",
        "If-Modified-Since: Sat, 01 Jan 2000 12:00:00 GMT", "Authorization: Basic dTpw",
        "Proxy-Authorization: Basic cHU6cHA=", "Cookie: a=b"}));
}

// Feeds bytes in the given pieces and collects the lines, as the client does.
QList<QByteArray> linesOf(const QByteArray &bytes, const std::vector<int> &pieces, QByteArray *rest)
{
    THttpLineBuffer b;
    QList<QByteArray> lines;
    int off = 0;
    auto drain = [&] {
        QByteArray line;
        while (b.NextLine(line))
            lines << line;
        if (b.Full())
            b.Clear();
    };
    for (int len : pieces) {
        while (len > 0) {
            int n = b.Append(bytes.constData() + off, std::min(len, b.Room()));
            off += n;
            len -= n;
            drain();
        }
    }
    if (rest)
        *rest = b.TakeAll();
    return lines;
}

TEST(LineBuffer, SplitAtEveryPositionGivesSameLines)
{
    const QByteArray resp = "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nX-Bare: lf\n"
                            "Empty-Next:\r\n\r\nbody";
    QByteArray restWhole;
    QList<QByteArray> whole = linesOf(resp, {int(resp.size())}, &restWhole);
    ASSERT_EQ(whole.size(), 5);
    EXPECT_EQ(whole[2], "X-Bare: lf");
    EXPECT_EQ(whole[4], "");
    EXPECT_EQ(restWhole, "body");
    for (int cut = 1; cut < resp.size(); ++cut) {
        QByteArray rest;
        EXPECT_EQ(linesOf(resp, {cut, int(resp.size()) - cut}, &rest), whole) << "cut " << cut;
        EXPECT_EQ(rest, "body");
    }
    // Byte by byte as well.
    QByteArray rest;
    EXPECT_EQ(linesOf(resp, std::vector<int>(resp.size(), 1), &rest), whole);
}

TEST(LineBuffer, ZeroByteDoesNotHideLineEnd)
{
    THttpLineBuffer b;
    QByteArray in("a\0b\r\nnext", 9);
    b.Append(in.constData(), in.size());
    QByteArray line;
    ASSERT_TRUE(b.NextLine(line));
    EXPECT_EQ(line, QByteArray("a\0b", 3));
    EXPECT_FALSE(b.NextLine(line));
    EXPECT_EQ(b.TakeAll(), "next");
}

TEST(LineBuffer, FillsUpWithoutLineEnd)
{
    THttpLineBuffer b;
    QByteArray big(10000, 'x');
    EXPECT_EQ(b.Append(big.constData(), big.size()), THttpLineBuffer::kSize - 1);
    EXPECT_TRUE(b.Full());
    EXPECT_EQ(b.Room(), 0);
    EXPECT_EQ(b.Append("y", 1), 0);
    QByteArray line;
    EXPECT_FALSE(b.NextLine(line));
    b.Commit(100);  // nothing fits: ignored
    EXPECT_EQ(b.Count(), THttpLineBuffer::kSize - 1);
}

// Randomized run: random and mutated responses in random pieces. The lines
// taken out must rebuild the input exactly (bytes between line ends), no line
// may hold a line feed, and each parser must accept any line without harm.
TEST(LineBuffer, RandomAndMutatedResponses)
{
    std::mt19937 rng(20261208);
    const QByteArray seeds[] = {
        "HTTP/1.0 200 OK\r\nContent-Length: 5\r\nContent-Type: text/html\r\n\r\nhello",
        "HTTP/1.1 302 Found\r\nLocation: http://x.test:81/a?b\r\n\r\n",
        "HTTP/1.1 401 Unauthorized\r\nWWW-Authenticate: Basic realm=\"r\"\r\n\r\n",
    };
    auto rnd = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
    for (int iter = 0; iter < 5000; ++iter) {
        QByteArray in;
        if (iter % 2 == 0) {
            in = seeds[iter % 3];
            int edits = rnd(1, 8);
            for (int e = 0; e < edits && !in.isEmpty(); ++e) {
                int pos = rnd(0, int(in.size()) - 1);
                switch (rnd(0, 3)) {
                case 0: in[pos] = char(rnd(0, 255)); break;
                case 1: in.remove(pos, rnd(1, 4)); break;
                case 2: in.insert(pos, QByteArray(rnd(1, 3), "\r\n:\0 "[rnd(0, 4)])); break;
                case 3: in.insert(pos, in.mid(rnd(0, int(in.size()) - 1), rnd(1, 50))); break;
                }
            }
        } else {
            in.resize(rnd(0, iter % 50 == 1 ? 20000 : 600));
            for (char &c : in)
                c = rnd(0, 9) == 0 ? '\n' : char(rnd(0, 255));
        }
        std::vector<int> pieces;
        for (int left = int(in.size()); left > 0;) {
            int n = std::min(left, rnd(1, 700));
            pieces.push_back(n);
            left -= n;
        }
        QByteArray rest;
        QList<QByteArray> lines = linesOf(in, pieces, &rest);
        QByteArray rebuilt;
        for (const QByteArray &l : lines) {
            ASSERT_FALSE(l.contains('\n'));
            ASSERT_LT(l.size(), THttpLineBuffer::kSize);
            int code = -1;
            QString reason;
            if (ParseStatusLine(l, code, reason) == TStatusLine::Valid) {
                ASSERT_GE(code, 0);
                ASSERT_LE(code, 999);
            }
            QByteArray name;
            QString value;
            if (SplitHeaderLine(l, name, value)) {
                ASSERT_FALSE(name.contains(':'));
                int n = 0;
                ParseDecimal(value, n);
                TRequestTarget t{"a.test", "80", "a.test", "/"};
                ApplyLocation(value, iter % 3 == 0, t);
            }
            rebuilt += l;
        }
        rebuilt += rest;
        if (in.size() < THttpLineBuffer::kSize - 1 && !in.isEmpty()) {
            // Without an over-long line nothing is lost except the line ends
            // themselves and a CR directly before each.
            QByteArray expect = in;
            expect.replace("\r\n", "\n");
            expect.replace("\n", "");
            QByteArray got = rebuilt;
            got.replace("\r", "");
            expect.replace("\r", "");
            ASSERT_EQ(got, expect) << "iteration " << iter;
        }
    }
}

} // namespace
