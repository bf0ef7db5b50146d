// The connection history on disk: every probe, outage, session and pause in
// one SQLite file in the data folder.
//
// The file is written as things happen, one transaction per record, in WAL
// mode with full syncs: a process killed at any moment loses at most the
// record it was writing, and readers (the export, while the program runs)
// never block the writer. A file that SQLite finds damaged is never emptied:
// it is renamed aside with its write-ahead log, a notice says where, and a
// new history starts. What a killed process left open (its session, pauses
// and outage) is closed at its last recorded moment when a writer opens the
// file next.
#pragma once

#include "history/historytypes.h"

#include <QHash>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QTimer>

#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

struct sqlite3;
struct sqlite3_stmt;

namespace history {

// Bytes the keep-alive moved on one local calendar day.
struct TDayBytes {
    QString Day;          // "2024-05-01", local date
    qint64 Probes = 0;
    qint64 Sent = 0;
    qint64 Received = 0;
    // Probes skipped while the line was busy, and what they did not cost.
    qint64 Skipped = 0;
    qint64 Saved = 0;
};

// One idle-timer measurement (Tools > Find Idle Timer..., --find-idle-timer).
struct TIdleTimerRow {
    TUs At = 0;            // when it ended
    QString Kind;          // "udp", "tcp", "line"
    QString Network;       // what it was measured on (connection id, dial-up entry, gateway)
    QString Verdict;       // "found", "at least", "not measured"
    int Seconds = 0;       // the timer (found) or the longest silence outlived
    int Alive = 0;         // longest silence outlived
    int Gone = 0;          // shortest silence lost (0: none)
    QString Trials;        // each trial's silence and outcome: "15+ 30- 20+ 25-"
    qint64 Bytes = 0;      // sent by the measurement
    qint64 ElapsedMs = 0;
};

// The probe settings a session started with.
struct TSessionSettings {
    TUs Start = 0;
    int IntervalMs = 0;
    int Method = 0;       // the anti-idle method's item (HTTP, echo, alternate)
    bool Cycle = false;   // the session went through the server list
};

class THistoryStore : public QObject {
    Q_OBJECT
public:
    // The history's file name in the data folder.
    static constexpr char kFileName[] = "history.db";
    // platform::DataFile(kFileName).
    static QString DefaultPath();

    enum class TMode {
        Write,   // creates the file, closes what a killed writer left open, sets a damaged file aside
        Read,    // changes nothing: the file must exist, and a damaged one is only reported
    };

    explicit THistoryStore(QObject *parent = nullptr);
    ~THistoryStore() override;

    // Opens (and in Write mode creates) the history at path. False with
    // Problem() saying why; in Write mode a damaged file has then already been
    // set aside and a new one made, so false means the folder or disk refused.
    bool Open(const QString &path, TMode mode = TMode::Write);
    // Writes what waits if it can, then closes.
    void Close();
    bool IsOpen() const { return db_ != nullptr; }
    QString Path() const { return path_; }
    // The last thing that went wrong (empty while all is well).
    QString Problem() const;
    // What the user should be told about the file (a damaged file set aside),
    // oldest first; kept until the store closes.
    QStringList Notices() const { return notices_; }
    // One more thing to tell about the file.
    void AddNotice(const QString &notice);
    // Records that could not be written yet (the file locked by another
    // program, the disk full): kept in order and written as soon as the
    // file takes them again, up to kMaxWaiting; those past it are counted.
    static constexpr int kMaxWaiting = 10000;
    int Waiting() const { return int(waiting_.size()); }
    qint64 DroppedWhileWaiting() const { return dropped_; }
    // Tries the waiting records now (a timer tries them every RetryMs).
    void WriteWaiting();
    int RetryMs = 2000;

    // ---- writing (Write mode) ----
    // A session starts (its probe interval and method, as the options had them).
    qint64 BeginSession(TUs at, int intervalMs, int method, bool cycle);
    void EndSession(qint64 session, TUs at);
    // One probe of 'session' (0 when it came after its session ended).
    bool AddProbe(const TProbeRow &probe, qint64 session = 0);
    // The line went down; returns the outage's id for its end.
    qint64 OpenOutage(const TOutageRow &outage, qint64 session);
    void CloseOutage(qint64 outage, const TOutageRow &ended);
    // Why the line is down, as a diagnosis found it while the outage ran.
    void SetOutageVerdict(qint64 outage, const QString &verdict, const QString &evidence);
    // The route at the outage's start (a JSON array of hops).
    void SetOutageRoute(qint64 outage, const QString &route);
    // A pause of a session ("suspended", "paused (metered)") starts and ends.
    qint64 OpenGap(qint64 session, TUs at, const QString &kind);
    void CloseGap(qint64 gap, TUs at);
    // Removes what ended before 'before'; the number of probes removed.
    qint64 Prune(TUs before);

