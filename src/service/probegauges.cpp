#include "service/probegauges.h"

#include "service/exposition.h"
#include "service/metrics.h"

#include <functional>
#include <vector>

namespace service {

namespace {

using session::TProbeKind;

bool IsHttp(TProbeKind kind)
{
    return kind == TProbeKind::HttpGet || kind == TProbeKind::Https;
}

bool IsEcho(TProbeKind kind)
{
    return kind == TProbeKind::Echo || kind == TProbeKind::Burst;
}

QByteArray Seconds(qint64 us)
{
    return FormatSampleValue(double(us) / 1e6);
}

struct TSample {
    QString Labels;
    QByteArray Value;
};

} // namespace

void TProbeGauges::Record(const TProbeResult &r)
{
    if (r.Outcome == TProbeOutcome::Skipped)
        return;
    TLast &last = last_[r.Host];
    last.Kind = r.Kind;
    last.Success = r.Success();
    last.Us = r.Us >= 0 ? r.Us : (r.Ms >= 0 ? qint64(r.Ms) * 1000 : -1);
    last.Timings = r.Timings;
    last.Details = r.Details;
}

void TProbeGauges::Render(QByteArray &out) const
{
    // One family: the samples 'each' gives for every target (none: the
    // target has no such figure), written only when there are any.
    using TEach = std::function<void(const QString &target, const TLast &last, std::vector<TSample> &samples)>;
    auto family = [&](const char *name, const char *help, const TEach &each) {
        std::vector<TSample> samples;
        for (const auto &[target, last] : last_)
            each(Label("target", target), last, samples);
        if (samples.empty())
            return;
        TFamily f(out, name, "gauge", help);
        for (const TSample &s : samples)
            f.Sample(name, s.Labels, s.Value);
    };

    family("probe_success", "Whether the last probe of the target succeeded (1) or not (0).",
           [](const QString &t, const TLast &l, std::vector<TSample> &s) { s.push_back({t, l.Success ? "1" : "0"}); });
    family("probe_duration_seconds", "How long the last probe of the target took, in seconds.",
           [](const QString &t, const TLast &l, std::vector<TSample> &s) {
               if (l.Us >= 0)
                   s.push_back({t, Seconds(l.Us)});
           });
    family("probe_dns_lookup_time_seconds",
           "The name lookup of the last probe (a dns probe: its query), in seconds.",
           [](const QString &t, const TLast &l, std::vector<TSample> &s) {
               if (l.Timings.ResolveUs >= 0)
                   s.push_back({t, Seconds(l.Timings.ResolveUs)});
           });
    family("probe_icmp_duration_seconds",
           "Round trip of the last echo, or a burst's mean, in seconds; 0 when nothing came back.",
           [](const QString &t, const TLast &l, std::vector<TSample> &s) {
               if (IsEcho(l.Kind))
                   s.push_back({t + QStringLiteral(",phase=\"rtt\""), Seconds(qMax<qint64>(l.Us, 0))});
           });
    family("probe_http_status_code", "HTTP status of the last probe; 0 when no answer came.",
           [](const QString &t, const TLast &l, std::vector<TSample> &s) {
               if (IsHttp(l.Kind))
                   s.push_back({t, QByteArray::number(qMax(l.Details.HttpStatus, 0))});
           });
    family("probe_http_duration_seconds",
           "Phases of the last HTTP probe in seconds: resolve, connect, tls, processing (request to first byte), "
           "transfer; 0 for a phase it did not have.",
           [](const QString &t, const TLast &l, std::vector<TSample> &s) {
               if (!IsHttp(l.Kind))
                   return;
               const std::pair<const char *, qint64> phases[] = {
                   {"resolve", l.Timings.ResolveUs}, {"connect", l.Timings.ConnectUs}, {"tls", l.Timings.TlsUs},
                   {"processing", l.Timings.FirstByteUs}, {"transfer", l.Timings.TransferUs}};
               for (const auto &[phase, us] : phases)
                   s.push_back({t + QLatin1Char(',') + Label("phase", QLatin1String(phase)), Seconds(qMax<qint64>(us, 0))});
           });
    family("probe_http_ssl", "Whether the last HTTP probe's document came over TLS (1) or not (0).",
           [](const QString &t, const TLast &l, std::vector<TSample> &s) {
               if (IsHttp(l.Kind))
                   s.push_back({t, (l.Kind == TProbeKind::Https || !l.Details.TlsVersion.isEmpty()) ? "1" : "0"});
           });
    family("probe_ssl_earliest_cert_expiry",
           "Unix time the earliest certificate of the chain the last probe was shown expires.",
           [](const QString &t, const TLast &l, std::vector<TSample> &s) {
               if (l.Details.CertExpiry >= 0)
                   s.push_back({t, QByteArray::number(l.Details.CertExpiry)});
           });
    family("probe_tls_version_info", "The TLS version of the last probe, as its label (always 1).",
           [](const QString &t, const TLast &l, std::vector<TSample> &s) {
               if (!l.Details.TlsVersion.isEmpty())
                   s.push_back({t + QLatin1Char(',') + Label("version", l.Details.TlsVersion), "1"});
           });
    family("idlix_probe_dns_rcode", "Response code of the name server's last answer (0 NOERROR, 3 NXDOMAIN, ...).",
           [](const QString &t, const TLast &l, std::vector<TSample> &s) {
               if (l.Details.DnsRcode >= 0)
                   s.push_back({t, QByteArray::number(l.Details.DnsRcode)});
           });
    family("idlix_probe_loss_ratio", "Share of the last burst's echoes that were not answered, 0 to 1.",
           [](const QString &t, const TLast &l, std::vector<TSample> &s) {
               if (l.Kind == TProbeKind::Burst && l.Details.LossPercent >= 0)
                   s.push_back({t, FormatSampleValue(l.Details.LossPercent / 100)});
           });
    family("idlix_probe_jitter_seconds",
           "Mean absolute difference between the round trips of consecutive answered echoes of the last burst.",
           [](const QString &t, const TLast &l, std::vector<TSample> &s) {
               if (l.Kind == TProbeKind::Burst && l.Details.JitterUs >= 0)
                   s.push_back({t, Seconds(l.Details.JitterUs)});
           });
}

} // namespace service
