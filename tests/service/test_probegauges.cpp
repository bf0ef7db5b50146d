// The last probe of each target under the blackbox prober's metric names:
// which families each kind of probe gets and in which units, the text
// checked by promtool, and the blackbox community's alert rules evaluated by
// promtool over series Idlix rendered.
#include "service/metrics.h"
#include "expositionreader.h"
#include "testpaths.h"

#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <map>
#include <vector>

using session::TProbeKind;

namespace {

struct TProbe {
    const char *target;
    TProbeKind kind;
    TProbeOutcome outcome;
    qint64 us = -1;
    probe::TTimings timings = {};
    probe::TDetails details = {};
};

TProbeResult Result(const TProbe &p)
{
    TProbeResult r;
    r.Host = QString::fromLatin1(p.target);
    r.Kind = p.kind;
    r.Outcome = p.outcome;
    r.Us = p.us;
    r.Ms = probe::WholeMs(p.us);
    r.Timings = p.timings;
    r.Details = p.details;
    return r;
}

probe::TDetails Http(int status, qint64 certExpiry = -1, const char *tls = "")
{
    probe::TDetails d;
    d.HttpStatus = status;
    d.CertExpiry = certExpiry;
    d.TlsVersion = QString::fromLatin1(tls);
    return d;
}

probe::TDetails Burst(double loss, qint64 jitterUs)
{
    probe::TDetails d;
    d.LossPercent = loss;
    d.JitterUs = jitterUs;
    return d;
}

probe::TDetails Dns(int rcode)
{
    probe::TDetails d;
    d.DnsRcode = rcode;
    return d;
}

QString Key(const char *name, const char *target, const char *extra = nullptr)
{
    QString k = QStringLiteral("%1{target=\"%2\"").arg(QLatin1String(name), QLatin1String(target));
    if (extra)
        k += QLatin1Char(',') + QLatin1String(extra);
    return k + QLatin1Char('}');
}

QString RunPromtool(const QStringList &args, const QByteArray &input, int *exitCode)
{
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(QStandardPaths::findExecutable(QStringLiteral("promtool")), args);
    if (!p.waitForStarted(5000))
        return QStringLiteral("promtool did not start");
    p.write(input);
    p.closeWriteChannel();
    p.waitForFinished(60000);
    *exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    return QString::fromUtf8(p.readAll());
}

// The promtool clock starts at the Unix epoch; the rules are evaluated a day
// later, so that a certificate that has expired has a Unix time after it.
constexpr int kEvalMinute = 24 * 60;

// A certificate that expires 'days' after the rules' evaluation.
qint64 ExpiresIn(double days)
{
    return qint64(kEvalMinute * 60 + days * 86400);
}

// A probe of each kind and of each trouble the community rules look for.
const std::vector<TProbe> &Probes()
{
    static const std::vector<TProbe> probes = {
        {"https://ok.idlix.test/", TProbeKind::Https, TProbeOutcome::Ok, 80000, {1000, 5000, 20000, 40000, 14000},
         Http(200, ExpiresIn(60), "TLS 1.3")},
        {"https://soon.idlix.test/", TProbeKind::Https, TProbeOutcome::Ok, 90000, {}, Http(200, ExpiresIn(10), "TLS 1.2")},
        {"https://verysoon.idlix.test/", TProbeKind::Https, TProbeOutcome::Ok, 90000, {}, Http(301, ExpiresIn(1), "TLS 1.3")},
        {"https://expired.idlix.test/", TProbeKind::Https, TProbeOutcome::TlsFailed, -1, {}, Http(-1, ExpiresIn(-0.5))},
        {"http://err.idlix.test/", TProbeKind::HttpGet, TProbeOutcome::HttpError, 30000, {}, Http(503)},
        {"https://slow.idlix.test/", TProbeKind::Https, TProbeOutcome::Ok, 1600000, {2000, 4000, 30000, 1500000, 64000},
         Http(200, ExpiresIn(90), "TLS 1.3")},
        {"down.idlix.test", TProbeKind::Echo, TProbeOutcome::Timeout},
        {"host.idlix.test", TProbeKind::Echo, TProbeOutcome::Ok, 2500},
        {"echo://far.idlix.test?count=5", TProbeKind::Burst, TProbeOutcome::Ok, 1200000, {}, Burst(20, 100000)},
        {"dns://10.200.3.53/host.idlix.test", TProbeKind::Dns, TProbeOutcome::Ok, 2000, {2000}, Dns(0)},
        {"dns://10.200.3.53/nothere.idlix.test", TProbeKind::Dns, TProbeOutcome::DnsError, 1500, {1500}, Dns(3)},
    };
    return probes;
}

} // namespace

