#include "service/serviceargs.h"

namespace service {

namespace {

// An option whose value may be "off" (any case): empty then.
std::optional<QString> OffOrValue(const config::TCommandLine &line, const char *option)
{
    if (!line.Has(option))
        return std::nullopt;
    const QString value = line.Value(option).trimmed();
    return value.compare(QLatin1String("off"), Qt::CaseInsensitive) == 0 ? QString() : value;
}

} // namespace

std::optional<QString> MetricsOption(const config::TCommandLine &line)
{
    return OffOrValue(line, "metrics");
}

std::optional<QString> RemoteWriteOption(const config::TCommandLine &line)
{
    return OffOrValue(line, "remote-write");
}

} // namespace service
