#include "historyreport/reportfile.h"

#include "historyreport/reportdoc.h"
#include "historyreport/reporthtml.h"
#include "historyreport/reportpdf.h"
#include "platform/replacefile.h"

namespace historyreport {

// What this folder shows is the history layer's: its types are used unqualified.
using namespace history;

std::optional<TReportFormat> ReportFormatFor(const QString &path)
{
    const QString name = path.toLower();
    if (name.endsWith(QLatin1String(".pdf")))
        return TReportFormat::Pdf;
    if (name.endsWith(QLatin1String(".html")) || name.endsWith(QLatin1String(".htm")))
        return TReportFormat::Html;
    return std::nullopt;
}

bool WriteReportFile(const TReport &report, TReportFormat format, const QString &path, QString *error,
                     const QLocale &locale)
{
    const TReportDoc doc = MakeReportDoc(report, locale);
    QString why;
    const QByteArray bytes = format == TReportFormat::Pdf ? ReportPdf(doc, &why) : ReportHtml(doc);
    if (bytes.isEmpty()) {
        if (error)
            *error = why;
        return false;
    }
    if (!platform::ReplaceFile(path, bytes, platform::TFileAccess::Shared, &why)) {
        if (error)
            *error = QStringLiteral("Cannot write %1: %2").arg(path, why);
        return false;
    }
    return true;
}

} // namespace historyreport
