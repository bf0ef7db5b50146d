#include "notify/noticetext.h"

#include "platform/durationtext.h"

#include <QLocale>
#include <QStringList>

namespace notify {

namespace {

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
    return {QStringLiteral("Connection back after ") + platform::DurationText(o.DurationMs()), body.join(QLatin1Char('\n'))};
}

TNoticeText CertExpiryText(const QString &target, const QDateTime &expiry, const QDateTime &now)
{
    const QString date = QLocale().toString(expiry.toLocalTime().date(), QLocale::LongFormat);
    const qint64 secs = now.secsTo(expiry);
    if (secs <= 0)
        return {QStringLiteral("Certificate has expired"),
                QStringLiteral("The certificate of %1 expired on %2.").arg(target, date)};
    // Whole days left, as a calendar counts them down: 13.5 days is "13 days".
    const qint64 days = secs / (24 * 60 * 60);
    const QString left = days == 0 ? QStringLiteral("today")
                         : days == 1 ? QStringLiteral("in 1 day")
                                     : QStringLiteral("in %1 days").arg(days);
    return {QStringLiteral("Certificate expires ") + left,
            QStringLiteral("The certificate of %1 expires on %2.").arg(target, date)};
}

} // namespace notify