TEST(ProbeGauges, EachKindGetsItsFamiliesInBlackboxUnits)
{
    service::TMetrics m("2.0");
    for (const TProbe &p : Probes())
        m.ProbeResult(Result(p));
    const Exposition e = Read(m.Render());
    ASSERT_TRUE(e.error.isEmpty()) << e.error.toStdString();
    struct Case {
        QString key;
        double value;   // NaN: no such sample
    } cases[] = {
        {Key("probe_success", "https://ok.idlix.test/"), 1},
        {Key("probe_success", "https://expired.idlix.test/"), 0},
        {Key("probe_success", "down.idlix.test"), 0},
        {Key("probe_success", "dns://10.200.3.53/nothere.idlix.test"), 0},
        {Key("probe_duration_seconds", "https://ok.idlix.test/"), 0.08},
        {Key("probe_duration_seconds", "host.idlix.test"), 0.0025},
        {Key("probe_duration_seconds", "down.idlix.test"), NAN},
        {Key("probe_http_status_code", "http://err.idlix.test/"), 503},
        {Key("probe_http_status_code", "https://expired.idlix.test/"), 0},
        {Key("probe_http_status_code", "host.idlix.test"), NAN},
        {Key("probe_http_duration_seconds", "https://ok.idlix.test/", "phase=\"resolve\""), 0.001},
        {Key("probe_http_duration_seconds", "https://ok.idlix.test/", "phase=\"connect\""), 0.005},
        {Key("probe_http_duration_seconds", "https://ok.idlix.test/", "phase=\"tls\""), 0.02},
        {Key("probe_http_duration_seconds", "https://ok.idlix.test/", "phase=\"processing\""), 0.04},
        {Key("probe_http_duration_seconds", "https://ok.idlix.test/", "phase=\"transfer\""), 0.014},
        {Key("probe_http_duration_seconds", "http://err.idlix.test/", "phase=\"tls\""), 0},
        {Key("probe_http_ssl", "https://ok.idlix.test/"), 1},
        {Key("probe_http_ssl", "http://err.idlix.test/"), 0},
        {Key("probe_ssl_earliest_cert_expiry", "https://soon.idlix.test/"), double(ExpiresIn(10))},
        {Key("probe_ssl_earliest_cert_expiry", "http://err.idlix.test/"), NAN},
        {Key("probe_tls_version_info", "https://soon.idlix.test/", "version=\"TLS 1.2\""), 1},
        {Key("probe_icmp_duration_seconds", "host.idlix.test", "phase=\"rtt\""), 0.0025},
        {Key("probe_icmp_duration_seconds", "down.idlix.test", "phase=\"rtt\""), 0},
        {Key("probe_icmp_duration_seconds", "echo://far.idlix.test?count=5", "phase=\"rtt\""), 1.2},
        {Key("probe_icmp_duration_seconds", "dns://10.200.3.53/host.idlix.test", "phase=\"rtt\""), NAN},
        {Key("probe_dns_lookup_time_seconds", "dns://10.200.3.53/host.idlix.test"), 0.002},
        {Key("probe_dns_lookup_time_seconds", "https://slow.idlix.test/"), 0.002},
        {Key("probe_dns_lookup_time_seconds", "host.idlix.test"), NAN},
        {Key("idlix_probe_loss_ratio", "echo://far.idlix.test?count=5"), 0.2},
        {Key("idlix_probe_jitter_seconds", "echo://far.idlix.test?count=5"), 0.1},
        {Key("idlix_probe_loss_ratio", "host.idlix.test"), NAN},
        {Key("idlix_probe_dns_rcode", "dns://10.200.3.53/nothere.idlix.test"), 3},
        {Key("idlix_probe_dns_rcode", "dns://10.200.3.53/host.idlix.test"), 0},
        {Key("idlix_probe_dns_rcode", "https://ok.idlix.test/"), NAN},
    };
    for (const Case &c : cases) {
        if (std::isnan(c.value))
            EXPECT_FALSE(e.has(c.key)) << c.key.toStdString();
        else
            EXPECT_DOUBLE_EQ(e.value(c.key), c.value) << c.key.toStdString();
    }
    for (const char *family : {"probe_success", "probe_http_status_code", "probe_ssl_earliest_cert_expiry",
                               "probe_icmp_duration_seconds", "idlix_probe_jitter_seconds"})
        EXPECT_EQ(e.types.at(family), "gauge") << family;
}

