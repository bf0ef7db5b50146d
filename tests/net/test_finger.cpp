// The finger client against scripted servers on loopback: the query split and
// its limits, the request bytes on the wire, replies closed empty, in pieces,
// too long, hostile or cut off by a reset, refused connections, silent
// servers and stalled connects against the countdown, cancelling in every
// step, and re-entrant use while the nested loop runs.
#include "net/finger.h"

#include "../support/scriptserver.h"
#include "../support/testutil.h"

#include <QElapsedTimer>
#include <QPointer>
#include <QTimer>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

using namespace std::chrono_literals;
using testsupport::Script;
using testsupport::ScriptServer;

namespace {

// How RunQuery ended: "" returned, "finger" EFingerError, "socket" ESocketError.
struct Outcome {
    QString kind;
    QString message;
    qint64 ms = 0;
};

Outcome run(TFinger &f)
{
    Outcome o;
    QElapsedTimer t;
    t.start();
    try {
        f.RunQuery();
    } catch (const EFingerError &e) {
        o = {QStringLiteral("finger"), e.Message()};
    } catch (const ESocketError &e) {
        o = {QStringLiteral("socket"), e.Message()};
    }
    o.ms = t.elapsed();
    return o;
}

// A query to a loopback port, with ticks of tickMs.
void aim(TFinger &f, const QString &user, quint16 port, int ticks = 40, int tickMs = 1000)
{
    f.SetQuery(user + QStringLiteral("@127.0.0.1"));
    f.SetPortOverride(port);
    f.TimeOut = ticks;
    f.SetTickInterval(tickMs);
}

// A loopback socket that listens and never accepts: the kernel finishes the
// handshakes that fit its queue (backlog + 1) and then drops further SYNs.
class Listener {
public:
    explicit Listener(int backlog)
    {
        fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in sa{};
        sa.sin_family = AF_INET;
        sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof sa;
        if (bind(fd_, reinterpret_cast<sockaddr *>(&sa), len) == 0 && listen(fd_, backlog) == 0
            && getsockname(fd_, reinterpret_cast<sockaddr *>(&sa), &len) == 0)
            port_ = ntohs(sa.sin_port);
    }
    ~Listener()
    {
        for (int fd : fillers_)
            ::close(fd);
        ::close(fd_);
    }
    quint16 port() const { return port_; }
    // Takes the one place in a backlog-0 queue with a connection of our own.
    bool fill()
    {
        const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in sa{};
        sa.sin_family = AF_INET;
        sa.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        sa.sin_port = htons(port_);
        fillers_.push_back(fd);
        return ::connect(fd, reinterpret_cast<sockaddr *>(&sa), sizeof sa) == 0;
    }

private:
    int fd_ = -1;
    quint16 port_ = 0;
    std::vector<int> fillers_;
};

// Calls action once, from the event loop, as soon as cond holds.
void whenever(QObject *ctx, std::function<bool()> cond, std::function<void()> action)
{
    auto *t = new QTimer(ctx);
    t->setInterval(5);
    QObject::connect(t, &QTimer::timeout, [t, cond, action] {
        if (!cond())
            return;
        t->stop();
        action();
    });
    t->start();
}

TEST(FingerQuery, SplitAndLimits)
{
    const QString longUser(300, QLatin1Char('u'));
    struct Row {
        QString text;
        QString user, host;  // expected parts; error empty
        QString error;       // expected EFingerError text start
    };
    const QString noAt = QStringLiteral("Invalid query string format.\r\nValid format is user@domain");
    const Row rows[] = {
        {u"root@host.example"_qs, u"root"_qs, u"host.example"_qs, {}},
        {u"@host.example"_qs, {}, u"host.example"_qs, {}},
        {u"a@b@c"_qs, u"a"_qs, u"b@c"_qs, {}},
        {u"root@"_qs, u"root"_qs, {}, {}},
        {u"@"_qs, {}, {}, {}},
        {QString(252, QLatin1Char('x')) + u"@h"_qs, QString(252, QLatin1Char('x')), u"h"_qs, {}},
        {u"root"_qs, {}, {}, noAt},
        {QString(), {}, {}, noAt},
        {longUser + u"@h"_qs, {}, {}, u"Invalid query string format.\r\nThe \"@\" must be within the first 255"_qs},
        {QString(254, QLatin1Char('x')) + u"@h"_qs, {}, {}, u"User name too long."_qs},
        {QString(253, QLatin1Char('x')) + u"@h"_qs, {}, {}, u"User name too long."_qs},
        {QString(130, QChar(0xe9)) + u"@h"_qs, {}, {}, u"User name too long."_qs},  // 260 bytes
        {u"root\r\nadmin@h"_qs, {}, {}, u"Invalid query string format.\r\nThe user name"_qs},
    };
    for (const Row &r : rows) {
        TFinger f;
        f.SetQuery(u"before@prev"_qs);
        if (r.error.isEmpty()) {
            ASSERT_NO_THROW(f.SetQuery(r.text)) << r.text.left(40).toStdString();
            EXPECT_EQ(f.UserPart(), r.user);
            EXPECT_EQ(f.HostPart(), r.host);
            EXPECT_EQ(f.Query(), r.text);
            continue;
        }
        try {
            f.SetQuery(r.text);
            ADD_FAILURE() << "accepted " << r.text.left(40).toStdString();
        } catch (const EFingerError &e) {
            EXPECT_TRUE(e.Message().startsWith(r.error)) << e.Message().toStdString();
        }
        // A refused text leaves the previous query whole.
        EXPECT_EQ(f.UserPart(), u"before"_qs);
        EXPECT_EQ(f.HostPart(), u"prev"_qs);
        EXPECT_EQ(f.Query(), u"before@prev"_qs);
    }
}

TEST(FingerQuery, PortAndErrorText)
{
    TFinger f;
    EXPECT_EQ(f.TimeOut, 40);
    EXPECT_EQ(f.FingerPort(), 79);  // services database, or the fallback
    f.SetPortOverride(7979);
    EXPECT_EQ(f.FingerPort(), 7979);
    EXPECT_EQ(TFinger::ErrorText(10061), u"WinSock Error No. 10061"_qs);
    EXPECT_EQ(TFinger::ErrorText(0x12AF1), u"WinSock Error No. 10993"_qs);  // low 16 bits
}

// The bytes on the wire are the user part and CR LF, nothing else; the host
// part is never sent; dotted forms and names both reach the server.
TEST(FingerQuery, RequestBytes)
{
    const std::pair<QString, QByteArray> rows[] = {
        {u"root@127.0.0.1"_qs, "root\r\n"},
        {u"@127.0.0.1"_qs, "\r\n"},
        {u"/W root@127.1"_qs, "/W root\r\n"},      // inet_addr's short form, no lookup
        {u"root@localhost"_qs, "root\r\n"},        // through the resolver
        {u"j\u00fcrgen@127.0.0.1"_qs, "j\xc3\xbcrgen\r\n"},
        {QString(252, QLatin1Char('x')) + u"@127.0.0.1"_qs, QByteArray(252, 'x') + "\r\n"},
    };
    for (const auto &[query, wire] : rows) {
        ScriptServer server({Script().readBytes(wire.size()).send("ok\r\n")});
        TFinger f;
        f.SetQuery(query);
        f.SetPortOverride(server.port());
        const Outcome o = run(f);
        EXPECT_EQ(o.kind, QString()) << o.message.toStdString();
        EXPECT_EQ(f.QueryError(), QString());
        EXPECT_EQ(f.ReplyLines(), QStringList{u"ok"_qs}) << query.left(20).toStdString();
        EXPECT_TRUE(testutil::waitFor([&] { return server.received(0).size() >= wire.size(); }, 2s));
        EXPECT_EQ(server.received(0), wire) << query.left(20).toStdString();
    }
}

TEST(FingerQuery, ReplyShapes)
{
    static const char kMarkup[] = "<b>Name:</b> <img src=x> <a href=\"http://x\">me</a>\r\n"
                                  "\x1b[2J\x07plan\tnow\0!\r\n";
    QByteArray big(20000, 'A');
    for (int i = 99; i < big.size(); i += 100)
        big[i] = '\n';
    const QByteArray exact = big.left(kFingerReplyLimit);
    QStringList bigLines;
    for (int i = 0; i < 163; ++i)
        bigLines << QString(99, QLatin1Char('A'));
    bigLines << QString(84, QLatin1Char('A'));   // 16384 = 163 * 100 + 84

    struct Row {
        const char *name;
        Script script;
        QStringList lines;
        bool cut;
    };
    Row rows[] = {
        {"closes without data", Script().readBytes(6).close(), {}, false},
        {"split reply",
         Script().readBytes(6).sendSplit("Line one\r\nLine two\rLine three\nLast", {3, 9, 10, 21}, 60),
         {u"Line one"_qs, u"Line two"_qs, u"Line three"_qs, u"Last"_qs}, false},
        {"20000 bytes", Script().readBytes(6).send(big), bigLines + QStringList{QString::fromLatin1(kFingerCutLine)}, true},
        {"exactly the limit", Script().readBytes(6).send(exact), bigLines, false},
        {"markup and controls",
         Script().readBytes(6).send(QByteArray(kMarkup, sizeof kMarkup - 1)),
         {u"<b>Name:</b> <img src=x> <a href=\"http://x\">me</a>"_qs,
          u"\u241b[2J\u2407plan\tnow\u2400!"_qs}, false},
    };
    for (Row &r : rows) {
        ScriptServer server({r.script});
        TFinger f;
        aim(f, u"root"_qs, server.port());
        const Outcome o = run(f);
        EXPECT_EQ(o.kind, QString()) << r.name << ": " << o.message.toStdString();
        EXPECT_EQ(f.QueryError(), QString()) << r.name;
        EXPECT_EQ(f.ReplyLines(), r.lines) << r.name;
        EXPECT_EQ(f.ReplyCut(), r.cut) << r.name;
        EXPECT_LE(f.ReplyBytes().size(), kFingerReplyLimit) << r.name;
        EXPECT_EQ(f.State(), fsIdle);
    }
}

// A reset after some lines: the socket error is raised and the lines stay.
TEST(FingerQuery, ResetKeepsTheLinesReceived)
{
    ScriptServer server({Script().readBytes(6).send("first\r\nsecond\r\n").pause(100).reset()});
    TFinger f;
    aim(f, u"root"_qs, server.port());
    const Outcome o = run(f);
    EXPECT_EQ(o.kind, u"socket"_qs);
    EXPECT_EQ(o.message, u"WinSock Error No. 10054"_qs);
    EXPECT_EQ(f.ReplyLines(), (QStringList{u"first"_qs, u"second"_qs}));
}

// Refused and unknown hosts end the query quietly with QueryError set, and
// the component is ready for the next query.
TEST(FingerQuery, StepFailuresThenNextQueryWorks)
{
    ScriptServer server({Script().readBytes(6).send("after\r\n")});
    TFinger f;
    f.ReplyLines() << u"stale"_qs;
    aim(f, u"root"_qs, ScriptServer::unusedPort());
    Outcome o = run(f);
    EXPECT_EQ(o.kind, QString()) << o.message.toStdString();
    EXPECT_EQ(f.QueryError(), u"WinSock Error No. 10061"_qs);
    EXPECT_TRUE(f.ReplyLines().isEmpty());

    f.SetQuery(u"root@no-such-host.invalid"_qs);
    o = run(f);
    EXPECT_EQ(o.kind, QString()) << o.message.toStdString();
    EXPECT_EQ(f.QueryError(), u"WinSock Error No. 11001"_qs);
    EXPECT_EQ(server.connections(), 0);

    // Several "@": the host is everything after the first one, which names nothing.
    f.SetQuery(u"root@127.0.0.1@x"_qs);
    o = run(f);
    EXPECT_EQ(f.QueryError(), u"WinSock Error No. 11001"_qs);
    EXPECT_EQ(server.connections(), 0);

    aim(f, u"root"_qs, server.port());
    o = run(f);
    EXPECT_EQ(o.kind, QString()) << o.message.toStdString();
    EXPECT_EQ(f.QueryError(), QString());
    EXPECT_EQ(f.ReplyLines(), QStringList{u"after"_qs});
}

// A silent server: "Timed Out." after TimeOut ticks of silence, while the
// window's timers keep running. Each read has its own countdown, so a server
// that keeps talking is never cut off however long it takes in all.
TEST(FingerQuery, CountdownPerWait)
{
    {
        Listener silent(4);
        TFinger f;
        aim(f, u"root"_qs, silent.port(), 4, 50);
        int ticks = 0;
        QTimer other;
        QObject::connect(&other, &QTimer::timeout, [&] { ++ticks; });
        other.start(10);
        const Outcome o = run(f);
        EXPECT_EQ(o.kind, u"finger"_qs);
        EXPECT_EQ(o.message, u"Timed Out."_qs);
        EXPECT_GE(o.ms, 190);
        EXPECT_LT(o.ms, 3000);
        EXPECT_GE(ticks, 5) << "the event loop did not run during the query";
        EXPECT_TRUE(f.ReplyLines().isEmpty());
    }
    {
        ScriptServer server({Script().readBytes(6).send("first\r\n").pause(3000)});
        TFinger f;
        aim(f, u"root"_qs, server.port(), 4, 50);
        const Outcome o = run(f);
        EXPECT_EQ(o.message, u"Timed Out."_qs);
        EXPECT_EQ(f.ReplyLines(), QStringList{u"first"_qs});
    }
    {
        ScriptServer server({Script().readBytes(6).sendSplit("a\r\nb\r\nc\r\n", {3, 6}, 150)});
        TFinger f;
        aim(f, u"root"_qs, server.port(), 4, 50);  // 200 ms per read, 300 ms in all
        const Outcome o = run(f);
        EXPECT_EQ(o.kind, QString()) << o.message.toStdString();
        EXPECT_EQ(f.ReplyLines(), (QStringList{u"a"_qs, u"b"_qs, u"c"_qs}));
    }
    {
        ScriptServer server({Script().readBytes(6).pause(300).send("late\r\n")});
        TFinger f;
        aim(f, u"root"_qs, server.port(), 0, 10);  // no limit
        const Outcome o = run(f);
        EXPECT_EQ(o.kind, QString()) << o.message.toStdString();
        EXPECT_EQ(f.ReplyLines(), QStringList{u"late"_qs});
    }
}

// A connect that never completes (the server's queue is full, so its SYNs
// are dropped): the connect step times out or is cancelled.
TEST(FingerQuery, StalledConnect)
{
    Listener full(0);
    ASSERT_TRUE(full.fill());
    {
        TFinger f;
        aim(f, u"root"_qs, full.port(), 3, 50);
        const Outcome o = run(f);
        EXPECT_EQ(o.kind, u"finger"_qs);
        EXPECT_EQ(o.message, u"Timed Out"_qs);
    }
    {
        TFinger f;
        aim(f, u"root"_qs, full.port());
        TFingerState seen = fsIdle;
        whenever(&f, [&] { return f.State() == fsConnecting; }, [&] {
            seen = f.State();
            f.CancelQuery();
        });
        const Outcome o = run(f);
        EXPECT_EQ(seen, fsConnecting);
        EXPECT_EQ(o.kind, u"finger"_qs);
        EXPECT_EQ(o.message, u"Operation Canceled."_qs);
        EXPECT_LT(o.ms, 3000);
    }
}

TEST(FingerQuery, CancelDuringLookupAndRead)
{
    {
        // Posted before the lookup starts, so it is handled before the
        // lookup's completion can be.
        ScriptServer server({});
        TFinger f;
        f.SetQuery(u"root@localhost"_qs);
        f.SetPortOverride(server.port());
        TFingerState seen = fsIdle;
        QTimer::singleShot(0, &f, [&] {
            seen = f.State();
            f.CancelQuery();
        });
        const Outcome o = run(f);
        EXPECT_EQ(seen, fsResolving);
        EXPECT_EQ(o.message, u"Operation canceled."_qs);
        EXPECT_EQ(server.connections(), 0);
    }
    {
        ScriptServer server({Script().readBytes(6).send("partial\r\n").pause(3000)});
        TFinger f;
        aim(f, u"root"_qs, server.port());
        whenever(&f, [&] { return !f.ReplyBytes().isEmpty(); }, [&] { f.CancelQuery(); });
        const Outcome o = run(f);
        EXPECT_EQ(o.kind, u"finger"_qs);
        EXPECT_EQ(o.message, u"Operation has been canceled."_qs);
        EXPECT_LT(o.ms, 2500);
        EXPECT_EQ(f.ReplyLines(), QStringList{u"partial"_qs});
    }
}

// CancelQuery with nothing running changes nothing; a second RunQuery from a
// handler inside the running one is refused and leaves it alone; destroying
// the component inside its own query ends the query without a crash.
TEST(FingerQuery, ReentrantUse)
{
    ScriptServer server({Script().readBytes(6).pause(200).send("outer\r\n"),
                         Script().readBytes(6).send("next\r\n")});
    TFinger f;
    f.CancelQuery();
    aim(f, u"root"_qs, server.port());
    Outcome inner;
    QTimer::singleShot(50, &f, [&] {
        f.SetQuery(u"other@127.0.0.1"_qs);  // for the next query only
        inner = run(f);
    });
    Outcome o = run(f);
    EXPECT_EQ(inner.kind, u"finger"_qs);
    EXPECT_EQ(inner.message, u"A finger query is already running."_qs);
    EXPECT_EQ(o.kind, QString()) << o.message.toStdString();
    EXPECT_EQ(f.ReplyLines(), QStringList{u"outer"_qs});
    EXPECT_EQ(server.received(0), "root\r\n");
    f.CancelQuery();
    o = run(f);
    EXPECT_EQ(f.ReplyLines(), QStringList{u"next"_qs});
    EXPECT_TRUE(testutil::waitFor([&] { return server.received(1).size() >= 7; }, 2s));
    EXPECT_EQ(server.received(1), "other\r\n");

    Listener silent(4);
    QPointer<TFinger> doomed = new TFinger;
    aim(*doomed, u"root"_qs, silent.port());
    QTimer::singleShot(50, [&] { delete doomed.data(); });
    const Outcome gone = run(*doomed);
    EXPECT_EQ(gone.kind, u"finger"_qs);
    EXPECT_TRUE(doomed.isNull());
}

} // namespace
