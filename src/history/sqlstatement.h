// The store's prepared statement, shared by the files that implement the
// store. Not for use outside the history layer's store.
#pragma once

#include "history/historystore.h"

#include <sqlite3.h>

#include <optional>

namespace history {

inline QString Text(const unsigned char *p)
{
    return p ? QString::fromUtf8(reinterpret_cast<const char *>(p)) : QString();
}

// A prepared statement, reset and cleared before each use. One that failed
// to prepare (a table of another layout) does nothing: each Step() answers
// with the code the preparation failed with.
class THistoryStore::TStatement {
public:
    TStatement(sqlite3 *db, const char *sql)
    {
        rc_ = sqlite3_prepare_v3(db, sql, -1, SQLITE_PREPARE_PERSISTENT, &st_, nullptr);
        if (!st_ && rc_ == SQLITE_OK)
            rc_ = SQLITE_MISUSE;   // no statement in the text
    }
    ~TStatement() { sqlite3_finalize(st_); }
    bool Ok() const { return st_ != nullptr; }
    int PrepareCode() const { return rc_; }
    TStatement &Reset()
    {
        if (st_) {
            sqlite3_reset(st_);
            sqlite3_clear_bindings(st_);
        }
        next_ = 1;
        return *this;
    }
    // Read to the end or not: the statement lets go of the file (a
    // statement left on a row keeps its read transaction, and with it the
    // write-ahead log, open).
    void Done()
    {
        if (st_)
            sqlite3_reset(st_);
    }
    TStatement &Bind(qint64 v) { if (st_) sqlite3_bind_int64(st_, next_, v); ++next_; return *this; }
    TStatement &BindNull() { if (st_) sqlite3_bind_null(st_, next_); ++next_; return *this; }
    TStatement &Bind(const QString &v)
    {
        if (st_) {
            const QByteArray u = v.toUtf8();
            sqlite3_bind_text(st_, next_, u.constData(), int(u.size()), SQLITE_TRANSIENT);
        }
        ++next_;
        return *this;
    }
    TStatement &Bind(const std::optional<TUs> &v) { return v ? Bind(*v) : BindNull(); }
    // SQLITE_ROW, SQLITE_DONE or an error code.
    int Step() { return st_ ? sqlite3_step(st_) : rc_; }
    qint64 Int(int col) const { return st_ ? sqlite3_column_int64(st_, col) : 0; }
    bool Null(int col) const { return !st_ || sqlite3_column_type(st_, col) == SQLITE_NULL; }
    QString Str(int col) const { return st_ ? Text(sqlite3_column_text(st_, col)) : QString(); }
    std::optional<TUs> OptInt(int col) const { return Null(col) ? std::nullopt : std::optional<TUs>(Int(col)); }
    // Binds column 'col' of the row 'from' is on to this statement's
    // parameter named like the column (":t" for t); nothing without one.
    void BindNamed(const TStatement &from, int col)
    {
        if (!st_ || !from.st_)
            return;
        const QByteArray name = QByteArray(":") + sqlite3_column_name(from.st_, col);
        if (const int index = sqlite3_bind_parameter_index(st_, name.constData()))
            sqlite3_bind_value(st_, index, sqlite3_column_value(from.st_, col));
    }
private:
    sqlite3_stmt *st_ = nullptr;
    int rc_ = SQLITE_OK;
    int next_ = 1;
};

} // namespace history
