#include "app/reportcmd.h"

#include "config/options.h"
#include "config/optionsfile.h"
#include "history/historyreport.h"
#include "history/rfc3339.h"
#include "historyreport/reportfile.h"

#include <QDateTime>
#include <QFile>
#include <QGuiApplication>

#include <clocale>
#include <cstdio>
#include <cstring>
#include <memory>

const char *const ReportUsage =
    "      --report FILE [--from TIME] [--to TIME]\n"
    "                 write a report of the connection history (uptime, outages,\n"
    "                 each day, each target) to FILE, as PDF when it ends in .pdf\n"
    "                 or as HTML when it ends in .html, and exit; TIME as for\n"
    "                 --export; without --from it starts at the first record\n";

namespace {

constexpr int kUsage = 64;

int Usage(const char *what, const char *arg)
{
    std::fprintf(stderr, "idlix: %s%s%s\nUsage: idlix --report FILE.pdf|FILE.html [--from TIME] [--to TIME]\n", what,
                 arg ? " " : "", arg ? arg : "");
    return kUsage;
}

} // namespace

int AnswerReport(int argc, char **argv, int at)
{
    using namespace history;
    // The system's reasons in the user's language, as the report's texts are.
    std::setlocale(LC_ALL, "");
    const char *file = nullptr;
    TRange range{kOpenStart, kOpenEnd};
    for (int i = at + 1; i < argc; ++i) {
        const char *a = argv[i];
        const bool time = std::strcmp(a, "--from") == 0 || std::strcmp(a, "--to") == 0;
        if (time && i + 1 < argc) {
            const std::optional<TUs> t = ParseUserTime(QString::fromLocal8Bit(argv[i + 1]));
            if (!t)
                return Usage("not a time:", argv[i + 1]);
            (a[2] == 'f' ? range.From : range.To) = *t;
            ++i;
        } else if (time) {
            return Usage("missing value for", a);
        } else if (a[0] == '-' && a[1] != '\0') {
            return Usage("unknown option:", a);
        } else if (!file) {
            file = a;
        } else {
            return Usage("unexpected argument:", a);
        }
    }
    if (!file)
        return Usage("--report needs a file", nullptr);
    const QString path = QFile::decodeName(file);
    const std::optional<TReportFormat> format = ReportFormatFor(path);
    if (!format)
        return Usage("the report's file must end in .pdf or .html:", file);
    if (range.To <= range.From)
        return Usage("--to must come after --from", nullptr);

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
