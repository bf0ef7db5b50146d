// The service pushing to real receivers on loopback, each started here:
// a scripted one that answers 500, 429, then 400 (the same samples tried
// again after a growing pause, then dropped with a line in the log); a real
// Prometheus taking remote writes, stopped for a while and started again
// while the service is killed with SIGKILL and restarted (the samples of the
// whole cut arrive with their times); and Prometheus evaluating the shipped
// rules, its Alertmanager delivering the line-down alert to a webhook; and
// HTTPS through nginx with a certificate of the test's own, trusted only when
// named. About 25 s in all; each test skips when its server is not installed.
#include "service/remotewrite.h"
#include "../support/httpclient.h"
#include "../support/qtprint.h"
#include "../support/testutil.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QUrl>
#include <gtest/gtest.h>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <csignal>
#include <thread>
#include "testpaths.h"

using namespace std::chrono_literals;
using namespace service;

namespace {

void WriteFile(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(bytes);
}

int FreePort()
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fd, reinterpret_cast<sockaddr *>(&a), sizeof a);
    socklen_t len = sizeof a;
    ::getsockname(fd, reinterpret_cast<sockaddr *>(&a), &len);
    ::close(fd);
    return ntohs(a.sin_port);
}

bool WaitUntil(const std::function<bool()> &pred, int timeoutMs)
{
    QElapsedTimer clock;
    clock.start();
    while (!pred()) {
        if (clock.elapsed() > timeoutMs)
            return false;
        std::this_thread::sleep_for(100ms);
    }
    return true;
}

// A child process that is stopped (SIGTERM, then SIGKILL) when it goes.
struct TChild {
    QProcess p;
    TChild(const QString &program, const QStringList &args, const QString &log,
           const QProcessEnvironment &env = QProcessEnvironment::systemEnvironment())
    {
        p.setProcessEnvironment(env);
        p.setProcessChannelMode(QProcess::MergedChannels);
        p.setStandardOutputFile(log, QIODevice::Append);
        p.start(program, args);
        EXPECT_TRUE(p.waitForStarted(5000)) << program.toStdString();
    }
    ~TChild() { Stop(); }
    int Stop(int signo = SIGTERM)
    {
        if (p.state() != QProcess::NotRunning) {
            ::kill(pid_t(p.processId()), signo);
            if (!p.waitForFinished(10000)) {
                p.kill();
                p.waitForFinished(2000);
            }
        }
        return p.exitCode();
    }
};

QString ServicePath()
{
    return QCoreApplication::applicationDirPath() + "/../idlix-headless";
}

QProcessEnvironment ServiceEnvironment(const testutil::ScratchDir &dir)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("IDLIX_DIR", dir.path());
    env.remove("JOURNAL_STREAM");
    env.remove("NOTIFY_SOCKET");
    return env;
}

// The settings of a service that probes loopback and samples every second.
QByteArray Settings(const QString &service, const QString &probe = QStringLiteral("Method=1\r\nHost=127.0.0.1\r\n"))
{
    return (QStringLiteral("[Anti-Idle Options]\r\nFrequecy=1\r\n") + probe
            + QStringLiteral("[History]\r\nDownAfter=1\r\nUpAfter=1\r\n[Service]\r\nRemoteWriteInterval=1\r\n"
                             "Node=kiosk-1\r\nLabels=site=shop\r\n")
            + service)
        .toLatin1();
}

QJsonObject PromQuery(int port, const QString &promql)
{
    const QByteArray path = "/api/v1/query?query=" + QUrl::toPercentEncoding(promql);
    return QJsonDocument::fromJson(testsupport::HttpGet("127.0.0.1", port, path)).object()["data"].toObject();
}

QString Prometheus()
{
    return QStandardPaths::findExecutable("prometheus");
}

QStringList PrometheusArgs(const testutil::ScratchDir &dir, int port)
{
    return {"--config.file=" + dir.file("prometheus.yml"), "--storage.tsdb.path=" + dir.file("tsdb"),
            QStringLiteral("--web.listen-address=127.0.0.1:%1").arg(port), "--web.enable-remote-write-receiver",
            "--log.level=warn"};
}

} // namespace

