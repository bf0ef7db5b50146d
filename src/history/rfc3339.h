// Times as text: RFC 3339 in UTC with milliseconds for files, and the times
// a user types on the command line.
#pragma once

#include "history/historytypes.h"

#include <QByteArray>
#include <QString>

#include <optional>

namespace history {

// "2024-05-01T08:03:07.250Z": always UTC, always three decimals, the same
// bytes in every locale. Appends to 'out' (the export's hot path).
void AppendRfc3339(QByteArray &out, TUs at);
QString Rfc3339(TUs at);

// A time typed by a user: RFC 3339 with a "Z" or an offset
// ("2024-05-01T08:00:00Z", "2024-05-01T10:00+02:00"), the same without zone
// (local time), with a blank for the "T", or a date alone (local midnight).
// Seconds and their fraction are optional. Empty when it is none of these.
std::optional<TUs> ParseUserTime(const QString &text);

} // namespace history
