#include "app/exportcmd.h"

#include "history/historyexport.h"
#include "history/historystore.h"
#include "history/rfc3339.h"

#include <QFile>

#include <clocale>
#include <cstdio>
#include <cstring>

const char *const ExportUsage =
    "      --export probes|outages FILE [--from TIME] [--to TIME] [--format csv|ndjson]\n"
    "                 write the connection history to FILE (- for standard output)\n"
    "                 and exit; TIME is RFC 3339 (2024-05-01T08:00:00Z), a local\n"
    "                 date and time (2024-05-01 08:00) or a date (2024-05-01);\n"
    "                 --from is included, --to is not; CSV unless --format ndjson\n";

namespace {

constexpr int kUsage = 64;

int Usage(const char *what, const char *arg)
{
    std::fprintf(stderr, "idlix: %s%s%s\nUsage: idlix --export probes|outages FILE [--from TIME] [--to TIME] "
                         "[--format csv|ndjson]\n",
                 what, arg ? " " : "", arg ? arg : "");
    return kUsage;
}

} // namespace

int AnswerExport(int argc, char **argv, int at)
{
    using namespace history;
    // The system's reasons (a full disk, a missing folder) in the user's
    // language; the file's numbers are written without the locale.
    std::setlocale(LC_ALL, "");
    const char *kindText = nullptr, *file = nullptr;
    TRange range{0, 1LL << 62};
    TExportFormat format = TExportFormat::Csv;
    for (int i = at + 1; i < argc; ++i) {
        const char *a = argv[i];
        const bool hasValue = i + 1 < argc;
        if ((std::strcmp(a, "--from") == 0 || std::strcmp(a, "--to") == 0) && hasValue) {
            const std::optional<TUs> t = ParseUserTime(QString::fromLocal8Bit(argv[i + 1]));
            if (!t)
                return Usage("not a time:", argv[i + 1]);
            (a[2] == 'f' ? range.From : range.To) = *t;
            ++i;
        } else if (std::strcmp(a, "--format") == 0 && hasValue) {
            const char *f = argv[++i];
            if (std::strcmp(f, "csv") == 0)
                format = TExportFormat::Csv;
            else if (std::strcmp(f, "ndjson") == 0)
                format = TExportFormat::Ndjson;
            else
                return Usage("unknown format:", f);
        } else if (std::strcmp(a, "--from") == 0 || std::strcmp(a, "--to") == 0 || std::strcmp(a, "--format") == 0) {
            return Usage("missing value for", a);
        } else if (a[0] == '-' && a[1] != '\0') {
            return Usage("unknown option:", a);
        } else if (!kindText) {
            kindText = a;
        } else if (!file) {
            file = a;
        } else {
            return Usage("unexpected argument:", a);
        }
    }
    if (!kindText || !file)
        return Usage("--export needs what to export and a file", nullptr);
    TExportKind kind;
    if (std::strcmp(kindText, "probes") == 0)
        kind = TExportKind::Probes;
    else if (std::strcmp(kindText, "outages") == 0)
        kind = TExportKind::Outages;
    else
        return Usage("nothing to export called", kindText);
    if (range.To <= range.From)
        return Usage("--to must come after --from", nullptr);

    THistoryStore store;
    if (!store.Open(THistoryStore::DefaultPath(), THistoryStore::TMode::Read)) {
        std::fprintf(stderr, "idlix: %s\n", qPrintable(store.Problem()));
        return 1;
    }
    QString error;
    if (std::strcmp(file, "-") == 0) {
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
    if (!ExportToFile(store, kind, format, range, QFile::decodeName(file), &error)) {
        std::fprintf(stderr, "idlix: %s\n", qPrintable(error));
        return 1;
    }
    return 0;
}