TEST(RemoteWriteLive, RetriedOn500And429DroppedOn400)
{
    testutil::ScratchDir dir;
    QDir().mkpath(dir.file("got"));
    WriteFile(dir.file("token"), "s3cret\n");
    WriteFile(dir.file("idlix2.ini"), Settings("RemoteWriteAuth=bearer " + dir.file("token") + "\r\n"));
    TChild receiver("python3", {IDLIX_SOURCE_DIR "/tests/service/scripted_receiver.py", dir.file("got"), "500,429,400"},
                    dir.file("receiver.log"));
    ASSERT_TRUE(WaitUntil([&] { return QFile::exists(dir.file("got/port")); }, 5000));
    const QString url = "http://127.0.0.1:" + testutil::readFile(dir.file("got/port")) + "/api/v1/write";
    TChild svc(ServicePath(), {"--headless", "--remote-write", url}, dir.file("service.log"), ServiceEnvironment(dir));
    auto request = [&](int n) { return dir.file(QStringLiteral("got/%1").arg(n, 3, 10, QLatin1Char('0'))); };
    ASSERT_TRUE(WaitUntil([&] { return QFile::exists(request(6) + ".head"); }, 15000))
        << testutil::readFile(dir.file("service.log")).toStdString();
    EXPECT_EQ(svc.Stop(), 0);

    struct TGot {
        QByteArray head;
        std::vector<TTimeSeries> series;
        QDateTime at;
        qint64 first = 0, last = 0;   // sample times
    };
    std::vector<TGot> got;
    for (int n = 1; QFile::exists(request(n) + ".head"); ++n) {
        TGot g{testutil::readFile(request(n) + ".head"), {}, QFileInfo(request(n) + ".body").lastModified(), 0, 0};
        QString error;
        EXPECT_TRUE(DecodeWriteRequest(testutil::readFile(request(n) + ".body"), &g.series, &error)) << n;
        g.first = LLONG_MAX;
        for (const TTimeSeries &s : g.series) {
            for (const TRemoteSample &x : s.Samples) {
                g.first = std::min(g.first, x.AtMs);
                g.last = std::max(g.last, x.AtMs);
            }
            EXPECT_NE(std::find(s.Labels.begin(), s.Labels.end(), std::pair<std::string, std::string>{"instance", "kiosk-1"}),
                      s.Labels.end());
            EXPECT_NE(std::find(s.Labels.begin(), s.Labels.end(), std::pair<std::string, std::string>{"site", "shop"}),
                      s.Labels.end());
        }
        got.push_back(std::move(g));
    }
    ASSERT_GE(got.size(), 6u);
    for (const char *header : {"Content-Encoding: snappy", "Content-Type: application/x-protobuf",
                               "X-Prometheus-Remote-Write-Version: 0.1.0", "Authorization: Bearer s3cret",
                               "User-Agent: Idlix/"})
        EXPECT_TRUE(got[0].head.contains(header)) << header << "\n" << got[0].head.toStdString();
    // 500 and 429: the same oldest samples again, after half a second, then
    // after the receiver's Retry-After; 400: they are let go.
    EXPECT_EQ(got[1].first, got[0].first);
    EXPECT_EQ(got[2].first, got[0].first);
    EXPECT_GE(got[0].at.msecsTo(got[1].at), 400);
    EXPECT_GE(got[1].at.msecsTo(got[2].at), 900);
    EXPECT_GT(got[3].first, got[2].last);
    // Later requests go on in order, each from where the one before ended.
    for (size_t i = 4; i < got.size(); ++i)
        EXPECT_GT(got[i].first, got[i - 1].last) << i;
    // The failures are counted in the figures sent.
    double failures = -1;
    for (const TTimeSeries &s : got.back().series) {
        if (s.Labels[0].second == "idlix_remote_write_failures_total")
            failures = s.Samples.back().Value;
    }
    EXPECT_EQ(failures, 3);
    const QString log = QString::fromUtf8(testutil::readFile(dir.file("service.log")));
    EXPECT_EQ(log.count("failed, trying again: HTTP 500: scripted 500"), 1) << log.toStdString();
    EXPECT_TRUE(log.contains(QRegularExpression("the receiver refused \\d+ samples, dropped: HTTP 400: scripted 400")))
        << log.toStdString();
}

