// Page layout of the printed anti-idle report. Positions are printer pixels
// measured from the top-left corner of the printable area, scaled by the
// printer's resolution D (dots per inch) and its quarter Q = D div 4.
#pragma once

#include <QList>
#include <QPainter>
#include <QString>
#include <QStringList>

class QPagedPaintDevice;

namespace antiidle {

// The state of one print job, kept while the report is printed.
struct TReportPrintJob {
    QPagedPaintDevice *Device = nullptr; // printer (or PDF writer) being printed on
    QPainter Canvas;                     // open from the first page head to the end
    int D = 0;                           // horizontal resolution, dots per inch
    int Q = 0;                           // a quarter inch, D div 4
    int Y = 0;                           // current line position from the page top
    int PageNumber = 0;                  // number of the page being printed
    bool NextPage = false;               // the next page head starts a new page
    bool Started = false;                // the document has been started
};

// Starts the document (first call) or a new page (NextPage set), then prints
// the title, the page number and the rule, selects 10 points and sets Y.
// Returns false when the printer refuses to start the document.
bool PrintPageHead(TReportPrintJob &job);

// Prints the whole report: the session time line on page 1, the column
// headings and underscore rule on every page, then one numbered line per row
// (columns 0 to 4 of 'rows'). Returns false with 'error' set when the printer
// cannot be used; the document is always ended.
bool PrintReportPages(QPagedPaintDevice *device, const QString &timeText,
                      const QList<QStringList> &rows, QString *error);

// Draws 'text' with its top-left corner at (x, y), as text output on a printer
// is positioned.
void TextOutAt(QPainter &p, int x, int y, const QString &text);

} // namespace antiidle
