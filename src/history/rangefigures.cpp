#include "history/rangefigures.h"

#include <QDateTime>

#include <algorithm>
#include <ctime>
#include <set>

namespace history {

namespace {

// The local day of each time, worked out once per day rather than once per
// probe or hour, and with the C library's own conversion: Qt's asks the
// system whether the zone changed at every call, which over a decade of
// days costs more than reading the summaries.
class TDayCursor {
public:
    explicit TDayCursor(std::vector<TDayBytes> &days) : days_(days) { tzset(); }
    TDayBytes &At(TUs t)
    {
        if (days_.empty() || t < from_ || t >= to_) {
            const QDate day = Bounds(t);
            const QString name = day.toString(Qt::ISODate);
            if (days_.empty() || days_.back().Day != name)
                days_.push_back({name});
        }
        return days_.back();
    }
    // Whether a new local day starts inside [from, to) after 'from'.
    bool Splits(TUs from, TUs to)
    {
        At(from);
        return to_ < to;
    }

private:
    static QDate Date(const std::tm &tm) { return QDate(tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday); }
    static bool Midnight(time_t at, const QDate &day)
    {
        std::tm tm{};
        return localtime_r(&at, &tm) && Date(tm) == day && tm.tm_hour == 0 && tm.tm_min == 0 && tm.tm_sec == 0;
    }
    // Sets [from_, to_) to the local day of t and returns its date.
    QDate Bounds(TUs t)
    {
        const time_t at = time_t(t >= 0 ? t / 1000000 : (t - 999999) / 1000000);
        std::tm tm{};
        if (localtime_r(&at, &tm)) {
            const QDate day = Date(tm);
            // Midnight is as many seconds back as the clock shows past it,
            // and the next one a day on, unless the day's offset changes
            // (summer time): then the slow way.
            const time_t start = at - (tm.tm_hour * 3600 + tm.tm_min * 60 + tm.tm_sec);
            if (Midnight(start, day) && Midnight(start + 86400, day.addDays(1))) {
                from_ = TUs(start) * 1000000;
                to_ = TUs(start + 86400) * 1000000;
                return day;
            }
        }
        const QDate day = QDateTime::fromMSecsSinceEpoch(t / kUsPerMs).toLocalTime().date();
        from_ = QDateTime(day, QTime(0, 0), Qt::LocalTime).toMSecsSinceEpoch() * kUsPerMs;
        to_ = QDateTime(day.addDays(1), QTime(0, 0), Qt::LocalTime).toMSecsSinceEpoch() * kUsPerMs;
        return day;
    }

