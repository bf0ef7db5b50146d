// An observer that writes down everything a session tells it, one line per
// event, so a test can compare the whole sequence with what it expects.
#pragma once

#include "session/antiidlesession.h"

#include <QString>
#include <QStringList>

#include <vector>

namespace sessiontest {

// The kind's name in files, "none" for none.
inline QString KindName(session::TProbeKind kind)
{
    const QString name = ::KindName(kind);
    return name.isEmpty() ? QStringLiteral("none") : name;
}

class TRecorder : public TSessionObserver {
public:
    QStringList events;                 // every event but the status texts
    QStringList statuses;               // the status texts, in order
    QStringList messages;               // what the user would be told
    std::vector<TProbeResult> results;  // the results as they came
    std::vector<TProbeSent> sent;

    void SessionStarting(const TSessionStart &s) override
    {
        events << QStringLiteral("starting method=%1 cycle=%2").arg(s.Method).arg(s.Cycle);
    }
    void StatsReset(const TStatsStart &s) override
    {
        events << QStringLiteral("stats every %1 ms over %2").arg(s.IntervalMs).arg(s.Hosts.join(','));
    }
    void CycleStarted() override { events << QStringLiteral("cycle"); }
    void ProbesScheduled() override { events << QStringLiteral("scheduled"); }
    void SessionStarted() override { events << QStringLiteral("started"); }
    void SessionStopped(const TSessionEnd &e) override
    {
        events << QStringLiteral("stopped %1/%2 failed %3").arg(e.Successes).arg(e.Attempts).arg(e.Failures);
    }
    void ServerPosition(int index, const QString &host) override
    {
        events << QStringLiteral("server %1 %2").arg(index).arg(host);
    }
    void ProbeSent(const TProbeSent &s) override
    {
        sent.push_back(s);
        events << QStringLiteral("sent %1 %2%3").arg(KindName(s.Kind), s.Host,
                                                    s.Opening ? QStringLiteral(" opening") : QString());
    }
    void ProbeResult(const TProbeResult &r) override
    {
        results.push_back(r);
        events << QStringLiteral("result %1 %2 %3 row %4%5")
                      .arg(KindName(r.Kind), r.Host, OutcomeName(r.Outcome))
                      .arg(r.Row)
                      .arg(r.Counted ? QString() : QStringLiteral(" uncounted"));
    }
    void LinkDown(const TOutage &o) override
    {
        events << QStringLiteral("link down, %1 lost").arg(o.ProbesLost);
    }
    void LinkUp(const TOutage &o) override
    {
        events << QStringLiteral("link up, %1 lost, hosts %2").arg(o.ProbesLost).arg(o.HostsTried.join(','));
    }
    void MonitoringStopped(const TStamp &, const std::optional<TOutage> &open) override
    {
        events << (open ? QStringLiteral("unwatched, outage open") : QStringLiteral("unwatched"));
    }
    void Paused(const QString &why, const TStamp &) override { events << "paused " + why; }
    void Resumed(const TStamp &) override { events << QStringLiteral("resumed"); }
    void Status(const QString &text, bool) override { statuses << text; }
    void HistoryLine(const QString &text) override { events << QStringLiteral("line ") + text; }
    void LogFlushed() override { events << QStringLiteral("flushed"); }
    void Message(const QString &text) override
    {
        messages << text;
        events << QStringLiteral("message ") + text;
    }
};

} // namespace sessiontest
