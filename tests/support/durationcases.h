// Lengths of time and how a person is told them (platform::DurationText):
// rounded to the nearest second, then the two largest units. The notices go
// through all of it; the History window and the service's log are checked on
// a half second, where truncating would tell another length.
#pragma once

#include <QtGlobal>

namespace testsupport {

struct DurationCase {
    qint64 ms;
    const char *text;
};

inline constexpr DurationCase kDurationCases[] = {
    {0, "0 s"}, {499, "0 s"}, {850, "1 s"}, {59499, "59 s"}, {59999, "1 min"}, {294499, "4 min 54 s"},
    {294500, "4 min 55 s"}, {3599500, "1 h"}, {3600000 + 5 * 60000 + 59000, "1 h 5 min"},
    {86400000, "1 d"}, {3 * 86400000LL + 4 * 3600000LL + 59 * 60000, "3 d 4 h"}, {-5000, "0 s"},
};

} // namespace testsupport