TEST(RemoteWriteLive, PrometheusGetsTheSamplesOfACutAndOfAKilledService)
{
    if (Prometheus().isEmpty())
        GTEST_SKIP() << "prometheus is not installed (scripts/deps.sh test installs it)";
    testutil::ScratchDir dir;
    const int port = FreePort();
    // Late samples accepted for half an hour, as the README advises.
    WriteFile(dir.file("prometheus.yml"), "storage:\n  tsdb:\n    out_of_order_time_window: 30m\n");
    WriteFile(dir.file("idlix2.ini"),
              Settings(QStringLiteral("RemoteWrite=http://127.0.0.1:%1/api/v1/write\r\n").arg(port)));
    const QString logFile = dir.file("service.log");
    auto prometheus = std::make_unique<TChild>(Prometheus(), PrometheusArgs(dir, port), dir.file("prometheus.log"));
    auto svc = std::make_unique<TChild>(ServicePath(), QStringList{"--headless"}, logFile, ServiceEnvironment(dir));
    const QString series = QStringLiteral("idlix_build_info{instance=\"kiosk-1\",site=\"shop\",job=\"idlix\"}");
    ASSERT_TRUE(WaitUntil([&] { return PromQuery(port, series)["result"].toArray().size() == 1; }, 20000))
        << testutil::readFile(logFile).toStdString();

    // The receiver goes away: the samples wait in the data folder.
    prometheus.reset();
    const qint64 cutFrom = QDateTime::currentMSecsSinceEpoch();
    std::this_thread::sleep_for(5s);
    EXPECT_TRUE(testutil::readFile(dir.file("remotewrite.status")).contains("samples waiting"));
    // Killed outright with samples waiting, then started again.
    svc->Stop(SIGKILL);
    const qint64 killed = QDateTime::currentMSecsSinceEpoch();
    svc = std::make_unique<TChild>(ServicePath(), QStringList{"--headless"}, logFile, ServiceEnvironment(dir));
    std::this_thread::sleep_for(3s);
    prometheus = std::make_unique<TChild>(Prometheus(), PrometheusArgs(dir, port), dir.file("prometheus.log"));
    const qint64 back = QDateTime::currentMSecsSinceEpoch();

    // The samples of the cut, raw, with their own times: one a second while
    // the service ran (none while it was dead).
    const QString range = QStringLiteral("%1[%2s] @ %3").arg(series).arg((back - cutFrom) / 1000).arg(back / 1000);
    QList<qint64> times;
    WaitUntil([&] {
        times.clear();
        const QJsonArray result = PromQuery(port, range)["result"].toArray();
        for (const QJsonValue v : result.isEmpty() ? QJsonArray() : result[0].toObject()["values"].toArray())
            times << qint64(v.toArray()[0].toDouble() * 1000);
        return times.size() >= int((back - cutFrom) / 1000) - 4;
    }, 20000);
    EXPECT_GE(times.size(), int((back - cutFrom) / 1000) - 4) << testutil::readFile(logFile).toStdString();
    int beforeKill = 0;
    for (const qint64 t : times)
        beforeKill += t >= cutFrom && t < killed ? 1 : 0;
    EXPECT_GE(beforeKill, 3);
    EXPECT_TRUE(std::is_sorted(times.begin(), times.end()));
    EXPECT_EQ(svc->Stop(), 0);
    const QString log = QString::fromUtf8(testutil::readFile(logFile));
    EXPECT_TRUE(log.contains(QRegularExpression("Remote write to \\S+, \\d+ samples waiting from before"))) << log.toStdString();
}

