#include "session/logfile.h"

#include "platform/appdir.h"
#include "platform/cp1252.h"

#include <QFile>
#include <QFileInfo>

namespace antiidle {

QString LogFilePath()
{
    return platform::DataFile(QString::fromLatin1(LogFileName));
}

bool AppendLogLines(const QString &path, const QStringList &lines, QString *error)
{
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Append)) {
        if (error)
            *error = QStringLiteral("Cannot create file %1").arg(path);
        return false;
    }
    const QByteArray bytes = platform::ToCp1252Lines(lines);
    const qint64 before = f.size();
    if (f.write(bytes) != bytes.size() || !f.flush()) {
        // Take back a partial write so that a retry does not duplicate lines.
        f.resize(before);
        if (error)
            *error = QStringLiteral("Unable to write to %1").arg(path);
        return false;
    }
    return true;
}

bool DeleteLogFile(const QString &path, QString *error)
{
    QFileInfo fi(path);
    if (!fi.exists() && !fi.isSymLink())
        return true;
    if (QFile::remove(path))
        return true;
    if (error)
        *error = QStringLiteral("Unable to write to %1").arg(path);
    return false;
}

} // namespace antiidle
