// The dns probe against a name server the test scripts on loopback: each
// query is checked as it arrives and answered with the bytes the case
// chooses, so replies no real server sends (another id first, a broken
// record, a reply too long) can be tried.
#include "session/dnstransport.h"
#include "probewait.h"
#include "../support/testutil.h"

#include <QSocketNotifier>
#include <QTemporaryDir>

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <functional>
#include <memory>
#include <vector>

using namespace std::chrono_literals;
using sessiontest::RunProbe;

namespace {

// A UDP server on 127.0.0.1 that hands each datagram to 'Answer' and sends
// back what it returns (nothing: the query goes unanswered).
class TScriptedNameServer {
public:
    std::function<std::vector<QByteArray>(const QByteArray &query)> Answer;
    std::vector<QByteArray> Queries;

    TScriptedNameServer()
    {
        fd_ = socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        bind(fd_, reinterpret_cast<sockaddr *>(&a), sizeof a);
        socklen_t len = sizeof a;
        getsockname(fd_, reinterpret_cast<sockaddr *>(&a), &len);
        port_ = ntohs(a.sin_port);
        notifier_ = std::make_unique<QSocketNotifier>(fd_, QSocketNotifier::Read);
        QObject::connect(notifier_.get(), &QSocketNotifier::activated, [this] { Read(); });
    }
    ~TScriptedNameServer()
    {
        notifier_.reset();
        close(fd_);
    }
    quint16 Port() const { return port_; }
    QString Url(const QString &path) const
    {
        return QStringLiteral("dns://127.0.0.1:%1/%2").arg(port_).arg(path);
    }

private:
    void Read()
    {
        char buf[2048];
        sockaddr_in from{};
        socklen_t len = sizeof from;
        const ssize_t n = recvfrom(fd_, buf, sizeof buf, 0, reinterpret_cast<sockaddr *>(&from), &len);
        if (n <= 0)
            return;
        const QByteArray query(buf, int(n));
        Queries.push_back(query);
        if (!Answer)
            return;
        for (const QByteArray &d : Answer(query))
            sendto(fd_, d.constData(), size_t(d.size()), 0, reinterpret_cast<sockaddr *>(&from), len);
    }

    int fd_ = -1;
    quint16 port_ = 0;
    std::unique_ptr<QSocketNotifier> notifier_;
};

QByteArray be16(int v)
{
    QByteArray b;
    b += char((v >> 8) & 0xff);
    b += char(v & 0xff);
    return b;
}

// The query's id and question, with the reply's flags and answer records.
QByteArray replyTo(const QByteArray &query, int flags, int answers, const QByteArray &records)
{
    return query.left(2) + be16(flags) + be16(1) + be16(answers) + be16(0) + be16(0) + query.mid(12)
           + records;
}

QByteArray addressRecord()
{
    return QByteArray("\xc0\x0c\x00\x01\x00\x01\x00\x00\x00\x3c\x00\x04\x7f\x00\x00\x01", 16);
}

} // namespace

TEST(DnsTransportUrl, FirstNameServerOfResolvConf)
{
    struct Case {
        const char *text;
        const char *server;
    } cases[] = {
        {"nameserver 10.200.3.53\nsearch idlix.test\n", "10.200.3.53"},
        {"# nameserver 1.1.1.1\nsearch x\n  nameserver   fd00::53  \nnameserver 10.0.0.1\n", "fd00::53"},
        {"nameserver\tfe80::1%eth0\n", "fe80::1%eth0"},
        {"nameservers 10.0.0.1\noptions timeout:2\n", ""},
        {"nameserver\n", ""},
        {"", ""},
    };
    for (const Case &c : cases)
        EXPECT_EQ(session::FirstNameServer(c.text), QLatin1String(c.server)) << c.text;
}

