// The session's figures in the Prometheus text format: read back with a
// small reader of the format written here from its rules (families
// grouped, type before samples, label escapes), and checked by promtool,
// Prometheus's own checker, where it is installed.
#include "service/metrics.h"
#include "../support/qtprint.h"
#include "expositionreader.h"

#include <QProcess>
#include <QStandardPaths>
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <map>

namespace {

TProbeResult Result(const QString &host, session::TProbeKind kind, TProbeOutcome outcome, int ms,
                    qint64 sent = 0, qint64 received = 0)
{
    TProbeResult r;
    r.Host = host;
    r.Kind = kind;
    r.Outcome = outcome;
    r.Ms = ms;
    r.BytesSent = sent;
    r.BytesReceived = received;
    return r;
}

TStamp Second(int s)
{
    TStamp t;
    t.WallUtc = QDateTime::fromSecsSinceEpoch(1700000000 + s, Qt::UTC);
    t.MonoNs = qint64(s) * 1000000000;
    return t;
}

using session::TProbeKind;

} // namespace

TEST(Metrics, ProbesByTargetMethodAndOutcome)
{
    service::TMetrics m("2.0");
    int changes = 0;
    m.OnChange = [&] { ++changes; };
    m.ProbeResult(Result("a.test", TProbeKind::Echo, TProbeOutcome::Ok, 12, 84, 84));
    m.ProbeResult(Result("a.test", TProbeKind::Echo, TProbeOutcome::Ok, 30, 84, 84));
    m.ProbeResult(Result("a.test", TProbeKind::Echo, TProbeOutcome::Timeout, -1, 84));
    m.ProbeResult(Result("a.test", TProbeKind::HttpGet, TProbeOutcome::Refused, -1));
    m.ProbeResult(Result("b.test", TProbeKind::HttpGet, TProbeOutcome::Ok, 250, 0, 5120));
    m.ProbeResult(Result("c.test", TProbeKind::Echo, TProbeOutcome::LookupFailed, -1));
    // A skipped probe: counted apart, no outcome series, no bytes.
    TProbeResult skipped = Result("a.test", TProbeKind::Echo, TProbeOutcome::Skipped, -1);
    skipped.SavedSent = skipped.SavedReceived = 84;
    m.ProbeResult(skipped);
    EXPECT_EQ(changes, 7);
    EXPECT_EQ(m.Probes(), 6u);
    EXPECT_EQ(m.Skipped(), 1u);
    EXPECT_EQ(m.Answered(), 3u);

    const Exposition e = Read(m.Render());
    ASSERT_TRUE(e.error.isEmpty()) << e.error.toStdString();
    const struct {
        const char *key;
        double value;
    } expected[] = {
        {R"(idlix_build_info{version="2.0"})", 1},
        {"idlix_session_running", 0},
        {R"(idlix_probes_total{target="a.test",method="echo",outcome="ok"})", 2},
        {R"(idlix_probes_total{target="a.test",method="echo",outcome="timeout"})", 1},
        {R"(idlix_probes_total{target="a.test",method="http",outcome="refused"})", 1},
        {R"(idlix_probes_total{target="b.test",method="http",outcome="ok"})", 1},
        {R"(idlix_probes_total{target="c.test",method="echo",outcome="lookup-failed"})", 1},
        {R"(idlix_keepalive_bytes_total{direction="sent"})", 3 * 84},
        {R"(idlix_keepalive_bytes_total{direction="received"})", 2 * 84 + 5120},
        {"idlix_outages_total", 0},
        {"idlix_outage_seconds_total", 0},
        {"idlix_probes_skipped_total", 1},
    };
    for (const auto &x : expected)
        EXPECT_EQ(e.value(x.key), x.value) << x.key;
    // Five series of probes and no more; no line state before one is known.
    EXPECT_EQ(std::count_if(e.order.begin(), e.order.end(),
                            [](const QString &k) { return k.startsWith("idlix_probes_total"); }), 5);
    EXPECT_FALSE(e.has("idlix_link_up"));
    EXPECT_EQ(e.types.at("idlix_probes_total"), "counter");
    EXPECT_EQ(e.types.at("idlix_probe_round_trip_seconds"), "histogram");
    EXPECT_EQ(e.types.at("idlix_link_up"), "gauge");
}

