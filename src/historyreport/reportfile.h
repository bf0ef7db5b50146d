// A report written to a file whose name says its kind (.pdf, .html or
// .htm). The file is replaced whole once the report is made, so a failure
// leaves an earlier one as it was.
#pragma once

#include "history/historyreport.h"

#include <QLocale>
#include <QString>

#include <optional>

namespace historyreport {

// What this folder shows is the history layer's: its types are used unqualified.
using namespace history;

enum class TReportFormat { Pdf, Html };

// The kind a file name asks for; empty for any other name.
std::optional<TReportFormat> ReportFormatFor(const QString &path);

// Writes the report in the locale's texts and paper. False with 'error'
// (the system's reason, in words) when it could not be written.
bool WriteReportFile(const TReport &report, TReportFormat format, const QString &path, QString *error = nullptr,
                     const QLocale &locale = QLocale());

} // namespace historyreport
