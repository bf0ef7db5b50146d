#include "app/exportcmd.h"

#include "config/commandline.h"
#include "history/historyexport.h"
#include "history/historystore.h"
#include "history/rfc3339.h"

#include <QFile>

#include <clocale>
#include <cstdio>
#include <cstring>

namespace {

int Usage(const config::TCommandLine &line, const QString &what)
{
    config::TCommandLine refused = line;
    refused.Error = what;
    std::fputs(qPrintable(config::RefusalText(refused)), stderr);
    return config::kUsageError;
}

} // namespace

int AnswerExport(const config::TCommandLine &line)
{
    using namespace history;
    // The system's reasons (a full disk, a missing folder) in the user's
    // language; the file's numbers are written without the locale.
    std::setlocale(LC_ALL, "");
    TRange range{0, 1LL << 62};
    for (const char *bound : {"from", "to"}) {
        if (!line.Has(bound))
            continue;
        const std::optional<TUs> t = ParseUserTime(line.Value(bound));
        if (!t)
            return Usage(line, QStringLiteral("not a time: %1").arg(line.Value(bound)));
        (*bound == 'f' ? range.From : range.To) = *t;
    }
    TExportFormat format = TExportFormat::Csv;
    if (line.Has("format")) {
        const QString f = line.Value("format");
        if (f == QLatin1String("ndjson"))
            format = TExportFormat::Ndjson;
        else if (f != QLatin1String("csv"))
            return Usage(line, QStringLiteral("unknown format: %1").arg(f));
    }
    if (line.Arguments.size() < 2)
        return Usage(line, QStringLiteral("--export needs what to export and a file"));
    const QString &kindText = line.Arguments[0];
    const QByteArray file = QFile::encodeName(line.Arguments[1]);
    TExportKind kind;
    if (kindText == QLatin1String("probes"))
        kind = TExportKind::Probes;
    else if (kindText == QLatin1String("outages"))
        kind = TExportKind::Outages;
    else
        return Usage(line, QStringLiteral("nothing to export called %1").arg(kindText));
    if (range.To <= range.From)
        return Usage(line, QStringLiteral("--to must come after --from"));

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
