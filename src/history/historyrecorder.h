// Writes a running anti-idle session into the history as it happens: the
// session's span, every probe's result, each outage from the moment the
// line goes down, and the pauses (sleep, a metered connection) within it.
#pragma once

#include "session/sessionobserver.h"

#include <QPointer>
#include <QStringList>

#include <vector>

class TAntiIdleSession;

namespace history {

class THistoryStore;
struct TOutageRow;

// The history's row of an outage the session reported: its length by the
// monotonic clock once it has ended, as the notices take it.
TOutageRow OutageRow(const TOutage &outage);

class THistoryRecorder : public TSessionObserver {
public:
    // Observes 'session' from now on and writes to 'store'.
    THistoryRecorder(TAntiIdleSession &session, THistoryStore &store);
    // Stops observing; a session still running is written as ended now (the
    // program is going, and nobody watches the line after it).
    ~THistoryRecorder() override;
    THistoryRecorder(const THistoryRecorder &) = delete;
    THistoryRecorder &operator=(const THistoryRecorder &) = delete;

    // The session row being written (0 between sessions).
    qint64 SessionId() const { return sessionId_; }

    void SessionStarting(const TSessionStart &start) override;
    void StatsReset(const TStatsStart &start) override;
    void ProbesScheduled() override;
    void SessionStopped(const TSessionEnd &end) override;
    void ProbeResult(const TProbeResult &result) override;
    void LinkDown(const TOutage &outage) override;
    void LinkUp(const TOutage &outage) override;
    void Diagnosed(const diagnosis::TDiagnosisResult &result, const std::optional<TOutage> &outage) override;
    void RouteTraced(const QString &hops) override;
    void MonitoringStopped(const TStamp &at, const std::optional<TOutage> &open) override;
    void Paused(const QString &why, const TStamp &at) override;
    void Resumed(const TStamp &at) override;

private:
    // The session's row exists from its first probe or its timer, whichever
    // comes first: a start that sends nothing is not watching the line.
    void EnsureSession(qint64 atUs);
    void OpenGaps(qint64 atUs);
    void CloseGaps(qint64 atUs);
    void CloseOutage(const TOutage &outage, const QString &endedBy);

    QPointer<TAntiIdleSession> session_;
    THistoryStore &store_;
    bool starting_ = false;            // between SessionStarting and the session's end
    qint64 startUs_ = 0;
    int method_ = 0, intervalMs_ = 0;
    bool cycle_ = false;
    qint64 sessionId_ = 0;
    qint64 outageId_ = 0;
    qint64 tracedId_ = 0;              // the outage the route being traced belongs to
    QStringList pauses_;               // reasons the probes are paused for
    std::vector<qint64> openGaps_;
};

} // namespace history
