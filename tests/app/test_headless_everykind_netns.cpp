// The headless service over a server list that mixes every kind a URL names,
// on the test network, with every target each interval: each entry is
// probed once per interval at its own share of it, its outcome is the one
// its server gives, and the connection history (read back through
// `idlix --export`) and the metrics carry each probe under the entry as
// written, with its kind as the method. An echo that waits out its time-out
// holds up none of the others. Root only; about 20 s.
#include "../support/childprogram.h"
#include "../support/httpclient.h"
#include "../support/netfixture.h"
#include "../support/testutil.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <csignal>
#include <map>

using namespace std::chrono_literals;

namespace {

constexpr int kMetricsPort = 9418;     // on the client's own loopback
constexpr int kIntervalS = 7;

// One entry of the list and how its probes end on the test network.
struct TEntry {
    const char *entry;
    const char *method;
    const char *outcome;
    qint64 takesMs = 0;      // from its slot to its end, beyond a few ms
};

const TEntry kEntries[] = {
    {"echo://10.200.3.10", "echo", "ok"},
    // Never answers: its echo waits out its 5 s while the others go on.
    {"echo://10.200.3.20", "echo", "timeout", 5000},
    {"tcp://10.200.3.10:80", "tcp", "ok"},
    {"tcp://10.200.3.10:81", "tcp", "refused"},                    // nothing listens there
    {"https://host.idlix.test/", "https", "ok"},
    {"https://host.idlix.test:8443/", "https", "tls-failed"},     // a certificate for another name
    {"10.200.3.10", "http", "ok"},                                // a plain entry: the method's GET
    {"http://host.idlix.test/", "http", "ok"},
};

class HeadlessEveryKind : public testnet::WebNetTest {
protected:
    static void SetUpTestSuite()
    {
        SetUpWeb({{"index.html", QByteArray("hello\n")}});
        if (!net || !net->ok() || web <= 0)
            return;
        certs = new QTemporaryDir;
        const std::string dir = certs->path().toStdString();
        if (!testnet::TestNet::makeCerts(dir))
            return;
        tls.push_back(net->startTlsNginx(testnet::Role::Host, www->path().toStdString(), 443, dir + "/valid.pem",
                                         dir + "/valid.key"));
        tls.push_back(net->startTlsNginx(testnet::Role::Host, www->path().toStdString(), 8443,
                                         dir + "/wrongname.pem", dir + "/wrongname.key"));
    }
    static void TearDownTestSuite()
    {
        for (pid_t pid : tls)
            testnet::TestNet::stopNginx(pid);
        tls.clear();
        delete certs;
        certs = nullptr;
        WebNetTest::TearDownTestSuite();
    }
    void SetUp() override
    {
        WebNetTest::SetUp();
        if (!Ready())
            return;
        if (!QFile::exists(testutil::programPath()))
            GTEST_SKIP() << "program not built at " << testutil::programPath().toStdString();
        ASSERT_EQ(tls.size(), 2u);
        for (pid_t pid : tls)
            ASSERT_GT(pid, 0) << "nginx with TLS did not start";
    }

    static inline QTemporaryDir *certs = nullptr;
    static inline std::vector<pid_t> tls;
};

void WriteFile(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(bytes);
}

// A CSV export's rows by host: each row's time, method, outcome.
struct TRow {
    QDateTime at;
    QString method, outcome;
};

std::map<QString, std::vector<TRow>> RowsByHost(const QByteArray &csv)
{
    std::map<QString, std::vector<TRow>> rows;
    const QStringList lines = QString::fromUtf8(csv).split(QStringLiteral("\r\n"), Qt::SkipEmptyParts);
    for (const QString &line : lines.mid(1)) {
        // time,host,address,method,outcome,ms,bytes_sent,bytes_received,reason
        const QStringList f = line.split(',');
        if (f.size() < 5)
            continue;
        rows[f[1]].push_back({QDateTime::fromString(f[0], Qt::ISODateWithMs), f[3], f[4]});
    }
    return rows;
}

} // namespace

