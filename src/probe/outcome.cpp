#include "probe/outcome.h"

QString OutcomeName(TProbeOutcome outcome)
{
    switch (outcome) {
    case TProbeOutcome::Ok: return QStringLiteral("ok");
    case TProbeOutcome::Timeout: return QStringLiteral("timeout");
    case TProbeOutcome::Unreachable: return QStringLiteral("unreachable");
    case TProbeOutcome::TimeExceeded: return QStringLiteral("time-exceeded");
    case TProbeOutcome::Refused: return QStringLiteral("refused");
    case TProbeOutcome::LookupFailed: return QStringLiteral("lookup-failed");
    case TProbeOutcome::HttpError: return QStringLiteral("http-error");
    case TProbeOutcome::NotPermitted: return QStringLiteral("not-permitted");
    case TProbeOutcome::Failed: return QStringLiteral("failed");
    case TProbeOutcome::Skipped: return QStringLiteral("skipped");
    case TProbeOutcome::TlsFailed: return QStringLiteral("tls-failed");
    case TProbeOutcome::DnsError: return QStringLiteral("dns-error");
    }
    return QStringLiteral("failed");
}
