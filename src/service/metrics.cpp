#include "service/metrics.h"

#include "service/exposition.h"

#include <charconv>

namespace service {

namespace {

QByteArray Count(quint64 value)
{
    return QByteArray::number(value);
}

} // namespace

QString Label(const char *name, const QString &value)
{
    return QLatin1String(name) + QStringLiteral("=\"") + EscapeLabelValue(value) + QLatin1Char('"');
}

QString EscapeLabelValue(const QString &value)
{
    QString out;
    out.reserve(value.size());
    for (const QChar c : value) {
        if (c == QLatin1Char('\\'))
            out += QStringLiteral("\\\\");
        else if (c == QLatin1Char('"'))
            out += QStringLiteral("\\\"");
        else if (c == QLatin1Char('\n'))
            out += QStringLiteral("\\n");
        else if (c.category() == QChar::Other_Control)
            out += QChar(QChar::ReplacementCharacter);   // a host name of the list never holds one
        else
            out += c;
    }
    return out;
}

QByteArray FormatSampleValue(double value)
{
    char buf[64];
    const auto [end, ec] = std::to_chars(buf, buf + sizeof buf, value);
    return ec == std::errc() ? QByteArray(buf, int(end - buf)) : QByteArray("NaN");
}

TMetrics::TMetrics(const QString &version) : version_(version) {}

void TMetrics::Changed()
{
    if (OnChange)
        OnChange();
}

void TMetrics::SessionStarted()
{
    running_ = true;
    Changed();
}

void TMetrics::SessionStopped(const TSessionEnd &)
{
    running_ = false;
    Changed();
}

void TMetrics::ProbeResult(const TProbeResult &r)
{
    if (r.Outcome == TProbeOutcome::Skipped) {
        ++skipped_;
        Changed();
        return;
    }
    ++probes_;
    if (r.At.WallUtc.isValid())
        lastProbeMs_ = r.At.WallUtc.toMSecsSinceEpoch();
    ++probesBy_[{r.Host, KindName(r.Kind), OutcomeName(r.Outcome)}];
    gauges_.Record(r);
    bytesSent_ += r.BytesSent;
    bytesReceived_ += r.BytesReceived;
    if (r.Success() && r.Ms >= 0) {
        ++answered_;
        THistogram &h = roundTrips_[r.Host];
        // To the microsecond where the probe was timed so finely.
        const qint64 us = r.Us >= 0 ? r.Us : qint64(r.Ms) * 1000;
        const double seconds = double(us) / 1e6;
        size_t bucket = 0;
        while (bucket < kRoundTripBuckets.size() && seconds > kRoundTripBuckets[bucket])
            ++bucket;
        if (bucket < kRoundTripBuckets.size())
            ++h.Buckets[bucket];
        ++h.Count;
        h.SumUs += us;
    }
    Changed();
}

void TMetrics::LinkState(TLinkMonitor::TLink link, const TStamp &)
{
    link_ = link;
    Changed();
}

void TMetrics::LinkDown(const TOutage &outage)
{
    ++outages_;
    // An outage in progress shows at once, not only once it has ended.
    downSinceMs_ = outage.Start.WallUtc.isValid() ? outage.Start.WallUtc.toMSecsSinceEpoch() : 0;
    Changed();
}

void TMetrics::LinkUp(const TOutage &outage)
{
    outageMs_ += outage.DurationMs();
    downSinceMs_ = 0;
    Changed();
}

void TMetrics::MonitoringStopped(const TStamp &, const std::optional<TOutage> &open)
{
    // Stopped while down: the outage ends here, as far as anyone saw.
    if (open) {
        outageMs_ += open->DurationMs();
        downSinceMs_ = 0;
        Changed();
    }
}

QByteArray TMetrics::Render() const
{
    QByteArray out;
    out.reserve(2048 + int(probesBy_.size() + roundTrips_.size() * 16) * 96);

    TFamily(out, "idlix_build_info", "gauge", "Idlix build: its version (always 1).")
        .Sample("idlix_build_info", Label("version", version_), "1");
    TFamily(out, "idlix_session_running", "gauge", "Whether an anti-idle session runs (1) or not (0).")
        .Sample("idlix_session_running", {}, running_ ? "1" : "0");

    TFamily probes(out, "idlix_probes_total", "counter",
                   "Keep-alive probes that ended, by target, method and outcome.");
    for (const auto &[key, count] : probesBy_) {
        const auto &[target, method, outcome] = key;
        probes.Sample("idlix_probes_total",
                      Label("target", target) + QLatin1Char(',') + Label("method", method)
                          + QLatin1Char(',') + Label("outcome", outcome),
                      Count(count));
    }

    TFamily(out, "idlix_probes_skipped_total", "counter",
            "Probes not sent because the line carried other traffic since the last one.")
        .Sample("idlix_probes_skipped_total", {}, Count(skipped_));

    TFamily rtt(out, "idlix_probe_round_trip_seconds", "histogram",
                "Round trip of answered echoes and transfer time of HTTP probes, by target.");
    for (const auto &[target, h] : roundTrips_) {
        const QString labels = Label("target", target);
        quint64 cumulative = 0;
        for (size_t i = 0; i < kRoundTripBuckets.size(); ++i) {
            cumulative += h.Buckets[i];
            rtt.Sample("idlix_probe_round_trip_seconds_bucket",
                       labels + QLatin1Char(',') + Label("le", QString::fromLatin1(FormatSampleValue(kRoundTripBuckets[i]))),
                       Count(cumulative));
        }
        rtt.Sample("idlix_probe_round_trip_seconds_bucket", labels + QStringLiteral(",le=\"+Inf\""), Count(h.Count));
        rtt.Sample("idlix_probe_round_trip_seconds_sum", labels, FormatSampleValue(double(h.SumUs) / 1e6));
        rtt.Sample("idlix_probe_round_trip_seconds_count", labels, Count(h.Count));
    }

    TFamily link(out, "idlix_link_up", "gauge",
                 "Whether the line is up (1) or down (0) as the probes see it; absent while not known.");
    if (link_ != TLinkMonitor::TLink::Unknown)
        link.Sample("idlix_link_up", {}, link_ == TLinkMonitor::TLink::Up ? "1" : "0");

    TFamily(out, "idlix_outages_total", "counter", "Times the line went down.")
        .Sample("idlix_outages_total", {}, Count(outages_));
    TFamily(out, "idlix_outage_seconds_total", "counter",
            "Seconds the line was down, counted when each outage ends (the line is back, or the probes stopped).")
        .Sample("idlix_outage_seconds_total", {}, FormatSampleValue(outageMs_ / 1000.0));
    TFamily(out, "idlix_line_down_since_seconds", "gauge",
            "Unix time the outage under way began (its first lost probe); 0 while the line is not down.")
        .Sample("idlix_line_down_since_seconds", {}, FormatSampleValue(downSinceMs_ / 1000.0));
    TFamily(out, "idlix_last_probe_timestamp_seconds", "gauge",
            "Unix time the last probe ended, answered or not; 0 before the first.")
        .Sample("idlix_last_probe_timestamp_seconds", {}, FormatSampleValue(lastProbeMs_ / 1000.0));

    TFamily bytes(out, "idlix_keepalive_bytes_total", "counter",
                  "Bytes of the keep-alive probes on the wire, by direction: echoes with their IP and ICMP headers, "
                  "HTTP requests and responses with their headers.");
    bytes.Sample("idlix_keepalive_bytes_total", QStringLiteral("direction=\"sent\""), Count(quint64(bytesSent_)));
    bytes.Sample("idlix_keepalive_bytes_total", QStringLiteral("direction=\"received\""), Count(quint64(bytesReceived_)));

    if (remoteWrite_) {
        TFamily(out, "idlix_remote_write_pending_samples", "gauge",
                "Samples kept for the remote-write receiver and not yet acknowledged by it.")
            .Sample("idlix_remote_write_pending_samples", {}, Count(quint64(remotePending_)));
        TFamily(out, "idlix_remote_write_failures_total", "counter",
                "Remote-write requests that failed: retried (no answer, 5xx, 429) or dropped (other 4xx).")
            .Sample("idlix_remote_write_failures_total", {}, Count(remoteFailures_));
    }
    gauges_.Render(out);
    return out;
}

void TMetrics::SetRemoteWrite(qint64 pending, quint64 failures)
{
    remoteWrite_ = true;
    remotePending_ = pending;
    remoteFailures_ = failures;
}

} // namespace service
