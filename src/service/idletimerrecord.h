// An idle-timer measurement as the connection history keeps it, with the
// network it was measured on; the window's program and the command line
// both record through here.
#pragma once

#include "history/historystore.h"
#include "idletimer/idlefinder.h"

namespace service {

// The row for 'result', measured on 'network' and ending now.
history::TIdleTimerRow IdleTimerRow(const idletimer::TIdleResult &result, const QString &network);

// Opens the history of the data folder and keeps 'result' in it; false with
// the reason when it cannot.
bool RecordIdleTimer(const idletimer::TIdleResult &result, const QString &network, QString *problem);

} // namespace service
