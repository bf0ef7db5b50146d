#include "platform/durationtext.h"

#include <QStringList>

#include <algorithm>
#include <utility>

namespace platform {

namespace {

// Two units, the larger first; the smaller is left out when it is zero.
QString TwoUnits(qint64 big, const char *bigUnit, qint64 small, const char *smallUnit)
{
    QString text = QStringLiteral("%1 %2").arg(big).arg(QLatin1String(bigUnit));
    if (small != 0)
        text += QStringLiteral(" %1 %2").arg(small).arg(QLatin1String(smallUnit));
    return text;
}

} // namespace

qint64 RoundedSeconds(qint64 ms)
{
    return std::max<qint64>(0, ms) / 1000 + (std::max<qint64>(0, ms) % 1000 >= 500 ? 1 : 0);
}

QString DurationText(qint64 ms)
{
    const qint64 s = RoundedSeconds(ms);
    if (s < 60)
        return QStringLiteral("%1 s").arg(s);
    if (s < 3600)
        return TwoUnits(s / 60, "min", s % 60, "s");
    if (s < 86400)
        return TwoUnits(s / 3600, "h", s % 3600 / 60, "min");
    return TwoUnits(s / 86400, "d", s % 86400 / 3600, "h");
}

QString FullDurationText(qint64 ms)
{
    const qint64 s = RoundedSeconds(ms);
    if (s == 0)
        return QStringLiteral("0 s");
    const std::pair<qint64, const char *> units[] = {{86400, "d"}, {3600, "h"}, {60, "min"}, {1, "s"}};
    QStringList parts;
    qint64 left = s;
    for (const auto &[size, name] : units) {
        const qint64 n = left / size;
        left %= size;
        if (n > 0 || (!parts.isEmpty() && left + n > 0))
            parts << QStringLiteral("%1 %2").arg(n).arg(QLatin1String(name));
        if (left == 0 && !parts.isEmpty())
            break;
    }
    return parts.join(QLatin1Char(' '));
}

} // namespace platform