TEST(Metrics, RoundTripsFillCumulativeBucketsFromOneMillisecondToTenSeconds)
{
    service::TMetrics m("2.0");
    // Milliseconds of answered probes; the failure has none and is not counted.
    for (const int ms : {0, 1, 2, 3, 999, 1000, 1001, 9999, 10000, 12000})
        m.ProbeResult(Result("a.test", TProbeKind::Echo, TProbeOutcome::Ok, ms));
    m.ProbeResult(Result("a.test", TProbeKind::Echo, TProbeOutcome::Timeout, -1));
    const Exposition e = Read(m.Render());
    ASSERT_TRUE(e.error.isEmpty()) << e.error.toStdString();
    auto bucket = [&](const char *le) {
        return e.value(QStringLiteral(R"(idlix_probe_round_trip_seconds_bucket{target="a.test",le="%1"})").arg(le));
    };
    const struct {
        const char *le;
        double count;
    } buckets[] = {
        {"0.001", 2}, {"0.002", 3}, {"0.005", 4}, {"0.01", 4}, {"0.02", 4}, {"0.05", 4}, {"0.1", 4},
        {"0.2", 4},   {"0.5", 4},   {"1", 6},     {"2", 7},    {"5", 7},    {"10", 9},   {"+Inf", 10},
    };
    for (const auto &b : buckets)
        EXPECT_EQ(bucket(b.le), b.count) << b.le;
    EXPECT_EQ(e.value(R"(idlix_probe_round_trip_seconds_count{target="a.test"})"), 10);
    EXPECT_DOUBLE_EQ(e.value(R"(idlix_probe_round_trip_seconds_sum{target="a.test"})"), 35.005);
    // The buckets are written in rising order, +Inf last.
    QStringList les;
    for (const QString &k : e.order) {
        if (k.startsWith("idlix_probe_round_trip_seconds_bucket"))
            les << k.section("le=\"", 1).chopped(2);
    }
    EXPECT_EQ(les.size(), 14);
    EXPECT_EQ(les.front(), "0.001");
    EXPECT_EQ(les.back(), "+Inf");

    // Echoes timed to the microsecond fall in the bucket of their microseconds,
    // not of their rounded milliseconds (1.4 ms would round to the 1 ms one).
    for (const qint64 us : {400, 1400, 2001}) {
        TProbeResult r = Result("b.test", TProbeKind::Echo, TProbeOutcome::Ok, int((us + 500) / 1000));
        r.Us = us;
        m.ProbeResult(r);
    }
    const Exposition fine = Read(m.Render());
    auto fineBucket = [&](const char *le) {
        return fine.value(QStringLiteral(R"(idlix_probe_round_trip_seconds_bucket{target="b.test",le="%1"})").arg(le));
    };
    EXPECT_EQ(fineBucket("0.001"), 1);
    EXPECT_EQ(fineBucket("0.002"), 2);
    EXPECT_EQ(fineBucket("0.005"), 3);
    EXPECT_DOUBLE_EQ(fine.value(R"(idlix_probe_round_trip_seconds_sum{target="b.test"})"), 0.003801);
}

TEST(Metrics, TheLineItsOutagesAndTheSession)
{
    service::TMetrics m("2.0");
    auto link = [&] { return Read(m.Render()).value("idlix_link_up"); };
    m.SessionStarted();
    EXPECT_EQ(Read(m.Render()).value("idlix_session_running"), 1);
    EXPECT_TRUE(std::isnan(link()));
    m.LinkState(TLinkMonitor::TLink::Up, Second(0));
    EXPECT_EQ(link(), 1);
    TOutage outage;
    outage.Start = Second(10);
    m.LinkState(TLinkMonitor::TLink::Down, Second(12));
    m.LinkDown(outage);
    EXPECT_EQ(link(), 0);
    EXPECT_EQ(Read(m.Render()).value("idlix_outages_total"), 1);
    outage.End = Second(70);
    m.LinkState(TLinkMonitor::TLink::Up, Second(72));
    m.LinkUp(outage);
    EXPECT_EQ(link(), 1);
    // A second outage still open when the probes stop ends there.
    outage.Start = Second(100);
    outage.End = Second(130);
    m.LinkState(TLinkMonitor::TLink::Down, Second(102));
    m.LinkDown(outage);
    m.LinkState(TLinkMonitor::TLink::Unknown, Second(130));
    m.MonitoringStopped(Second(130), outage);
    m.SessionStopped({});
    const Exposition e = Read(m.Render());
    EXPECT_EQ(e.value("idlix_outages_total"), 2);
    EXPECT_EQ(e.value("idlix_outage_seconds_total"), 90);
    EXPECT_FALSE(e.has("idlix_link_up"));
    EXPECT_EQ(e.value("idlix_session_running"), 0);
}

