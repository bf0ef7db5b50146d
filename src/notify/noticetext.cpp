#include "notify/noticetext.h"

#include <QStringList>

namespace notify {

namespace {

// Two units, the larger first; the smaller is left out when it is zero.
QString TwoUnits(qint64 big, const char *bigUnit, qint64 small, const char *smallUnit)
{
    QString text = QStringLiteral("%1 %2").arg(big).arg(QLatin1String(bigUnit));
    if (small != 0)
        text += QStringLiteral(" %1 %2").arg(small).arg(QLatin1String(smallUnit));
    return text;
}

// "The modem hung up." from "the modem hung up".
QString Sentence(const QString &clause)
{
    QString s = clause.trimmed();
    if (s.isEmpty())
        return s;
    s[0] = s.at(0).toUpper();
    if (!s.endsWith(QLatin1Char('.')))
        s += QLatin1Char('.');
    return s;
}

QString ClockText(const TStamp &at)
{
    return at.WallUtc.toLocalTime().toString(QStringLiteral("HH:mm"));
}

QString Probes(int n)
{
    return n == 1 ? QStringLiteral("1 probe") : QStringLiteral("%1 probes").arg(n);
}

} // namespace

QString DurationText(qint64 ms)
{
    const qint64 s = std::max<qint64>(0, (ms + 500) / 1000);
    if (s < 60)
        return QStringLiteral("%1 s").arg(s);
    if (s < 3600)
        return TwoUnits(s / 60, "min", s % 60, "s");
    if (s < 86400)
        return TwoUnits(s / 3600, "h", s % 3600 / 60, "min");
    return TwoUnits(s / 86400, "d", s % 86400 / 3600, "h");
}

TNoticeText LostText(const TOutage &o)
{
    QStringList body;
    if (!o.Cause.isEmpty())
        body << Sentence(o.Cause);
    QString failed = Probes(o.ProbesLost) + QStringLiteral(" failed since ") + ClockText(o.Start);
    failed += o.FirstReason.trimmed().isEmpty() ? QStringLiteral(".")
                                                : QStringLiteral(": ") + Sentence(o.FirstReason);
    body << failed;
    return {QStringLiteral("Connection lost"), body.join(QLatin1Char('\n'))};
}

TNoticeText BackText(const TOutage &o)
{
    QStringList body;
    if (!o.Cause.isEmpty())
        body << Sentence(o.Cause);
    body << QStringLiteral("Down from %1 to %2, %3 lost.")
                .arg(ClockText(o.Start), ClockText(o.End), Probes(o.ProbesLost));
    return {QStringLiteral("Connection back after ") + DurationText(o.DurationMs()), body.join(QLatin1Char('\n'))};
}

} // namespace notify