TEST(DnsTransport, ScriptedRepliesToldAsOutcomes)
{
    using Reply = std::function<std::vector<QByteArray>(const QByteArray &)>;
    struct Case {
        const char *what;
        Reply answer;
        TProbeOutcome outcome;
        int rcode;
        const char *reason;   // a part of it
    } cases[] = {
        {"an address", [](const QByteArray &q) { return std::vector{replyTo(q, 0x8180, 1, addressRecord())}; },
         TProbeOutcome::Ok, 0, ""},
        {"someone else's reply first",
         [](const QByteArray &q) {
             QByteArray other = replyTo(q, 0x8180, 1, addressRecord());
             other[0] = char(other[0] ^ 0x5a);
             return std::vector{other, replyTo(q, 0x8183, 0, {})};
         },
         TProbeOutcome::DnsError, 3, "no such name (NXDOMAIN)"},
        {"no answer", [](const QByteArray &q) { return std::vector{replyTo(q, 0x8180, 0, {})}; },
         TProbeOutcome::DnsError, 0, "no answer"},
        {"servfail", [](const QByteArray &q) { return std::vector{replyTo(q, 0x8182, 0, {})}; },
         TProbeOutcome::DnsError, 2, "SERVFAIL"},
        // Every way a reply can be broken is the codec's table (test_dnsmessage);
        // here, that a broken one ends the probe as an error, never an answer.
        {"too long", [](const QByteArray &q) { return std::vector{replyTo(q, 0x8180, 1, addressRecord() + QByteArray(600, 'x'))}; },
         TProbeOutcome::DnsError, -1, "malformed"},
        {"only someone else's reply",
         [](const QByteArray &q) {
             QByteArray other = replyTo(q, 0x8180, 1, addressRecord());
             other[1] = char(other[1] ^ 0x01);
             return std::vector{other};
         },
         TProbeOutcome::Timeout, -1, "no reply"},
        {"silence", [](const QByteArray &) { return std::vector<QByteArray>{}; }, TProbeOutcome::Timeout, -1, "no reply"},
    };
    for (const Case &c : cases) {
        TScriptedNameServer server;
        server.Answer = c.answer;
        TDnsTransport transport;
        const auto run = RunProbe(transport, server.Url(QStringLiteral("host.idlix.test")), 600);
        EXPECT_EQ(run.Dones, 1) << c.what;
        EXPECT_EQ(run.Reply.Outcome, c.outcome) << c.what << ": " << run.Reply.Reason.toStdString();
        EXPECT_EQ(run.Reply.Details.DnsRcode, c.rcode) << c.what;
        EXPECT_TRUE(run.Reply.Reason.contains(QLatin1String(c.reason))) << c.what << ": " << run.Reply.Reason.toStdString();
        EXPECT_EQ(run.Sent, QStringList{QStringLiteral("127.0.0.1")}) << c.what;
        EXPECT_EQ(run.Reply.Address, QStringLiteral("127.0.0.1")) << c.what;
        ASSERT_EQ(server.Queries.size(), 1u) << c.what;
        // One question for host.idlix.test, type A, class IN, recursion desired.
        EXPECT_EQ(server.Queries[0].mid(2).toHex().toStdString(),
                  "010000010000000000000468" "6f7374" "05" "69646c6978" "04" "74657374" "00" "0001" "0001")
            << c.what;
        EXPECT_EQ(run.Reply.BytesSent, 20 + 8 + server.Queries[0].size()) << c.what;
        if (c.rcode >= 0) {
            // The query time is the probe's time and its only phase.
            EXPECT_GE(run.Reply.Us, 0) << c.what;
            EXPECT_LT(run.Reply.Us, 500000) << c.what;
            EXPECT_EQ(run.Reply.Timings.ResolveUs, run.Reply.Us) << c.what;
            EXPECT_EQ(run.Reply.Ms, int(run.Reply.Us / 1000)) << c.what;
            EXPECT_GT(run.Reply.BytesReceived, 28) << c.what;
        } else {
            EXPECT_EQ(run.Reply.Us, -1) << c.what;
            EXPECT_FALSE(run.Reply.Success()) << c.what;
        }
        if (c.outcome == TProbeOutcome::Timeout) {
            EXPECT_GE(run.ElapsedMs, 590) << c.what;
            EXPECT_LT(run.ElapsedMs, 3000) << c.what;
        }
    }
}

TEST(DnsTransport, BrokenTargetsFailAtOnce)
{
    QTemporaryDir dir;
    const QString noServer = dir.filePath(QStringLiteral("resolv.conf"));
    testutil::writeFile(noServer, "search idlix.test\n");
    // What the URL reader refuses is its own table; here, that the transport
    // ends such a probe inside Send, and a resolv.conf without a server.
    const char *targets[] = {"dns://127.0.0.1/a..b", "dns:///x.test"};
    for (const char *target : targets) {
        TDnsTransport transport;
        transport.ResolvConf = noServer;
        int dones = 0;
        probe::TReply got;
        probe::TEvents events;
        events.Done = [&](const probe::TReply &r) { ++dones; got = r; };
        transport.Send({QString::fromLatin1(target)}, events);
        EXPECT_EQ(dones, 1) << target;   // inside Send: nothing to wait for
        EXPECT_EQ(got.Outcome, TProbeOutcome::Failed) << target;
        EXPECT_FALSE(got.Reason.isEmpty()) << target;
        EXPECT_FALSE(got.Cancelled) << target;
    }
}

TEST(DnsTransport, CancelAndNewerSendEndTheProbeOnce)
{
    TScriptedNameServer server;   // never answers
    TDnsTransport transport;
    std::vector<probe::TReply> first, second;
    probe::TEvents a, b;
    a.Done = [&](const probe::TReply &r) { first.push_back(r); };
    b.Done = [&](const probe::TReply &r) { second.push_back(r); };
    transport.Send({server.Url(QStringLiteral("x.test")), 0, 5000}, a);
    ASSERT_TRUE(testutil::waitFor([&] { return server.Queries.size() == 1; }, 2s));
    transport.Send({server.Url(QStringLiteral("y.test")), 0, 5000}, b);
    ASSERT_EQ(first.size(), 1u);
    EXPECT_TRUE(first[0].Cancelled);
    transport.Cancel();
    ASSERT_EQ(second.size(), 1u);
    EXPECT_TRUE(second[0].Cancelled);
    transport.Cancel();
    testutil::pump(300ms);
    EXPECT_EQ(first.size(), 1u);
    EXPECT_EQ(second.size(), 1u);
}

// Nothing listens on the port: the ICMP port unreachable ends the probe at
// once, rather than at the time-out.
TEST(DnsTransport, ClosedPortIsUnreachable)
{
    quint16 port = 0;
    {
        TScriptedNameServer gone;
        port = gone.Port();
    }
    TDnsTransport transport;
    const auto run = RunProbe(transport, QStringLiteral("dns://127.0.0.1:%1/x.test").arg(port), 3000);
    EXPECT_EQ(run.Reply.Outcome, TProbeOutcome::Unreachable) << run.Reply.Reason.toStdString();
    EXPECT_LT(run.ElapsedMs, 1000);
    EXPECT_EQ(run.Dones, 1);
}
