#include "service/serviceargs.h"

namespace service {

std::optional<QString> MetricsOption(const config::TCommandLine &line)
{
    if (!line.Has("metrics"))
        return std::nullopt;
    const QString address = line.Value("metrics").trimmed();
    return address.compare(QLatin1String("off"), Qt::CaseInsensitive) == 0 ? QString() : address;
}

} // namespace service
