// An idle-timer measurement as the connection history keeps it, with the
// network it was measured on; the window's program and the command line
// both record through here.
#pragma once

#include "history/historystore.h"
#include "idletimer/idlefinder.h"

#include <QObject>

class TAntiIdleSession;

namespace service {

// The row for 'result', measured on 'network' and ending now.
history::TIdleTimerRow IdleTimerRow(const idletimer::TIdleResult &result, const QString &network);

// Opens the history of the data folder and keeps 'result' in it; false with
// the reason when it cannot.
bool RecordIdleTimer(const idletimer::TIdleResult &result, const QString &network, QString *problem);

// Gives 'engine' its interval from the idle timers in 'store' (0.8 x the
// shortest one found on the network in use; [KeepAlive] IntervalFrom decides
// whether the session takes it) and tells it when the network changes (the
// network's name is looked at twice a minute). Both outlive this object.
class TIntervalFollower : public QObject {
    Q_OBJECT
public:
    TIntervalFollower(TAntiIdleSession &engine, history::THistoryStore &store, QObject *parent = nullptr);
    ~TIntervalFollower() override;

private:
    TAntiIdleSession &engine_;
    QString network_;
};

} // namespace service
