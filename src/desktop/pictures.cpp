#include "desktop/pictures.h"

#include "desktop/jpeg.h"

#include <QGuiApplication>
#include <QHash>
#include <QFileInfo>
#include <QImage>
#include <QImageReader>
#include <cmath>

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

namespace desktop {

namespace {

QImage LoadImage(const QString &path)
{
    if (path.endsWith(QLatin1String(".jpg"), Qt::CaseInsensitive)
        || path.endsWith(QLatin1String(".jpeg"), Qt::CaseInsensitive))
        return desktop::LoadJpeg(path);
    // The format named, and no probing of the contents: otherwise the first
    // picture loads every image-format plugin to ask whether it reads it.
    QImageReader reader(path, QFileInfo(path).suffix().toLatin1());
    reader.setAutoDetectImageFormat(false);
    return reader.read();
}

// "switch_on.png" -> "switch_on@2x.png".
QString DoubleName(const QString &name)
{
    const qsizetype dot = name.lastIndexOf('.');
    return dot < 0 ? name + QStringLiteral("@2x") : name.left(dot) + QStringLiteral("@2x") + name.mid(dot);
}

QPixmap Load(const QString &name, qreal ratio)
{
    const QString dir = QStringLiteral(":/pictures/");
    if (ratio <= 1)
        return QPixmap::fromImage(LoadImage(dir + name));
    QImage twice = LoadImage(dir + DoubleName(name));
    if (twice.isNull())
        return QPixmap();
    // Another ratio than 2 (150 %, or a desktop's 125 % or 300 %) takes the
    // double drawing to its size: sharper than the single one enlarged.
    if (ratio != 2) {
        const QSize size(int(std::lround(twice.width() * ratio / 2)),
                         int(std::lround(twice.height() * ratio / 2)));
        twice = twice.scaled(size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    }
    twice.setDevicePixelRatio(ratio);
    return QPixmap::fromImage(twice);
}

} // namespace

QPixmap Picture(const QString &name)
{
    return Picture(name, qGuiApp ? qGuiApp->devicePixelRatio() : 1.0);
}

QPixmap Picture(const QString &name, qreal ratio)
{
    InitPictureResources();
    // Decoded copies of the program's own read-only pictures (GUI thread):
    // nothing anyone sees depends on whether a picture came from here.
    static QHash<QPair<QString, qreal>, QPixmap> cache;
    const QPair<QString, qreal> key(name, ratio);
    const auto it = cache.constFind(key);
    if (it != cache.constEnd())
        return *it;
    const QPixmap pix = Load(name, ratio);
    // Unknown names are not cached, so a typo costs a failed lookup each time
    // but never hides a picture that appears later.
    if (!pix.isNull())
        cache.insert(key, pix);
    return pix;
}

} // namespace desktop
