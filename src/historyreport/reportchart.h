// A daily chart of the report laid out as shapes in a box of its own units,
// which the SVG of the HTML and the painter of the PDF draw as vectors: bars
// or lines per day, the value axis with its scale, the legend, some days
// named under the axis.
#pragma once

#include "historyreport/reportdoc.h"

#include <QLocale>
#include <QPointF>
#include <QString>

#include <vector>

namespace historyreport {

// What this folder shows is the history layer's: its types are used unqualified.
using namespace history;

struct TChartShape {
    enum TKind { Rect, Polyline, Text };
    TKind Kind = Rect;
    // Rect: top-left and bottom-right; Polyline: its points; Text: where its
    // baseline starts (Align -1), is centred (0) or ends (1).
    std::vector<QPointF> Points;
    unsigned Rgb = 0;
    double Stroke = 0;           // line width; 0 fills a rectangle
    QString Label;
    int Align = -1;
};

struct TChartDrawing {
    double Width = 0, Height = 0;
    double FontSize = 0;         // of its texts, in its units
    std::vector<TChartShape> Shapes;
};

// The smallest of 1, 2 or 5 times a power of ten at or above v (1 at least).
double NiceCeiling(double v);

// The scale's values are written in 'locale'.
TChartDrawing LayoutChart(const TDocChart &chart, double width, double height, const QLocale &locale);

} // namespace historyreport
