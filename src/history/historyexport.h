// The history as CSV or NDJSON for other programs: probes or outages over a
// time range. Every time is RFC 3339 in UTC, every number is written with
// '.' as the decimal point whatever the locale, and a lost probe has an empty
// (CSV) or null (NDJSON) round trip. The columns are listed in the README.
#pragma once

#include "history/historytypes.h"

#include <QByteArray>
#include <QString>

#include <functional>

namespace history {

class THistoryStore;

enum class TExportKind { Probes, Outages };
enum class TExportFormat { Csv, Ndjson };

// The CSV header line of a kind (with its line end).
QByteArray CsvHeader(TExportKind kind);
// One record, line end included.
void AppendProbe(QByteArray &out, const TProbeRow &probe, TExportFormat format);
void AppendOutage(QByteArray &out, const TOutageRow &outage, TExportFormat format);

// Writes the records of the range (outages that overlap it) to 'sink' in
// pieces of about 64 KiB, the CSV header first. The sink returns false when
// it cannot take more. False with 'error' set when the history could not be
// read or the sink refused; 'count' gets the number of records written.
bool ExportHistory(THistoryStore &store, TExportKind kind, TExportFormat format, const TRange &range,
                   const std::function<bool(const QByteArray &)> &sink, QString *error = nullptr,
                   qint64 *count = nullptr);

// The same into a file, which is replaced whole only once every record is
// written (a failure leaves any earlier file as it was).
bool ExportToFile(THistoryStore &store, TExportKind kind, TExportFormat format, const TRange &range,
                  const QString &path, QString *error = nullptr, qint64 *count = nullptr);

} // namespace history
