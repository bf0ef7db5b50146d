// The server list file: one host per line in Windows-1252, CR LF line ends.
// Parsing and formatting are pure; the two file functions do the I/O.
#pragma once

#include "platform/boundedread.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

namespace session {

// File name of the server list in the data folder (platform/appdir.h). The download of a
// new list writes the same name; Linux compares names case-sensitively, so
// every reader and writer must use exactly this spelling.
inline constexpr char ServerListFileName[] = "Servers.dat";

// How much of the server list file is read: a keep-alive list of up to ten
// thousand servers, each a host name, which is at most 253 characters long. A
// longer line cannot name a host and is skipped; lines past the limits are
// not read. Either is told to the user once (platform/boundedread.h).
// A hundred thousand hosts of the longest name there can be are read whole.
inline constexpr int ServerListMaxEntries = 100000;
inline const platform::TReadLimits ServerListReadLimits{
    qint64(ServerListMaxEntries) * (253 + 2), ServerListMaxEntries, 253, platform::TLineEnds::CrOrLf,
    QStringLiteral("longer than a host name can be (253 characters)")};

// Full path of the server list file.
QString ServerListPath();

// How the file's text is encoded: Windows-1252 as ever, or UTF-8 when the
// file is valid UTF-8 with letters past ASCII (a list written by hand on
// a system of today). A list is written back as it was read.
enum class TListEncoding { Cp1252, Utf8 };

// Splits file bytes into entries. CR LF, a lone CR and a lone LF each end a
// line; a final line break adds no entry; an empty line inside is an entry.
// Entries are kept exactly as written (no trimming, no de-duplication).
QStringList ParseServerList(const QByteArray &bytes, TListEncoding *encoding = nullptr);

// Entries as file bytes: each entry in the encoding followed by CR LF;
// UTF-8 also when an entry has a character Windows-1252 lacks.
QByteArray FormatServerList(const QStringList &entries, TListEncoding encoding = TListEncoding::Cp1252);

// Reads the file at 'path' within ServerListReadLimits. Returns false,
// leaving 'entries' untouched, when there is no such file, it is no regular
// file or it cannot be read.
bool ReadServerListFile(const QString &path, QStringList &entries, TListEncoding *encoding = nullptr);

// Replaces the file at 'path' with 'entries'. The new contents go to a
// temporary file that is renamed over the old one, so a failure leaves the old
// list whole; a symbolic link keeps pointing at the new list. Returns false
// when the file cannot be written.
bool WriteServerListFile(const QString &path, const QStringList &entries,
                         TListEncoding encoding = TListEncoding::Cp1252);

} // namespace session
