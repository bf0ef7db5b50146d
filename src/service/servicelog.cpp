#include "service/servicelog.h"

#include "platform/logstream.h"

namespace service {

namespace {

bool IsControl(QChar c)
{
    const char16_t u = c.unicode();
    return u < 0x20 || u == 0x7f || (u >= 0x80 && u <= 0x9f) || u == 0x2028 || u == 0x2029;
}

// The text on one line: each run of control characters, with the blanks
// around it (the indentation of a continued line), becomes one blank.
QString OneLine(const QString &text)
{
    QString out;
    out.reserve(text.size());
    bool pendingBreak = false;
    for (const QChar c : text) {
        if (IsControl(c)) {
            pendingBreak = true;
            while (!out.isEmpty() && out.back() == QLatin1Char(' '))
                out.chop(1);
            continue;
        }
        if (pendingBreak) {
            if (c == QLatin1Char(' '))
                continue;
            if (!out.isEmpty())
                out += QLatin1Char(' ');
            pendingBreak = false;
        }
        out += c;
    }
    return out;
}

} // namespace

QByteArray FormatLogLine(TLogLevel level, const QString &text, const QDateTime &utc, bool journal)
{
    QByteArray line;
    if (journal)
        line = '<' + QByteArray::number(int(level)) + '>';
    else
        line = utc.toUTC().toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss.zzzZ")).toLatin1() + ' ';
    line += OneLine(text).toUtf8();
    line += '\n';
    return line;
}

TServiceLog TServiceLog::Stderr()
{
    return TServiceLog(platform::kStandardError,
                       platform::IsJournalStream(platform::kStandardError, qgetenv("JOURNAL_STREAM")));
}

void TServiceLog::Write(TLogLevel level, const QString &text) const
{
    // One write per line, so lines of other writers never cut into it.
    platform::WriteAll(fd_, FormatLogLine(level, text, QDateTime::currentDateTimeUtc(), journal_));
}

} // namespace service