TEST(RemoteWriteLive, LineDownAlertReachesTheWebhookThroughAlertmanager)
{
    const QString alertmanager = QStandardPaths::findExecutable("prometheus-alertmanager");
    if (Prometheus().isEmpty() || alertmanager.isEmpty())
        GTEST_SKIP() << "prometheus and prometheus-alertmanager are not installed (scripts/deps.sh test installs them)";
    testutil::ScratchDir dir;
    QDir().mkpath(dir.file("hook"));
    TChild hook("python3", {IDLIX_SOURCE_DIR "/tests/service/scripted_receiver.py", dir.file("hook")}, dir.file("hook.log"));
    ASSERT_TRUE(WaitUntil([&] { return QFile::exists(dir.file("hook/port")); }, 5000));
    const int port = FreePort(), amPort = FreePort();
    // The shipped rules, evaluated every second and firing without the
    // minutes they wait for.
    QString rules = QString::fromUtf8(testutil::readFile(IDLIX_SOURCE_DIR "/packaging/prometheus/idlix-rules.yml"));
    rules.replace(QRegularExpression("for: \\w+"), "for: 0s").replace("interval: 1m", "interval: 1s");
    WriteFile(dir.file("rules.yml"), rules.toUtf8());
    WriteFile(dir.file("prometheus.yml"),
              QStringLiteral("rule_files: ['%1']\nalerting:\n  alertmanagers:\n    - static_configs:\n"
                             "        - targets: ['127.0.0.1:%2']\n")
                  .arg(dir.file("rules.yml"))
                  .arg(amPort)
                  .toUtf8());
    WriteFile(dir.file("alertmanager.yml"),
              "route:\n  receiver: hook\n  group_by: [alertname, instance]\n  group_wait: 1s\n"
              "  group_interval: 1s\nreceivers:\n  - name: hook\n    webhook_configs:\n      - url: http://127.0.0.1:"
                  + testutil::readFile(dir.file("hook/port")) + "/\n");
    TChild am(alertmanager, {"--config.file=" + dir.file("alertmanager.yml"), "--storage.path=" + dir.file("am"),
                             QStringLiteral("--web.listen-address=127.0.0.1:%1").arg(amPort), "--cluster.listen-address=",
                             "--log.level=warn"},
              dir.file("alertmanager.log"));
    // Prometheus sends a firing alert again only after its resend delay:
    // Alertmanager listens first, and the delay is a second.
    ASSERT_TRUE(WaitUntil([&] {
        int status = 0;
        testsupport::HttpGet("127.0.0.1", amPort, "/-/ready", &status);
        return status == 200;
    }, 10000));
    TChild prometheus(Prometheus(), PrometheusArgs(dir, port) << "--rules.alert.resend-delay=1s",
                      dir.file("prometheus.log"));
    // The service's only target refuses its HTTP probes: the line is down
    // from the first one.
    WriteFile(dir.file("Servers.dat"), QStringLiteral("127.0.0.1:%1\r\n").arg(FreePort()).toLatin1());
    WriteFile(dir.file("idlix2.ini"),
              Settings(QStringLiteral("RemoteWrite=http://127.0.0.1:%1/api/v1/write\r\n").arg(port),
                       QStringLiteral("Method=0\r\nOptions=0\r\n")));
    TChild svc(ServicePath(), {"--headless"}, dir.file("service.log"), ServiceEnvironment(dir));

    QJsonObject alert;
    const bool delivered = WaitUntil([&] {
        for (int n = 1; QFile::exists(dir.file(QStringLiteral("hook/%1.head").arg(n, 3, 10, QLatin1Char('0')))); ++n) {
            const QJsonObject body = QJsonDocument::fromJson(testutil::readFile(
                dir.file(QStringLiteral("hook/%1.body").arg(n, 3, 10, QLatin1Char('0'))))).object();
            for (const QJsonValue a : body["alerts"].toArray()) {
                if (a.toObject()["labels"].toObject()["alertname"] == "IdlixLineDown")
                    alert = a.toObject();
            }
        }
        return !alert.isEmpty();
    }, 45000);
    ASSERT_TRUE(delivered) << testutil::readFile(dir.file("service.log")).toStdString()
                           << testutil::readFile(dir.file("prometheus.log")).toStdString()
                           << testutil::readFile(dir.file("alertmanager.log")).toStdString();
    EXPECT_EQ(alert["status"].toString(), "firing");
    EXPECT_EQ(alert["labels"].toObject()["instance"].toString(), "kiosk-1");
    EXPECT_EQ(alert["labels"].toObject()["site"].toString(), "shop");
    EXPECT_EQ(alert["annotations"].toObject()["summary"].toString(), "Line down at kiosk-1");
}

