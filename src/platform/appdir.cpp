#include "platform/appdir.h"

#include <QCoreApplication>
#include <QDir>

namespace platform {

QString ProgramDir()
{
    QString dir = qEnvironmentVariable("IDLIX_DIR");
    if (dir.isEmpty())
        dir = QCoreApplication::applicationDirPath();
    // "dir/" and "dir" name the same place; keep ProgramFile free of "//".
    while (dir.size() > 1 && dir.endsWith(QLatin1Char('/')))
        dir.chop(1);
    return dir;
}

QString ProgramFile(const QString &name)
{
    return ProgramDir() + QLatin1Char('/') + name;
}

} // namespace platform
