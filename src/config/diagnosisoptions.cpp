#include "config/diagnosisoptions.h"

#include <QRegularExpression>
#include <QUrl>

namespace config {

namespace {

// A host name (letters, digits, hyphens, dots between labels) or an address
// text (IPv4 dotted, IPv6 with colons); the resolver and the echo decide the
// rest.
bool HostWord(const QString &word)
{
    if (word.isEmpty() || word.size() > 253)
        return false;
    static const QRegularExpression name(QStringLiteral("^[A-Za-z0-9]([A-Za-z0-9-]*[A-Za-z0-9])?"
                                                        "(\\.[A-Za-z0-9]([A-Za-z0-9-]*[A-Za-z0-9])?)*\\.?$"));
    static const QRegularExpression v6(QStringLiteral("^[0-9A-Fa-f:.]+$"));
    return name.match(word).hasMatch() || (word.contains(QLatin1Char(':')) && v6.match(word).hasMatch());
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
    static const QRegularExpression between(QStringLiteral("[,\\s]+"));
    QStringList out;
    for (const QString &word : text.split(between, Qt::SkipEmptyParts)) {
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
