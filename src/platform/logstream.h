// The standard error stream of a program run unattended: whether it goes
// to systemd's journal, and whole-line writes to it.
#pragma once

#include <QByteArray>

namespace platform {

// True when 'fd' is the stream named by 'journalStream', the value of
// $JOURNAL_STREAM ("DEVICE:INODE", both decimal, as systemd sets it for a
// service whose output it connects to the journal). A value that is empty
// or malformed, or names another file, gives false: the stream was passed
// on to something else (a pipe to a terminal, a file).
bool IsJournalStream(int fd, const QByteArray &journalStream);

// Writes all of 'bytes' to fd, going on after short writes and signals.
// False when the stream refuses them (closed, full disk); the caller has no
// better place to report that.
bool WriteAll(int fd, const QByteArray &bytes);

// A reader that goes away (a closed pipe) makes writes fail with EPIPE
// instead of ending the program with SIGPIPE.
void IgnoreBrokenPipe();

// The descriptor of standard error.
inline constexpr int kStandardError = 2;

} // namespace platform
