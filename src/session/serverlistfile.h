// The server list file: one host per line in Windows-1252, CR LF line ends.
// Parsing and formatting are pure; the two file functions do the I/O.
#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

namespace antiidle {

// File name of the server list in the data folder (platform/appdir.h). The download of a
// new list writes the same name; Linux compares names case-sensitively, so
// every reader and writer must use exactly this spelling.
inline constexpr char ServerListFileName[] = "Servers.dat";

// Full path of the server list file.
QString ServerListPath();

// Splits file bytes into entries. CR LF, a lone CR and a lone LF each end a
// line; a final line break adds no entry; an empty line inside is an entry.
// Entries are kept exactly as written (no trimming, no de-duplication).
QStringList ParseServerList(const QByteArray &bytes);

// Entries as file bytes: each entry in Windows-1252 followed by CR LF.
QByteArray FormatServerList(const QStringList &entries);

// Reads the file at 'path'. Returns false, leaving 'entries' untouched, when
// there is no such file or it cannot be read.
bool ReadServerListFile(const QString &path, QStringList &entries);

// Replaces the file at 'path' with 'entries'. The new contents go to a
// temporary file that is renamed over the old one, so a failure leaves the old
// list whole. Returns false when the file cannot be written.
bool WriteServerListFile(const QString &path, const QStringList &entries);

} // namespace antiidle
