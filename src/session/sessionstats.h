// The statistics of one anti-idle session: how many probes were started,
// how many succeeded and failed, and per server the successes, failures and
// the summed time of the successes (the report's table).
#pragma once

#include "session/statscalc.h"

#include <QString>
#include <QStringList>

#include <vector>

// One row of the report: a server and its counts.
struct TServerStats {
    QString Host;
    qint64 Successes = 0;
    qint64 Failures = 0;
    qint64 TimeSum = 0;   // ms of the successful probes
};

class TSessionStats {
public:
    // Counters of the session.
    int Attempts() const { return attempts_; }
    int Successes() const { return successes_; }
    int Failures() const { return failures_; }
    // A failure was already counted in the current tick.
    bool FailureCounted() const { return failureCounted_; }
    // Between Start and End.
    bool Active() const { return active_; }
    // One row per host of the session, in order (row 1 is the first).
    const std::vector<TServerStats> &Rows() const { return rows_; }

    // A new session over 'hosts': every count 0, one row per host.
    void Start(const QStringList &hosts);
    // A probe goes out.
    void CountAttempt() { ++attempts_; }
    // A new tick: its first failure counts again.
    void NewTick() { failureCounted_ = false; }
    // A success of 'ms' or a failure of the server in report row 'row'
    // (1-based); a row the table lacks (the list grew during the session)
    // still counts in the session's totals.
    void RecordSuccess(int row, int ms);
    void RecordFailure(int row);
    // A failed name lookup, counted once per tick like any failure of the
    // server; false (nothing counted) when this tick already counted one.
    bool RecordLookupFailure(int row);
    // The session ends: it is no longer active, and the success and failure
    // counts start again from 0 (the attempts stay until the next start).
    void End();

    // The final figures of report row 'row' (1-based), or nothing past the end.
    std::optional<session::TRowSummary> Summary(int row) const;

private:
    TServerStats *Row(int row);

    int attempts_ = 0, successes_ = 0, failures_ = 0;
    bool failureCounted_ = false, active_ = false;
    std::vector<TServerStats> rows_;
};