TEST(ProbeGauges, LastProbeCountsAndFamiliesFollowIt)
{
    service::TMetrics m("2.0");
    EXPECT_FALSE(m.Render().contains("# TYPE probe_")) << "no family before a probe";
    // The alternate method sends an echo, then an HTTP GET, to one host.
    m.ProbeResult(Result({"alt.test", TProbeKind::Echo, TProbeOutcome::Ok, 4000}));
    m.ProbeResult(Result({"alt.test", TProbeKind::HttpGet, TProbeOutcome::Ok, 50000, {}, Http(200)}));
    TProbeResult skipped = Result({"alt.test", TProbeKind::Echo, TProbeOutcome::Skipped});
    m.ProbeResult(skipped);
    const Exposition e = Read(m.Render());
    EXPECT_DOUBLE_EQ(e.value(Key("probe_duration_seconds", "alt.test")), 0.05);
    EXPECT_DOUBLE_EQ(e.value(Key("probe_http_status_code", "alt.test")), 200);
    EXPECT_FALSE(e.has(Key("probe_icmp_duration_seconds", "alt.test", "phase=\"rtt\"")));
    EXPECT_EQ(e.types.count("probe_icmp_duration_seconds"), 0u);
}

TEST(ProbeGauges, PrometheusOwnCheckerAcceptsTheText)
{
    if (QStandardPaths::findExecutable(QStringLiteral("promtool")).isEmpty())
        GTEST_SKIP() << "promtool (package prometheus) is not installed";
    service::TMetrics m("2.0");
    for (const TProbe &p : Probes())
        m.ProbeResult(Result(p));
    m.ProbeResult(Result({"quote\" and \\ and\nline", TProbeKind::Https, TProbeOutcome::Ok, 5, {}, Http(200, 1, "x\"y")}));
    int code = 0;
    const QString said = RunPromtool({QStringLiteral("check"), QStringLiteral("metrics")}, m.Render(), &code);
    EXPECT_EQ(code, 0) << said.toStdString();
    EXPECT_EQ(said.trimmed().toStdString(), "");
}

