// The figures of a report on the line over a range of the history, for a
// reader outside (the provider's support line): the uptime and outages of
// the period, each local day's down time, loss and round trips, each
// target's figures and how they were taken. Computed from the store alone,
// without widgets or a display; the PDF and HTML writers lay them out.
#pragma once

#include "history/historycalc.h"
#include "history/historystore.h"

#include <QDate>
#include <QStringList>

#include <optional>
#include <vector>

namespace history {

// The ends of a range nobody chose (no --from, no --to).
constexpr TUs kOpenStart = 0;
constexpr TUs kOpenEnd = 1LL << 62;

// The median of whole milliseconds (the mean of the two middle ones for an
// even count); empty without any. Reorders 'ms'.
std::optional<double> Median(std::vector<int> &ms);
// The p-th percentile by nearest rank: the smallest value that at least p %
// of them do not exceed; -1 without any. Reorders 'ms'.
int Percentile(std::vector<int> &ms, int p);

// One local calendar day within a range, [From, To): 23 or 25 hours long on
// the days the clocks change, shorter at the range's ends.
struct TLocalDay {
    QDate Date;
    TUs From = 0;
    TUs To = 0;
};
std::vector<TLocalDay> LocalDays(const TRange &range);

struct TReportDay {
    TLocalDay Day;
    TUs Monitored = 0;       // watched (sessions less pauses)
    TUs Down = 0;            // of that, the line down
    qint64 Probes = 0, Lost = 0;
    std::optional<double> MedianMs;
    int P95Ms = -1;
    std::optional<double> LossPercent() const;
};

struct TReportTarget {
    TTargetRow Row;
    std::optional<double> MedianMs;
    int P95Ms = -1;
};

struct TReportOutage {
    TOutageRow Row;
    qint64 LengthMs = 0;     // to its end, or to the report's time while the line is still down
    // Whose fault it was and what shows it, and the hops towards the targets
    // at its start, once the outage has been diagnosed; empty before.
    QString Verdict, Evidence;
    QStringList Route;
};

// Time of the period that was not watched, by kind ("not monitored",
// "suspended", "paused (metered)").
struct TUnwatched {
    QString Kind;
    TUs Length = 0;
};

// What is known of the line the probes went over; empty parts are unknown.
struct TReportLine {
    QString Connection;      // the dial-up entry or NetworkManager connection
    QString Interface;
    QString LocalAddress, PublicAddress;
};

struct TReport {
    TRange Requested;
    // The requested range ending no later than the report's time, and
    // starting at the first record when no start was asked for.
    TRange Period;
    TUs Made = 0;            // when the report was computed
    bool Empty = true;       // nothing recorded in the period
    TUptime Up;
    qint64 LongestMs = 0;    // the longest outage that overlaps the period
    qint64 Probes = 0, Lost = 0;   // probes while watched (those the system refused to send left out)
    std::vector<TUnwatched> Unwatched;
    std::vector<TReportDay> Days;
    std::vector<TReportOutage> Outages;
    std::vector<TReportTarget> Targets;
    std::vector<TSessionSettings> Settings;   // each distinct setting of the period's sessions once
    TReportLine Line;
    int DownAfter = 3, UpAfter = 2;           // the hysteresis the outages were found with
};

// Reads the range's records and computes the report at time 'now'. False
// with 'error' when the history could not be read.
bool BuildReport(THistoryStore &store, const TRange &range, TUs now, TReport *report, QString *error = nullptr);

} // namespace history
