// What an anti-idle session tells its observers: the records of its start,
// of each probe sent and of each probe's result.
#pragma once

#include "probe/outcome.h"
#include "probe/transport.h"
#include "session/probechoice.h"

#include <QDateTime>
#include <QString>
#include <QStringList>
#include <QtGlobal>

// The name of a probe's method in files and metrics: "echo", "http" (empty
// for none).
QString KindName(session::TProbeKind kind);

// A moment as the session records it: the wall clock in UTC and the
// monotonic clock (which never jumps, for durations).
struct TStamp {
    QDateTime WallUtc;
    qint64 MonoNs = 0;
    static TStamp Now();
};

// A session is starting (before its first probe).
struct TSessionStart {
    int Method = 0;          // the options' method item (-1 none)
    bool Cycle = false;      // visits the server list in turn
    TStamp At;
};

// The statistics were reset for a new session: its probe interval and its
// report rows (the servers of the list, or the one host).
struct TStatsStart {
    int IntervalMs = 0;
    bool Cycle = false;
    QStringList Hosts;
    TStamp At;
    // Every entry is probed once per IntervalMs, spread over it, rather
    // than one probe per interval to each in turn.
    bool EveryTarget = false;
};

// A probe goes out.
struct TProbeSent {
    QString Host;
    session::TProbeKind Kind = session::TProbeKind::None;
    int Size = 0;            // echo data bytes (0 for HTTP)
    int ServerIndex = -1;    // position in the server list; -1 without cycling
    bool Opening = false;    // the opening echo of a single-host session
    TStamp At;
};

// A probe ended.
struct TProbeResult {
    QString Host;
    QString Address;         // the address probed, when the name resolved
    session::TProbeKind Kind = session::TProbeKind::None;
    TProbeOutcome Outcome = TProbeOutcome::Failed;
    int Ms = -1;             // round trip or transfer time; -1 when lost
    qint64 Us = -1;          // the same in microseconds
    probe::TTimings Timings; // where the time went, for kinds with phases
    probe::TDetails Details; // what kinds with more to tell recorded
    QString Reason;          // the failure's text as the history shows it
    int ServerIndex = -1;    // position in the server list; -1 without cycling
    int Row = 1;             // report row (1-based)
    qint64 BytesSent = 0;    // on the wire: IP and ICMP headers, or the request
    qint64 BytesReceived = 0;
    // A skipped probe: what it would have cost, as the last probe sent to
    // the host did (0 when none went yet).
    qint64 SavedSent = 0, SavedReceived = 0;
    // Whether the result counted in the session's statistics (a result that
    // comes back after a newer session started does not; a lookup failure
    // counts once per tick).
    bool Counted = false;
    TStamp At;

    bool Success() const { return Outcome == TProbeOutcome::Ok; }
};

// A session ended.
struct TSessionEnd {
    int Attempts = 0, Successes = 0, Failures = 0;
    TStamp At;
};
