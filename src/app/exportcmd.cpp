#include "app/exportcmd.h"

#include "app/timerange.h"
#include "config/commandline.h"
#include "history/historyexport.h"
#include "history/historystore.h"

#include <QFile>

#include <clocale>
#include <cstdio>

int AnswerExport(const config::TCommandLine &line)
{
    using namespace history;
    // The system's reasons (a full disk, a missing folder) in the user's
    // language; the file's numbers are written without the locale.
    std::setlocale(LC_ALL, "");
    TRange range{0, 1LL << 62};
    if (int status = 0; !ReadTimeRange(line, range, &status))
        return status;
    TExportFormat format = TExportFormat::Csv;
    if (line.Has("format")) {
        const QString f = line.Value("format");
        if (f == QLatin1String("ndjson"))
            format = TExportFormat::Ndjson;
        else if (f != QLatin1String("csv"))
            return RefuseLine(line, QStringLiteral("unknown format: %1").arg(f));
    }
    if (line.Arguments.size() < 2)
        return RefuseLine(line, QStringLiteral("--export needs what to export and a file"));
    const QString &kindText = line.Arguments[0];
    const QByteArray file = QFile::encodeName(line.Arguments[1]);
    TExportKind kind;
    if (kindText == QLatin1String("probes"))
        kind = TExportKind::Probes;
    else if (kindText == QLatin1String("outages"))
        kind = TExportKind::Outages;
    else
        return RefuseLine(line, QStringLiteral("nothing to export called %1").arg(kindText));

    THistoryStore store;
    if (!store.Open(THistoryStore::DefaultPath(), THistoryStore::TMode::Read)) {
        std::fprintf(stderr, "idlix: %s\n", qPrintable(store.Problem()));
        return 1;
    }
    QString error;
    if (file == "-") {
        bool wrote = true;
        const bool ok = ExportHistory(store, kind, format, range, [&](const QByteArray &piece) {
            wrote = std::fwrite(piece.constData(), 1, size_t(piece.size()), stdout) == size_t(piece.size());
            return wrote;
        }, &error);
        if (std::fflush(stdout) != 0 || !ok) {
            std::fprintf(stderr, "idlix: %s\n", qPrintable(error.isEmpty() ? QStringLiteral("cannot write") : error));
            return 1;
        }
        return 0;
    }
    if (!ExportToFile(store, kind, format, range, line.Arguments[1], &error)) {
        std::fprintf(stderr, "idlix: %s\n", qPrintable(error));
        return 1;
    }
    return 0;
}
