#include "history/historyreport.h"

#include <QDateTime>

#include <algorithm>
#include <map>

namespace history {

std::optional<double> Median(std::vector<int> &ms)
{
    if (ms.empty())
        return std::nullopt;
    const size_t mid = ms.size() / 2;
    std::nth_element(ms.begin(), ms.begin() + qsizetype(mid), ms.end());
    const int upper = ms[mid];
    if (ms.size() % 2)
        return upper;
    const int lower = *std::max_element(ms.begin(), ms.begin() + qsizetype(mid));
    return (double(lower) + double(upper)) / 2.0;
}

int Percentile(std::vector<int> &ms, int p)
{
    if (ms.empty())
        return -1;
    // Nearest rank: ceil(p / 100 * n), counted from 1.
    const size_t n = ms.size();
    size_t rank = (size_t(std::clamp(p, 0, 100)) * n + 99) / 100;
    rank = std::clamp<size_t>(rank, 1, n);
    std::nth_element(ms.begin(), ms.begin() + qsizetype(rank - 1), ms.end());
    return ms[rank - 1];
}

namespace {

TUs LocalMidnight(QDate day)
{
    // A midnight the clocks skip (a few zones change at 00:00) starts the day
    // at its first moment that exists.
    QDateTime at(day, QTime(0, 0), Qt::LocalTime);
    if (!at.isValid())
        at = QDateTime(day, QTime(1, 0), Qt::LocalTime);
    return at.toMSecsSinceEpoch() * kUsPerMs;
}

QDate LocalDate(TUs at)
{
    return QDateTime::fromMSecsSinceEpoch(at / kUsPerMs).toLocalTime().date();
}

std::vector<TInterval> Intersect(const std::vector<TInterval> &a, const std::vector<TInterval> &b)
{
    return Subtract(a, Subtract(a, b));
}

} // namespace

std::optional<double> TReportDay::LossPercent() const
{
    if (Probes <= 0)
        return std::nullopt;
    return 100.0 * double(Lost) / double(Probes);
}

std::vector<TLocalDay> LocalDays(const TRange &range)
{
    std::vector<TLocalDay> out;
    if (range.To <= range.From)
        return out;
    const QDate last = LocalDate(range.To - 1);
    for (QDate d = LocalDate(range.From); d.isValid() && d <= last; d = d.addDays(1)) {
        const TUs from = std::max(range.From, LocalMidnight(d));
        const TUs to = std::min(range.To, LocalMidnight(d.addDays(1)));
        if (from < to)
            out.push_back({d, from, to});
    }
    return out;
}

bool BuildReport(THistoryStore &store, const TRange &range, TUs now, TReport *report, QString *error)
{
    TReport &r = *report;
    r = TReport();
    r.Requested = range;
    r.Made = now;
    TRange period{range.From, std::min(range.To, now)};
    const std::vector<TSpanRow> allSessions = store.Sessions(period);
    if (range.From == kOpenStart) {
        // No start asked for: the report starts with the first record.
        std::optional<TUs> first;
        if (!allSessions.empty())
            first = allSessions.front().Start;
        store.ReadProbes(period, [&](const TProbeRow &p) {
            first = first ? std::min(*first, p.At) : p.At;
            return false;
        });
        period.From = first.value_or(period.To);
    }
    period.To = std::max(period.From, period.To);
    r.Period = period;

    const std::vector<TSpanRow> sessions = store.Sessions(period);
    const std::vector<TSpanRow> pauses = store.Gaps(period);
    const std::vector<TOutageRow> outages = store.Outages(period);
    for (const TSessionSettings &s : store.SessionSettings(period)) {
        const bool seen = std::any_of(r.Settings.begin(), r.Settings.end(), [&](const TSessionSettings &k) {
            return k.IntervalMs == s.IntervalMs && k.Method == s.Method && k.Cycle == s.Cycle;
        });
        if (!seen)
            r.Settings.push_back(s);
    }

    r.Up = Uptime(period, sessions, pauses, outages, now);
    for (const TGap &g : Gaps(period, sessions, pauses, now)) {
        auto it = std::find_if(r.Unwatched.begin(), r.Unwatched.end(),
                               [&](const TUnwatched &u) { return u.Kind == g.Kind; });
        if (it == r.Unwatched.end())
            it = r.Unwatched.insert(r.Unwatched.end(), {g.Kind, 0});
        it->Length += g.Span.To - g.Span.From;
    }
    for (const TOutageRow &o : outages) {
        TReportOutage row;
        row.Row = o;
        row.LengthMs = o.End ? o.DurationMs : std::max<TUs>(0, now - o.Start) / kUsPerMs;
        r.LongestMs = std::max(r.LongestMs, row.LengthMs);
        r.Outages.push_back(row);
    }

    // The days: watched and down time from the spans, the rest from one pass
    // over the probes (oldest first, so the day only ever moves forward).
    const std::vector<TInterval> watched =
        Subtract(Clip(Intervals(sessions, now), period), Intervals(pauses, now));
    const std::vector<TInterval> down = Intersect(watched, Intervals(outages, now));
    for (const TLocalDay &d : LocalDays(period)) {
        TReportDay day;
        day.Day = d;
        day.Monitored = Length(Clip(watched, {d.From, d.To}));
        day.Down = Length(Clip(down, {d.From, d.To}));
        r.Days.push_back(day);
    }

    TTargetStats targets;
    std::map<std::pair<QString, int>, std::vector<int>> targetMs;
    std::vector<int> dayMs;
    size_t dayIndex = 0;
    auto closeDay = [&] {
        if (dayIndex < r.Days.size()) {
            r.Days[dayIndex].MedianMs = Median(dayMs);
            r.Days[dayIndex].P95Ms = Percentile(dayMs, 95);
        }
        dayMs.clear();
    };
    TSpanCursor paused(Intervals(pauses, now));
    const bool read = store.ReadProbes(period, [&](const TProbeRow &p) {
        r.Empty = false;
        // Probes while paused tell nothing of the line, nor do those the
        // system refused to send or the session skipped.
        if (paused.Inside(p.At) || !TellsOfLine(p.Outcome))
            return true;
        while (dayIndex < r.Days.size() && p.At >= r.Days[dayIndex].Day.To) {
            closeDay();
            ++dayIndex;
        }
        targets.Add(p);
        const bool answered = p.Ok() && p.Ms >= 0;
        ++r.Probes;
        r.Lost += answered ? 0 : 1;
        if (dayIndex < r.Days.size()) {
            ++r.Days[dayIndex].Probes;
            r.Days[dayIndex].Lost += answered ? 0 : 1;
        }
        if (answered) {
            dayMs.push_back(p.Ms);
            targetMs[{p.Host, KindCode(p.Kind)}].push_back(p.Ms);
        }
        return true;
    });
    closeDay();
    if (!read) {
        if (error)
            *error = store.Problem();
        return false;
    }
    r.Empty = r.Empty && sessions.empty();
    for (const TTargetRow &t : targets.Rows()) {
        std::vector<int> &ms = targetMs[{t.Host, KindCode(t.Kind)}];
        r.Targets.push_back({t, Median(ms), Percentile(ms, 95)});
    }
    return true;
}

} // namespace history
