#include "history/rfc3339.h"

#include <QDateTime>
#include <QRegularExpression>

namespace history {

namespace {

// Days since 1970-01-01 -> proleptic Gregorian year, month, day (the civil
// calendar algorithm over 400-year eras; exact for every day of int64 range
// that matters here, negative days included).
void CivilFromDays(qint64 z, int &year, int &month, int &day)
{
    z += 719468;
    const qint64 era = (z >= 0 ? z : z - 146096) / 146097;
    const qint64 doe = z - era * 146097;
    const qint64 yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const qint64 doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const qint64 mp = (5 * doy + 2) / 153;
    day = int(doy - (153 * mp + 2) / 5 + 1);
    month = int(mp < 10 ? mp + 3 : mp - 9);
    year = int(yoe + era * 400 + (month <= 2 ? 1 : 0));
}

void Put(char *p, int value, int digits)
{
    for (int i = digits - 1; i >= 0; --i) {
        p[i] = char('0' + value % 10);
        value /= 10;
    }
}

// Floor division, so times before the epoch land on the right day.
qint64 FloorDiv(qint64 a, qint64 b)
{
    return a / b - ((a % b != 0) && ((a < 0) != (b < 0)) ? 1 : 0);
}

} // namespace

void AppendRfc3339(QByteArray &out, TUs at)
{
    const qint64 ms = FloorDiv(at, kUsPerMs);
    const qint64 days = FloorDiv(ms, 86400000);
    const qint64 msOfDay = ms - days * 86400000;
    int year, month, day;
    CivilFromDays(days, year, month, day);
    char buf[24];
    Put(buf, year < 0 ? 0 : year > 9999 ? 9999 : year, 4);
    buf[4] = '-';
    Put(buf + 5, month, 2);
    buf[7] = '-';
    Put(buf + 8, day, 2);
    buf[10] = 'T';
    Put(buf + 11, int(msOfDay / 3600000), 2);
    buf[13] = ':';
    Put(buf + 14, int(msOfDay / 60000 % 60), 2);
    buf[16] = ':';
    Put(buf + 17, int(msOfDay / 1000 % 60), 2);
    buf[19] = '.';
    Put(buf + 20, int(msOfDay % 1000), 3);
    buf[23] = 'Z';
    out.append(buf, 24);
}

QString Rfc3339(TUs at)
{
    QByteArray out;
    AppendRfc3339(out, at);
    return QString::fromLatin1(out);
}

std::optional<TUs> ParseUserTime(const QString &text)
{
    static const QRegularExpression form(QStringLiteral(
        "^(\\d{4})-(\\d{2})-(\\d{2})"
        "(?:[Tt ](\\d{2}):(\\d{2})(?::(\\d{2})(?:\\.(\\d{1,9}))?)?)?"
        "(?:([Zz])|([+-])(\\d{2}):?(\\d{2}))?$"));
    const QRegularExpressionMatch m = form.match(text.trimmed());
    if (!m.hasMatch())
        return std::nullopt;
    const bool hasTime = m.capturedLength(4) > 0;
    const bool hasZone = m.capturedLength(8) > 0 || m.capturedLength(9) > 0;
    if (hasZone && !hasTime)
        return std::nullopt;   // "2024-05-01Z" is no RFC 3339 time
    const QDate date(m.captured(1).toInt(), m.captured(2).toInt(), m.captured(3).toInt());
    if (!date.isValid())
        return std::nullopt;
    int ms = 0;
    if (m.capturedLength(7) > 0)
        ms = (m.captured(7) + QStringLiteral("00")).left(3).toInt();
    const QTime time(m.captured(4).toInt(), m.captured(5).toInt(), m.captured(6).toInt(), ms);
    if (!time.isValid())
        return std::nullopt;
    QDateTime at;
    if (m.capturedLength(8) > 0) {
        at = QDateTime(date, time, Qt::UTC);
    } else if (m.capturedLength(9) > 0) {
        const int hours = m.captured(10).toInt(), minutes = m.captured(11).toInt();
        if (hours > 23 || minutes > 59)
            return std::nullopt;
        const int offset = (hours * 3600 + minutes * 60) * (m.captured(9) == QLatin1String("-") ? -1 : 1);
        at = QDateTime(date, time, Qt::OffsetFromUTC, offset);
    } else {
        at = QDateTime(date, time, Qt::LocalTime);
    }
    if (!at.isValid())
        return std::nullopt;
    return at.toMSecsSinceEpoch() * kUsPerMs;
}

} // namespace history
