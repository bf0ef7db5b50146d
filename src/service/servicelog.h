// The unattended service's own log: one line per event on standard error.
// Under systemd's journal each line starts with its syslog priority as
// "<N>" and carries no time (the journal stamps every line itself); written
// anywhere else (a terminal, a file, another supervisor) it starts with the
// time in RFC 3339 form, UTC, to the millisecond.
#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QString>

namespace service {

// Syslog priorities of the lines (sd-daemon's <N> prefixes).
enum class TLogLevel { Error = 3, Warning = 4, Notice = 5, Info = 6 };

// One line as written, with its line end. Line breaks and other control
// characters inside 'text' become single blanks, so an event never takes
// two lines (a journal would read the second as a line of its own).
QByteArray FormatLogLine(TLogLevel level, const QString &text, const QDateTime &utc, bool journal);

class TServiceLog {
public:
    // Writes to 'fd' in the journal's form or with times.
    TServiceLog(int fd, bool journal) : fd_(fd), journal_(journal) {}
    // Standard error, in the journal's form when $JOURNAL_STREAM names it.
    static TServiceLog Stderr();

    void Write(TLogLevel level, const QString &text) const;
    bool Journal() const { return journal_; }

private:
    int fd_;
    bool journal_;
};

} // namespace service