// The community's rules, unchanged, over a day of Idlix's metrics (a
// probe of every target each minute, the first ten rendered one by one): each alert fires for the targets in
// that trouble and for no other.
TEST(ProbeGauges, BlackboxCommunityRulesFireOnIdlixMetrics)
{
    if (QStandardPaths::findExecutable(QStringLiteral("promtool")).isEmpty())
        GTEST_SKIP() << "promtool (package prometheus) is not installed";
    service::TMetrics m("2.0");
    // The samples of the probe_* families minute by minute, as Prometheus
    // would scrape them.
    std::map<QString, QStringList> series;
    for (int minute = 0; minute <= 10; ++minute) {
        for (const TProbe &p : Probes())
            m.ProbeResult(Result(p));
        const Exposition e = Read(m.Render());
        for (const QString &key : e.order)
            if (key.startsWith(QLatin1String("probe_")))
                series[key] << QString::fromLatin1(service::FormatSampleValue(e.value(key)));
    }
    QString yaml = QStringLiteral("rule_files:\n  - %1/tests/service/blackbox-community-rules.yml\n"
                                  "evaluation_interval: 1m\ntests:\n  - interval: 1m\n    input_series:\n")
                       .arg(QLatin1String(IDLIX_SOURCE_DIR));
    for (const auto &[key, values] : series) {
        ASSERT_EQ(values.size(), 11) << key.toStdString();
        QString labelled = key;
        labelled.insert(labelled.size() - 1, QStringLiteral(",job=\"idlix\",instance=\"kiosk\""));
        // The last value stays until the rules are evaluated (promtool's "v x n").
        yaml += QStringLiteral("      - series: '%1'\n        values: '%2 %3x%4'\n")
                    .arg(labelled, values.join(' '), values.last())
                    .arg(kEvalMinute - int(values.size()));
    }
    struct Fires {
        const char *target;
        const char *summary;
        const char *phase = nullptr;
    };
    struct Alert {
        const char *name;
        const char *severity;
        std::vector<Fires> fires;
    } alerts[] = {
        {"BlackboxProbeFailed", "critical",
         {{"https://expired.idlix.test/", "Probe of https://expired.idlix.test/ failed"},
          {"http://err.idlix.test/", "Probe of http://err.idlix.test/ failed"},
          {"down.idlix.test", "Probe of down.idlix.test failed"},
          {"dns://10.200.3.53/nothere.idlix.test", "Probe of dns://10.200.3.53/nothere.idlix.test failed"}}},
        {"BlackboxSlowProbe", "warning",
         {{"https://slow.idlix.test/", "Probe of https://slow.idlix.test/ takes over a second"},
          {"echo://far.idlix.test?count=5", "Probe of echo://far.idlix.test?count=5 takes over a second"}}},
        {"BlackboxProbeHttpFailure", "critical",
         {{"https://expired.idlix.test/", "https://expired.idlix.test/ answers HTTP 0"},
          {"http://err.idlix.test/", "http://err.idlix.test/ answers HTTP 503"}}},
        {"BlackboxSslCertificateWillExpireSoon", "warning",
         {{"https://soon.idlix.test/", "Certificate of https://soon.idlix.test/ expires in 10 days"}}},
        {"BlackboxSslCertificateWillExpireVerySoon", "critical",
         {{"https://verysoon.idlix.test/", "Certificate of https://verysoon.idlix.test/ expires in 1 days"}}},
        {"BlackboxSslCertificateExpired", "critical",
         {{"https://expired.idlix.test/", "Certificate of https://expired.idlix.test/ has expired"}}},
        {"BlackboxProbeSlowHttp", "warning",
         {{"https://slow.idlix.test/", "HTTP processing of https://slow.idlix.test/ takes over a second", "processing"}}},
        {"BlackboxProbeSlowPing", "warning",
         {{"echo://far.idlix.test?count=5", "Echoes to echo://far.idlix.test?count=5 take over a second", "rtt"}}},
    };
    yaml += QStringLiteral("    alert_rule_test:\n");
    for (const Alert &a : alerts) {
        yaml += QStringLiteral("      - alertname: %1\n        eval_time: %2m\n        exp_alerts:\n")
                    .arg(QLatin1String(a.name))
                    .arg(kEvalMinute);
        for (const Fires &f : a.fires) {
            yaml += QStringLiteral("          - exp_labels:\n              severity: %1\n              target: '%2'\n"
                                   "              job: idlix\n              instance: kiosk\n")
                        .arg(QLatin1String(a.severity), QLatin1String(f.target));
            if (f.phase)
                yaml += QStringLiteral("              phase: %1\n").arg(QLatin1String(f.phase));
            yaml += QStringLiteral("            exp_annotations:\n              summary: '%1'\n").arg(QLatin1String(f.summary));
        }
    }
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("idlix-blackbox.test.yml"));
    {
        QFile f(file);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(yaml.toUtf8());
    }
    int code = 0;
    const QString said = RunPromtool({QStringLiteral("test"), QStringLiteral("rules"), file}, {}, &code);
    EXPECT_EQ(code, 0) << said.toStdString() << "\n" << yaml.toStdString();
}
