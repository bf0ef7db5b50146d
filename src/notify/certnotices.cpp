#include "notify/certnotices.h"

#include "notify/noticetext.h"

TCertNotices::TCertNotices(QObject *parent)
    : QObject(parent), Now([] { return QDateTime::currentDateTimeUtc(); })
{
    setObjectName(QStringLiteral("CertNotices"));
}

void TCertNotices::ProbeResult(const TProbeResult &r)
{
    if (r.Details.CertExpiry < 0)
        return;
    const QDateTime now = r.At.WallUtc.isValid() ? r.At.WallUtc : Now();
    const QDateTime expiry = QDateTime::fromSecsSinceEpoch(r.Details.CertExpiry, Qt::UTC);
    if (now.secsTo(expiry) >= kWarnDays * 24 * 60 * 60)
        return;
    const auto told = told_.find(r.Host);
    if (told != told_.end() && told->second.secsTo(now) < kRepeatSecs)
        return;
    told_[r.Host] = now;
    const notify::TNoticeText text = notify::CertExpiryText(r.Host, expiry, now);
    if (OnMessage)
        OnMessage(text.Summary, text.Body);
}
