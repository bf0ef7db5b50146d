// Lengths of time as the program tells them to a person, in every place it
// does (the notices, the History window, the service's log, the report):
// one rounding rule, so the same outage never reads as two lengths.
#pragma once

#include <QString>
#include <QtGlobal>

namespace platform {

// Milliseconds to whole seconds, rounded to the nearest (a half second up);
// nothing below 0.
qint64 RoundedSeconds(qint64 ms);

// A length as a person says it, rounded to the second first: "0 s", "42 s",
// "4 min 12 s", "1 min", "2 h 5 min", "3 d 4 h" (the two largest units, a
// zero second unit left out).
QString DurationText(qint64 ms);

// The same length with every unit from the largest that is not zero down to
// the smallest that is not ("1 d", "1 h 0 min 12 s", "0 s"): a report's
// wording, where a notice's keeps two.
QString FullDurationText(qint64 ms);

} // namespace platform
