#include "service/remotequeue.h"

#include <sqlite3.h>

#include <QFile>

#include <cmath>
#include <limits>

namespace service {

namespace {

// A prepared statement that finalizes itself.
class TStatement {
public:
    TStatement(sqlite3 *db, const char *sql)
    {
        if (db)
            sqlite3_prepare_v2(db, sql, -1, &stmt_, nullptr);
    }
    ~TStatement() { sqlite3_finalize(stmt_); }
    TStatement(const TStatement &) = delete;
    TStatement &operator=(const TStatement &) = delete;
    sqlite3_stmt *operator*() const { return stmt_; }
    explicit operator bool() const { return stmt_ != nullptr; }
    int Step() { return stmt_ ? sqlite3_step(stmt_) : SQLITE_ERROR; }

private:
    sqlite3_stmt *stmt_ = nullptr;
};

constexpr char kSchema[] =
    "CREATE TABLE IF NOT EXISTS series(id INTEGER PRIMARY KEY, labels BLOB UNIQUE NOT NULL);"
    "CREATE TABLE IF NOT EXISTS samples(seq INTEGER PRIMARY KEY AUTOINCREMENT, series INTEGER NOT NULL,"
    " at INTEGER NOT NULL, value REAL);"
    "CREATE INDEX IF NOT EXISTS samples_at ON samples(at);"
    "CREATE TABLE IF NOT EXISTS state(key TEXT PRIMARY KEY, value INTEGER);";

} // namespace

TRemoteQueue::TRemoteQueue(const QString &path)
{
    const QByteArray file = QFile::encodeName(path);
    auto open = [this](const char *name) {
        if (sqlite3_open_v2(name, &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr) != SQLITE_OK) {
            sqlite3_close(db_);
            db_ = nullptr;
            return false;
        }
        sqlite3_busy_timeout(db_, 2000);
        // Synced at each commit: a sample written is one that a power cut keeps.
        return Exec("PRAGMA journal_mode=WAL") && Exec("PRAGMA synchronous=FULL") && Exec(kSchema);
    };
    if (!open(file.constData())) {
        const QString why = db_ ? QString::fromUtf8(sqlite3_errmsg(db_)) : QStringLiteral("cannot open it");
        sqlite3_close(db_);
        db_ = nullptr;
        open(":memory:");
        problem_ = QStringLiteral("Samples for remote write are kept in memory only: %1: %2").arg(path, why);
    }
    TStatement count(db_, "SELECT count(*) FROM samples");
    if (count.Step() == SQLITE_ROW)
        pending_ = sqlite3_column_int64(*count, 0);
}

TRemoteQueue::~TRemoteQueue()
{
    sqlite3_close(db_);
}

bool TRemoteQueue::Exec(const char *sql)
{
    return db_ && sqlite3_exec(db_, sql, nullptr, nullptr, nullptr) == SQLITE_OK;
}

void TRemoteQueue::Fail(const char *what)
{
    problem_ = QStringLiteral("Cannot %1 the samples waiting for remote write: %2")
                   .arg(QLatin1String(what), db_ ? QString::fromUtf8(sqlite3_errmsg(db_)) : QString());
}

qint64 TRemoteQueue::SeriesId(const TLabels &labels)
{
    const std::string key = LabelsKey(labels);
    if (const auto it = ids_.find(key); it != ids_.end())
        return it->second;
    TStatement insert(db_, "INSERT OR IGNORE INTO series(labels) VALUES(?)");
    sqlite3_bind_blob(*insert, 1, key.data(), int(key.size()), SQLITE_TRANSIENT);
    insert.Step();
    TStatement find(db_, "SELECT id FROM series WHERE labels = ?");
    sqlite3_bind_blob(*find, 1, key.data(), int(key.size()), SQLITE_TRANSIENT);
    if (find.Step() != SQLITE_ROW)
        return 0;
    const qint64 id = sqlite3_column_int64(*find, 0);
    ids_[key] = id;
    labels_[id] = labels;
    return id;
}

const TLabels &TRemoteQueue::SeriesLabels(qint64 id)
{
    if (const auto it = labels_.find(id); it != labels_.end())
        return it->second;
    TLabels labels;
    TStatement find(db_, "SELECT labels FROM series WHERE id = ?");
    sqlite3_bind_int64(*find, 1, id);
    if (find.Step() == SQLITE_ROW) {
        const auto *bytes = static_cast<const char *>(sqlite3_column_blob(*find, 0));
        const std::string key(bytes ? bytes : "", size_t(sqlite3_column_bytes(*find, 0)));
        labels = LabelsFromKey(key);
        ids_[key] = id;
    }
    return labels_[id] = std::move(labels);
}

bool TRemoteQueue::Append(qint64 atMs, const std::vector<TSeriesValue> &values)
{
    if (values.empty())
        return true;
    if (!Exec("BEGIN IMMEDIATE")) {
        Fail("keep");
        return false;
    }
    bool ok = true;
    {
        TStatement insert(db_, "INSERT INTO samples(series, at, value) VALUES(?, ?, ?)");
        for (const TSeriesValue &v : values) {
            const qint64 id = SeriesId(v.Labels);
            sqlite3_reset(*insert);
            sqlite3_bind_int64(*insert, 1, id);
            sqlite3_bind_int64(*insert, 2, atMs);
            if (std::isnan(v.Value))
                sqlite3_bind_null(*insert, 3);   // SQLite keeps no NaN
            else
                sqlite3_bind_double(*insert, 3, v.Value);
            if (id == 0 || insert.Step() != SQLITE_DONE) {
                ok = false;
                break;
            }
        }
    }
    if (!ok || !Exec("COMMIT")) {
        Fail("keep");
        Exec("ROLLBACK");
        // The series just added may not be there after the rollback.
        ids_.clear();
        labels_.clear();
        return false;
    }
    pending_ += qint64(values.size());
    problem_.clear();
    return true;
}

TRemoteQueue::TBatch TRemoteQueue::Oldest(int maxSamples)
{
    TBatch batch;
    TStatement read(db_, "SELECT seq, series, at, value FROM samples ORDER BY seq LIMIT ?");
    sqlite3_bind_int(*read, 1, maxSamples);
    std::map<qint64, size_t> where;   // series id -> index in the batch
    while (read.Step() == SQLITE_ROW) {
        batch.LastSeq = sqlite3_column_int64(*read, 0);
        const qint64 id = sqlite3_column_int64(*read, 1);
        const double value = sqlite3_column_type(*read, 3) == SQLITE_NULL
                                 ? std::numeric_limits<double>::quiet_NaN()
                                 : sqlite3_column_double(*read, 3);
        auto [it, added] = where.emplace(id, batch.Series.size());
        if (added)
            batch.Series.push_back({SeriesLabels(id), {}});
        batch.Series[it->second].Samples.push_back({sqlite3_column_int64(*read, 2), value});
        ++batch.Samples;
    }
    return batch;
}

bool TRemoteQueue::Remove(qint64 seq)
{
    TStatement remove(db_, "DELETE FROM samples WHERE seq <= ?");
    sqlite3_bind_int64(*remove, 1, seq);
    if (remove.Step() != SQLITE_DONE) {
        Fail("let go of");
        return false;
    }
    pending_ = std::max<qint64>(0, pending_ - sqlite3_changes(db_));
    return true;
}

qint64 TRemoteQueue::Prune(qint64 beforeMs)
{
    TStatement remove(db_, "DELETE FROM samples WHERE at < ?");
    sqlite3_bind_int64(*remove, 1, beforeMs);
    if (remove.Step() != SQLITE_DONE) {
        Fail("let go of");
        return 0;
    }
    const qint64 gone = sqlite3_changes(db_);
    pending_ = std::max<qint64>(0, pending_ - gone);
    // Series no sample names any more (a target taken off the list).
    if (Exec("DELETE FROM series WHERE id NOT IN (SELECT DISTINCT series FROM samples)") && sqlite3_changes(db_) > 0) {
        ids_.clear();
        labels_.clear();
    }
    return gone;
}

qint64 TRemoteQueue::State(const char *key) const
{
    TStatement read(db_, "SELECT value FROM state WHERE key = ?");
    sqlite3_bind_text(*read, 1, key, -1, SQLITE_STATIC);
    return read.Step() == SQLITE_ROW ? sqlite3_column_int64(*read, 0) : 0;
}

void TRemoteQueue::SetState(const char *key, qint64 value)
{
    TStatement write(db_, "INSERT OR REPLACE INTO state(key, value) VALUES(?, ?)");
    sqlite3_bind_text(*write, 1, key, -1, SQLITE_STATIC);
    sqlite3_bind_int64(*write, 2, value);
    write.Step();
}

} // namespace service
