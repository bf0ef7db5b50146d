#include "platform/hosttext.h"

#include <QUrl>
#include <arpa/inet.h>

namespace platform {

namespace {

constexpr std::uint32_t kNone = 0xFFFFFFFFu;

bool asciiOnly(const QString &s)
{
    for (QChar c : s)
        if (c.unicode() > 0x7F)
            return false;
    return true;
}

bool hasInnerBlankOrControl(const QString &s)
{
    for (QChar c : s)
        if (c.isSpace() || c.category() == QChar::Other_Control)
            return true;
    return false;
}

HostText invalid(HostText t)
{
    t.kind = HostText::Invalid;
    t.lookup.clear();
    t.address = IpAddress{};
    return t;
}

} // namespace

QString HostShown(const QString &typed)
{
    return typed.trimmed();
}

HostText ReadHostText(const QString &typed)
{
    HostText t;
    t.shown = HostShown(typed);
    if (t.shown.isEmpty())
        return t;
    if (hasInnerBlankOrControl(t.shown))
        return invalid(t);

    QString text = t.shown;
    const bool bracketed = text.startsWith(QLatin1Char('[')) && text.endsWith(QLatin1Char(']'));
    if (bracketed)
        text = text.mid(1, text.size() - 2);

    if (text.contains(QLatin1Char(':'))) {
        if (!asciiOnly(text) || !ParseIPv6(text.toStdString(), t.address))
            return invalid(t);
        if (t.address.IsLinkLocal() && t.address.scope == 0)
            return invalid(t);
        t.kind = HostText::Address;
        return t;
    }
    // Brackets hold IPv6 addresses only, as in a URL.
    if (bracketed || text.contains(QLatin1Char('[')) || text.contains(QLatin1Char(']')))
        return invalid(t);

    if (asciiOnly(text)) {
        const std::string ascii = text.toStdString();
        const std::uint32_t v4 = inet_addr(ascii.c_str());
        if (v4 != kNone) {
            t.kind = HostText::Address;
            t.address = IpAddress::V4(v4);
            return t;
        }
        // Plain names go to the resolver as typed: /etc/hosts may hold names
        // that the IDNA rules would refuse (underscores, leading hyphens).
        t.kind = HostText::Name;
        t.lookup = ascii;
        return t;
    }
    const QByteArray ace = QUrl::toAce(text);
    if (ace.isEmpty())
        return invalid(t);
    t.kind = HostText::Name;
    t.lookup = ace.toStdString();
    return t;
}

} // namespace platform
