#include "session/probetexts.h"

namespace session {

bool EchoLike(TProbeKind kind)
{
    return kind == TProbeKind::Echo || kind == TProbeKind::Burst;
}

QString LampText(TProbeKind kind)
{
    switch (kind) {
    case TProbeKind::Echo:
    case TProbeKind::Burst:
        return QStringLiteral("PING");
    case TProbeKind::Tcp:
        return QStringLiteral("TCP");
    case TProbeKind::Dns:
        return QStringLiteral("DNS");
    default:
        return QStringLiteral("HTTP GET");
    }
}

QString ShownName(const TProbeName &name)
{
    const TProbeUrl &url = name.Url;
    if (url.Kind == TProbeKind::None)
        return name.Entry;
    switch (name.Kind) {
    case TProbeKind::Echo:
    case TProbeKind::Burst:
        return url.Host;
    case TProbeKind::Tcp:
        return HostPortText(url.Host, url.Port);
    case TProbeKind::Dns:
        return url.DnsName + QStringLiteral(" (") + url.DnsType + QLatin1Char(')')
            + (url.Host.isEmpty() ? QString() : QStringLiteral(" at ") + HostPortText(url.Host, url.Port));
    default:
        return name.Entry.trimmed();
    }
}

QString SendingText(const TProbeName &name, int size)
{
    const QString shown = ShownName(name);
    switch (name.Kind) {
    case TProbeKind::Echo:
        return QStringLiteral("Sending %1 bytes to ").arg(size) + shown;
    case TProbeKind::Burst:
        return QStringLiteral("Sending %1 echoes to ").arg(name.Url.Count) + shown;
    case TProbeKind::Dns:
        return QStringLiteral("Asking for ") + shown;
    default:
        return QStringLiteral("Connecting to ") + shown;
    }
}

QString SuccessText(const TProbeName &name, int ms, qint64 bodyBytes)
{
    const QString shown = ShownName(name);
    switch (name.Kind) {
    case TProbeKind::Echo:
    case TProbeKind::Burst:
        return shown + QStringLiteral(" pinged in %1 msecs").arg(ms);
    case TProbeKind::HttpGet:
    case TProbeKind::Https:
        return QStringLiteral("Received %1 bytes from ").arg(bodyBytes) + shown + QStringLiteral(" in %1ms").arg(ms);
    case TProbeKind::Tcp:
        return QStringLiteral("TCP connect to ") + shown + QStringLiteral(" in %1 msecs").arg(ms);
    case TProbeKind::Dns:
        return QStringLiteral("DNS answer for ") + shown + QStringLiteral(" in %1 msecs").arg(ms);
    case TProbeKind::None:
        break;
    }
    return shown;
}

QString FailureText(const TProbeName &name, const QString &reason)
{
    const QString shown = ShownName(name);
    switch (name.Kind) {
    case TProbeKind::Echo:
    case TProbeKind::Burst:
        return QStringLiteral("Error pinging ") + shown + QStringLiteral(" : ") + reason;
    case TProbeKind::HttpGet:
    case TProbeKind::Https:
        return QStringLiteral("Transfer from ") + shown + QStringLiteral(" failed. ") + reason;
    case TProbeKind::Tcp:
        return QStringLiteral("TCP connect to ") + shown + QStringLiteral(" failed: ") + reason;
    case TProbeKind::Dns:
        return QStringLiteral("DNS query for ") + shown + QStringLiteral(" failed: ") + reason;
    case TProbeKind::None:
        break;
    }
    return MalformedText(name.Entry, reason);
}

QString LookupFailureText(const TProbeName &name)
{
    return QStringLiteral("Unknown Host ") + ShownName(name);
}

QString MalformedText(const QString &entry, const QString &reason)
{
    return QStringLiteral("Cannot probe ") + entry + QStringLiteral(": ") + reason;
}

} // namespace session
