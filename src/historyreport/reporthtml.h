// The report as one self-contained HTML file: the charts as inline SVG,
// the style in the head, no script and nothing fetched from elsewhere, laid
// out to print on the reader's paper from any browser.
#pragma once

#include "historyreport/reportdoc.h"

#include <QByteArray>

namespace historyreport {

// What this folder shows is the history layer's: its types are used unqualified.
using namespace history;

// UTF-8 bytes of the whole page; every text of the document is escaped.
QByteArray ReportHtml(const TReportDoc &doc);

// A chart as an SVG element (for the page above).
QString ChartSvg(const TDocChart &chart, const QLocale &locale);

} // namespace historyreport
