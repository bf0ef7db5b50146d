#include "historyreport/reporthtml.h"

#include "historyreport/reportchart.h"

namespace historyreport {

// What this folder shows is the history layer's: its types are used unqualified.
using namespace history;

namespace {

QString Esc(const QString &text) { return text.toHtmlEscaped(); }

QString Colour(unsigned rgb) { return QStringLiteral("#%1").arg(rgb & 0xffffff, 6, 16, QLatin1Char('0')); }

QString Num(double v) { return QString::number(v, 'f', 2); }

QString Pairs(const TDocPairs &pairs, const QString &cls)
{
    QString out = QStringLiteral("<table class=\"%1\">\n").arg(cls);
    for (const auto &[key, value] : pairs)
        out += QStringLiteral("<tr><th>%1</th><td>%2</td></tr>\n").arg(Esc(key), Esc(value));
    return out + QStringLiteral("</table>\n");
}

// Figures align right.
QString Align(const TDocTable &t, qsizetype column)
{
    return t.Figure(column) ? QStringLiteral(" class=\"n\"") : QString();
}

QString Table(const TDocTable &t)
{
    QString out = QStringLiteral("<h2>%1</h2>\n").arg(Esc(t.Title));
    if (t.Rows.empty())
        return out + QStringLiteral("<p class=\"none\">%1</p>\n").arg(Esc(t.IfEmpty));
    out += QStringLiteral("<table class=\"grid\">\n<thead><tr>");
    for (int c = 0; c < t.Headings.size(); ++c)
        out += QStringLiteral("<th%1>%2</th>").arg(Align(t, c), Esc(t.Headings[c]));
    out += QStringLiteral("</tr></thead>\n<tbody>\n");
    for (const TDocRow &row : t.Rows) {
        out += QStringLiteral("<tr>");
        for (int c = 0; c < row.Cells.size(); ++c)
            out += QStringLiteral("<td%1>%2</td>").arg(Align(t, c), Esc(row.Cells[c]));
        out += QStringLiteral("</tr>\n");
        if (!row.Note.isEmpty())
            out += QStringLiteral("<tr class=\"note\"><td colspan=\"%1\">%2</td></tr>\n")
                       .arg(row.Cells.size())
                       .arg(Esc(row.Note));
    }
    return out + QStringLiteral("</tbody>\n</table>\n");
}

} // namespace

QString ChartSvg(const TDocChart &chart, const QLocale &locale)
{
    const TChartDrawing d = LayoutChart(chart, 720, 150, locale);
    QString out = QStringLiteral("<svg xmlns=\"http://www.w3.org/2000/svg\" viewBox=\"0 0 %1 %2\" role=\"img\" "
                                 "font-family=\"sans-serif\" font-size=\"%3\"><title>%4</title>\n")
                      .arg(Num(d.Width), Num(d.Height), Num(d.FontSize), Esc(chart.Title));
    for (const TChartShape &s : d.Shapes) {
        switch (s.Kind) {
        case TChartShape::Rect:
            out += QStringLiteral("<rect x=\"%1\" y=\"%2\" width=\"%3\" height=\"%4\" fill=\"%5\"/>\n")
                       .arg(Num(s.Points[0].x()), Num(s.Points[0].y()), Num(s.Points[1].x() - s.Points[0].x()),
                            Num(s.Points[1].y() - s.Points[0].y()), Colour(s.Rgb));
            break;
        case TChartShape::Polyline: {
            QStringList points;
            for (const QPointF &p : s.Points)
                points << Num(p.x()) + QLatin1Char(',') + Num(p.y());
            out += QStringLiteral("<polyline points=\"%1\" fill=\"none\" stroke=\"%2\" stroke-width=\"%3\"/>\n")
                       .arg(points.join(QLatin1Char(' ')), Colour(s.Rgb), Num(s.Stroke));
            break;
        }
        case TChartShape::Text: {
            const char *anchor = s.Align < 0 ? "start" : s.Align > 0 ? "end" : "middle";
            out += QStringLiteral("<text x=\"%1\" y=\"%2\" fill=\"%3\" text-anchor=\"%4\">%5</text>\n")
                       .arg(Num(s.Points[0].x()), Num(s.Points[0].y()), Colour(s.Rgb), QLatin1String(anchor),
                            Esc(s.Label));
            break;
        }
        }
    }
    return out + QStringLiteral("</svg>\n");
}

QByteArray ReportHtml(const TReportDoc &doc)
{
    QString out = QStringLiteral("<!DOCTYPE html>\n<html>\n<head>\n<meta charset=\"utf-8\"/>\n<title>%1</title>\n")
                      .arg(Esc(doc.Title));
    out += QStringLiteral(
               "<style>\n"
               "@page { size: %1; margin: 15mm; }\n"
               "body { font-family: sans-serif; font-size: 10pt; color: #202020; max-width: 60em; margin: 1em auto; }\n"
               "h1 { font-size: 16pt; margin: 0 0 .5em; } h2 { font-size: 12pt; margin: 1.2em 0 .4em; }\n"
               "table { border-collapse: collapse; } th, td { padding: 2px 6px; vertical-align: top; }\n"
               "table.pairs th { text-align: left; font-weight: normal; color: #555; }\n"
               "table.grid { width: 100%; } table.grid th { border-bottom: 1px solid #888; text-align: left; }\n"
               "table.grid td { border-bottom: 1px solid #ddd; } .n { text-align: right; }\n"
               "tr.note td { color: #555; font-size: 9pt; padding-left: 2em; }\n"
               "tr, svg, .chart { page-break-inside: avoid; break-inside: avoid; }\n"
               "thead { display: table-header-group; }\n"
               "svg { width: 100%; height: auto; display: block; margin-bottom: .6em; }\n"
               "p.empty { font-weight: bold; color: #b00000; } p.none, p.method { color: #444; }\n"
               "</style>\n</head>\n<body>\n")
               .arg(doc.PageSize == QLatin1String("Letter") ? QStringLiteral("letter") : QStringLiteral("A4"));
    out += QStringLiteral("<h1>%1</h1>\n").arg(Esc(doc.Title));
    out += Pairs(doc.Head, QStringLiteral("pairs"));
    if (!doc.EmptyNotice.isEmpty())
        out += QStringLiteral("<p class=\"empty\">%1</p>\n").arg(Esc(doc.EmptyNotice));
    out += QStringLiteral("<h2>Summary</h2>\n") + Pairs(doc.Summary, QStringLiteral("pairs"));
    if (!doc.Tables.empty() && !doc.Tables.front().Rows.empty()) {
        out += QStringLiteral("<h2>Each day</h2>\n");
        for (const TDocChart &c : doc.Charts)
            out += QStringLiteral("<div class=\"chart\">\n") + ChartSvg(c, doc.Locale) + QStringLiteral("</div>\n");
    }
    for (const TDocTable &t : doc.Tables)
        out += Table(t);
    out += QStringLiteral("<p class=\"method\">%1</p>\n</body>\n</html>\n").arg(Esc(doc.Method));
    return out.toUtf8();
}

} // namespace historyreport