TEST(Metrics, AnOutageUnderWayAndTheLastProbeShowBeforeTheOutageEnds)
{
    service::TMetrics m("2.0");
    TOutage outage;
    outage.Start = Second(10);
    TProbeResult probe = Result("a.test", TProbeKind::Echo, TProbeOutcome::Timeout, -1);
    // Each step, then the outage's start and the last probe's end as scraped.
    const struct {
        std::function<void()> step;
        double downSince, lastProbe;
    } steps[] = {
        {[] {}, 0, 0},
        {[&] { probe.At = Second(10); m.ProbeResult(probe); }, 0, 1700000010},
        {[&] { m.LinkDown(outage); }, 1700000010, 1700000010},
        {[&] { probe.At = Second(70); m.ProbeResult(probe); }, 1700000010, 1700000070},
        {[&] { outage.End = Second(130); m.LinkUp(outage); }, 0, 1700000070},
        {[&] { m.LinkDown(outage); m.MonitoringStopped(Second(140), outage); }, 0, 1700000070},
    };
    for (size_t i = 0; i < std::size(steps); ++i) {
        steps[i].step();
        const Exposition e = Read(m.Render());
        EXPECT_EQ(e.value("idlix_line_down_since_seconds"), steps[i].downSince) << i;
        EXPECT_EQ(e.value("idlix_last_probe_timestamp_seconds"), steps[i].lastProbe) << i;
    }
}

TEST(Metrics, HostileTargetNamesStayInsideTheirLabel)
{
    // A server list entry is whatever the file held.
    const QString names[] = {
        "quote\"d",
        "back\\slash",
        "line\nbreak",
        "} idlix_outages_total 99",
        "\",outcome=\"ok",
        QString::fromUtf8("\xc3\xa9t\xc3\xa9.test"),
    };
    service::TMetrics m("2.0\"x");
    for (const QString &n : names)
        m.ProbeResult(Result(n, TProbeKind::Echo, TProbeOutcome::Ok, 5));
    const QByteArray text = m.Render();
    const Exposition e = Read(text);
    ASSERT_TRUE(e.error.isEmpty()) << e.error.toStdString() << "\n" << text.toStdString();
    EXPECT_EQ(e.value("idlix_outages_total"), 0);
    EXPECT_EQ(e.value(R"(idlix_build_info{version="2.0\"x"})"), 1);
    EXPECT_EQ(e.value(R"(idlix_probes_total{target="line\nbreak",method="echo",outcome="ok"})"), 1);
    EXPECT_EQ(e.value(R"(idlix_probes_total{target="back\\slash",method="echo",outcome="ok"})"), 1);
    EXPECT_EQ(e.value(R"(idlix_probes_total{target="\",outcome=\"ok",method="echo",outcome="ok"})"), 1);
    EXPECT_EQ(service::EscapeLabelValue("a\\b\"c\nd"), R"(a\\b\"c\nd)");
}

TEST(Metrics, PrometheusOwnCheckerAcceptsTheText)
{
    const QString promtool = QStandardPaths::findExecutable("promtool");
    if (promtool.isEmpty())
        GTEST_SKIP() << "promtool (package prometheus) is not installed";
    service::TMetrics m("2.0");
    m.SessionStarted();
    m.ProbeResult(Result("a \"b\"\n", TProbeKind::Echo, TProbeOutcome::Ok, 3, 84, 84));
    m.ProbeResult(Result("c.test", TProbeKind::HttpGet, TProbeOutcome::HttpError, -1));
    for (const char *hostile : {"back\\slash", "line\nbreak", "} idlix_outages_total 99", "\",outcome=\"ok"})
        m.ProbeResult(Result(hostile, TProbeKind::Echo, TProbeOutcome::Ok, 5));
    m.LinkState(TLinkMonitor::TLink::Up, Second(1));
    for (const QByteArray &text : {service::TMetrics("2.0").Render(), m.Render()}) {
        QProcess p;
        p.start(promtool, {"check", "metrics"});
        ASSERT_TRUE(p.waitForStarted(5000));
        p.write(text);
        p.closeWriteChannel();
        ASSERT_TRUE(p.waitForFinished(30000));
        // Errors and lint complaints alike make it answer non-zero.
        EXPECT_EQ(p.exitCode(), 0) << p.readAllStandardOutput().toStdString() << p.readAllStandardError().toStdString();
        EXPECT_EQ(p.readAllStandardOutput().trimmed().toStdString(), "");
    }
}

TEST(Metrics, SampleValuesReadBackExactly)
{
    const struct {
        double value;
        const char *text;
    } cases[] = {{0, "0"}, {1, "1"}, {0.001, "0.001"}, {35.005, "35.005"}, {1e-9, "1e-09"}, {123456789, "123456789"}};
    for (const auto &c : cases)
        EXPECT_EQ(service::FormatSampleValue(c.value), c.text);
}
