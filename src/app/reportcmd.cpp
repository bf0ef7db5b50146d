#include "app/reportcmd.h"

#include "app/timerange.h"
#include "config/commandline.h"
#include "config/options.h"
#include "config/optionsfile.h"
#include "history/historyreport.h"
#include "historyreport/reportfile.h"

#include <QDateTime>
#include <QGuiApplication>

#include <clocale>
#include <cstdio>
#include <memory>

int AnswerReport(const config::TCommandLine &line, char **argv)
{
    using namespace history;
    using namespace historyreport;
    // The system's reasons in the user's language, as the report's texts are.
    std::setlocale(LC_ALL, "");
    TRange range{kOpenStart, kOpenEnd};
    if (int status = 0; !ReadTimeRange(line, range, &status))
        return status;
    const QString &path = line.ModeValue;
    const std::optional<TReportFormat> format = ReportFormatFor(path);
    if (!format)
        return RefuseLine(line, QStringLiteral("the report's file must end in .pdf or .html: %1").arg(path));

    THistoryStore store;
    if (!store.Open(THistoryStore::DefaultPath(), THistoryStore::TMode::Read)) {
        std::fprintf(stderr, "idlix: %s\n", qPrintable(store.Problem()));
        return 1;
    }
    config::TOptions options;
    config::LoadOptions(config::SettingsPath(), options);
    TReport report;
    QString error;
    if (!BuildReport(store, range, QDateTime::currentMSecsSinceEpoch() * kUsPerMs, &report, &error)) {
        std::fprintf(stderr, "idlix: %s\n", qPrintable(error));
        return 1;
    }
    report.DownAfter = options.History.DownAfter;
    report.UpAfter = options.History.UpAfter;
    // The PDF's fonts need Qt's GUI application, but never a display.
    std::unique_ptr<QGuiApplication> app;
    int qtArgc = 1;
    char *qtArgv[] = {argv[0], nullptr};
    if (*format == TReportFormat::Pdf) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
        app = std::make_unique<QGuiApplication>(qtArgc, qtArgv);
    }
    if (!WriteReportFile(report, *format, path, &error)) {
        std::fprintf(stderr, "idlix: %s\n", qPrintable(error));
        return 1;
    }
    return 0;
}
