// https:// probes over the test network against nginx with certificates of a
// test CA made for the run: valid, expired, for another name, signed by a CA
// nobody trusts; a plain HTTP port, a closed one, a silent host. Every
// outcome with its reason and details, through the transport and through a
// session whose host is the URL. Root only.
#include "probewait.h"

#include "config/options.h"
#include "session/httpstransport.h"
#include "session/webtransfer.h"
#include "../support/netfixture.h"
#include "../support/testutil.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>

using namespace std::chrono_literals;

namespace {

// The ends of the certificates testnet.sh makes (the valid one's is read from its file).
constexpr qint64 ExpiredEnd = 1580515200;   // 2020-02-01 00:00:00 UTC
constexpr qint64 Valid = -2;                // stands for the valid leaf's end in the table

class HttpsProbe : public testnet::WebNetTest {
protected:
    static void SetUpTestSuite()
    {
        SetUpWeb({{"index.html", QByteArray("hello\n")}});
        if (!net || !net->ok() || web <= 0)
            return;
        QDir(www->path()).mkpath(QStringLiteral("dir"));
        certs = new QTemporaryDir;
        const std::string dir = certs->path().toStdString();
        if (!testnet::TestNet::makeCerts(dir))
            return;
        QFile end(certs->filePath(QStringLiteral("valid.expiry")));
        if (end.open(QIODevice::ReadOnly))
            validEnd = end.readAll().trimmed().toLongLong();
        // The client trusts the test CA alone.
        setenv("SSL_CERT_FILE", (dir + "/ca.pem").c_str(), 1);
        for (const auto &[port, name] : Servers)
            tls.push_back(net->startTlsNginx(testnet::Role::Host, www->path().toStdString(), port,
                                             dir + "/" + name + ".pem", dir + "/" + name + ".key"));
        silent = net->addSilentRoute();
    }
    static void TearDownTestSuite()
    {
        for (pid_t pid : tls)
            testnet::TestNet::stopNginx(pid);
        tls.clear();
        unsetenv("SSL_CERT_FILE");
        delete certs;
        certs = nullptr;
        WebNetTest::TearDownTestSuite();
    }
    void SetUp() override
    {
        WebNetTest::SetUp();
        if (!Ready())
            return;
        ASSERT_GT(validEnd, 0) << "the test certificates were not made";
        ASSERT_EQ(tls.size(), std::size(Servers));
        for (pid_t pid : tls)
            ASSERT_GT(pid, 0) << "a TLS nginx did not start";
        ASSERT_TRUE(silent);
    }

    bool Probe(const QString &target, int timeoutMs, qint64 bodyLimit, probe::TReply *reply)
    {
        probe::TRequest request;
        request.Target = target;
        request.TimeoutMs = timeoutMs;
        request.BodyLimit = bodyLimit;
        return sessiontest::SendAndWait(transport, request, reply);
    }

    static constexpr std::pair<int, const char *> Servers[] = {
        {443, "valid"}, {8443, "expired"}, {9443, "wrongname"}, {10443, "untrusted"}};
    static inline QTemporaryDir *certs = nullptr;
    static inline qint64 validEnd = 0;
    static inline std::vector<pid_t> tls;
    static inline bool silent = false;
    THttpsTransport transport;
};

} // namespace

