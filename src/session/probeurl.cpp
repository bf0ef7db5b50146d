#include "session/probeurl.h"

#include "net/httpparse.h"
#include "platform/hosttext.h"

#include <QStringList>

namespace session {

namespace {

// The probe kinds a scheme names ("http" is not here: it stays the designed GET's).
struct TScheme {
    const char *Name;
    TProbeKind Kind;
};
constexpr TScheme Schemes[] = {
    {"tcp", TProbeKind::Tcp},
    {"https", TProbeKind::Https},
    {"dns", TProbeKind::Dns},
    {"echo", TProbeKind::Burst},   // an echo without ?count= is the designed one
};

// A decimal number in lo..hi and nothing else ("+1", " 1" and "1x" are not).
bool ParseBounded(const QString &text, int lo, int hi, int *value)
{
    if (text.isEmpty() || text.size() > 5)
        return false;
    for (const QChar c : text) {
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return false;
    }
    const int v = text.toInt();
    if (v < lo || v > hi)
        return false;
    *value = v;
    return true;
}

// The parameters after "?": name=value pairs joined by "&", names without
// regard to case. False (with the reason) for a name the kind does not take.
bool ReadQuery(const QString &query, const QString &allowed, QString *value, QString *error)
{
    for (const QString &pair : query.split(QLatin1Char('&'), Qt::SkipEmptyParts)) {
        const int eq = pair.indexOf(QLatin1Char('='));
        const QString name = (eq < 0 ? pair : pair.left(eq)).toLower();
        if (allowed.isEmpty() || name != allowed) {
            *error = QStringLiteral("unknown parameter \"%1\"").arg(name);
            return false;
        }
        *value = eq < 0 ? QString() : pair.mid(eq + 1);
    }
    return true;
}

} // namespace

QString HostPortText(const QString &host, int port)
{
    const QString shown = host.contains(QLatin1Char(':')) ? QLatin1Char('[') + host + QLatin1Char(']') : host;
    return shown + QLatin1Char(':') + QString::number(port);
}

bool ParseProbeUrl(const QString &entry, TProbeUrl *url, QString *error)
{
    *url = TProbeUrl();
    const int sep = entry.indexOf(QLatin1String("://"));
    const QString scheme = sep < 0 ? QString() : entry.left(sep).trimmed().toLower();
    // No scheme, or the designed client's own: the entry is what it always was.
    if (sep < 0 || scheme == QLatin1String("http")) {
        url->Host = entry;
        return true;
    }
    auto fail = [&](const QString &reason) {
        if (error)
            *error = reason;
        *url = TProbeUrl();
        return false;
    };
    const TScheme *named = nullptr;
    for (const TScheme &s : Schemes) {
        if (scheme == QLatin1String(s.Name))
            named = &s;
    }
    if (!named)
        return fail(QStringLiteral("unknown kind of probe \"%1://\" (tcp, https, dns and echo are known)").arg(scheme));

    // The fragment is the browser's; the query is taken off before the
    // splitter sees the authority, where "?" may stand without a path.
    QString text = entry.trimmed();
    text = text.left(text.indexOf(QLatin1Char('#')));
    const int q = text.indexOf(QLatin1Char('?'));
    const QString query = q < 0 ? QString() : text.mid(q + 1);
    const TUrlParts parts = SplitUrl(q < 0 ? text : text.left(q));
    if (!parts.User.isEmpty() || !parts.Pass.isEmpty() || text.indexOf(QLatin1Char('@')) >= 0)
        return fail(QStringLiteral("a probe takes no user name"));

    const TProbeKind kind = named->Kind;
    if (parts.Host.isEmpty() && kind != TProbeKind::Dns)
        return fail(QStringLiteral("no host"));
    if (!parts.Host.isEmpty()) {
        const platform::HostText host = platform::ReadHostText(UrlHostToHostText(parts.Host));
        if (host.kind != platform::HostText::Name && host.kind != platform::HostText::Address)
            return fail(QStringLiteral("\"%1\" is not a host name or address").arg(parts.Host));
        url->Host = host.shown;
        if (url->Host.startsWith(QLatin1Char('[')) && url->Host.endsWith(QLatin1Char(']')))
            url->Host = url->Host.mid(1, url->Host.size() - 2);
    }
    // "host:" names no port; only a kind with a default may leave it out.
    const QString authority = text.mid(sep + 3).section(QLatin1Char('/'), 0, 0).section(QLatin1Char('?'), 0, 0);
    const bool portGiven = !parts.Port.isEmpty() || (authority.endsWith(QLatin1Char(':')) && !authority.endsWith(QLatin1String("::")));
    if (portGiven) {
        if (kind == TProbeKind::Burst)
            return fail(QStringLiteral("an echo takes no port"));
        if (!ParseBounded(parts.Port, 1, 65535, &url->Port))
            return fail(QStringLiteral("port \"%1\" is not a number in 1..65535").arg(parts.Port));
    }
    const bool bare = parts.Path.isEmpty() || parts.Path == QLatin1String("/");

    QString value, why;
    switch (kind) {
    case TProbeKind::Tcp:
        if (!portGiven)
            return fail(QStringLiteral("no port (tcp://HOST:PORT)"));
        if (!bare)
            return fail(QStringLiteral("a TCP probe takes no path"));
        if (!ReadQuery(query, QString(), &value, &why))
            return fail(why);
        break;
    case TProbeKind::Https:
        if (!portGiven)
            url->Port = 443;
        url->Path = parts.Path.isEmpty() ? QStringLiteral("/") : parts.Path;
        if (q >= 0)
            url->Path += QLatin1Char('?') + query;
        break;
    case TProbeKind::Dns: {
        if (!portGiven)
            url->Port = 53;
        url->DnsName = parts.Path.mid(1);
        if (url->DnsName.isEmpty())
            return fail(QStringLiteral("no name to ask (dns://[SERVER]/NAME)"));
        if (url->DnsName.contains(QLatin1Char('/')) || url->DnsName.contains(QLatin1Char(' ')))
            return fail(QStringLiteral("\"%1\" is not a name to ask").arg(url->DnsName));
        value = QStringLiteral("A");
        if (!ReadQuery(query, QStringLiteral("type"), &value, &why))
            return fail(why);
        url->DnsType = value.toUpper();
        bool known = false;
        for (const char *type : DnsTypes)
            known = known || url->DnsType == QLatin1String(type);
        if (!known)
            return fail(QStringLiteral("unknown DNS type \"%1\" (A, AAAA, MX, TXT, NS and SOA are known)").arg(value));
        break;
    }
    case TProbeKind::Burst:
        if (!bare)
            return fail(QStringLiteral("an echo takes no path"));
        if (!ReadQuery(query, QStringLiteral("count"), &value, &why))
            return fail(why);
        if (q < 0 || query.isEmpty()) {
            url->Kind = TProbeKind::Echo;
            return true;
        }
        if (!ParseBounded(value, 1, MaxBurstCount, &url->Count))
            return fail(QStringLiteral("count \"%1\" is not a number in 1..%2").arg(value).arg(MaxBurstCount));
        break;
    default:
        break;
    }
    url->Kind = kind;
    return true;
}

} // namespace session
