#include "app/timerange.h"

#include "config/commandline.h"
#include "history/rfc3339.h"

#include <cstdio>

int RefuseLine(const config::TCommandLine &line, const QString &what)
{
    config::TCommandLine refused = line;
    refused.Error = what;
    std::fputs(qPrintable(config::RefusalText(refused)), stderr);
    return config::kUsageError;
}

bool ReadTimeRange(const config::TCommandLine &line, history::TRange &range, int *status)
{
    for (const char *bound : {"from", "to"}) {
        if (!line.Has(bound))
            continue;
        const std::optional<history::TUs> t = history::ParseUserTime(line.Value(bound));
        if (!t) {
            *status = RefuseLine(line, QStringLiteral("not a time: %1").arg(line.Value(bound)));
            return false;
        }
        (*bound == 'f' ? range.From : range.To) = *t;
    }
    if (range.To <= range.From) {
        *status = RefuseLine(line, QStringLiteral("--to must come after --from"));
        return false;
    }
    return true;
}
