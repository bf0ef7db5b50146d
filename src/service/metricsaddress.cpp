#include "service/metricsaddress.h"

#include "platform/resolver.h"

#include <QStringList>

namespace service {

namespace {

bool ParsePort(const QString &text, std::uint16_t *port)
{
    if (text.isEmpty() || text.size() > 5)
        return false;
    for (const QChar c : text) {
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return false;
    }
    const int value = text.toInt();
    if (value < 1 || value > 65535)
        return false;
    *port = std::uint16_t(value);
    return true;
}

// Four decimal numbers of 0..255 and nothing else: inet_addr would also
// take "10.1" or octal parts, which a listening address should not be.
bool ParseDottedQuad(const QString &text, platform::IpAddress *out)
{
    const QStringList parts = text.split(QLatin1Char('.'));
    if (parts.size() != 4)
        return false;
    for (const QString &part : parts) {
        if (part.isEmpty() || part.size() > 3 || (part.size() > 1 && part.startsWith(QLatin1Char('0'))))
            return false;
        for (const QChar c : part) {
            if (c < QLatin1Char('0') || c > QLatin1Char('9'))
                return false;
        }
        if (part.toInt() > 255)
            return false;
    }
    *out = platform::IpAddress::V4(platform::InetAddr(text.toStdString()));
    return true;
}

} // namespace

QString TListenAddress::Text() const
{
    const QString address = QString::fromStdString(platform::AddressText(Address));
    const QString host = Address.IsV6() ? QLatin1Char('[') + address + QLatin1Char(']') : address;
    return host + QLatin1Char(':') + QString::number(Port);
}

bool ParseListenAddress(const QString &input, TListenAddress *out, QString *error)
{
    const QString text = input.trimmed();
    auto fail = [&](const QString &why) {
        if (error)
            *error = QStringLiteral("metrics address '%1': %2").arg(text, why);
        return false;
    };
    if (text.isEmpty())
        return fail(QStringLiteral("empty"));

    QString host, port;
    if (text.startsWith(QLatin1Char('['))) {
        const int close = text.indexOf(QLatin1Char(']'));
        if (close < 0)
            return fail(QStringLiteral("no ']' after the IPv6 address"));
        host = text.mid(1, close - 1);
        if (text.mid(close + 1, 1) != QLatin1String(":"))
            return fail(QStringLiteral("no port after the address (ADDRESS:PORT)"));
        port = text.mid(close + 2);
        if (host.contains(QLatin1Char('%')))
            return fail(QStringLiteral("an address with a zone cannot be listened on"));
    } else {
        const int colon = text.lastIndexOf(QLatin1Char(':'));
        if (colon < 0) {
            port = text;
        } else {
            host = text.left(colon);
            port = text.mid(colon + 1);
            if (host.contains(QLatin1Char(':')))
                return fail(QStringLiteral("an IPv6 address needs brackets ([::1]:9417)"));
        }
    }

    TListenAddress parsed;
    if (!ParsePort(port, &parsed.Port))
        return fail(QStringLiteral("the port must be a number from 1 to 65535"));
    if (text.startsWith(QLatin1Char('['))) {
        if (!platform::ParseIPv6(host.toStdString(), parsed.Address))
            return fail(QStringLiteral("not an IPv6 address in brackets"));
    } else if (host.isEmpty() || host.compare(QLatin1String("localhost"), Qt::CaseInsensitive) == 0) {
        parsed.Address = platform::IpAddress::V4(platform::InetAddr("127.0.0.1"));
    } else if (!ParseDottedQuad(host, &parsed.Address)) {
        return fail(QStringLiteral("not an IP address (names other than localhost are not looked up)"));
    }
    *out = parsed;
    return true;
}

} // namespace service
