#include "session/serverlistfile.h"

#include "platform/appdir.h"
#include "platform/cp1252.h"
#include "platform/replacefile.h"

#include <QStringDecoder>

namespace session {

QString ServerListPath()
{
    return platform::DataFile(QString::fromLatin1(ServerListFileName));
}

namespace {

bool IsUtf8Text(const QByteArray &bytes)
{
    bool wide = false;
    for (const char c : bytes)
        wide = wide || (c & 0x80);
    if (!wide)
        return false;
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString text = utf8(bytes);
    return !utf8.hasError();
}

} // namespace

QStringList ParseServerList(const QByteArray &bytes, TListEncoding *encoding)
{
    const bool utf8 = IsUtf8Text(bytes);
    if (encoding)
        *encoding = utf8 ? TListEncoding::Utf8 : TListEncoding::Cp1252;
    const auto text = [utf8](const QByteArray &line) {
        return utf8 ? QString::fromUtf8(line) : platform::FromCp1252(line);
    };
    QStringList entries;
    qsizetype start = 0;
    const qsizetype size = bytes.size();
    qsizetype i = 0;
    while (i < size) {
        const char c = bytes[i];
        if (c == '\r' || c == '\n') {
            entries << text(bytes.mid(start, i - start));
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
        entries << text(bytes.mid(start));
    return entries;
}

QByteArray FormatServerList(const QStringList &entries, TListEncoding encoding)
{
    const QByteArray cp1252 = platform::ToCp1252Lines(entries);
    if (encoding == TListEncoding::Cp1252 && platform::FromCp1252(cp1252) == (entries.isEmpty() ? QString()
            : entries.join(QStringLiteral("\r\n")) + QStringLiteral("\r\n")))
        return cp1252;
    QByteArray out;
    for (const QString &entry : entries)
        out += entry.toUtf8() + "\r\n";
    return out;
}

bool ReadServerListFile(const QString &path, QStringList &entries, TListEncoding *encoding)
{
    const platform::TBoundedText read = platform::ReadBoundedText(path, ServerListReadLimits);
    if (read.status != platform::TReadStatus::Read)
        return false;
    entries = ParseServerList(read.text, encoding);
    return true;
}

bool WriteServerListFile(const QString &path, const QStringList &entries, TListEncoding encoding)
{
    return platform::ReplaceFile(path, FormatServerList(entries, encoding), platform::TFileAccess::Shared);
}

} // namespace session
