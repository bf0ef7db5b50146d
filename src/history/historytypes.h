// The records of the connection history as the store keeps them and the
// window and the export read them. Times are microseconds since the Unix
// epoch in UTC (TUs); durations are milliseconds.
#pragma once

#include "session/probechoice.h"
#include "session/sessionevents.h"

#include <QString>
#include <QtGlobal>

#include <optional>

namespace history {

// Microseconds since 1970-01-01T00:00:00Z.
using TUs = qint64;
constexpr TUs kUsPerMs = 1000;
constexpr TUs kUsPerDay = 86400LL * 1000000;

// The wall-clock moment of a session's stamp.
inline TUs ToUs(const TStamp &at) { return at.WallUtc.toMSecsSinceEpoch() * kUsPerMs; }

// A time range [From, To).
struct TRange {
    TUs From = 0;
    TUs To = 0;
    bool Contains(TUs t) const { return t >= From && t < To; }
    TUs Length() const { return To > From ? To - From : 0; }
};

// One probe, as recorded when its result came.
struct TProbeRow {
    TUs At = 0;                       // when the result came
    QString Host;
    QString Address;                  // empty when the name did not resolve
    session::TProbeKind Kind = session::TProbeKind::None;
    TProbeOutcome Outcome = TProbeOutcome::Failed;
    int Ms = -1;                      // round trip or transfer; -1 when lost
    qint64 Us = -1;                   // the same in microseconds (whole ms * 1000 in older rows)
    qint64 BytesSent = 0;
    qint64 BytesReceived = 0;
    QString Reason;                   // the failure's text; empty on success

    bool Ok() const { return Outcome == TProbeOutcome::Ok; }
    // The time in microseconds where the row has it, else its whole ms.
    qint64 TimeUs() const { return Us >= 0 ? Us : Ms >= 0 ? qint64(Ms) * 1000 : -1; }
};

// One outage of the line.
struct TOutageRow {
    TUs Start = 0;
    std::optional<TUs> End;           // unset while the line is still down
    qint64 DurationMs = 0;            // by the monotonic clock when it ended in a session
    int ProbesLost = 0;
    TProbeOutcome FirstOutcome = TProbeOutcome::Failed;
    QString FirstReason;              // the first failure's text
    QString Hosts;                    // the hosts tried, blank-separated
    QString Cause;                    // why the line went, when the dial-up service said
    QString EndedBy;                  // "up", or the gap that cut it short ("not monitored", "suspended", ...)
    QString Verdict;                  // whose fault, as the diagnosis found ("provider"); empty without one
    QString Evidence;                 // the diagnosis' evidence, in words
    QString Route;                    // the trace at its start: a JSON array of hops; empty without one

    // What the outages table shows as its reason: the dial-up service's
    // cause when there is one, else the first failure.
    QString Reason() const;
};

// A stretch of time: a session (monitored) or a pause within one
// ("suspended", "paused (metered)").
struct TSpanRow {
    TUs Start = 0;
    std::optional<TUs> End;           // unset while it lasts
    QString Kind;                     // the pause's reason; empty for a session
};

// The summaries the store keeps while probes are written.
constexpr TUs kUsPerHour = 3600LL * 1000000;

// One UTC hour of every probe: what the bytes of the day and the timeline need.
struct THourRow {
    qint64 Hour = 0;                  // hours since the epoch
    // Probes sent (every one but the skipped) and what they moved; skipped
    // probes and what they would have cost.
    qint64 Probes = 0, Sent = 0, Received = 0, Skipped = 0, Saved = 0;
    // The timeline: answered probes (their smallest and largest whole ms)
    // and lost ones.
    qint64 Answered = 0, Lost = 0;
    int MinMs = -1, MaxMs = -1;
    TUs Start() const { return Hour * kUsPerHour; }
};

// One UTC day of the probes to one host of one kind: the line's figures.
struct TDayRow {
    qint64 Day = 0;                   // days since the epoch
    QString Host;
    session::TProbeKind Kind = session::TProbeKind::None;
    // Probes that tell of the line, the lost ones, and the answered ones'
    // round trips in microseconds (-1: none answered).
    qint64 Counted = 0, Lost = 0, SumUs = 0;
    qint64 MinUs = -1, MaxUs = -1, FirstUs = -1, LastUs = -1;
    // Differences between consecutive answered round trips within the day.
    qint64 JitterUs = 0, JitterCount = 0;
};

// The stable codes of outcomes and probe kinds in the file. The names of
// outcomes are OutcomeName's; these numbers never change meaning.
int OutcomeCode(TProbeOutcome outcome);
TProbeOutcome OutcomeFromCode(int code);
int KindCode(session::TProbeKind kind);
session::TProbeKind KindFromCode(int code);

// The gap kinds recorded besides the pauses of a session.
inline const QString kNotMonitored = QStringLiteral("not monitored");
inline const QString kSuspended = QStringLiteral("suspended");

} // namespace history
