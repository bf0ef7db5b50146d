// The session's events as lines of the service's log: the start and the
// end, every line of the session's history (the same lines as AI_Log.txt),
// the line going down and coming back, pauses, and whatever the user must
// be told. Status texts repeat the history and are left out.
#pragma once

#include "service/servicelog.h"
#include "session/sessionobserver.h"

namespace service {

class TSessionLogger : public TSessionObserver {
public:
    explicit TSessionLogger(const TServiceLog &log) : log_(log) {}

    void SessionStarting(const TSessionStart &start) override;
    void StatsReset(const TStatsStart &start) override;
    void SessionStopped(const TSessionEnd &end) override;
    void HistoryLine(const QString &text) override;
    void FailureLine(const QString &text) override;
    void LinkDown(const TOutage &outage) override;
    void LinkUp(const TOutage &outage) override;
    void MonitoringStopped(const TStamp &at, const std::optional<TOutage> &open) override;
    void Diagnosed(const diagnosis::TDiagnosisResult &result, const std::optional<TOutage> &outage) override;
    void Paused(const QString &why, const TStamp &at) override;
    void Resumed(const TStamp &at) override;
    void Message(const QString &text) override;

private:
    const TServiceLog &log_;
    int method_ = -1;     // of the session being started
    QString diagnosed_;   // the outage under way's verdict and evidence, as last logged
};

// The caption of a method item ("HTTP Gets", "ICMP Pings", "Alternate").
QString MethodCaption(int method);

} // namespace service
