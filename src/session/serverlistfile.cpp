#include "session/serverlistfile.h"

#include "platform/appdir.h"
#include "platform/cp1252.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

namespace antiidle {

QString ServerListPath()
{
    return platform::DataFile(QString::fromLatin1(ServerListFileName));
}

QStringList ParseServerList(const QByteArray &bytes)
{
    QStringList entries;
    qsizetype start = 0;
    const qsizetype size = bytes.size();
    qsizetype i = 0;
    while (i < size) {
        const char c = bytes[i];
        if (c == '\r' || c == '\n') {
            entries << platform::FromCp1252(bytes.mid(start, i - start));
            if (c == '\r' && i + 1 < size && bytes[i + 1] == '\n')
                ++i;
            start = ++i;
        } else {
            ++i;
        }
    }
    // Text after the last break is an entry; a break at the very end is not
    // followed by one.
    if (start < size)
        entries << platform::FromCp1252(bytes.mid(start));
    return entries;
}

QByteArray FormatServerList(const QStringList &entries)
{
    return platform::ToCp1252Lines(entries);
}

bool ReadServerListFile(const QString &path, QStringList &entries)
{
    if (!QFileInfo(path).isFile())
        return false;
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return false;
    const QByteArray bytes = f.readAll();
    if (f.error() != QFileDevice::NoError)
        return false;
    entries = ParseServerList(bytes);
    return true;
}

bool WriteServerListFile(const QString &path, const QStringList &entries)
{
    QSaveFile f(path);
    // A directory we may not create files in still lets us rewrite the list
    // in place.
    f.setDirectWriteFallback(true);
    if (!f.open(QIODevice::WriteOnly))
        return false;
    const QByteArray bytes = FormatServerList(entries);
    if (f.write(bytes) != bytes.size()) {
        f.cancelWriting();
        return false;
    }
    return f.commit();
}

} // namespace antiidle
