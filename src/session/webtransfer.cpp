#include "session/webtransfer.h"

namespace session {

QString ServerListUrl()
{
    return QStringLiteral("http://") + QLatin1String(MakerWebHost)
        + QLatin1String(ServerListDocument);
}

int ProbeTransferLimit(int probeIntervalMs)
{
    if (probeIntervalMs <= 0)
        return DefaultTransferLimitMs;
    const int beforeNextTick = probeIntervalMs > ProbeLimitMarginMs
        ? probeIntervalMs - ProbeLimitMarginMs
        : probeIntervalMs / 2;
    return qBound(MinTransferLimitMs, beforeNextTick, DefaultTransferLimitMs);
}

QString TimeoutReason(int limitMs)
{
    const QString span = limitMs % 1000 == 0 ? QStringLiteral("%1 s").arg(limitMs / 1000)
                                             : QStringLiteral("%1 ms").arg(limitMs);
    return QStringLiteral("no complete reply within %1, transfer aborted").arg(span);
}

bool ClientDue(int requestCount)
{
    return requestCount == HttpClientLifetime;
}

} // namespace session