TEST_F(HttpsProbe, EveryOutcomeWithItsReasonAndDetails)
{
    if (!Ready())
        return;
    const struct {
        QString target;
        TProbeOutcome outcome;
        QString reason;          // a reason ending in ": " is a prefix
        int status;              // Details.HttpStatus
        qint64 expiry;           // Details.CertExpiry (Valid: the valid leaf's end)
        qint64 body;
        int timeoutMs = 0;
        qint64 bodyLimit = 0;
    } cases[] = {
        {"https://host.idlix.test/", TProbeOutcome::Ok, "", 200, Valid, 6},
        {"https://10.200.3.10/index.html", TProbeOutcome::Ok, "", 200, Valid, 6},
        {"https://[fd00:200:3::10]/", TProbeOutcome::Ok, "", 200, Valid, 6},
        // A redirect is a success, as the designed GET's is.
        {"https://host.idlix.test/dir", TProbeOutcome::Ok, "", 301, Valid, -1},
        {"https://host.idlix.test/missing", TProbeOutcome::HttpError, "Not Found", 404, Valid, -1},
        {"https://host.idlix.test/", TProbeOutcome::HttpError, "the document is longer than 3 bytes", 200, Valid, 0,
         0, 3},
        {"https://host.idlix.test:8443/", TProbeOutcome::TlsFailed, "certificate has expired", -1, ExpiredEnd, 0},
        {"https://host.idlix.test:9443/", TProbeOutcome::TlsFailed, "name does not match", -1, Valid, 0},
        {"https://10.200.3.10:9443/", TProbeOutcome::TlsFailed, "name does not match", -1, Valid, 0},
        {"https://host.idlix.test:10443/", TProbeOutcome::TlsFailed, "not trusted", -1, Valid, 0},
        {"https://host.idlix.test:80/", TProbeOutcome::TlsFailed, "TLS handshake failed: ", -1, -1, 0},
        {"https://host.idlix.test:81/", TProbeOutcome::Refused, "refused", -1, -1, 0},
        {"https://10.200.9.9/", TProbeOutcome::Unreachable, "network unreachable", -1, -1, 0},
        {"https://nosuch.idlix.test/", TProbeOutcome::LookupFailed, "can't resolve hostname to IP address", -1, -1, 0},
        {"https://10.200.3.40/", TProbeOutcome::Timeout, session::TimeoutReason(800), -1, -1, 0, 800},
        {"tcp://host.idlix.test:443", TProbeOutcome::Failed, "not an https:// URL", -1, -1, 0},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.target.toStdString());
        probe::TReply reply;
        QElapsedTimer took;
        took.start();
        ASSERT_TRUE(Probe(c.target, c.timeoutMs, c.bodyLimit, &reply));
        EXPECT_EQ(OutcomeName(reply.Outcome), OutcomeName(c.outcome));
        if (c.reason.endsWith(QLatin1String(": ")))
            EXPECT_TRUE(reply.Reason.startsWith(c.reason) && reply.Reason.size() > c.reason.size())
                << reply.Reason.toStdString();
        else
            EXPECT_EQ(reply.Reason, c.reason);
        EXPECT_EQ(reply.Details.HttpStatus, c.status);
        EXPECT_EQ(reply.Details.CertExpiry, c.expiry == Valid ? validEnd : c.expiry);
        const bool handshaken = c.status > 0;
        EXPECT_EQ(reply.Details.TlsVersion, handshaken ? QStringLiteral("TLSv1.3") : QString());
        if (c.body >= 0 && c.outcome == TProbeOutcome::Ok)
            EXPECT_EQ(reply.BodyBytes, c.body);
        if (c.outcome == TProbeOutcome::Ok) {
            const probe::TTimings &t = reply.Timings;
            EXPECT_GE(t.ResolveUs, 0);
            EXPECT_GT(t.ConnectUs, 0);
            EXPECT_GT(t.TlsUs, 0);
            EXPECT_GT(t.FirstByteUs, 0);
            EXPECT_GE(t.TransferUs, 0);
            EXPECT_GE(reply.Us, t.ResolveUs + t.ConnectUs + t.TlsUs + t.FirstByteUs + t.TransferUs);
            EXPECT_LE(reply.Us, took.nsecsElapsed() / 1000);
            EXPECT_EQ(reply.Ms, int(reply.Us / 1000));
            // The request and the reply went over the wire, TLS records and all.
            EXPECT_GT(reply.BytesSent, 100);
            EXPECT_GT(reply.BytesReceived, reply.BodyBytes + 500);
        } else {
            EXPECT_EQ(reply.Us, -1);
            EXPECT_EQ(reply.Ms, -1);
        }
        if (c.outcome == TProbeOutcome::TlsFailed)
            EXPECT_EQ(reply.Timings.TlsUs, -1);
        if (c.outcome == TProbeOutcome::Timeout)
            EXPECT_GE(took.elapsed(), c.timeoutMs);
        EXPECT_EQ(transport.Running(), 0);
    }
}

TEST_F(HttpsProbe, ProbesRunSideBySideAndCancelEndsThemAtOnce)
{
    if (!Ready())
        return;
    int ok = 0, cancelled = 0, other = 0;
    const auto send = [&](const QString &target) {
        probe::TEvents events;
        events.Done = [&](const probe::TReply &r) { ++(r.Cancelled ? cancelled : r.Success() ? ok : other); };
        probe::TRequest request;
        request.Target = target;
        transport.Send(request, std::move(events));
    };
    for (int i = 0; i < 4; ++i)
        send(QStringLiteral("https://host.idlix.test/"));
    EXPECT_EQ(transport.Running(), 4);
    ASSERT_TRUE(testutil::waitFor([&] { return ok == 4; }, 10s));
    for (int i = 0; i < 3; ++i)
        send(QStringLiteral("https://10.200.3.40/"));
    transport.Cancel();
    EXPECT_EQ(cancelled, 3);
    EXPECT_EQ(transport.Running(), 0);
    testutil::pump(500ms);
    EXPECT_EQ(ok + cancelled + other, 7);
    EXPECT_EQ(other, 0);
}

TEST_F(HttpsProbe, ASessionWhoseHostIsAnHttpsUrl)
{
    if (!Ready())
        return;
    const struct {
        QString host;
        int method;
        TProbeOutcome outcome;
        QString text;            // the result's history line; %1 the ms
    } cases[] = {
        {"https://host.idlix.test/", config::TAntiIdleOptions::IcmpPings, TProbeOutcome::Ok,
         "Received 6 bytes from https://host.idlix.test/ in %1ms"},
        {"https://host.idlix.test:8443/", config::TAntiIdleOptions::HttpGets, TProbeOutcome::TlsFailed,
         "Transfer from https://host.idlix.test:8443/ failed. certificate has expired"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.host.toStdString());
        sessiontest::TOpeningProbe session(c.host, c.method);
        ASSERT_TRUE(session.Run());
        const TProbeResult &r = session.Rec.results.front();
        EXPECT_EQ(r.Kind, session::TProbeKind::Https);
        EXPECT_EQ(OutcomeName(r.Outcome), OutcomeName(c.outcome));
        EXPECT_EQ(r.Address, testnet::kHost);
        const QString text = c.outcome == TProbeOutcome::Ok ? c.text.arg(r.Ms) : c.text;
        EXPECT_TRUE(session.Told(text));
        EXPECT_EQ(r.Details.CertExpiry, c.outcome == TProbeOutcome::Ok ? validEnd : ExpiredEnd);
        if (c.outcome == TProbeOutcome::Ok) {
            EXPECT_EQ(r.Details.HttpStatus, 200);
            EXPECT_EQ(r.Details.TlsVersion, "TLSv1.3");
            EXPECT_GT(r.Timings.TlsUs, 0);
            EXPECT_EQ(session.Engine->Stats().Successes(), 1);
        } else {
            EXPECT_EQ(r.Reason, "certificate has expired");
            EXPECT_EQ(session.Engine->Stats().Failures(), 1);
        }
    }
}
