// What the history says, computed from its records without any I/O: uptime
// over a range, the stretches nobody watched, and per target the loss,
// round trips and jitter.
#pragma once

#include "history/historytypes.h"

#include <QString>

#include <map>
#include <optional>
#include <vector>

namespace history {

// A stretch of time [From, To).
struct TInterval {
    TUs From = 0;
    TUs To = 0;
    bool operator==(const TInterval &) const = default;
};

// The union of intervals, sorted, with overlapping and touching ones joined.
std::vector<TInterval> Merge(std::vector<TInterval> spans);
// a less b (both merged).
std::vector<TInterval> Subtract(const std::vector<TInterval> &a, const std::vector<TInterval> &b);
// The parts within the range.
std::vector<TInterval> Clip(const std::vector<TInterval> &spans, const TRange &range);
TUs Length(const std::vector<TInterval> &spans);
// Spans as intervals; one still open runs until 'now'.
std::vector<TInterval> Intervals(const std::vector<TSpanRow> &spans, TUs now);
std::vector<TInterval> Intervals(const std::vector<TOutageRow> &outages, TUs now);

// The line over a range: the time watched (sessions less their pauses) and,
// of that, the time the line was down.
struct TUptime {
    TUs Monitored = 0;
    TUs Down = 0;
    int Outages = 0;       // outages that overlap the range
    // Percent of the watched time the line was up; empty when nothing was watched.
    std::optional<double> Percent() const;
};
TUptime Uptime(const TRange &range, const std::vector<TSpanRow> &sessions, const std::vector<TSpanRow> &gaps,
               const std::vector<TOutageRow> &outages, TUs now);

// A stretch of the range that is not watched: "not monitored" (no session)
// or the kind of a pause ("suspended", "paused (metered)").
struct TGap {
    TInterval Span;
    QString Kind;
};
std::vector<TGap> Gaps(const TRange &range, const std::vector<TSpanRow> &sessions,
                       const std::vector<TSpanRow> &pauses, TUs now);

// Walks sorted, merged intervals along increasing times: whether each time
// falls inside one. Probes come oldest first, so the walk is linear.
class TSpanCursor {
public:
    explicit TSpanCursor(std::vector<TInterval> spans) : spans_(std::move(spans)) {}
    bool Inside(TUs t);
private:
    std::vector<TInterval> spans_;
    size_t next_ = 0;
};

// One target of the per-target table: a host probed one way.
struct TTargetRow {
    QString Host;
    session::TProbeKind Kind = session::TProbeKind::None;
    qint64 Probes = 0;
    qint64 Lost = 0;
    int Min = -1, Max = -1;            // ms of the answered probes; -1 without any
    qint64 MinUs = -1, MaxUs = -1;     // the same in microseconds
    double Average = 0;                // ms, from the microseconds
    // Mean absolute difference of consecutive round trips to this target
    // (never across probes to other targets); empty with fewer than two.
    std::optional<double> Jitter;
    // How long it alone did not answer: from a lost probe while the line was
    // up to its next answered one (to its last lost one while it still does
    // not). Losses that ran into an outage of the line were the line's.
    qint64 DownUs = 0;
    double LossPercent() const { return Probes ? 100.0 * double(Lost) / double(Probes) : 0.0; }
};

// Collects the per-target table from probes given oldest first. Probes the
// system refused to send tell nothing of the line and are left out.
class TTargetStats {
public:
    // 'lineDown': the probe was sent during an outage of the whole line.
    void Add(const TProbeRow &probe, bool lineDown = false);
    // A day's summary of one host and kind, after what was added before
    // it (the same figures as adding its probes one by one).
    void Add(const TDayRow &day);
    // By host, then echo before HTTP.
    std::vector<TTargetRow> Rows() const;
private:
    struct TAcc {
        TTargetRow Row;
        qint64 SumUs = 0;
        qint64 JitterSumUs = 0;
        qint64 JitterCount = 0;
        qint64 LastUs = -1;            // the previous answered round trip
        TUs DownSince = -1;            // its first lost probe of a run while the line was up
        TUs LastAt = -1;               // its last probe's time
    };
    std::map<std::pair<QString, int>, TAcc> acc_;
};

// A round trip in milliseconds as the History window shows it: tenths below
// 10 ms ("0.3", "9.9"), whole milliseconds from there ("10", "250"), each
// rounded to the nearest; empty for a probe that was not answered (-1).
QString RoundTripText(qint64 us);

// "240 KB", "1.5 MB", "512 bytes" (decimal units, '.' as the decimal point).
QString FormatBytes(qint64 bytes);

} // namespace history
