// The anti-idle session log "AI_Log.txt": history lines appended in
// Windows-1252, each ended by CR LF, with nothing added.
#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

namespace session {

// File name of the session log in the data folder (platform/appdir.h).
inline constexpr char LogFileName[] = "AI_Log.txt";
// The history is written out only once it holds more lines than this.
constexpr int LogFlushThreshold = 200;

// A history line as the log holds it: the bullet, a blank, the text.
inline QString LogLine(const QString &text)
{
    return QStringLiteral("\u2022 ") + text;
}

// Full path of the session log.
QString LogFilePath();

// Appends 'lines' to the log at 'path', creating it when missing: all of them
// or none. A write that fails part-way (a full disk) is taken back, so the log
// holds whole lines only; the lines written start on a line of their own even
// when the file ends in a fragment that could not be taken back. On failure
// returns false and puts the message for the user into 'error'.
bool AppendLogLines(const QString &path, const QStringList &lines, QString *error);

// Removes the log at 'path' if present. False (with 'error') when it stays.
bool DeleteLogFile(const QString &path, QString *error);

} // namespace session
