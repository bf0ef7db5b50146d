// What the keep-alive costs in bytes: from the anti-idle options (method,
// frequency, echo size) and the bytes the probes were measured at.
#pragma once

#include "config/options.h"

#include <QString>

#include <optional>

namespace notify {

// Bytes one probe of each kind sends and receives together, as measured;
// 0 = not measured yet.
struct TProbeBytes {
    double Echo = 0;
    double Http = 0;
};

// An echo's bytes both ways before any was measured: its data with the IPv4
// and ICMP headers, there and back (the average size with "Vary packet size").
double EchoBytesEstimate(const config::TAntiIdleOptions &options);

// Bytes a day the keep-alive sends and receives: 0 when it sends nothing (no
// method, a frequency that is no number); nothing when a kind of probe it
// sends has no measured size yet (an HTTP GET's depends on the page).
std::optional<double> BytesPerDay(const config::TAntiIdleOptions &options, const TProbeBytes &measured);

// How often the keep-alive probes: "one echo a minute", "one HTTP GET every
// 5 minutes", ...
QString RateText(const config::TAntiIdleOptions &options);

// A byte count to two significant figures: "95 bytes", "1.5 KB", "240 KB",
// "7.3 MB" (1 KB = 1000 bytes).
QString AboutBytes(double bytes);

} // namespace notify
