// The headless service watched by a real Prometheus on the test network: the
// service probes the test host once a minute and serves its metrics on the
// client's loopback; Prometheus scrapes them every second. Its query API
// gives as many probes as the service sent and the line up, then down once
// the host stops answering; meanwhile clients that send slowly, endlessly
// or too many at once delay no probe. Root only; about 70 s, most of it the
// minute between two probes.
#include "../support/childprogram.h"
#include "../support/httpclient.h"
#include "../support/netfixture.h"
#include "../support/qtprint.h"
#include "../support/testutil.h"

#include <QDateTime>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QUrl>
#include <gtest/gtest.h>

#include <csignal>
#include <optional>
#include <thread>

using namespace std::chrono_literals;
using testnet::Role;
using testsupport::RawClient;

namespace {

constexpr int kMetricsPort = 9417;     // on the client's own loopback
constexpr int kPrometheusPort = 9090;

// The value of an instant query, when it has one series.
std::optional<double> Query(const QString &promql)
{
    const QByteArray path = "/api/v1/query?query=" + QUrl::toPercentEncoding(promql);
    int status = 0;
    const QByteArray body = testsupport::HttpGet("127.0.0.1", kPrometheusPort, path, &status);
    if (status != 200)
        return std::nullopt;
    const QJsonArray result = QJsonDocument::fromJson(body).object()["data"].toObject()["result"].toArray();
    if (result.size() != 1)
        return std::nullopt;
    return result[0].toObject()["value"].toArray()[1].toString().toDouble();
}

// Waits for the query to give 'value'.
bool WaitForValue(const QString &promql, double value, int timeoutMs)
{
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < timeoutMs) {
        if (Query(promql) == value)
            return true;
        std::this_thread::sleep_for(250ms);
    }
    return false;
}

// The moments of the service's log lines that contain 'text'.
QList<QDateTime> LinesWith(const QString &log, const QString &text)
{
    QList<QDateTime> at;
    for (const QString &line : log.split('\n', Qt::SkipEmptyParts)) {
        if (line.contains(text))
            at << QDateTime::fromString(line.left(24), Qt::ISODateWithMs);
    }
    return at;
}

void WriteFile(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(bytes);
}

class HeadlessNet : public testnet::NetTest {};

} // namespace

