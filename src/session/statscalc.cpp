#include "session/statscalc.h"

namespace session {

qint64 DivRoundEven(qint64 num, qint64 den)
{
    if (den < 0) {
        num = -num;
        den = -den;
    }
    // Floor division, then compare twice the remainder with the divisor.
    qint64 q = num / den;
    qint64 r = num % den;
    if (r < 0) {
        --q;
        r += den;
    }
    const qint64 twice = 2 * r;
    if (twice > den || (twice == den && (q % 2) != 0))
        ++q;
    return q;
}

TRowSummary SummariseRow(qint64 successes, qint64 failures, qint64 timeSum)
{
    const qint64 n = successes + failures;
    if (n == 0)
        return {QStringLiteral("100 %"), QStringLiteral("0")};
    return {QString::number(DivRoundEven(successes * 100, n)) + QStringLiteral(" %"),
            QString::number(DivRoundEven(timeSum, n))};
}

std::optional<qint64> CellInteger(const QString &text)
{
    bool ok = false;
    const qint64 v = text.trimmed().toLongLong(&ok);
    if (!ok)
        return std::nullopt;
    return v;
}

QString CountsText(int successes, int attempts)
{
    return QString::number(successes) + QLatin1Char('/') + QString::number(attempts);
}

QString ElapsedText(int hours, int minutes, int seconds)
{
    auto two = [](int v) { return QStringLiteral("%1").arg(v, 2, 10, QLatin1Char('0')); };
    return two(hours) + QLatin1Char(':') + two(minutes) + QLatin1Char(':') + two(seconds);
}

} // namespace session
