// The summaries of the probes: per UTC hour, the bytes and the timeline's
// figures of every probe; per UTC day, host and kind, the line's figures
// (loss, round trips, jitter). Triggers keep them in the same statement that
// writes each probe, so that a crash can never leave a probe without its
// summaries or the other way round. Reading a decade then means reading
// 87,600 hours and a row a day per target instead of five million probes.
#include "history/historystore.h"
#include "history/sqlstatement.h"

#include <sqlite3.h>

#include <memory>
#include <vector>

namespace history {

namespace {

// What one probe adds to its summaries. '@' stands for the probe's fields:
// "NEW." in the triggers, ":" (named parameters) when the summaries are
// rebuilt from stored probes, so that both run the very same arithmetic.
// Outcome 0 is ok, 7 not permitted and 9 skipped (see historytypes.cpp).
// The round trip is the microseconds, or the whole ms of an older row.
#define ROUND_TRIP "coalesce(@us, @ms * 1000)"
#define ANSWERED "(@outcome = 0 AND " ROUND_TRIP " IS NOT NULL)"
#define WHOLE_MS "max(0, coalesce(@ms, -1))"
const char *const kSummaries[] = {
    "INSERT OR IGNORE INTO hours(hour) VALUES(@t / 3600000000)",
    "UPDATE hours SET"
    " probes = probes + (@outcome <> 9),"
    " sent = sent + CASE WHEN @outcome <> 9 THEN @sent ELSE 0 END,"
    " received = received + CASE WHEN @outcome <> 9 THEN @received ELSE 0 END,"
    " skipped = skipped + (@outcome = 9),"
    " saved = saved + CASE WHEN @outcome = 9 THEN @sent + @received ELSE 0 END,"
    " answered = answered + (@outcome = 0),"
    " lost = lost + (@outcome NOT IN (0, 7, 9)),"
    " min_ms = CASE WHEN @outcome = 0 THEN min(coalesce(min_ms, " WHOLE_MS "), " WHOLE_MS ") ELSE min_ms END,"
    " max_ms = CASE WHEN @outcome = 0 THEN max(coalesce(max_ms, 0), " WHOLE_MS ") ELSE max_ms END"
    " WHERE hour = @t / 3600000000",
    "INSERT OR IGNORE INTO days(day, host, kind) VALUES(@t / 86400000000,"
    " coalesce((SELECT host FROM targets WHERE id = @target), ''), @kind)",
    "UPDATE days SET"
    " counted = counted + (@outcome NOT IN (7, 9)),"
    " lost = lost + (@outcome NOT IN (7, 9) AND NOT " ANSWERED "),"
    " sum_us = sum_us + CASE WHEN " ANSWERED " THEN " ROUND_TRIP " ELSE 0 END,"
    " min_us = CASE WHEN " ANSWERED " THEN min(coalesce(min_us, " ROUND_TRIP "), " ROUND_TRIP ") ELSE min_us END,"
    " max_us = CASE WHEN " ANSWERED " THEN max(coalesce(max_us, " ROUND_TRIP "), " ROUND_TRIP ") ELSE max_us END,"
    " first_us = CASE WHEN first_us IS NULL AND " ANSWERED " THEN " ROUND_TRIP " ELSE first_us END,"
    " last_us = CASE WHEN " ANSWERED " THEN " ROUND_TRIP " ELSE last_us END,"
    " jitter_us = jitter_us + CASE WHEN " ANSWERED " AND last_us IS NOT NULL"
    "   THEN abs(" ROUND_TRIP " - last_us) ELSE 0 END,"
    " jitter_n = jitter_n + (" ANSWERED " AND last_us IS NOT NULL)"
    " WHERE day = @t / 86400000000 AND host = coalesce((SELECT host FROM targets WHERE id = @target), '')"
    " AND kind = @kind",
};
#undef ROUND_TRIP
#undef ANSWERED
#undef WHOLE_MS

QByteArray WithFields(const char *sql, const char *prefix)
{
    return QByteArray(sql).replace('@', prefix);
}

} // namespace

bool THistoryStore::KeepHours()
{
    QByteArray trigger = "CREATE TRIGGER IF NOT EXISTS probes_summed AFTER INSERT ON probes BEGIN ";
    for (const char *sql : kSummaries)
        trigger += WithFields(sql, "NEW.") + "; ";
    if (!Exec((trigger + "END").constData()))
        return false;
    const bool missing = hoursMissing_;
    hoursMissing_ = false;
    TStatement last(db_, "SELECT min(t), max(t) FROM probes");
    if (last.Step() != SQLITE_ROW || last.Null(0))
        return true;
    const qint64 first = last.Int(0) / kUsPerDay, day = last.Int(1) / kUsPerDay;
    last.Done();
    if (missing) {
        // A file of an earlier layout: its probes are summed up once, now.
        return RebuildHours(first, day + 1);
    }
    // The day written last is checked against its probes (cheap: a walk
    // along the key), and summed up again if they differ.
    TStatement probes(db_, "SELECT count(*), coalesce(sum(outcome NOT IN (7, 9)), 0) FROM probes"
                           " WHERE t >= ? AND t < ?");
    probes.Bind(day * kUsPerDay).Bind((day + 1) * kUsPerDay);
    TStatement hours(db_, "SELECT coalesce(sum(probes + skipped), 0) FROM hours WHERE hour >= ? AND hour < ?");
    hours.Bind(day * 24).Bind((day + 1) * 24);
    TStatement days(db_, "SELECT coalesce(sum(counted), 0) FROM days WHERE day = ?");
    days.Bind(day);
    if (probes.Step() == SQLITE_ROW && hours.Step() == SQLITE_ROW && days.Step() == SQLITE_ROW
        && (probes.Int(0) != hours.Int(0) || probes.Int(1) != days.Int(0))) {
        probes.Done();
        hours.Done();
        days.Done();
        return RebuildHours(day, day + 1);
    }
    return true;
}

bool THistoryStore::RebuildHours(qint64 fromDay, qint64 toDay)
{
    TBatch batch(*this);
    TStatement clearHours(db_, "DELETE FROM hours WHERE hour >= ? AND hour < ?");
    TStatement clearDays(db_, "DELETE FROM days WHERE day >= ? AND day < ?");
    if (clearHours.Bind(fromDay * 24).Bind(toDay * 24).Step() != SQLITE_DONE
        || clearDays.Bind(fromDay).Bind(toDay).Step() != SQLITE_DONE)
        return false;
    std::vector<std::unique_ptr<TStatement>> add;
    for (const char *sql : kSummaries)
        add.push_back(std::make_unique<TStatement>(db_, WithFields(sql, ":").constData()));
    TStatement probes(db_, "SELECT t, target, kind, outcome, ms, us, sent, received FROM probes"
                           " WHERE t >= ? AND t < ? ORDER BY t");
    probes.Bind(fromDay * kUsPerDay).Bind(toDay * kUsPerDay);
    int rc;
    while ((rc = probes.Step()) == SQLITE_ROW) {
        for (const std::unique_ptr<TStatement> &st : add) {
            st->Reset();
            for (int i = 0; i < 8; ++i)
                st->BindNamed(probes, i);
            if (st->Step() != SQLITE_DONE)
                return false;
        }
    }
    return rc == SQLITE_DONE;
}

void THistoryStore::TargetNames()
{
    // Another process (the program, while this one exports) may have added
    // targets since they were last read.
    TStatement &names = Prepared("SELECT id, host, address FROM targets");
    while (names.Step() == SQLITE_ROW) {
        const int id = int(names.Int(0));
        if (!targetNames_.contains(id))
            targetNames_.insert(id, {names.Str(1), names.Str(2)});
    }
}

bool THistoryStore::ReadHours(qint64 fromHour, qint64 toHour, const std::function<void(const THourRow &)> &row)
{
    if (!HasHours())
        return false;
    TStatement &st = Prepared("SELECT hour, probes, sent, received, skipped, saved, answered, lost, min_ms, max_ms"
                              " FROM hours WHERE hour >= ? AND hour < ? ORDER BY hour");
    st.Bind(fromHour).Bind(toHour);
    THourRow r;
    int rc;
    while ((rc = st.Step()) == SQLITE_ROW) {
        r.Hour = st.Int(0);
        r.Probes = st.Int(1);
        r.Sent = st.Int(2);
        r.Received = st.Int(3);
        r.Skipped = st.Int(4);
        r.Saved = st.Int(5);
        r.Answered = st.Int(6);
        r.Lost = st.Int(7);
        r.MinMs = st.Null(8) ? -1 : int(st.Int(8));
        r.MaxMs = st.Null(9) ? -1 : int(st.Int(9));
        row(r);
    }
    if (rc != SQLITE_DONE) {
        Fail(QStringLiteral("Cannot read the probes"));
        return false;
    }
    return true;
}

bool THistoryStore::ReadDays(qint64 fromDay, qint64 toDay, const std::function<void(const TDayRow &)> &row)
{
    if (!HasHours())
        return false;
    TStatement &st = Prepared("SELECT day, host, kind, counted, lost, sum_us, min_us, max_us, first_us, last_us,"
                              " jitter_us, jitter_n FROM days WHERE day >= ? AND day < ? ORDER BY day, host, kind");
    st.Bind(fromDay).Bind(toDay);
    TDayRow r;
    int rc;
    const auto opt = [&st](int col) { return st.Null(col) ? -1 : st.Int(col); };
    while ((rc = st.Step()) == SQLITE_ROW) {
        r.Day = st.Int(0);
        r.Host = st.Str(1);
        r.Kind = KindFromCode(int(st.Int(2)));
        r.Counted = st.Int(3);
        r.Lost = st.Int(4);
        r.SumUs = st.Int(5);
        r.MinUs = opt(6);
        r.MaxUs = opt(7);
        r.FirstUs = opt(8);
        r.LastUs = opt(9);
        r.JitterUs = st.Int(10);
        r.JitterCount = st.Int(11);
        row(r);
    }
    if (rc != SQLITE_DONE) {
        Fail(QStringLiteral("Cannot read the probes"));
        return false;
    }
    return true;
}

qint64 THistoryStore::CountProbes(TUs from, TUs to)
{
    if (!db_)
        return 0;
    TStatement &st = Prepared("SELECT count(*) FROM probes WHERE t >= ? AND t < ?");
    return st.Bind(from).Bind(to).Step() == SQLITE_ROW ? st.Int(0) : 0;
}

std::optional<TProbeRow> THistoryStore::LatestSent(const TRange &range)
{
    if (!db_)
        return std::nullopt;
    // Skipped probes are few: walking back over them from the end is short.
    TStatement &st = Prepared("SELECT t FROM probes WHERE t >= ? AND t < ? AND outcome <> 9 ORDER BY t DESC LIMIT 1");
    if (st.Bind(range.From).Bind(range.To).Step() != SQLITE_ROW)
        return std::nullopt;
    const TUs at = st.Int(0);
    st.Done();
    std::optional<TProbeRow> out;
    ReadProbes({at, at + 1}, [&out](const TProbeRow &p) {
        out = p;
        return false;
    });
    return out;
}

} // namespace history
