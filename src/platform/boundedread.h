// Reading a file that somebody else may have filled: the settings file, the
// server list, a phone book. Whatever such a file holds, reading it takes
// bounded time and memory: at most a fixed number of bytes is read, lines
// longer than a limit are skipped whole, and reading stops after a number of
// lines. Only a regular file is ever opened; a FIFO, a device or a folder in
// its place is refused before open() (which would block on a FIFO without a
// writer) and the file is opened non-blocking besides, so no name can hang
// the program.
//
// What was skipped or refused is told to the user once, through the services'
// Notice route: one sentence per file and problem, not repeated while the
// file stays as it is.
#pragma once

#include <QByteArray>
#include <QString>

namespace platform {

// Which bytes end a line.
enum class TLineEnds {
    Lf,       // LF; a CR before it is part of the line break
    CrOrLf,   // CR LF, a lone CR or a lone LF
};

// How much of a file a reader takes.
struct TReadLimits {
    qint64 maxBytes;        // bytes read from the start of the file at most
    int maxLines;           // lines kept at most; reading stops after them
    int maxLineLength;      // bytes of one line without its break; a longer one is skipped
    TLineEnds ends = TLineEnds::Lf;
    // How the notice names a line over maxLineLength, after "N line(s) "
    // (empty: "longer than <maxLineLength> bytes").
    QString longLineRule;
};

enum class TReadStatus {
    Read,         // text holds what was within the limits
    Missing,      // no file of that name
    NotRegular,   // a folder, FIFO, device or socket: not opened
    Unreadable,   // open() or read() failed
};

// Which limit ended the reading early.
enum class TReadCut {
    None,    // the file was read to its end
    Bytes,   // maxBytes were read and more followed
    Lines,   // maxLines were kept and more followed
};

struct TBoundedText {
    TReadStatus status = TReadStatus::Missing;
    // The lines kept, each with the line break it has in the file, in file
    // order; a line cut short by the byte limit is not kept.
    QByteArray text;
    int keptLines = 0;
    int longLines = 0;        // lines skipped for their length (the one cut by
                              // maxBytes too, when it is already too long)
    qint64 firstLongLine = 0; // 1-based number of the first of them, 0 when none
    TReadCut cut = TReadCut::None;  // why the rest of the file was not read
    int error = 0;            // errno of an Unreadable file
    QString kind;             // for NotRegular: "a folder", "a FIFO", "a device", ...
};

// Reads path within limits (see above). A symbolic link is followed.
TBoundedText ReadBoundedText(const QString &path, const TReadLimits &limits);

// What ReadBoundedText keeps of a file that holds bytes (pure; no file is
// touched): status is Read, the rest as above.
TBoundedText BoundText(const QByteArray &bytes, const TReadLimits &limits);

// The sentence that tells the user what of path was skipped or why it was not
// read; empty when nothing needs telling (read whole, missing, unreadable:
// the callers report those in their own words).
QString BoundedReadNotice(const QString &path, const TBoundedText &read, const TReadLimits &limits);

// Passes a notice about path (a reader's own, such as a folder listed only in
// part) to the services' Notice route, once while path stays as it is.
void TellFileNotice(const QString &path, const QString &notice);

// Notices go to the Notice route of the services in use (services.h), or to
// the error stream without one. ReadBoundedText passes each notice on once
// per file as it stands (path, size and modification time): the settings
// file is read many times in a row, and one problem is one message.

} // namespace platform
