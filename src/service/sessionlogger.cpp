#include "service/sessionlogger.h"

#include "config/options.h"
#include "platform/durationtext.h"

namespace service {

namespace {

QString Minutes(int ms)
{
    const int minutes = ms / 60000;
    return minutes == 1 ? QStringLiteral("1 minute") : QStringLiteral("%1 minutes").arg(minutes);
}

QString Probes(int count)
{
    return count == 1 ? QStringLiteral("1 probe") : QStringLiteral("%1 probes").arg(count);
}

// Milliseconds between two moments on the monotonic clock.
qint64 MsBetween(const TStamp &from, const TStamp &to)
{
    return (to.MonoNs - from.MonoNs) / 1000000;
}

} // namespace

QString MethodCaption(int method)
{
    switch (method) {
    case config::TAntiIdleOptions::HttpGets: return QStringLiteral("HTTP Gets");
    case config::TAntiIdleOptions::IcmpPings: return QStringLiteral("ICMP Pings");
    case config::TAntiIdleOptions::Alternate: return QStringLiteral("Alternate");
    default: return QStringLiteral("no method");
    }
}

void TSessionLogger::SessionStarting(const TSessionStart &start)
{
    method_ = start.Method;
}

void TSessionLogger::StatsReset(const TStatsStart &start)
{
    if (start.EveryTarget) {
        const QString which = start.Cycle ? QStringLiteral("every server of the list (%1)").arg(start.Hosts.size())
                                          : start.Hosts.value(0);
        log_.Write(TLogLevel::Notice, QStringLiteral("Session started: %1 to %2, each every %3 s")
                                          .arg(MethodCaption(method_), which)
                                          .arg(start.IntervalMs / 1000));
        return;
    }
    const QString where = start.Cycle
        ? QStringLiteral("to each server of the list in turn (%1)").arg(start.Hosts.size())
        : QStringLiteral("to ") + start.Hosts.value(0);
    log_.Write(TLogLevel::Notice, QStringLiteral("Session started: %1 every %2 %3")
                                      .arg(MethodCaption(method_), Minutes(start.IntervalMs), where));
}

void TSessionLogger::SessionStopped(const TSessionEnd &end)
{
    log_.Write(TLogLevel::Notice, QStringLiteral("Session ended: %1 of %2 answered, %3 failed")
                                      .arg(end.Successes)
                                      .arg(Probes(end.Attempts))
                                      .arg(end.Failures));
}

void TSessionLogger::HistoryLine(const QString &text)
{
    log_.Write(TLogLevel::Info, text);
}

void TSessionLogger::FailureLine(const QString &text)
{
    // A failed probe is worth a look: `journalctl -p warning` shows it.
    log_.Write(TLogLevel::Warning, text);
}

void TSessionLogger::LinkDown(const TOutage &outage)
{
    QString text = QStringLiteral("Line down: %1 failed in a row").arg(Probes(outage.ProbesLost));
    if (!outage.FirstReason.isEmpty())
        text += QStringLiteral(", the first: ") + outage.FirstReason;
    if (!outage.Cause.isEmpty())
        text += QStringLiteral(" (") + outage.Cause + QLatin1Char(')');
    log_.Write(TLogLevel::Warning, text);
}

void TSessionLogger::Diagnosed(const diagnosis::TDiagnosisResult &result, const std::optional<TOutage> &outage)
{
    if (!outage) {
        log_.Write(TLogLevel::Info, QStringLiteral("Line checked once back: ") + result.Evidence);
        return;
    }
    // The checks repeat while the line stays down; the log tells what changed.
    const QString said = outage->Verdict + QLatin1Char('\n') + outage->Evidence;
    if (said == diagnosed_)
        return;
    diagnosed_ = said;
    log_.Write(TLogLevel::Warning, QStringLiteral("Line down: %1 (%2). %3")
                                       .arg(diagnosis::VerdictPlace(result.Verdict), outage->Verdict, outage->Evidence));
}

void TSessionLogger::LinkUp(const TOutage &outage)
{
    diagnosed_.clear();
    log_.Write(TLogLevel::Notice, QStringLiteral("Line up again after %1 down, %2 lost")
                                      .arg(platform::DurationText(outage.DurationMs()))
                                      .arg(Probes(outage.ProbesLost)));
}

void TSessionLogger::MonitoringStopped(const TStamp &at, const std::optional<TOutage> &open)
{
    if (open)
        log_.Write(TLogLevel::Notice, QStringLiteral("Line still down when the probes stopped, %1 after it went")
                                          .arg(platform::DurationText(MsBetween(open->Start, at))));
}

void TSessionLogger::Paused(const QString &why, const TStamp &)
{
    log_.Write(TLogLevel::Notice, QStringLiteral("Probes paused: ") + why);
}

void TSessionLogger::Resumed(const TStamp &)
{
    log_.Write(TLogLevel::Notice, QStringLiteral("Probes resumed"));
}

void TSessionLogger::Message(const QString &text)
{
    log_.Write(TLogLevel::Warning, text);
}

} // namespace service
