// Small helpers of the history tests: records with chosen values and a
// whole history read back as text lines, so a test compares what it wrote
// with what the file holds.
#pragma once

#include "history/historyexport.h"
#include "history/historystore.h"

#include <QFile>
#include <QStringList>
#include <gtest/gtest.h>
#include <sqlite3.h>

namespace historytest {

inline history::TProbeRow Probe(history::TUs at, const QString &host, int ms,
                                TProbeOutcome outcome = TProbeOutcome::Ok)
{
    history::TProbeRow p;
    p.At = at;
    p.Host = host;
    p.Address = QStringLiteral("127.0.0.1");
    p.Kind = session::TProbeKind::Echo;
    p.Outcome = ms >= 0 ? outcome : (outcome == TProbeOutcome::Ok ? TProbeOutcome::Timeout : outcome);
    p.Ms = ms;
    p.BytesSent = p.BytesReceived = 84;
    if (ms < 0) {
        p.BytesReceived = 0;
        p.Reason = QStringLiteral("Request timed out");
    }
    return p;
}

// Runs statements on the file behind the store's back.
inline void Sql(const QString &path, const char *sql)
{
    sqlite3 *db = nullptr;
    ASSERT_EQ(sqlite3_open(QFile::encodeName(path).constData(), &db), SQLITE_OK);
    char *error = nullptr;
    EXPECT_EQ(sqlite3_exec(db, sql, nullptr, nullptr, &error), SQLITE_OK) << (error ? error : "");
    sqlite3_free(error);
    sqlite3_close(db);
}

// The store's records of a kind as CSV lines without the header.
inline QStringList CsvLines(history::THistoryStore &store, history::TExportKind kind,
                            const history::TRange &range = {0, 1LL << 62})
{
    QByteArray all;
    history::ExportHistory(store, kind, history::TExportFormat::Csv, range,
                           [&](const QByteArray &piece) { all += piece; return true; });
    QStringList lines = QString::fromUtf8(all).split(QStringLiteral("\r\n"), Qt::SkipEmptyParts);
    if (!lines.isEmpty())
        lines.removeFirst();
    return lines;
}

} // namespace historytest
