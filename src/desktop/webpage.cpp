#include "desktop/webpage.h"

#include <QDesktopServices>
#include <QUrl>

namespace desktop {

bool OpenWebPage(const QString &url)
{
    // Only web addresses: anything else (file:, javascript:, bare words)
    // would be opened by whatever program claims it.
    const QUrl u(url.trimmed(), QUrl::StrictMode);
    if (!u.isValid() || u.host().isEmpty())
        return false;
    const QString scheme = u.scheme().toLower();
    if (scheme != QLatin1String("http") && scheme != QLatin1String("https"))
        return false;
    return QDesktopServices::openUrl(u);
}

} // namespace desktop
