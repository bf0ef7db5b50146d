// A notice when a certificate a probe was shown expires within two weeks
// (or has expired): at most one a day for each target, so a target probed
// every minute does not repeat it, and a certificate renewed in time is
// never mentioned again.
#pragma once

#include "session/sessionobserver.h"

#include <QDateTime>
#include <QObject>
#include <QString>

#include <functional>
#include <map>

class TCertNotices : public QObject, public TSessionObserver {
    Q_OBJECT
public:
    // How close an expiry must be to be told.
    static constexpr qint64 kWarnDays = 14;
    // The least time between two notices about one target.
    static constexpr qint64 kRepeatSecs = 24 * 60 * 60;

    explicit TCertNotices(QObject *parent = nullptr);

    // What the user is told (summary, body).
    std::function<void(const QString &summary, const QString &body)> OnMessage;
    // The time a probe without a stamp is taken to have ended (the clock; tests set it).
    std::function<QDateTime()> Now;

    void ProbeResult(const TProbeResult &result) override;

private:
    std::map<QString, QDateTime> told_;   // by target: when it was last told
};
