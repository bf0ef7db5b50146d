// The last probe of each target under the names Prometheus' blackbox prober
// gives its figures, with the same meaning and units, so that alert rules
// written for that prober work on these metrics unchanged. Each is a gauge
// labelled with the target as the list or the host field writes it:
//
//   probe_success                    1 when the probe succeeded, else 0         every kind
//   probe_duration_seconds           the probe's time; absent when it got none   every kind
//   probe_dns_lookup_time_seconds    the name lookup (a dns probe: its query)    kinds that time it
//   probe_icmp_duration_seconds{phase="rtt"}  round trip (a burst: the mean);
//                                    0 when nothing came back                   echo, burst
//   probe_http_status_code           the status; 0 when no answer came           http, https
//   probe_http_duration_seconds{phase}  resolve, connect, tls, processing
//                                    (request to first byte), transfer; 0 for
//                                    a phase the probe did not have             http, https
//   probe_http_ssl                   1 when the document came over TLS          http, https
//   probe_ssl_earliest_cert_expiry   Unix time the earliest certificate of the
//                                    chain expires                              https
//   probe_tls_version_info{version}  1, the TLS version as label                https
//   idlix_probe_dns_rcode            the answer's response code                  dns
//   idlix_probe_loss_ratio           a burst's lost share, 0 to 1                burst
//   idlix_probe_jitter_seconds       a burst's jitter (bursttransport.h)         burst
//
// A family is written only when some target has it. Skipped probes change
// nothing.
#pragma once

#include "session/sessionevents.h"

#include <QByteArray>
#include <QString>

#include <map>

namespace service {

class TProbeGauges {
public:
    // Keeps 'result' as its target's last probe.
    void Record(const TProbeResult &result);
    // The families above, in the text format.
    void Render(QByteArray &out) const;

private:
    struct TLast {
        session::TProbeKind Kind = session::TProbeKind::None;
        bool Success = false;
        qint64 Us = -1;
        probe::TTimings Timings;
        probe::TDetails Details;
    };
    std::map<QString, TLast> last_;   // by target
};

} // namespace service