    // Several writes as one transaction (a generated history, a repair).
    class TBatch {
    public:
        explicit TBatch(THistoryStore &store);
        ~TBatch();   // commits
    private:
        THistoryStore &store_;
    };

    // ---- reading ----
    // Calls 'row' for every probe in the range, oldest first, until it returns
    // false. False when the file could not be read (Problem() says why).
    bool ReadProbes(const TRange &range, const std::function<bool(const TProbeRow &)> &row);
    // Outages, sessions and pauses that overlap the range, by start.
    std::vector<TOutageRow> Outages(const TRange &range);
    std::vector<TSpanRow> Sessions(const TRange &range);
    std::vector<TSpanRow> Gaps(const TRange &range);
    // The settings of the sessions that overlap the range, by start.
    std::vector<TSessionSettings> SessionSettings(const TRange &range);
    // Probes and bytes per local day in the range, oldest first.
    std::vector<TDayBytes> BytesPerDay(const TRange &range);
    // Keeps an idle-timer measurement; false (and the problem told) when it
    // cannot be written.
    bool AddIdleTimer(const TIdleTimerRow &row);
    // The latest measurements, newest first.
    std::vector<TIdleTimerRow> IdleTimers(int limit = 1000);
    // The shortest timer found on 'network' (seconds), if any was.
    std::optional<int> ShortestIdleTimer(const QString &network);
    // The summaries of the probes, oldest first: per UTC hour (hours since
    // the epoch) and per UTC day (days since the epoch), host and kind.
    // False when the file has none (one of an earlier layout read as it is)
    // or cannot be read.
    bool HasHours() const { return db_ && !hoursMissing_; }
    bool ReadHours(qint64 fromHour, qint64 toHour, const std::function<void(const THourRow &)> &row);
    bool ReadDays(qint64 fromDay, qint64 toDay, const std::function<void(const TDayRow &)> &row);
    // Probes in [from, to) (one query along the key).
    qint64 CountProbes(TUs from, TUs to);
    // The latest probe in the range that was sent (skipped ones are not).
    std::optional<TProbeRow> LatestSent(const TRange &range);
    // The first and last probe times; empty without probes.
    std::optional<TUs> FirstProbe();
    std::optional<TUs> LastProbe();

signals:
    // Something was written (the window follows a running session by it).
    void Changed();
    // A notice was added or a problem came up or cleared.
    void ProblemChanged();

private:
    class TStatement;
    void CloseFile();
    bool Configure(TMode mode);
    bool CreateSchema();
    void Repair();
    bool SetAside(const QString &why);
    bool Exec(const char *sql);
    TStatement &Prepared(const char *sql);
    int TargetId(const QString &host, const QString &address);
    void Fail(const QString &what);
    void Succeeded();
    // A write failed with this SQLite code: a damaged file is set aside.
    void WriteFailed(int code, const QString &what);
    // One record's write: runs it now or, while others wait or the file
    // refuses it for a while, keeps it for later. 'write' answers with an
    // SQLite code and, for a row it creates, its id; a row kept for later
    // is given a stand-in id (negative) that later writes may name.
    using TWrite = std::function<int(qint64 &id)>;
    qint64 Write(const QString &what, TWrite write);
    // The row id a stand-in id was written as (0 when it never was).
    qint64 RealId(qint64 id) const;
    void ScheduleRetry();
    bool ReadSpans(const char *sql, const TRange &range, std::vector<TSpanRow> &out);
    // The summaries: the triggers that keep them, and their rebuilding from
    // the probes of whole UTC days [fromDay, toDay) (a file that had none, a
    // prune that cut a day, the latest day when it disagrees).
    bool KeepHours();
    bool RebuildHours(qint64 fromDay, qint64 toDay);
    void TargetNames();
    bool hoursMissing_ = true;

    sqlite3 *db_ = nullptr;
    QString path_;
    TMode mode_ = TMode::Write;
    QString problem_;
    QStringList notices_;
    int batchDepth_ = 0;
    bool changedInBatch_ = false;
    std::vector<std::pair<const char *, std::unique_ptr<TStatement>>> statements_;
    struct TWaiting {
        QString What;
        TWrite Write;
        qint64 StandIn = 0;
    };
    std::deque<TWaiting> waiting_;
    QHash<qint64, qint64> standIns_;         // stand-in id -> row id once written
    qint64 nextStandIn_ = -1;
    qint64 dropped_ = 0;
    QTimer *retry_ = nullptr;
    QHash<QString, int> targets_;            // "host\naddress" -> id
    QHash<int, std::pair<QString, QString>> targetNames_;
    // Columns of the current layout the open file lacks (it is of an
    // earlier version and opened for reading, or about to gain them).
    QStringList missingColumns_;
};

} // namespace history
