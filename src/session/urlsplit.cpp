#include "session/urlsplit.h"

#include <QUrlQuery>

namespace session {

std::optional<TUrlSplit> SplitUrl(const QString &url, const QString &scheme, QString *error)
{
    if (!url.startsWith(scheme, Qt::CaseInsensitive))
        return Refuse<TUrlSplit>(error, QStringLiteral("not a %1 URL: %2").arg(scheme, url));
    TUrlSplit split;
    split.Rest = url.mid(scheme.size());
    const int mark = split.Rest.indexOf(QLatin1Char('?'));
    if (mark >= 0) {
        split.Parameters = QUrlQuery(split.Rest.mid(mark + 1)).queryItems();
        split.Rest.truncate(mark);
    }
    return split;
}

} // namespace session