TEST(RemoteWriteLive, HttpsWithBasicAuthTrustsOnlyItsCa)
{
    const QString nginx = QStandardPaths::findExecutable("nginx", {"/usr/sbin", "/usr/bin"});
    if (nginx.isEmpty() || QStandardPaths::findExecutable("openssl").isEmpty())
        GTEST_SKIP() << "nginx and openssl are not installed (scripts/deps.sh test installs them)";
    testutil::ScratchDir dir;
    QDir().mkpath(dir.file("got"));
    // A certificate for 127.0.0.1 that is its own CA.
    QProcess openssl;
    openssl.start("openssl", {"req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "1", "-subj", "/CN=127.0.0.1",
                              "-addext", "subjectAltName=IP:127.0.0.1", "-keyout", dir.file("key.pem"), "-out",
                              dir.file("cert.pem")});
    ASSERT_TRUE(openssl.waitForFinished(30000) && openssl.exitCode() == 0) << openssl.readAllStandardError().toStdString();
    TChild receiver("python3", {IDLIX_SOURCE_DIR "/tests/service/scripted_receiver.py", dir.file("got")},
                    dir.file("receiver.log"));
    ASSERT_TRUE(WaitUntil([&] { return QFile::exists(dir.file("got/port")); }, 5000));
    const int port = FreePort();
    WriteFile(dir.file("nginx.conf"),
              QStringLiteral("user root;\npid %1/nginx.pid;\nevents {}\nhttp {\n  access_log off;\n"
                             "  client_body_temp_path %1/body;\n  proxy_temp_path %1/proxy;\n"
                             "  server {\n    listen 127.0.0.1:%2 ssl;\n    ssl_certificate %1/cert.pem;\n"
                             "    ssl_certificate_key %1/key.pem;\n    location / { proxy_pass http://127.0.0.1:%3; }\n  }\n}\n")
                  .arg(dir.path())
                  .arg(port)
                  .arg(QString::fromLatin1(testutil::readFile(dir.file("got/port"))))
                  .toUtf8());
    TChild web(nginx, {"-p", dir.path(), "-e", dir.file("nginx.log"), "-c", dir.file("nginx.conf"), "-g", "daemon off;"},
               dir.file("nginx.out"));
    WriteFile(dir.file("password"), "s3cret\n");
    WriteFile(dir.file("idlix2.ini"),
              Settings(QStringLiteral("RemoteWrite=https://127.0.0.1:%1/api/v1/write\r\nRemoteWriteAuth=basic kiosk %2\r\n")
                           .arg(port)
                           .arg(dir.file("password"))));
    // Without the CA the receiver is not trusted: nothing is sent.
    {
        TChild svc(ServicePath(), {"--headless"}, dir.file("untrusted.log"), ServiceEnvironment(dir));
        EXPECT_TRUE(WaitUntil([&] { return testutil::readFile(dir.file("untrusted.log")).contains("failed, trying again"); },
                              10000));
    }
    EXPECT_FALSE(QFile::exists(dir.file("got/001.head")));
    EXPECT_TRUE(testutil::readFile(dir.file("untrusted.log")).contains("certificate"))
        << testutil::readFile(dir.file("untrusted.log")).toStdString();
    QProcessEnvironment env = ServiceEnvironment(dir);
    env.insert("SSL_CERT_FILE", dir.file("cert.pem"));
    TChild svc(ServicePath(), {"--headless"}, dir.file("service.log"), env);
    ASSERT_TRUE(WaitUntil([&] { return QFile::exists(dir.file("got/001.head")); }, 10000))
        << testutil::readFile(dir.file("service.log")).toStdString() << testutil::readFile(dir.file("nginx.log")).toStdString();
    EXPECT_TRUE(testutil::readFile(dir.file("got/001.head")).contains("Authorization: Basic " + QByteArray("kiosk:s3cret").toBase64()));
    std::vector<TTimeSeries> series;
    QString error;
    EXPECT_TRUE(DecodeWriteRequest(testutil::readFile(dir.file("got/001.body")), &series, &error));
    EXPECT_FALSE(series.empty());
}