TEST_F(HeadlessEveryKind, EveryEntryOncePerIntervalAtItsShareWithItsKindInTheHistoryAndTheMetrics)
{
    testutil::ScratchDir dir;
    QByteArray list;
    for (const TEntry &e : kEntries)
        list += QByteArray(e.entry) + "\r\n";
    WriteFile(dir.file("Servers.dat"), list);
    // HTTP GETs for the plain entry; the list cycled, every entry each 7 s.
    WriteFile(dir.file("idlix2.ini"), QStringLiteral("[Anti-Idle Options]\r\nMethod=0\r\nFrequecy=1\r\nOptions=0\r\n"
                                                     "[Service]\r\nProbeAll=1\r\nProbeAllInterval=%1\r\n")
                                          .arg(kIntervalS)
                                          .toLatin1());
    QProcessEnvironment env = testutil::programEnvironment(dir);
    env.remove("JOURNAL_STREAM");
    env.insert("SSL_CERT_FILE", certs->filePath("ca.pem"));
    QProcess service;
    service.setProcessEnvironment(env);
    const QString logFile = dir.file("service.log");
    service.setStandardErrorFile(logFile);
    service.start(testutil::programPath(),
                  {"--headless", "--metrics", QStringLiteral("127.0.0.1:%1").arg(kMetricsPort)});
    ASSERT_TRUE(service.waitForStarted(5000));

    // Two whole rounds, and the first entry of the third: then the service
    // stops, a share of the interval before the next entry's turn.
    const QByteArray third = QStringLiteral("idlix_probes_total{target=\"%1\",method=\"%2\",outcome=\"%3\"} 3")
                                 .arg(kEntries[0].entry, kEntries[0].method, kEntries[0].outcome)
                                 .toUtf8();
    int status = 0;
    QByteArray metrics;
    const bool thirdRound = testutil::waitFor([&] {
        metrics = testsupport::HttpGet("127.0.0.1", kMetricsPort, "/metrics", &status);
        return metrics.contains(third);
    }, std::chrono::milliseconds(3 * kIntervalS * 1000));
    ::kill(pid_t(service.processId()), SIGTERM);
    ASSERT_TRUE(service.waitForFinished(15000));
    const QString log = testutil::readFile(logFile);
    EXPECT_EQ(service.exitCode(), 0) << log.toStdString();
    EXPECT_TRUE(log.contains(QStringLiteral("Session started: HTTP Gets to every server of the list (%1), each every 7 s")
                                 .arg(std::size(kEntries))))
        << log.toStdString();
    EXPECT_EQ(status, 200);
    ASSERT_TRUE(thirdRound) << metrics.toStdString() << log.toStdString();

    QProcess exporter;
    exporter.setProcessEnvironment(env);
    exporter.start(testutil::programPath(), {"--export", "probes", "-"});
    ASSERT_TRUE(exporter.waitForFinished(20000));
    ASSERT_EQ(exporter.exitCode(), 0) << exporter.readAllStandardError().toStdString();
    const std::map<QString, std::vector<TRow>> rows = RowsByHost(exporter.readAllStandardOutput());

    const auto first = rows.find(kEntries[0].entry);
    ASSERT_NE(first, rows.end()) << log.toStdString();
    const QDateTime start = first->second.front().at;
    const qint64 shareMs = kIntervalS * 1000 / qint64(std::size(kEntries));
    for (std::size_t i = 0; i < std::size(kEntries); ++i) {
        const TEntry &e = kEntries[i];
        SCOPED_TRACE(e.entry);
        const auto it = rows.find(e.entry);
        ASSERT_NE(it, rows.end()) << log.toStdString();
        const std::vector<TRow> &probes = it->second;
        // Two rounds, the first entry also the third's opening.
        EXPECT_EQ(probes.size(), i == 0 ? 3u : 2u);
        for (const TRow &r : probes) {
            EXPECT_EQ(r.method, e.method);
            EXPECT_EQ(r.outcome, e.outcome);
        }
        // The rows are written as probes end: within half a share of the
        // entry's slot, which a probe sent in a burst would miss.
        for (std::size_t k = 0; k < probes.size(); ++k) {
            const qint64 slot = qint64(k) * kIntervalS * 1000 + qint64(i) * shareMs + e.takesMs;
            const qint64 at = start.msecsTo(probes[k].at);
            EXPECT_GE(at, slot - 50) << "probe " << k;
            EXPECT_LT(at, slot + shareMs / 2) << "probe " << k;
        }
        // The metrics count them under the entry as written.
        const QByteArray series = QStringLiteral("idlix_probes_total{target=\"%1\",method=\"%2\",outcome=\"%3\"} %4")
                                      .arg(e.entry, e.method, e.outcome)
                                      .arg(probes.size())
                                      .toUtf8();
        EXPECT_TRUE(metrics.contains(series)) << series.toStdString() << "\n" << metrics.toStdString();
    }
}
