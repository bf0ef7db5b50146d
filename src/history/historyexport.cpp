#include "history/historyexport.h"

#include "history/historystore.h"
#include "history/rfc3339.h"
#include "platform/replacefile.h"

#include <QFile>
#include <QJsonDocument>

#include <sys/stat.h>

namespace history {

namespace {

constexpr qsizetype kPiece = 64 * 1024;

void AppendInt(QByteArray &out, qint64 v)
{
    char buf[24];
    int n = 0;
    const bool negative = v < 0;
    quint64 u = negative ? quint64(-(v + 1)) + 1 : quint64(v);
    do {
        buf[n++] = char('0' + u % 10);
        u /= 10;
    } while (u);
    if (negative)
        out.append('-');
    while (n)
        out.append(buf[--n]);
}

// A count of thousandths as whole units with three decimals (milliseconds
// as seconds, microseconds as milliseconds), by integer arithmetic: no
// locale can change the point.
void AppendThousandths(QByteArray &out, qint64 v)
{
    if (v < 0) {
        out.append('-');
        v = -v;
    }
    AppendInt(out, v / 1000);
    out.append('.');
    const int frac = int(v % 1000);
    out.append(char('0' + frac / 100)).append(char('0' + frac / 10 % 10)).append(char('0' + frac % 10));
}

// A CSV field (RFC 4180): quoted when it holds a comma, a quote or a line
// break, with its quotes doubled.
void AppendCsvText(QByteArray &out, const QString &text)
{
    const QByteArray u = text.toUtf8();
    if (!u.contains(',') && !u.contains('"') && !u.contains('\n') && !u.contains('\r')) {
        out.append(u);
        return;
    }
    out.append('"');
    for (char c : u) {
        if (c == '"')
            out.append('"');
        out.append(c);
    }
    out.append('"');
}

void AppendJsonText(QByteArray &out, const QString &text)
{
    static const char hex[] = "0123456789abcdef";
    out.append('"');
    for (char c : text.toUtf8()) {
        const unsigned char u = static_cast<unsigned char>(c);
        switch (c) {
        case '"': out.append("\\\""); break;
        case '\\': out.append("\\\\"); break;
        case '\n': out.append("\\n"); break;
        case '\r': out.append("\\r"); break;
        case '\t': out.append("\\t"); break;
        default:
            if (u < 0x20) {
                out.append("\\u00").append(hex[u >> 4]).append(hex[u & 15]);
            } else {
                out.append(c);
            }
        }
    }
    out.append('"');
}

void AppendJsonTextOrNull(QByteArray &out, const QString &text)
{
    if (text.isEmpty())
        out.append("null");
    else
        AppendJsonText(out, text);
}

// The stored route as it goes out: an array, written compact on one line,
// or null when there is none or the file holds something else there (the
// file is anybody's to edit; the export stays one object a line).
QByteArray RouteJson(const QString &stored)
{
    const QJsonDocument doc = QJsonDocument::fromJson(stored.toUtf8());
    return doc.isArray() ? doc.toJson(QJsonDocument::Compact) : QByteArray("null");
}

void AppendJsonTime(QByteArray &out, TUs at)
{
    out.append('"');
    AppendRfc3339(out, at);
    out.append('"');
}

} // namespace

QByteArray CsvHeader(TExportKind kind)
{
    if (kind == TExportKind::Probes)
        return "time,host,address,method,outcome,ms,bytes_sent,bytes_received,reason\r\n";
    return "start,end,duration_s,lost_probes,first_outcome,reason,hosts,cause,ended_by,verdict,evidence\r\n";
}

void AppendProbe(QByteArray &out, const TProbeRow &p, TExportFormat format)
{
    if (format == TExportFormat::Csv) {
        AppendRfc3339(out, p.At);
        out.append(',');
        AppendCsvText(out, p.Host);
        out.append(',');
        AppendCsvText(out, p.Address);
        out.append(',').append(KindName(p.Kind).toLatin1()).append(',');
        out.append(OutcomeName(p.Outcome).toLatin1()).append(',');
        // The round trip in milliseconds to the microsecond.
        if (p.TimeUs() >= 0)
            AppendThousandths(out, p.TimeUs());
        out.append(',');
        AppendInt(out, p.BytesSent);
        out.append(',');
        AppendInt(out, p.BytesReceived);
        out.append(',');
        AppendCsvText(out, p.Reason);
        out.append("\r\n");
        return;
    }
    out.append("{\"time\":");
    AppendJsonTime(out, p.At);
    out.append(",\"host\":");
    AppendJsonText(out, p.Host);
    out.append(",\"address\":");
    AppendJsonText(out, p.Address);
    out.append(",\"method\":\"").append(KindName(p.Kind).toLatin1());
    out.append("\",\"outcome\":\"").append(OutcomeName(p.Outcome).toLatin1()).append("\",\"ms\":");
    if (p.TimeUs() >= 0)
        AppendThousandths(out, p.TimeUs());
    else
        out.append("null");
    out.append(",\"bytes_sent\":");
    AppendInt(out, p.BytesSent);
    out.append(",\"bytes_received\":");
    AppendInt(out, p.BytesReceived);
    out.append(",\"reason\":");
    if (p.Reason.isEmpty())
        out.append("null");
    else
        AppendJsonText(out, p.Reason);
    out.append("}\n");
}

void AppendOutage(QByteArray &out, const TOutageRow &o, TExportFormat format)
{
    const QString hosts = o.Hosts;
    if (format == TExportFormat::Csv) {
        AppendRfc3339(out, o.Start);
        out.append(',');
        if (o.End)
            AppendRfc3339(out, *o.End);
        out.append(',');
        if (o.End)
            AppendThousandths(out, o.DurationMs);
        out.append(',');
        AppendInt(out, o.ProbesLost);
        out.append(',').append(OutcomeName(o.FirstOutcome).toLatin1()).append(',');
        AppendCsvText(out, o.FirstReason);
        out.append(',');
        AppendCsvText(out, hosts);
        out.append(',');
        AppendCsvText(out, o.Cause);
        out.append(',');
        AppendCsvText(out, o.EndedBy);
        out.append(',');
        AppendCsvText(out, o.Verdict);
        out.append(',');
        AppendCsvText(out, o.Evidence);
        out.append("\r\n");
        return;
    }
    out.append("{\"start\":");
    AppendJsonTime(out, o.Start);
    out.append(",\"end\":");
    if (o.End)
        AppendJsonTime(out, *o.End);
    else
        out.append("null");
    out.append(",\"duration_s\":");
    if (o.End)
        AppendThousandths(out, o.DurationMs);
    else
        out.append("null");
    out.append(",\"lost_probes\":");
    AppendInt(out, o.ProbesLost);
    out.append(",\"first_outcome\":\"").append(OutcomeName(o.FirstOutcome).toLatin1()).append("\",\"reason\":");
    AppendJsonText(out, o.FirstReason);
    out.append(",\"hosts\":[");
    bool first = true;
    for (const QString &h : hosts.split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
        if (!first)
            out.append(',');
        first = false;
        AppendJsonText(out, h);
    }
    out.append("],\"cause\":");
    if (o.Cause.isEmpty())
        out.append("null");
    else
        AppendJsonText(out, o.Cause);
    out.append(",\"ended_by\":");
    AppendJsonTextOrNull(out, o.EndedBy);
    out.append(",\"verdict\":");
    AppendJsonTextOrNull(out, o.Verdict);
    out.append(",\"evidence\":");
    AppendJsonTextOrNull(out, o.Evidence);
    out.append(",\"route\":").append(RouteJson(o.Route));
    out.append("}\n");
}

bool ExportHistory(THistoryStore &store, TExportKind kind, TExportFormat format, const TRange &range,
                   const std::function<bool(const QByteArray &)> &sink, QString *error, qint64 *count)
{
    QByteArray buf;
    buf.reserve(kPiece + 4096);
    if (format == TExportFormat::Csv)
        buf = CsvHeader(kind);
    qint64 n = 0;
    bool sinkFailed = false;
    auto flush = [&](bool force) {
        if (sinkFailed || (!force && buf.size() < kPiece))
            return !sinkFailed;
        if (!buf.isEmpty() && !sink(buf))
            sinkFailed = true;
        buf.clear();
        return !sinkFailed;
    };
    bool read = true;
    if (kind == TExportKind::Probes) {
        read = store.ReadProbes(range, [&](const TProbeRow &p) {
            AppendProbe(buf, p, format);
            ++n;
            return flush(false);
        });
    } else {
        for (const TOutageRow &o : store.Outages(range)) {
            AppendOutage(buf, o, format);
            ++n;
            if (!flush(false))
                break;
        }
        read = store.Problem().isEmpty();
    }
    flush(true);
    if (count)
        *count = n;
    if (!read) {
        if (error)
            *error = store.Problem();
        return false;
    }
    if (sinkFailed) {
        if (error)
            *error = QStringLiteral("the file could not be written");
        return false;
    }
    return true;
}

bool ExportToFile(THistoryStore &store, TExportKind kind, TExportFormat format, const TRange &range,
                  const QString &path, QString *error, qint64 *count)
{
    // The history itself (by any name: a link, another path to the same
    // file) would be replaced by its own export.
    struct stat target {};
    if (::stat(QFile::encodeName(path).constData(), &target) == 0) {
        for (const char *suffix : {"", "-wal", "-shm"}) {
            struct stat own {};
            if (::stat(QFile::encodeName(store.Path() + QLatin1String(suffix)).constData(), &own) == 0
                && own.st_dev == target.st_dev && own.st_ino == target.st_ino) {
                if (error)
                    *error = QStringLiteral("Cannot export to %1: it is the connection history %2 itself")
                                 .arg(path, store.Path() + QLatin1String(suffix));
                return false;
            }
        }
    }
    platform::TFileReplacer file;
    QString reason;
    if (!file.Open(path, platform::TFileAccess::Shared, &reason)) {
        if (error)
            *error = QStringLiteral("Cannot create %1: %2").arg(path, reason);
        return false;
    }
    QString exportError;
    const bool written = ExportHistory(store, kind, format, range,
                                       [&](const QByteArray &piece) { return file.Write(piece); }, &exportError,
                                       count);
    if (!written && !store.Problem().isEmpty()) {
        // The history could not be read: the half-made file goes.
        if (error)
            *error = exportError;
        return false;
    }
    // A write the disk refused is reported here, with the system's reason.
    if (!file.Commit(&reason)) {
        if (error)
            *error = QStringLiteral("Cannot write %1: %2").arg(path, reason);
        return false;
    }
    return true;
}

} // namespace history