    std::vector<TDayBytes> &days_;
    TUs from_ = 0, to_ = 0;
};

} // namespace

bool ReadRangeFigures(THistoryStore &store, const TRange &range, const std::vector<TSpanRow> &pauses, TUs now,
                      int columns, TRangeFigures &out)
{
    out = TRangeFigures();
    const std::vector<TInterval> paused = Intervals(pauses, now);
    TSpanCursor pausedAt(paused);
    // A target's own down time leaves out the line's outages.
    TSpanCursor lineDownAt(Intervals(store.Outages(range), now));
    TTargetStats targets;
    TDayCursor days(out.Days);

    // What a probe adds to the timeline and the bytes of its day.
    const auto pointAndBytes = [&](const TProbeRow &p) {
        // An echo this system did not let out is no lost probe of the line,
        // and a skipped probe was never sent.
        const bool skipped = p.Outcome == TProbeOutcome::Skipped;
        if (p.Outcome != TProbeOutcome::NotPermitted && !skipped)
            out.Points.push_back({p.At, p.Ok() ? std::max(0, p.Ms) : -1});
        TDayBytes &day = days.At(p.At);
        // A skipped probe's bytes are those it did not cost.
        if (skipped) {
            ++day.Skipped;
            day.Saved += p.BytesSent + p.BytesReceived;
            return true;
        }
        ++day.Probes;
        day.Sent += p.BytesSent;
        day.Received += p.BytesReceived;
        out.Bytes += p.BytesSent + p.BytesReceived;
        ++out.Probes;
        return true;
    };
    // What it adds to its target's figures: probes while paused do not
    // count against the line.
    const auto target = [&](const TProbeRow &p) {
        if (!pausedAt.Inside(p.At))
            targets.Add(p, lineDownAt.Inside(p.At));
        return true;
    };
    const auto finish = [&] {
        out.Targets = targets.Rows();
        out.Latest = store.LatestSent(range);
        return true;
    };

    const TRange from0{std::max<TUs>(range.From, 0), std::max<TUs>(range.To, 0)};
    const qint64 firstHour = (from0.From + kUsPerHour - 1) / kUsPerHour, endHour = from0.To / kUsPerHour;
    if (!store.HasHours() || columns <= 0 || range.Length() < TUs(columns) * kUsPerHour || firstHour >= endHour) {
        return store.ReadProbes(range, [&](const TProbeRow &p) { return pointAndBytes(p) && target(p); })
            && finish();
    }
    out.FromHours = true;

    // The timeline and the bytes: whole hours from their summaries, but for
    // an hour a local day starts within, which is read probe by probe.
    if (!store.ReadProbes({range.From, firstHour * kUsPerHour}, pointAndBytes))
        return false;
    bool failed = false;
    const bool hours = store.ReadHours(firstHour, endHour, [&](const THourRow &r) {
        if (failed)
            return;
        const TUs at = r.Start();
        if (days.Splits(at, at + kUsPerHour)) {
            failed = !store.ReadProbes({at, at + kUsPerHour}, pointAndBytes);
            return;
        }
        TDayBytes &day = days.At(at);
        day.Probes += r.Probes;
        day.Sent += r.Sent;
        day.Received += r.Received;
        day.Skipped += r.Skipped;
        day.Saved += r.Saved;
        out.Bytes += r.Sent + r.Received;
        out.Probes += r.Probes;
        if (r.Answered > 0) {
            out.Points.push_back({at, r.MinMs});
            out.Points.push_back({at + 1, r.MaxMs});
        }
        if (r.Lost > 0)
            out.Points.push_back({at + 2, -1});
    });
    if (!hours || failed || !store.ReadProbes({endHour * kUsPerHour, range.To}, pointAndBytes))
        return false;

    // Each target's figures: whole UTC days from their summaries, but for a
    // day with probes that came while paused, which is read probe by probe.
    const qint64 firstDay = (from0.From + kUsPerDay - 1) / kUsPerDay, endDay = from0.To / kUsPerDay;
    if (firstDay >= endDay)
        return store.ReadProbes(range, target) && finish();
    std::set<qint64> probeByProbe;
    for (const TInterval &p : Clip(paused, {firstDay * kUsPerDay, endDay * kUsPerDay})) {
        if (store.CountProbes(p.From, p.To) == 0)
            continue;
        for (qint64 d = p.From / kUsPerDay; d * kUsPerDay < p.To; ++d)
            probeByProbe.insert(d);
    }
    if (!store.ReadProbes({range.From, firstDay * kUsPerDay}, target))
        return false;
    qint64 day = -1;
    bool dayByProbe = false;
    const bool read = store.ReadDays(firstDay, endDay, [&](const TDayRow &r) {
        if (failed)
            return;
        if (r.Day != day) {
            day = r.Day;
            dayByProbe = probeByProbe.count(day) > 0;
            if (dayByProbe)
                failed = !store.ReadProbes({day * kUsPerDay, (day + 1) * kUsPerDay}, target);
        }
        if (!dayByProbe)
            targets.Add(r);
    });
    if (!read || failed)
        return false;
    return store.ReadProbes({endDay * kUsPerDay, range.To}, target) && finish();
}

} // namespace history
