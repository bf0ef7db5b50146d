// A report's figures as the texts a reader sees, in the reader's locale:
// the head, the summary, the tables and the daily series, in the order the
// document shows them. The PDF and the HTML writer lay out the same
// document, so the two never say different things.
#pragma once

#include "history/historyreport.h"

#include <QLocale>
#include <QString>
#include <QStringList>

#include <optional>
#include <utility>
#include <vector>

namespace historyreport {

// What this folder shows is the history layer's: its types are used unqualified.
using namespace history;

// A row of a table; 'Note' is a line of its own under the row (the route
// at an outage's start).
struct TDocRow {
    QStringList Cells;
    QString Note;
};

struct TDocTable {
    QString Title;
    QStringList Headings;
    int FirstNumber = 1;          // the first column of figures, aligned right
    int Numbers = 0;              // how many columns of figures follow from there
    std::vector<TDocRow> Rows;
    QString IfEmpty;              // said instead of an empty table

    bool Figure(qsizetype column) const { return column >= FirstNumber && column < FirstNumber + Numbers; }
};

// One series of a daily chart: a value per day (empty where the day had none).
struct TDocSeries {
    QString Name;
    std::vector<std::optional<double>> Values;
    unsigned Rgb = 0;             // 0xRRGGBB
    bool Bars = false;            // bars, else a line
};

struct TDocChart {
    QString Title;
    QString Unit;                 // of the values ("min", "%", "ms")
    QStringList DayLabels;        // one per day
    std::vector<TDocSeries> Series;
};

using TDocPairs = std::vector<std::pair<QString, QString>>;

struct TReportDoc {
    QLocale Locale;               // of every text and number, the charts' scales too
    QString Title;
    QString PageSize;             // "A4" or "Letter", the reader's paper
    TDocPairs Head;
    TDocPairs Summary;
    QString EmptyNotice;          // set when nothing was recorded in the period
    std::vector<TDocChart> Charts;
    std::vector<TDocTable> Tables;   // days, outages, targets
    QString Method;               // how the figures were taken
};

// The paper of a locale: Letter in North and Central America and the
// Philippines, A4 elsewhere.
QString PaperFor(const QLocale &locale);

// The report as texts in 'locale', its local times in the process's zone.
TReportDoc MakeReportDoc(const TReport &report, const QLocale &locale = QLocale());

} // namespace historyreport
