#include "history/historystore.h"
#include "history/sqlstatement.h"

#include "platform/appdir.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QFile>
#include <QFileInfo>

#include <sqlite3.h>

#include <map>

namespace history {

namespace {

// Version of the layout below; a file of a later version is left alone.
// 2: idle_timers added (a file of version 1 gains the table when opened
// for writing; nothing of version 1 changes).
// 3: probes.us, the round trip in microseconds beside the whole ms (a file
// of an earlier version gains the column, empty for its old rows, when
// opened for writing; read as it is, it has no microseconds to give).
// 4: hours and days, summaries of the probes kept by triggers as probes
// are written (a file of an earlier version gains the tables, filled from
// its probes, when opened for writing; read as it is, its figures come from
// the probes themselves).
// 5: outages.verdict, evidence and route: why the line was down, as the
// diagnosis found, and the route at the outage's start (gained, empty, like
// probes.us).
constexpr int kSchemaVersion = 5;

// Times are INTEGER microseconds (UTC). A probe's time is its key: probes
// are stored in time order without a separate index, and a range of days is
// one walk along the table. Hosts and addresses are kept once each.
const char *const kSchema[] = {
    "CREATE TABLE IF NOT EXISTS targets(id INTEGER PRIMARY KEY, host TEXT NOT NULL,"
    " address TEXT NOT NULL, UNIQUE(host, address))",
    "CREATE TABLE IF NOT EXISTS sessions(id INTEGER PRIMARY KEY, start INTEGER NOT NULL, end INTEGER,"
    " interval_ms INTEGER NOT NULL, method INTEGER NOT NULL, cycle INTEGER NOT NULL, owner TEXT)",
    "CREATE TABLE IF NOT EXISTS probes(t INTEGER PRIMARY KEY, target INTEGER NOT NULL,"
    " kind INTEGER NOT NULL, outcome INTEGER NOT NULL, ms INTEGER, sent INTEGER NOT NULL,"
    " received INTEGER NOT NULL, reason TEXT, session INTEGER NOT NULL, us INTEGER)",
    "CREATE TABLE IF NOT EXISTS gaps(id INTEGER PRIMARY KEY, session INTEGER NOT NULL,"
    " start INTEGER NOT NULL, end INTEGER, kind TEXT NOT NULL)",
    "CREATE TABLE IF NOT EXISTS outages(id INTEGER PRIMARY KEY, session INTEGER NOT NULL,"
    " start INTEGER NOT NULL, end INTEGER, duration_ms INTEGER, lost INTEGER NOT NULL,"
     " first_outcome INTEGER NOT NULL, first_reason TEXT, hosts TEXT, cause TEXT, ended_by TEXT,"
    " verdict TEXT, evidence TEXT, route TEXT)",
    "CREATE TABLE IF NOT EXISTS idle_timers(id INTEGER PRIMARY KEY, t INTEGER NOT NULL, kind TEXT NOT NULL,"
    " network TEXT NOT NULL, verdict TEXT NOT NULL, seconds INTEGER, alive INTEGER, gone INTEGER,"
    " trials TEXT NOT NULL, bytes INTEGER NOT NULL, elapsed_ms INTEGER NOT NULL)",
    // What the History window and the report would otherwise add up probe
    // by probe (see historyhours.cpp): per UTC hour, the bytes and the
    // timeline's figures of every probe; per UTC day, host and kind, the
    // line's figures.
    "CREATE TABLE IF NOT EXISTS hours(hour INTEGER PRIMARY KEY,"
    " probes INTEGER NOT NULL DEFAULT 0, sent INTEGER NOT NULL DEFAULT 0, received INTEGER NOT NULL DEFAULT 0,"
    " skipped INTEGER NOT NULL DEFAULT 0, saved INTEGER NOT NULL DEFAULT 0,"
    " answered INTEGER NOT NULL DEFAULT 0, lost INTEGER NOT NULL DEFAULT 0, min_ms INTEGER, max_ms INTEGER)",
    "CREATE TABLE IF NOT EXISTS days(day INTEGER NOT NULL, host TEXT NOT NULL, kind INTEGER NOT NULL,"
    " counted INTEGER NOT NULL DEFAULT 0, lost INTEGER NOT NULL DEFAULT 0, sum_us INTEGER NOT NULL DEFAULT 0,"
    " min_us INTEGER, max_us INTEGER, first_us INTEGER, last_us INTEGER,"
    " jitter_us INTEGER NOT NULL DEFAULT 0, jitter_n INTEGER NOT NULL DEFAULT 0,"
    " PRIMARY KEY(day, host, kind)) WITHOUT ROWID",
    "CREATE INDEX IF NOT EXISTS sessions_start ON sessions(start)",
    "CREATE INDEX IF NOT EXISTS gaps_start ON gaps(start)",
    "CREATE INDEX IF NOT EXISTS outages_start ON outages(start)",
};

// Columns a later version appended to a table of an earlier one: a file of
// an earlier version lacks them and is still ours.
struct TAddedColumn {
    const char *table;
    const char *column;
    const char *definition;
    int since;  // the layout version that added it
};
constexpr TAddedColumn kAddedColumns[] = {
    {"probes", "us", "us INTEGER", 3},
    {"outages", "verdict", "verdict TEXT", 5},
    {"outages", "evidence", "evidence TEXT", 5},
    {"outages", "route", "route TEXT", 5},
};

// The tables of a file and their columns, by name; "sqlite_..." tables of
// SQLite's own are not counted. An SQLite code when they cannot be read.
using TLayout = std::map<QString, QStringList>;

int ReadLayout(sqlite3 *db, TLayout &out)
{
    sqlite3_stmt *tables = nullptr;
    int rc = sqlite3_prepare_v2(db, "SELECT name FROM sqlite_master WHERE type = 'table'"
                                    " AND name NOT LIKE 'sqlite\\_%' ESCAPE '\\'", -1, &tables, nullptr);
    QStringList names;
    while (tables && (rc = sqlite3_step(tables)) == SQLITE_ROW)
        names << QString::fromUtf8(reinterpret_cast<const char *>(sqlite3_column_text(tables, 0)));
    sqlite3_finalize(tables);
    if (rc != SQLITE_DONE)
        return rc;
    for (const QString &name : names) {
        sqlite3_stmt *info = nullptr;
        const QByteArray sql = "PRAGMA table_info(\"" + name.toUtf8().replace('"', "\"\"") + "\")";
        rc = sqlite3_prepare_v2(db, sql.constData(), -1, &info, nullptr);
        QStringList &columns = out[name];
        while (info && (rc = sqlite3_step(info)) == SQLITE_ROW)
            columns << QString::fromUtf8(reinterpret_cast<const char *>(sqlite3_column_text(info, 1)));
        sqlite3_finalize(info);
        if (rc != SQLITE_DONE)
            return rc;
    }
    return SQLITE_OK;
}

// The layout kSchema makes, read from a history made in memory.
const TLayout &OurLayout()
{
    static const TLayout layout = [] {
        TLayout made;
        sqlite3 *db = nullptr;
        if (sqlite3_open_v2(":memory:", &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr) == SQLITE_OK) {
            for (const char *sql : kSchema)
                sqlite3_exec(db, sql, nullptr, nullptr, nullptr);
            ReadLayout(db, made);
        }
        sqlite3_close(db);
        return made;
    }();
    return layout;
}

// How long a write waits for another program's lock: at first, and when
// records that wait are tried again.
constexpr int kBusyMs = 1000;
constexpr int kRetryBusyMs = 100;

bool Damaged(int code)
{
    const int primary = code & 0xff;
    return primary == SQLITE_CORRUPT || primary == SQLITE_NOTADB;
}

// Who writes: this boot of the machine and this process. A session left open
// by an owner that is gone was cut short by a kill or a crash.
QString BootId()
{
    QFile f(QStringLiteral("/proc/sys/kernel/random/boot_id"));
    if (!f.open(QIODevice::ReadOnly))
        return QString();
    return QString::fromLatin1(f.read(64)).trimmed();
}

QString OwnerId()
{
    return BootId() + QLatin1Char(':') + QString::number(QCoreApplication::applicationPid());
}

bool OwnerAlive(const QString &owner)
{
    const int colon = owner.lastIndexOf(QLatin1Char(':'));
    if (colon < 0 || owner.left(colon) != BootId())
        return false;
    const QString pid = owner.mid(colon + 1);
    if (pid == QString::number(QCoreApplication::applicationPid()))
        return false;   // an earlier process of ours with the same number: not us now
    return QFileInfo::exists(QStringLiteral("/proc/") + pid);
}

} // namespace


QString THistoryStore::Problem() const
{
    if (waiting_.empty())
        return problem_;
    QString text = problem_ + QStringLiteral(" (%1 records wait to be written").arg(waiting_.size());
    if (dropped_ > 0)
        text += QStringLiteral(", %1 more could not be kept").arg(dropped_);
    return text + QLatin1Char(')');
}

void THistoryStore::AddNotice(const QString &notice)
{
    notices_ << notice;
    emit ProblemChanged();
}

QString THistoryStore::DefaultPath()
{
    return platform::DataFile(QLatin1String(kFileName));
}

THistoryStore::THistoryStore(QObject *parent) : QObject(parent)
{
    retry_ = new QTimer(this);
    retry_->setObjectName(QStringLiteral("HistoryRetryTimer"));
    retry_->setSingleShot(true);
    connect(retry_, &QTimer::timeout, this, &THistoryStore::WriteWaiting);
}

THistoryStore::~THistoryStore()
{
    Close();
}

void THistoryStore::Close()
{
    // A last try for what waits (the end of a session written as the
    // program goes).
    if (db_ && !waiting_.empty() && batchDepth_ == 0)
        WriteWaiting();
    waiting_.clear();
    standIns_.clear();
    retry_->stop();
    CloseFile();
}

void THistoryStore::CloseFile()
{
    statements_.clear();
    targets_.clear();
    targetNames_.clear();
    if (db_)
        sqlite3_close(db_);
    db_ = nullptr;
    batchDepth_ = 0;
}

bool THistoryStore::Open(const QString &path, TMode mode)
{
    Close();
    path_ = path;
    mode_ = mode;
    notices_.clear();
    problem_.clear();
    if (mode == TMode::Read && !QFileInfo(path).isFile()) {
        problem_ = QStringLiteral("There is no connection history at %1.").arg(path);
        return false;
    }
    const int flags = SQLITE_OPEN_READWRITE | (mode == TMode::Write ? SQLITE_OPEN_CREATE : 0)
        | SQLITE_OPEN_NOMUTEX;
    const int rc = sqlite3_open_v2(QFile::encodeName(path).constData(), &db_, flags, nullptr);
    if (rc != SQLITE_OK) {
        problem_ = QStringLiteral("Cannot open the connection history %1: %2")
                       .arg(path, db_ ? QString::fromUtf8(sqlite3_errmsg(db_)) : QString::fromUtf8(sqlite3_errstr(rc)));
        Close();
        return false;
    }
    if (Configure(mode))
        return true;
    if (mode == TMode::Write && !problem_.isEmpty() && SetAside(problem_))
        return Configure(mode);
    Close();
    return false;
}

bool THistoryStore::Configure(TMode mode)
{
    // A write that meets another program's lock waits this long, then is
    // kept for later: the probes never wait longer for the file.
    sqlite3_busy_timeout(db_, kBusyMs);
    sqlite3_extended_result_codes(db_, 1);
    // The first statement reads the file's header: a file that is no
    // database fails here.
    int version = -1;
    {
        TStatement st(db_, "PRAGMA user_version");
        if (st.Ok() && st.Step() == SQLITE_ROW)
            version = int(st.Int(0));
        if (version < 0) {
            const int code = sqlite3_extended_errcode(db_);
            problem_ = QString::fromUtf8(sqlite3_errmsg(db_));
            if (Damaged(code))
                problem_ = QStringLiteral("damaged: ") + problem_;
            return false;
        }
    }
    if (version > kSchemaVersion) {
        problem_ = QStringLiteral("The connection history %1 was written by a newer Idlix; it is left as it is.")
                       .arg(path_);
        CloseFile();
        return false;
    }
    // A file of other tables (another program's database, or ours with a
    // table changed by hand) is never altered: the statements below could
    // not work on it, and its owner may still want it.
    {
        TLayout layout;
        const int rc = ReadLayout(db_, layout);
        if (rc != SQLITE_OK) {
            problem_ = QString::fromUtf8(sqlite3_errmsg(db_));
            if (Damaged(rc))
                problem_ = QStringLiteral("damaged: ") + problem_;
            return false;
        }
        // (A table of ours that is missing is one a later version added:
        // the file gains it when opened for writing.)
        QStringList differ;
        bool ours = false;
        hoursMissing_ = layout.find(QStringLiteral("hours")) == layout.end()
            || layout.find(QStringLiteral("days")) == layout.end();
        missingColumns_.clear();
        for (const auto &[table, columns] : OurLayout()) {
            const auto it = layout.find(table);
            QStringList expected = columns;
            // (A write stopped between adding a column and the version
            // leaves the column with the old version: that file is ours too.)
            for (const TAddedColumn &added : kAddedColumns) {
                const QLatin1String column(added.column);
                if (version < added.since && table == QLatin1String(added.table) && it != layout.end()
                    && !it->second.contains(column)) {
                    expected.removeAll(column);
                    missingColumns_ << column;
                }
            }
            if (it != layout.end() && it->second != expected)
                differ << table;
            ours = ours || it != layout.end();
        }
        if (!differ.isEmpty() || (!ours && !layout.empty())) {
            const QString why = differ.isEmpty()
                ? QStringLiteral("its tables are another program's")
                : QStringLiteral("its tables %1 have other columns").arg(differ.join(QStringLiteral(", ")));
            problem_ = QStringLiteral("The file %1 is not a connection history of this program (%2); it is left "
                                      "as it is.")
                           .arg(path_, why);
            return false;
        }
        if (layout.empty() && mode == TMode::Read) {
            problem_ = QStringLiteral("The connection history %1 holds no records yet.").arg(path_);
            return false;
        }
    }
    if (mode == TMode::Write) {
        // Space of pruned days is given back to the system bit by bit.
        if (version == 0)
            Exec("PRAGMA auto_vacuum=INCREMENTAL");
        if (!Exec("PRAGMA journal_mode=WAL") || !Exec("PRAGMA synchronous=FULL"))
            return false;
    }
    // A damaged page is found now rather than when a write reaches it.
    {
        TStatement st(db_, "PRAGMA quick_check(1)");
        const int step = st.Ok() ? st.Step() : sqlite3_extended_errcode(db_);
        if (step != SQLITE_ROW || st.Str(0) != QLatin1String("ok")) {
            // The check's text may run over several lines: one line here.
            problem_ = step == SQLITE_ROW ? st.Str(0).simplified() : QString::fromUtf8(sqlite3_errmsg(db_));
            if (step == SQLITE_ROW || Damaged(step))
                problem_ = QStringLiteral("damaged: ") + problem_;
            return false;
        }
    }
    if (mode == TMode::Write) {
        if (!CreateSchema() || !KeepHours())
            return false;
        Repair();
    }
    problem_.clear();
    return true;
}

bool THistoryStore::CreateSchema()
{
    for (const char *sql : kSchema) {
        if (!Exec(sql))
            return false;
    }
    for (const TAddedColumn &added : kAddedColumns) {
        if (!missingColumns_.contains(QLatin1String(added.column)))
            continue;
        const QByteArray sql = QByteArray("ALTER TABLE ") + added.table + " ADD COLUMN " + added.definition;
        if (!Exec(sql.constData()))
            return false;
        missingColumns_.removeAll(QLatin1String(added.column));
    }
    return Exec(QStringLiteral("PRAGMA user_version=%1").arg(kSchemaVersion).toLatin1().constData());
}

bool THistoryStore::Exec(const char *sql)
{
    char *error = nullptr;
    const int rc = sqlite3_exec(db_, sql, nullptr, nullptr, &error);
    if (rc != SQLITE_OK) {
        problem_ = QString::fromUtf8(error ? error : sqlite3_errstr(rc));
        if (Damaged(rc))
            problem_ = QStringLiteral("damaged: ") + problem_;
    }
    sqlite3_free(error);
    return rc == SQLITE_OK;
}

bool THistoryStore::SetAside(const QString &why)
{
    if (!why.startsWith(QLatin1String("damaged")))
        return false;
    CloseFile();
    // A history reached through a symbolic link: the file it points to is
    // set aside, and the link stays for the new one.
    const QFileInfo link(path_);
    const QString file = link.isSymLink() ? link.symLinkTarget() : path_;
    const QString stamp = QDateTime::currentDateTimeUtc().toString(QStringLiteral("yyyyMMdd-HHmmss"));
    QString aside = file + QStringLiteral(".damaged-") + stamp;
    for (int n = 2; QFileInfo::exists(aside); ++n)
        aside = file + QStringLiteral(".damaged-") + stamp + QLatin1Char('-') + QString::number(n);
    if (!QFile::rename(file, aside)) {
        problem_ = QStringLiteral("The connection history %1 is damaged and cannot be set aside.").arg(path_);
        return false;
    }
    // The write-ahead log goes with it (it may hold the last records); the
    // shared-memory index is rebuilt from it by whoever opens it.
    QFile::rename(file + QStringLiteral("-wal"), aside + QStringLiteral("-wal"));
    QFile::remove(file + QStringLiteral("-shm"));
    const QString notice = QStringLiteral("The connection history %1 was damaged (%2). It has been set aside as %3, "
                                          "and a new history starts now.")
                               .arg(path_, why, aside);
    const int flags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX;
    if (sqlite3_open_v2(QFile::encodeName(path_).constData(), &db_, flags, nullptr) != SQLITE_OK) {
        problem_ = QStringLiteral("Cannot create the connection history %1: %2")
                       .arg(path_, QString::fromUtf8(sqlite3_errmsg(db_)));
        CloseFile();
        notices_ << notice;
        return false;
    }
    notices_ << notice;
    emit ProblemChanged();
    return true;
}

void THistoryStore::Repair()
{
    // Sessions whose writer is gone end at the last moment they recorded;
    // their pauses and an outage still open end there too, unseen how.
    struct TOpen { qint64 Id; TUs Start; QString Owner; };
    std::vector<TOpen> open;
    {
        TStatement st(db_, "SELECT id, start, owner FROM sessions WHERE end IS NULL");
        while (st.Ok() && st.Step() == SQLITE_ROW)
            open.push_back({st.Int(0), st.Int(1), st.Str(2)});
    }
    if (open.empty())
        return;
    TBatch batch(*this);
    for (const TOpen &s : open) {
        if (OwnerAlive(s.Owner))
            continue;
        TUs last = s.Start;
        TStatement lastProbe(db_, "SELECT max(t) FROM probes WHERE t >= ?1 AND session = ?2");
        lastProbe.Reset().Bind(s.Start).Bind(s.Id);
        if (lastProbe.Step() == SQLITE_ROW && !lastProbe.Null(0))
            last = std::max(last, lastProbe.Int(0));
        TStatement lastGap(db_, "SELECT max(start) FROM gaps WHERE session = ?1");
        lastGap.Reset().Bind(s.Id);
        if (lastGap.Step() == SQLITE_ROW && !lastGap.Null(0))
            last = std::max(last, lastGap.Int(0));

        TStatement outage(db_,
            "UPDATE outages SET end = max(start, ?1), duration_ms = (max(start, ?1) - start) / 1000,"
            " ended_by = ?2, lost = (SELECT count(*) FROM probes WHERE t >= outages.start AND t <= ?1"
            " AND session = ?3 AND outcome NOT IN (0, 7, 9)) WHERE session = ?3 AND end IS NULL");
        outage.Reset().Bind(last).Bind(kNotMonitored).Bind(s.Id).Step();
        TStatement gaps(db_, "UPDATE gaps SET end = max(start, ?1) WHERE session = ?2 AND end IS NULL");
        gaps.Reset().Bind(last).Bind(s.Id).Step();
        TStatement session(db_, "UPDATE sessions SET end = ?1 WHERE id = ?2");
        session.Reset().Bind(last).Bind(s.Id).Step();
    }
}

THistoryStore::TStatement &THistoryStore::Prepared(const char *sql)
{
    for (auto &[text, st] : statements_) {
        if (text == sql)
            return st->Reset();
    }
    statements_.emplace_back(sql, std::make_unique<TStatement>(db_, sql));
    return statements_.back().second->Reset();
}

void THistoryStore::Fail(const QString &what)
{
    const QString text = QStringLiteral("%1 in %2: %3").arg(what, path_, QString::fromUtf8(sqlite3_errmsg(db_)));
    if (text != problem_) {
        problem_ = text;
        emit ProblemChanged();
    }
}

void THistoryStore::Succeeded()
{
    if (!problem_.isEmpty()) {
        problem_.clear();
        emit ProblemChanged();
    }
    if (batchDepth_ > 0)
        changedInBatch_ = true;
    else
        emit Changed();
}

void THistoryStore::WriteFailed(int code, const QString &what)
{
    Fail(what);
    // A file found damaged while the program writes is set aside now: the
    // records that follow go to a new file instead of failing one by one.
    if (Damaged(code) && batchDepth_ == 0 && mode_ == TMode::Write) {
        const QString why = QStringLiteral("damaged: ") + QString::fromUtf8(sqlite3_errstr(code));
        if (SetAside(why))
            Configure(TMode::Write);
    }
}

namespace {

// The file refuses writes for now, and will take them later: another
// program holds its lock, the disk or the quota is full, the folder was
// made read-only or the disk went away for a while.
bool Passing(int code)
{
    switch (code & 0xff) {
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
    case SQLITE_FULL:
    case SQLITE_IOERR:
    case SQLITE_READONLY:
    case SQLITE_CANTOPEN:
    case SQLITE_PROTOCOL:
        return true;
    default:
        return false;
    }
}

} // namespace

qint64 THistoryStore::Write(const QString &what, TWrite write)
{
    if (!db_ || mode_ != TMode::Write)
        return 0;
    // Records go in the order they came: none overtakes one that waits
    // (the timer tries those again; a probe does not wait for them).
    if (waiting_.empty()) {
        qint64 id = 0;
        const int rc = write(id);
        if (rc == SQLITE_DONE) {
            Succeeded();
            return id;
        }
        if (!Passing(rc) || batchDepth_ > 0) {
            WriteFailed(rc, what);
            return 0;
        }
        Fail(what);
    }
    if (int(waiting_.size()) >= kMaxWaiting) {
        ++dropped_;
        return 0;
    }
    if (waiting_.empty())
        dropped_ = 0;
    waiting_.push_back({what, std::move(write), nextStandIn_--});
    emit ProblemChanged();
    if (!retry_->isActive())
        retry_->start(RetryMs);
    return waiting_.back().StandIn;
}

void THistoryStore::WriteWaiting()
{
    bool wrote = false;
    while (!waiting_.empty() && db_) {
        TWaiting &w = waiting_.front();
        qint64 id = 0;
        // A lock still held is not waited for long: the next try comes soon.
        sqlite3_busy_timeout(db_, kRetryBusyMs);
        const int rc = w.Write(id);
        sqlite3_busy_timeout(db_, kBusyMs);
        if (rc != SQLITE_DONE && Passing(rc)) {
            Fail(w.What);
            if (!retry_->isActive())
                retry_->start(RetryMs);
            return;
        }
        if (rc == SQLITE_DONE) {
            standIns_.insert(w.StandIn, id);
            wrote = true;
        } else {
            // Never to be written (the file was changed under the program).
            ++dropped_;
            WriteFailed(rc, w.What);
        }
        waiting_.pop_front();
    }
    retry_->stop();
    if (wrote)
        Succeeded();
    emit ProblemChanged();
}

qint64 THistoryStore::RealId(qint64 id) const
{
    return id < 0 ? standIns_.value(id, 0) : id;
}

THistoryStore::TBatch::TBatch(THistoryStore &store) : store_(store)
{
    if (store_.db_ && store_.batchDepth_++ == 0) {
        store_.changedInBatch_ = false;
        store_.Exec("BEGIN IMMEDIATE");
    }
}

THistoryStore::TBatch::~TBatch()
{
    if (!store_.db_ || store_.batchDepth_ == 0 || --store_.batchDepth_ > 0)
        return;
    store_.Exec("COMMIT");
    if (store_.changedInBatch_)
        emit store_.Changed();
}

qint64 THistoryStore::BeginSession(TUs at, int intervalMs, int method, bool cycle)
{
    const QString owner = OwnerId();
    return Write(QStringLiteral("Cannot record the session"), [=, this](qint64 &id) {
        TStatement &st = Prepared("INSERT INTO sessions(start, interval_ms, method, cycle, owner) VALUES(?,?,?,?,?)");
        const int rc = st.Bind(at).Bind(intervalMs).Bind(method).Bind(cycle ? 1 : 0).Bind(owner).Step();
        id = sqlite3_last_insert_rowid(db_);
        return rc;
    });
}

void THistoryStore::EndSession(qint64 session, TUs at)
{
    if (session == 0)
        return;
    Write(QStringLiteral("Cannot record the end of the session"), [=, this](qint64 &) {
        const qint64 id = RealId(session);
        if (id <= 0)
            return SQLITE_DONE;   // its start was never written
        return Prepared("UPDATE sessions SET end = max(start, ?) WHERE id = ?").Bind(at).Bind(id).Step();
    });
}

int THistoryStore::TargetId(const QString &host, const QString &address)
{
    const QString key = host + QLatin1Char('\n') + address;
    if (const auto it = targets_.constFind(key); it != targets_.constEnd())
        return it.value();
    TStatement &find = Prepared("SELECT id FROM targets WHERE host = ? AND address = ?");
    find.Bind(host).Bind(address);
    int id = 0;
    const int found = find.Step();
    if (found == SQLITE_ROW)
        id = int(find.Int(0));
    find.Done();
    if (found != SQLITE_ROW) {
        if (found != SQLITE_DONE)
            return 0;
        TStatement &add = Prepared("INSERT INTO targets(host, address) VALUES(?, ?)");
        if (add.Bind(host).Bind(address).Step() != SQLITE_DONE)
            return 0;
        id = int(sqlite3_last_insert_rowid(db_));
    }
    targets_.insert(key, id);
    targetNames_.insert(id, {host, address});
    return id;
}

bool THistoryStore::AddProbe(const TProbeRow &p, qint64 session)
{
    return Write(QStringLiteral("Cannot record the probe"), [=, this](qint64 &id) {
        const int target = TargetId(p.Host, p.Address);
        if (target == 0)
            return sqlite3_extended_errcode(db_);
        // Two results in the same microsecond (or a wall clock set back onto
        // an earlier probe) move on by a microsecond: every probe keeps its row.
        TUs at = p.At;
        for (int attempt = 0; attempt < 1000; ++attempt, ++at) {
            TStatement &st = Prepared("INSERT INTO probes(t, target, kind, outcome, ms, sent, received, reason,"
                                      " session, us) VALUES(?,?,?,?,?,?,?,?,?,?)");
            st.Bind(at).Bind(target).Bind(KindCode(p.Kind)).Bind(OutcomeCode(p.Outcome));
            if (p.Ms >= 0)
                st.Bind(p.Ms);
            else
                st.BindNull();
            st.Bind(p.BytesSent).Bind(p.BytesReceived);
            if (p.Reason.isEmpty())
                st.BindNull();
            else
                st.Bind(p.Reason);
            st.Bind(std::max<qint64>(RealId(session), 0));
            if (p.Us >= 0)
                st.Bind(p.Us);
            else
                st.BindNull();
            const int rc = st.Step();
            if (rc != SQLITE_CONSTRAINT_PRIMARYKEY) {
                id = at;
                return rc;
            }
        }
        return int(SQLITE_CONSTRAINT_PRIMARYKEY);
    }) != 0;
}

qint64 THistoryStore::OpenOutage(const TOutageRow &o, qint64 session)
{
    return Write(QStringLiteral("Cannot record the outage"), [=, this](qint64 &id) {
        TStatement &st = Prepared("INSERT INTO outages(session, start, lost, first_outcome, first_reason, hosts,"
                                  " cause, verdict, evidence, route) VALUES(?,?,?,?,?,?,?,?,?,?)");
        st.Bind(std::max<qint64>(RealId(session), 0)).Bind(o.Start).Bind(o.ProbesLost)
            .Bind(OutcomeCode(o.FirstOutcome)).Bind(o.FirstReason).Bind(o.Hosts).Bind(o.Cause)
            .Bind(o.Verdict).Bind(o.Evidence).Bind(o.Route);
        const int rc = st.Step();
        id = sqlite3_last_insert_rowid(db_);
        return rc;
    });
}

void THistoryStore::CloseOutage(qint64 outage, const TOutageRow &o)
{
    if (outage == 0)
        return;
    Write(QStringLiteral("Cannot record the end of the outage"), [=, this](qint64 &) {
        const qint64 id = RealId(outage);
        if (id <= 0)
            return SQLITE_DONE;
        // A verdict or route written while the outage ran stays when the
        // end brings none.
        TStatement &st = Prepared("UPDATE outages SET end = ?, duration_ms = ?, lost = ?, hosts = ?, cause = ?,"
                                  " ended_by = ?, verdict = coalesce(nullif(?, ''), verdict),"
                                  " evidence = coalesce(nullif(?, ''), evidence), route = coalesce(nullif(?, ''), route)"
                                  " WHERE id = ?");
        return st.Bind(o.End).Bind(o.DurationMs).Bind(o.ProbesLost).Bind(o.Hosts).Bind(o.Cause).Bind(o.EndedBy)
            .Bind(o.Verdict).Bind(o.Evidence).Bind(o.Route).Bind(id).Step();
    });
}

void THistoryStore::SetOutageVerdict(qint64 outage, const QString &verdict, const QString &evidence)
{
    if (outage == 0)
        return;
    Write(QStringLiteral("Cannot record why the line is down"), [=, this](qint64 &) {
        const qint64 id = RealId(outage);
        if (id <= 0)
            return SQLITE_DONE;
        return Prepared("UPDATE outages SET verdict = ?, evidence = ? WHERE id = ?")
            .Bind(verdict).Bind(evidence).Bind(id).Step();
    });
}

void THistoryStore::SetOutageRoute(qint64 outage, const QString &route)
{
    if (outage == 0)
        return;
    Write(QStringLiteral("Cannot record the route of the outage"), [=, this](qint64 &) {
        const qint64 id = RealId(outage);
        if (id <= 0)
            return SQLITE_DONE;
        return Prepared("UPDATE outages SET route = ? WHERE id = ?").Bind(route).Bind(id).Step();
    });
}

qint64 THistoryStore::OpenGap(qint64 session, TUs at, const QString &kind)
{
    return Write(QStringLiteral("Cannot record the pause"), [=, this](qint64 &id) {
        const int rc = Prepared("INSERT INTO gaps(session, start, kind) VALUES(?,?,?)")
                           .Bind(std::max<qint64>(RealId(session), 0)).Bind(at).Bind(kind).Step();
        id = sqlite3_last_insert_rowid(db_);
        return rc;
    });
}

void THistoryStore::CloseGap(qint64 gap, TUs at)
{
    if (gap == 0)
        return;
    Write(QStringLiteral("Cannot record the end of the pause"), [=, this](qint64 &) {
        const qint64 id = RealId(gap);
        if (id <= 0)
            return SQLITE_DONE;
        return Prepared("UPDATE gaps SET end = max(start, ?) WHERE id = ?").Bind(at).Bind(id).Step();
    });
}

qint64 THistoryStore::Prune(TUs before)
{
    if (!db_ || mode_ != TMode::Write || !waiting_.empty())
        return 0;
    qint64 removed = 0;
    {
        TBatch batch(*this);
        TStatement &probes = Prepared("DELETE FROM probes WHERE t < ?");
        if (probes.Bind(before).Step() == SQLITE_DONE)
            removed = sqlite3_changes(db_);
        Prepared("DELETE FROM outages WHERE end IS NOT NULL AND end < ?").Bind(before).Step();
        Prepared("DELETE FROM gaps WHERE end IS NOT NULL AND end < ?").Bind(before).Step();
        Prepared("DELETE FROM sessions WHERE end IS NOT NULL AND end < ?").Bind(before).Step();
        Prepared("DELETE FROM targets WHERE id NOT IN (SELECT DISTINCT target FROM probes)").Step();
        // Summaries before the cut go with their probes; the day it falls
        // in is summed up again from the probes it kept.
        RebuildHours(0, before / kUsPerDay + 1);
        targets_.clear();
        targetNames_.clear();
        if (removed > 0)
            changedInBatch_ = true;
    }
    if (removed > 0)
        Exec("PRAGMA incremental_vacuum");
    return removed;
}

bool THistoryStore::ReadProbes(const TRange &range, const std::function<bool(const TProbeRow &)> &row)
{
    if (!db_)
        return false;
    // The names of every target, once, rather than a join per row.
    // Another process (the program, while this one exports) may have added
    // targets since they were last read.
    TStatement &names = Prepared("SELECT id, host, address FROM targets");
    while (names.Step() == SQLITE_ROW) {
        const int id = int(names.Int(0));
        if (!targetNames_.contains(id))
            targetNames_.insert(id, {names.Str(1), names.Str(2)});
    }
    // A file of an earlier layout, read as it is, has no microseconds.
    TStatement st(db_, missingColumns_.contains(QLatin1String("us"))
                           ? "SELECT t, target, kind, outcome, ms, sent, received, reason, NULL FROM probes"
                             " WHERE t >= ? AND t < ? ORDER BY t"
                           : "SELECT t, target, kind, outcome, ms, sent, received, reason, us FROM probes"
                             " WHERE t >= ? AND t < ? ORDER BY t");
    st.Reset().Bind(range.From).Bind(range.To);
    TProbeRow p;
    int lastTarget = -1;
    int rc;
    while ((rc = st.Step()) == SQLITE_ROW) {
        p.At = st.Int(0);
        const int target = int(st.Int(1));
        if (target != lastTarget) {
            const auto names = targetNames_.value(target);
            p.Host = names.first;
            p.Address = names.second;
            lastTarget = target;
        }
        p.Kind = KindFromCode(int(st.Int(2)));
        p.Outcome = OutcomeFromCode(int(st.Int(3)));
        p.Ms = st.Null(4) ? -1 : int(st.Int(4));
        p.BytesSent = st.Int(5);
        p.BytesReceived = st.Int(6);
        p.Reason = st.Null(7) ? QString() : st.Str(7);
        // Rows of an earlier version hold whole milliseconds only.
        p.Us = !st.Null(8) ? st.Int(8) : p.Ms >= 0 ? qint64(p.Ms) * 1000 : -1;
        if (!row(p))
            return true;
    }
    if (rc != SQLITE_DONE) {
        Fail(QStringLiteral("Cannot read the probes"));
        return false;
    }
    return true;
}

std::vector<TOutageRow> THistoryStore::Outages(const TRange &range)
{
    std::vector<TOutageRow> out;
    if (!db_)
        return out;
    // A file of an earlier layout, read as it is, has no diagnosis.
    const bool diagnosed = !missingColumns_.contains(QLatin1String("verdict"))
                           && !missingColumns_.contains(QLatin1String("evidence"))
                           && !missingColumns_.contains(QLatin1String("route"));
    TStatement &st = Prepared(diagnosed
        ? "SELECT start, end, duration_ms, lost, first_outcome, first_reason, hosts, cause, ended_by, verdict,"
          " evidence, route FROM outages WHERE start < ? AND (end IS NULL OR end >= ?) ORDER BY start"
        : "SELECT start, end, duration_ms, lost, first_outcome, first_reason, hosts, cause, ended_by, NULL,"
          " NULL, NULL FROM outages WHERE start < ? AND (end IS NULL OR end >= ?) ORDER BY start");
    st.Bind(range.To).Bind(range.From);
    while (st.Step() == SQLITE_ROW) {
        TOutageRow o;
        o.Start = st.Int(0);
        o.End = st.OptInt(1);
        o.DurationMs = st.Int(2);
        o.ProbesLost = int(st.Int(3));
        o.FirstOutcome = OutcomeFromCode(int(st.Int(4)));
        o.FirstReason = st.Str(5);
        o.Hosts = st.Str(6);
        o.Cause = st.Str(7);
        o.EndedBy = st.Str(8);
        o.Verdict = st.Str(9);
        o.Evidence = st.Str(10);
        o.Route = st.Str(11);
        out.push_back(std::move(o));
    }
    return out;
}

bool THistoryStore::ReadSpans(const char *sql, const TRange &range, std::vector<TSpanRow> &out)
{
    if (!db_)
        return false;
    TStatement &st = Prepared(sql);
    st.Bind(range.To).Bind(range.From);
    while (st.Step() == SQLITE_ROW)
        out.push_back({st.Int(0), st.OptInt(1), st.Str(2)});
    return true;
}

std::vector<TSpanRow> THistoryStore::Sessions(const TRange &range)
{
    std::vector<TSpanRow> out;
    ReadSpans("SELECT start, end, '' FROM sessions WHERE start < ? AND (end IS NULL OR end >= ?) ORDER BY start",
              range, out);
    return out;
}

std::vector<TSpanRow> THistoryStore::Gaps(const TRange &range)
{
    std::vector<TSpanRow> out;
    ReadSpans("SELECT start, end, kind FROM gaps WHERE start < ? AND (end IS NULL OR end >= ?) ORDER BY start",
              range, out);
    return out;
}

std::vector<TSessionSettings> THistoryStore::SessionSettings(const TRange &range)
{
    std::vector<TSessionSettings> out;
    if (!db_)
        return out;
    TStatement &st = Prepared("SELECT start, interval_ms, method, cycle FROM sessions"
                              " WHERE start < ? AND (end IS NULL OR end >= ?) ORDER BY start");
    st.Bind(range.To).Bind(range.From);
    while (st.Step() == SQLITE_ROW)
        out.push_back({st.Int(0), int(st.Int(1)), int(st.Int(2)), st.Int(3) != 0});
    return out;
}

std::vector<TDayBytes> THistoryStore::BytesPerDay(const TRange &range)
{
    std::vector<TDayBytes> out;
    if (!db_)
        return out;
    // A skipped probe's bytes are those it did not cost (outcome 9).
    TStatement &st = Prepared("SELECT date(t / 1000000, 'unixepoch', 'localtime') AS day,"
                              " sum(outcome <> 9), sum(iif(outcome = 9, 0, sent)), sum(iif(outcome = 9, 0, received)),"
                              " sum(outcome = 9), sum(iif(outcome = 9, sent + received, 0))"
                              " FROM probes WHERE t >= ? AND t < ? GROUP BY day ORDER BY day");
    st.Bind(range.From).Bind(range.To);
    while (st.Step() == SQLITE_ROW)
        out.push_back({st.Str(0), st.Int(1), st.Int(2), st.Int(3), st.Int(4), st.Int(5)});
    return out;
}

std::optional<TUs> THistoryStore::FirstProbe()
{
    if (!db_)
        return std::nullopt;
    TStatement &st = Prepared("SELECT min(t) FROM probes");
    const std::optional<TUs> t = st.Step() == SQLITE_ROW ? st.OptInt(0) : std::nullopt;
    st.Done();
    return t;
}

std::optional<TUs> THistoryStore::LastProbe()
{
    if (!db_)
        return std::nullopt;
    TStatement &st = Prepared("SELECT max(t) FROM probes");
    const std::optional<TUs> t = st.Step() == SQLITE_ROW ? st.OptInt(0) : std::nullopt;
    st.Done();
    return t;
}

bool THistoryStore::AddIdleTimer(const TIdleTimerRow &r)
{
    return Write(QStringLiteral("Cannot record the idle timer"), [=, this](qint64 &id) {
        TStatement &st = Prepared("INSERT INTO idle_timers(t, kind, network, verdict, seconds, alive, gone, trials,"
                                  " bytes, elapsed_ms) VALUES(?,?,?,?,?,?,?,?,?,?)");
        st.Bind(r.At).Bind(r.Kind).Bind(r.Network).Bind(r.Verdict).Bind(qint64(r.Seconds)).Bind(qint64(r.Alive));
        st.Bind(qint64(r.Gone)).Bind(r.Trials).Bind(r.Bytes).Bind(r.ElapsedMs);
        const int rc = st.Step();
        id = sqlite3_last_insert_rowid(db_);
        return rc;
    }) != 0;
}

std::vector<TIdleTimerRow> THistoryStore::IdleTimers(int limit)
{
    std::vector<TIdleTimerRow> out;
    if (!db_)
        return out;
    // A file of version 1 opened for reading has no such table: nothing measured.
    TStatement st(db_, "SELECT t, kind, network, verdict, seconds, alive, gone, trials, bytes, elapsed_ms"
                       " FROM idle_timers ORDER BY t DESC LIMIT ?");
    if (!st.Ok())
        return out;
    st.Reset().Bind(qint64(limit));
    while (st.Step() == SQLITE_ROW) {
        out.push_back({st.Int(0), st.Str(1), st.Str(2), st.Str(3), int(st.Int(4)), int(st.Int(5)), int(st.Int(6)),
                       st.Str(7), st.Int(8), st.Int(9)});
    }
    return out;
}

std::optional<int> THistoryStore::ShortestIdleTimer(const QString &network)
{
    if (!db_)
        return std::nullopt;
    TStatement st(db_, "SELECT min(seconds) FROM idle_timers WHERE network = ? AND verdict = 'found'");
    if (!st.Ok())
        return std::nullopt;
    st.Reset().Bind(network);
    if (st.Step() != SQLITE_ROW)
        return std::nullopt;
    const std::optional<TUs> v = st.OptInt(0);
    return v ? std::optional<int>(int(*v)) : std::nullopt;
}

} // namespace history
