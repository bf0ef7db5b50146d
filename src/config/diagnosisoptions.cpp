#include "config/diagnosisoptions.h"

#include <QUrl>

#include <utility>

namespace config {

namespace {

bool LetterOrDigit(QChar c)
{
    return (c >= QLatin1Char('a') && c <= QLatin1Char('z')) || (c >= QLatin1Char('A') && c <= QLatin1Char('Z'))
           || (c >= QLatin1Char('0') && c <= QLatin1Char('9'));
}

// Labels of letters, digits and inner hyphens between single dots, a
// final dot allowed.
bool HostName(const QString &word)
{
    const QString name = word.endsWith(QLatin1Char('.')) ? word.chopped(1) : word;
    for (const QStringView label : QStringView(name).split(QLatin1Char('.'))) {
        if (label.isEmpty() || !LetterOrDigit(label.front()) || !LetterOrDigit(label.back()))
            return false;
        for (const QChar c : label)
            if (!LetterOrDigit(c) && c != QLatin1Char('-'))
                return false;
    }
    return true;
}

// Hex digits, colons and (for an embedded IPv4 tail) dots, with a colon.
bool Ipv6Text(const QString &word)
{
    bool colon = false;
    for (const QChar c : word) {
        const bool hex = LetterOrDigit(c) && (c.isDigit() || c.toLower() <= QLatin1Char('f'));
        if (!hex && c != QLatin1Char(':') && c != QLatin1Char('.'))
            return false;
        colon = colon || c == QLatin1Char(':');
    }
    return colon;
}

// A host name or an address text (IPv4 dotted, IPv6 with colons); the
// resolver and the echo decide the rest. Plain scans rather than regular
// expressions: this runs as the settings are read at every start.
bool HostWord(const QString &word)
{
    if (word.isEmpty() || word.size() > 253)
        return false;
    return HostName(word) || Ipv6Text(word);
}

// The words of a list separated by commas and ASCII white space.
QStringList ListWords(const QString &text)
{
    QStringList words;
    QString word;
    for (const QChar c : text) {
        if (c == QLatin1Char(',') || c == QLatin1Char(' ') || (c >= QLatin1Char('\t') && c <= QLatin1Char('\r'))) {
            if (!word.isEmpty())
                words << std::exchange(word, QString());
        } else {
            word += c;
        }
    }
    if (!word.isEmpty())
        words << word;
    return words;
}

} // namespace

QString CheckProblem(const QString &url, const QString &expect)
{
    const QString text = url.trimmed();
    if (text.isEmpty())
        return {};
    if (text.size() > TDiagnosisOptions::kMaxCheckUrl)
        return QStringLiteral("The check URL is longer than %1 characters.").arg(TDiagnosisOptions::kMaxCheckUrl);
    const QUrl u(text, QUrl::StrictMode);
    if (!u.isValid() || u.host().isEmpty())
        return QStringLiteral("The check URL \"%1\" is not a web address.").arg(text.left(80));
    if (u.scheme().toLower() != QLatin1String("http"))
        return QStringLiteral("The check URL must start with http:// (a portal is seen only in plain web requests).");
    if (!u.userInfo().isEmpty())
        return QStringLiteral("The check URL must not carry a user name or password.");
    if (expect.trimmed().isEmpty())
        return QStringLiteral("Say what the check page's reply holds, or no reply could tell a portal.");
    if (expect.size() > TDiagnosisOptions::kMaxCheckExpect)
        return QStringLiteral("The expected reply is longer than %1 characters.").arg(TDiagnosisOptions::kMaxCheckExpect);
    return {};
}

std::optional<QStringList> ParseAnchors(const QString &text, QString *error)
{
    QStringList out;
    for (const QString &word : ListWords(text)) {
        if (!HostWord(word)) {
            if (error)
                *error = QStringLiteral("The anchor \"%1\" is not a host name or address.").arg(word.left(80));
            return std::nullopt;
        }
        if (!out.contains(word, Qt::CaseInsensitive))
            out << word;
    }
    if (out.size() > TDiagnosisOptions::kMaxAnchors) {
        if (error)
            *error = QStringLiteral("At most %1 anchors (%2 given).").arg(TDiagnosisOptions::kMaxAnchors).arg(out.size());
        return std::nullopt;
    }
    return out;
}

QString AnchorsText(const QStringList &anchors)
{
    return anchors.join(QStringLiteral(", "));
}

} // namespace config
