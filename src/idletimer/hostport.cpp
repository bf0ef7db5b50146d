#include "idletimer/hostport.h"

namespace idletimer {

namespace {

bool ParsePort(const QString &text, std::uint16_t *port)
{
    if (text.isEmpty() || text.size() > 5)
        return false;
    for (const QChar c : text) {
        if (!c.isDigit() || c.unicode() > '9')
            return false;
    }
    const int value = text.toInt();
    if (value < 1 || value > 65535)
        return false;
    *port = std::uint16_t(value);
    return true;
}

} // namespace

bool SplitHostPort(const QString &input, QString *host, std::uint16_t *port, QString *error)
{
    const QString text = input.trimmed();
    auto fail = [&](const QString &why) {
        if (error)
            *error = QStringLiteral("'%1': %2").arg(text, why);
        return false;
    };
    QString portText;
    bool hasPort = false;
    if (text.startsWith(QLatin1Char('['))) {
        const int close = text.indexOf(QLatin1Char(']'));
        if (close < 0)
            return fail(QStringLiteral("no ']' after the IPv6 address"));
        *host = text.mid(1, close - 1);
        const QString rest = text.mid(close + 1);
        if (!rest.isEmpty()) {
            if (!rest.startsWith(QLatin1Char(':')))
                return fail(QStringLiteral("only ':PORT' may follow the address"));
            portText = rest.mid(1);
            hasPort = true;
        }
        if (host->isEmpty())
            return fail(QStringLiteral("no address between the brackets"));
    } else if (text.count(QLatin1Char(':')) > 1) {
        *host = text;   // a bare IPv6 address
    } else {
        const int colon = text.indexOf(QLatin1Char(':'));
        *host = colon < 0 ? text : text.left(colon);
        if (colon >= 0) {
            portText = text.mid(colon + 1);
            hasPort = true;
        }
    }
    if (host->contains(QLatin1Char(' ')) || host->contains(QLatin1Char('/')))
        return fail(QStringLiteral("not a host name or address"));
    if (hasPort && !ParsePort(portText, port))
        return fail(QStringLiteral("the port must be a number from 1 to 65535"));
    return true;
}

} // namespace idletimer
