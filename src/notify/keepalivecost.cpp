#include "notify/keepalivecost.h"

#include "session/probechoice.h"

#include <cmath>

namespace notify {

namespace {

// IPv4 header and ICMP header of an echo.
constexpr double kEchoHeaders = 20 + 8;

std::optional<int> Minutes(const config::TAntiIdleOptions &o)
{
    bool ok = false;
    const int minutes = o.Frequency.trimmed().toInt(&ok);
    if (!ok)
        return std::nullopt;
    return config::TAntiIdleOptions::FrequencyRange.Clamp(minutes);
}

} // namespace

double EchoBytesEstimate(const config::TAntiIdleOptions &o)
{
    const double size = o.Checked(config::TAntiIdleOptions::VaryPacketSize)
        ? (session::MinEchoSize + session::MaxEchoSize) / 2.0
        : session::MinEchoSize;
    return 2 * (size + kEchoHeaders);
}

std::optional<double> BytesPerDay(const config::TAntiIdleOptions &o, const TProbeBytes &measured)
{
    const std::optional<int> minutes = Minutes(o);
    if (!minutes)
        return 0.0;
    const double echo = measured.Echo > 0 ? measured.Echo : EchoBytesEstimate(o);
    const double http = measured.Http;
    double perProbe = 0;
    switch (o.Method) {
    case config::TAntiIdleOptions::IcmpPings:
        perProbe = echo;
        break;
    case config::TAntiIdleOptions::HttpGets:
        if (http <= 0)
            return std::nullopt;
        perProbe = http;
        break;
    case config::TAntiIdleOptions::Alternate:
        if (http <= 0)
            return std::nullopt;
        perProbe = (echo + http) / 2;
        break;
    default:
        return 0.0;
    }
    return perProbe * (24.0 * 60 / *minutes);
}

QString RateText(const config::TAntiIdleOptions &o)
{
    QString what;
    switch (o.Method) {
    case config::TAntiIdleOptions::IcmpPings: what = QStringLiteral("one echo"); break;
    case config::TAntiIdleOptions::HttpGets: what = QStringLiteral("one HTTP GET"); break;
    default: what = QStringLiteral("one probe"); break;
    }
    const int minutes = Minutes(o).value_or(1);
    QString text = what + (minutes == 1 ? QStringLiteral(" a minute") : QStringLiteral(" every %1 minutes").arg(minutes));
    if (o.Method == config::TAntiIdleOptions::Alternate)
        text += QStringLiteral(", echoes and HTTP GETs in turn");
    return text;
}

QString AboutBytes(double bytes)
{
    if (!(bytes > 0))
        return QStringLiteral("0 bytes");
    // Rounded to two significant figures first, so 999,999 reads "1.0 MB".
    const double step = std::pow(10.0, std::floor(std::log10(bytes)) - 1);
    const double rounded = std::round(bytes / step) * step;
    struct Unit { double size; const char *name; };
    static const Unit units[] = {{1e9, "GB"}, {1e6, "MB"}, {1e3, "KB"}};
    for (const Unit &u : units) {
        if (rounded >= u.size) {
            const double x = rounded / u.size;
            const QString n = x >= 10 ? QString::number(std::llround(x)) : QString::number(x, 'f', 1);
            return n + QLatin1Char(' ') + QLatin1String(u.name);
        }
    }
    return QStringLiteral("%1 bytes").arg(std::llround(rounded));
}

} // namespace notify
