#include "platform/appdir.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

#include <sys/stat.h>
#include <unistd.h>

namespace platform {

namespace {

QString WithoutTrailingSlash(QString dir)
{
    // "dir/" and "dir" name the same place; keep DataFile free of "//".
    while (dir.size() > 1 && dir.endsWith(QLatin1Char('/')))
        dir.chop(1);
    return dir;
}

// A portable copy: the settings file sits beside the program and the folder
// takes new files (settings are replaced through a temporary file beside them).
bool IsPortable(const QString &dir)
{
    return QFileInfo::exists(dir + QLatin1String("/idlix2.ini"))
           && ::access(QFile::encodeName(dir).constData(), W_OK | X_OK) == 0;
}

// $XDG_CONFIG_HOME when it is an absolute path (the XDG base directory
// rules ignore a relative one), else $HOME/.config.
QString ConfigHome()
{
    const QString xdg = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (xdg.startsWith(QLatin1Char('/')))
        return WithoutTrailingSlash(xdg);
    return WithoutTrailingSlash(QDir::homePath()) + QLatin1String("/.config");
}

// Makes dir, owner-only, when it is missing; an existing folder keeps the
// mode its owner gave it.
void MakePrivateDir(const QString &dir)
{
    const QByteArray path = QFile::encodeName(dir);
    if (::mkdir(path.constData(), S_IRWXU) == 0)
        ::chmod(path.constData(), S_IRWXU);  // whatever the umask took away
}

// The folder the command line named. It stays a process-wide value: it is
// set once, before any window, reader or thread exists, and only read after.
QString &ChosenDataDir()
{
    static QString chosen;
    return chosen;
}

} // namespace

QString DataDir()
{
    if (const QString &chosen = ChosenDataDir(); !chosen.isEmpty())
        return chosen;
    return DataDirOf(QString());
}

void UseDataDir(const QString &dir)
{
    ChosenDataDir() = WithoutTrailingSlash(dir);
}

QString DataDirOf(const QString &program)
{
    const QString chosen = qEnvironmentVariable("IDLIX_DIR");
    if (!chosen.isEmpty())
        return WithoutTrailingSlash(chosen);
    const QString programDir = program.startsWith(QLatin1Char('/')) ? WithoutTrailingSlash(program)
                                                                    : QCoreApplication::applicationDirPath();
    if (IsPortable(programDir))
        return programDir;
    const QString config = ConfigHome();
    MakePrivateDir(config);
    const QString dir = config + QLatin1String("/idlix");
    MakePrivateDir(dir);
    return dir;
}

QString DataFile(const QString &name)
{
    return DataDir() + QLatin1Char('/') + name;
}

QString ShippedFile(const QString &name)
{
    const QString programDir = QCoreApplication::applicationDirPath();
    const QString beside = programDir + QLatin1Char('/') + name;
    if (QFileInfo::exists(beside))
        return beside;
    const QString installed =
        QDir::cleanPath(programDir + QLatin1String("/../share/idlix/") + name);
    return QFileInfo::exists(installed) ? installed : beside;
}

} // namespace platform
