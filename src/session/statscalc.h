// Arithmetic of the session statistics: the end-of-session figures of one
// report row and the texts of the counters, kept apart from the window.
#pragma once

#include <QString>
#include <QtGlobal>
#include <optional>

namespace session {

// num / den rounded to the nearest integer, an exact half going to the even
// neighbour (25 / 2 gives 12, 27 / 2 gives 14). den must not be 0.
qint64 DivRoundEven(qint64 num, qint64 den);

// Final figures of one report row.
struct TRowSummary {
    QString Percent; // success share, e.g. "75 %"; "100 %" for a server never probed
    QString Average; // mean time over all counted probes, failed ones included
};

// successes, failures and the summed time of the successes -> the row's figures.
TRowSummary SummariseRow(qint64 successes, qint64 failures, qint64 timeSum);

// A cell's decimal integer, or nothing when the text is not one.
std::optional<qint64> CellInteger(const QString &text);

// "successes/attempts", the text of the counters label.
QString CountsText(int successes, int attempts);

// "hh:mm:ss" with at least two digits each.
QString ElapsedText(int hours, int minutes, int seconds);

} // namespace session
