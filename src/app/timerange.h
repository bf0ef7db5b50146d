// What the modes over the connection history share on the command line:
// the range --from and --to give, and the refusal of a line they cannot use.
#pragma once

#include "history/historytypes.h"

#include <QString>

namespace config {
struct TCommandLine;
}

// Prints "idlix: <what>" and the mode's usage on standard error; returns 64.
int RefuseLine(const config::TCommandLine &line, const QString &what);

// Reads --from and --to (history::ParseUserTime) into 'range', leaving an
// end not given as it was. False, with the refusal printed and 64 in
// 'status', when one is not a time or the range ends before it starts.
bool ReadTimeRange(const config::TCommandLine &line, history::TRange &range, int *status);