TEST_F(HeadlessNet, PrometheusSeesTheProbesAndTheLineGoDownWhileHostileClientsDelayNothing)
{
    if (!Ready())
        return;
    const QString prometheus = QStandardPaths::findExecutable("prometheus");
    if (prometheus.isEmpty())
        GTEST_SKIP() << "prometheus is not installed (scripts/deps.sh test installs it)";
    testutil::ScratchDir dir;
    // One failed probe takes the line down, one answered brings it up.
    WriteFile(dir.file("idlix2.ini"), QStringLiteral("[Anti-Idle Options]\r\nMethod=1\r\nFrequecy=1\r\nHost=%1\r\n"
                                                     "[History]\r\nDownAfter=1\r\nUpAfter=1\r\n")
                                          .arg(testnet::kHost)
                                          .toLatin1());
    WriteFile(dir.file("prometheus.yml"), QStringLiteral("global:\n"
                                                         "  scrape_interval: 1s\n"
                                                         "  scrape_timeout: 1s\n"
                                                         "scrape_configs:\n"
                                                         "  - job_name: idlix\n"
                                                         "    static_configs:\n"
                                                         "      - targets: ['127.0.0.1:%1']\n")
                                              .arg(kMetricsPort)
                                              .toLatin1());

    // Both start from this thread, in the client's namespace.
    QProcess service;
    QProcessEnvironment env = testutil::programEnvironment(dir);
    env.remove("JOURNAL_STREAM");
    service.setProcessEnvironment(env);
    const QString logFile = dir.file("service.log");
    service.setStandardErrorFile(logFile);
    service.start(testutil::programPath(),
                  {"--headless", "--metrics", QStringLiteral("127.0.0.1:%1").arg(kMetricsPort)});
    ASSERT_TRUE(service.waitForStarted(5000));
    QProcess server;
    server.setProcessChannelMode(QProcess::MergedChannels);
    server.setStandardOutputFile(dir.file("prometheus.log"));
    server.start(prometheus, {"--config.file=" + dir.file("prometheus.yml"), "--storage.tsdb.path=" + dir.file("tsdb"),
                              QStringLiteral("--web.listen-address=127.0.0.1:%1").arg(kPrometheusPort),
                              "--log.level=warn"});
    ASSERT_TRUE(server.waitForStarted(5000));
    auto stop = [](QProcess &p) {
        if (p.state() == QProcess::NotRunning)
            return;
        ::kill(pid_t(p.processId()), SIGTERM);
        if (!p.waitForFinished(10000)) {
            p.kill();
            p.waitForFinished(2000);
        }
    };

    // The opening echo, seen by Prometheus.
    EXPECT_TRUE(WaitForValue("sum(idlix_probes_total)", 1, 30000))
        << testutil::readFile(dir.file("prometheus.log")).toStdString() << testutil::readFile(logFile).toStdString();
    EXPECT_TRUE(WaitForValue("idlix_link_up", 1, 5000));
    EXPECT_EQ(Query("idlix_session_running"), 1.0);

    // The host stops answering; the next probe, a minute after the first,
    // will find it so.
    ASSERT_EQ(net->run(Role::Host, "sysctl -qw net.ipv4.icmp_echo_ignore_all=1"), 0);

    // Meanwhile: more connections than the endpoint takes, held open; a
    // client that sends its request a byte at a time; a 1 MB request line.
    {
        RawClient slow("127.0.0.1", kMetricsPort);
        RawClient big("127.0.0.1", kMetricsPort);
        big.Send("GET /" + QByteArray(1 << 20, 'a'), 3000);
        std::vector<std::unique_ptr<RawClient>> idle;
        for (int i = 0; i < 24; ++i)
            idle.push_back(std::make_unique<RawClient>("127.0.0.1", kMetricsPort));
        const QByteArray request = "GET /metrics HTTP/1.1\r\nHost: slow\r\n\r\n";
        for (const char c : request) {
            slow.Send(QByteArray(1, c), 1000);
            std::this_thread::sleep_for(250ms);
        }
        // Longer than the endpoint waits for anyone: it was cut off unserved.
        EXPECT_TRUE(slow.ReadUntilClosed(1000));
        EXPECT_EQ(slow.Status(), 0);
        big.ReadUntilClosed(1000);
        EXPECT_NE(big.Status(), 200);
    }

    // The second probe: sent on time, unanswered, and the line is down.
    EXPECT_TRUE(WaitForValue("idlix_link_up", 0, 90000)) << testutil::readFile(logFile).toStdString();
    EXPECT_TRUE(WaitForValue("sum(idlix_probes_total)", 2, 5000));
    EXPECT_EQ(Query(QStringLiteral("idlix_probes_total{target=\"%1\",method=\"echo\",outcome=\"timeout\"}")
                        .arg(testnet::kHost)),
              1.0);
    EXPECT_EQ(Query("idlix_outages_total"), 1.0);
    // Scrapes go on as before.
    EXPECT_TRUE(WaitForValue("up{job=\"idlix\"}", 1, 5000));

    stop(service);
    EXPECT_EQ(service.exitCode(), 0);
    stop(server);
    const QString log = QString::fromUtf8(testutil::readFile(logFile));
    // As many probes sent as Prometheus counted, a minute apart.
    const QList<QDateTime> sent = LinesWith(log, QStringLiteral("Sending 56 bytes to %1").arg(testnet::kHost));
    ASSERT_EQ(sent.size(), 2) << log.toStdString();
    const qint64 gap = sent[0].msecsTo(sent[1]);
    EXPECT_GE(gap, 59500) << log.toStdString();
    EXPECT_LE(gap, 61500) << log.toStdString();
    EXPECT_EQ(LinesWith(log, "Line down: 1 probe failed in a row").size(), 1) << log.toStdString();
}
