// The report printed: the document painted page by page onto any paged
// device (a printer, or a PDF file through Qt's PDF engine), the charts as
// vector shapes and the tables continued on new pages under their headings.
#pragma once

#include "historyreport/reportdoc.h"

#include <QByteArray>
#include <QString>

class QPagedPaintDevice;

namespace historyreport {

// What this folder shows is the history layer's: its types are used unqualified.
using namespace history;

// Paints every page of 'doc' onto 'device' (its page size and margins as
// the caller set them). False with 'error' when the device refuses.
bool PaintReport(QPagedPaintDevice *device, const TReportDoc &doc, QString *error = nullptr);

// The report as PDF bytes on the document's paper; empty with 'error' set
// when it cannot be made. Needs a QGuiApplication (for the fonts), but no
// display: the offscreen platform serves.
QByteArray ReportPdf(const TReportDoc &doc, QString *error = nullptr);

} // namespace historyreport
