// The session's figures as Prometheus metrics, kept by an observer of the
// session and rendered in the text exposition format (version 0.0.4):
//
//   idlix_build_info{version}                      gauge, always 1
//   idlix_session_running                          gauge 1 / 0
//   idlix_probes_total{target,method,outcome}      counter
//   idlix_probes_skipped_total                     counter
//   idlix_probe_round_trip_seconds{target}         histogram, 1 ms .. 10 s
//   idlix_link_up                                  gauge 1 / 0, absent while unknown
//   idlix_outages_total                            counter
//   idlix_outage_seconds_total                     counter
//   idlix_line_down_since_seconds                  gauge, Unix time the outage under way began; 0 when not down
//   idlix_last_probe_timestamp_seconds             gauge, Unix time the last probe ended; 0 before one
//   idlix_keepalive_bytes_total{direction}         counter, "sent" / "received"
//   idlix_remote_write_pending_samples             gauge, while remote write is on
//   idlix_remote_write_failures_total              counter, while remote write is on
//   probe_success{target} and the other names of Prometheus' blackbox prober,
//   with the last probe of each target (probegauges.h)
//
// Values change only as the probe loop tells its events; rendering reads
// them and never probes.
#pragma once

#include "service/probegauges.h"
#include "session/sessionobserver.h"

#include <QByteArray>
#include <QString>

#include <array>
#include <functional>
#include <map>
#include <tuple>

namespace service {

// Upper bounds of the round-trip buckets in seconds: 1-2-5 steps from 1 ms
// to 10 s (a probe's time-out is 5 s; an HTTP transfer may take longer).
inline constexpr std::array<double, 13> kRoundTripBuckets = {
    0.001, 0.002, 0.005, 0.01, 0.02, 0.05, 0.1, 0.2, 0.5, 1, 2, 5, 10};

// A label value in the exposition format: backslash, double quote and line
// feed escaped.
QString EscapeLabelValue(const QString &value);
// A sample value: the shortest decimal that reads back as the same double.
QByteArray FormatSampleValue(double value);

class TMetrics : public TSessionObserver {
public:
    explicit TMetrics(const QString &version);

    // Called after every event that changed a value (to publish the new text).
    std::function<void()> OnChange;

    // Every metric in the text format, ending with a line feed.
    QByteArray Render() const;

    // Probes that ended, and those of them that were answered.
    quint64 Probes() const { return probes_; }
    quint64 Skipped() const { return skipped_; }
    quint64 Answered() const { return answered_; }
    TLinkMonitor::TLink Link() const { return link_; }

    // The remote writer's figures (rendered from the first call on). Not a
    // change of the session's: OnChange is not called.
    void SetRemoteWrite(qint64 pending, quint64 failures);

    void SessionStarted() override;
    void SessionStopped(const TSessionEnd &end) override;
    void ProbeResult(const TProbeResult &result) override;
    void LinkState(TLinkMonitor::TLink link, const TStamp &at) override;
    void LinkDown(const TOutage &outage) override;
    void LinkUp(const TOutage &outage) override;
    void MonitoringStopped(const TStamp &at, const std::optional<TOutage> &open) override;

private:
    struct THistogram {
        std::array<quint64, kRoundTripBuckets.size()> Buckets{};   // per bucket, not cumulative
        quint64 Count = 0;
        qint64 SumUs = 0;
    };
    void Changed();

    QString version_;
    bool running_ = false;
    // (target, method, outcome) -> probes
    std::map<std::tuple<QString, QString, QString>, quint64> probesBy_;
    std::map<QString, THistogram> roundTrips_;
    TProbeGauges gauges_;
    TLinkMonitor::TLink link_ = TLinkMonitor::TLink::Unknown;
    quint64 outages_ = 0;
    qint64 outageMs_ = 0;
    qint64 downSinceMs_ = 0;          // wall clock, ms since the epoch; 0 when not down
    qint64 lastProbeMs_ = 0;          // wall clock, ms since the epoch; 0 before a probe
    qint64 bytesSent_ = 0, bytesReceived_ = 0;
    quint64 probes_ = 0, answered_ = 0;
    quint64 skipped_ = 0;   // probes not sent: the line was busy
    bool remoteWrite_ = false;
    qint64 remotePending_ = 0;
    quint64 remoteFailures_ = 0;
};

} // namespace service
