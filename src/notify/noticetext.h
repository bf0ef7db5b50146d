// The texts of the program's notices about the line, built from the outage
// the session recorded. Pure functions, so each wording is tested on its own.
#pragma once

#include "session/linkmonitor.h"

#include <QDateTime>
#include <QString>

namespace notify {

struct TNoticeText {
    QString Summary;
    QString Body;
};

// "Connection lost", with why (when the dial-up service said), since when and
// the first failure.
TNoticeText LostText(const TOutage &outage);
// "Connection back after 4 min 12 s", with why it went and the probes lost.
TNoticeText BackText(const TOutage &outage);

// "Certificate expires in 5 days" (or "has expired"), naming the target and
// the expiry's date as this system writes dates.
TNoticeText CertExpiryText(const QString &target, const QDateTime &expiry, const QDateTime &now);

} // namespace notify
