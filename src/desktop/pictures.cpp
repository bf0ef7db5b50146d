#include "desktop/pictures.h"

#include "desktop/jpeg.h"

#include <QHash>

// The resources live in a static library; referencing their initialiser keeps
// the linker from dropping them from the executable.
static void InitPictureResources()
{
    static const bool done = [] {
        Q_INIT_RESOURCE(resources);
        return true;
    }();
    (void)done;
}

QPixmap Picture(const QString &name)
{
    InitPictureResources();
    static QHash<QString, QPixmap> cache;
    const auto it = cache.constFind(name);
    if (it != cache.constEnd())
        return *it;
    const QString path = QStringLiteral(":/pictures/") + name;
    QPixmap pix;
    if (name.endsWith(QLatin1String(".jpg"), Qt::CaseInsensitive)
        || name.endsWith(QLatin1String(".jpeg"), Qt::CaseInsensitive))
        pix = QPixmap::fromImage(platform::LoadJpeg(path));
    else
        pix.load(path);
    // Unknown names are not cached, so a typo costs a failed lookup each time
    // but never hides a picture that appears later.
    if (!pix.isNull())
        cache.insert(name, pix);
    return pix;
}
