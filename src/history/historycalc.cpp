#include "history/historycalc.h"

#include <algorithm>
#include <cstdlib>

namespace history {

std::vector<TInterval> Merge(std::vector<TInterval> spans)
{
    spans.erase(std::remove_if(spans.begin(), spans.end(), [](const TInterval &i) { return i.To <= i.From; }),
                spans.end());
    std::sort(spans.begin(), spans.end(), [](const TInterval &a, const TInterval &b) { return a.From < b.From; });
    std::vector<TInterval> out;
    for (const TInterval &i : spans) {
        if (!out.empty() && i.From <= out.back().To)
            out.back().To = std::max(out.back().To, i.To);
        else
            out.push_back(i);
    }
    return out;
}

std::vector<TInterval> Subtract(const std::vector<TInterval> &a, const std::vector<TInterval> &b)
{
    std::vector<TInterval> out;
    size_t j = 0;
    for (TInterval cur : a) {
        while (j < b.size() && b[j].To <= cur.From)
            ++j;
        size_t k = j;
        while (k < b.size() && b[k].From < cur.To) {
            if (b[k].From > cur.From)
                out.push_back({cur.From, b[k].From});
            cur.From = std::max(cur.From, b[k].To);
            ++k;
        }
        if (cur.From < cur.To)
            out.push_back(cur);
    }
    return out;
}

std::vector<TInterval> Clip(const std::vector<TInterval> &spans, const TRange &range)
{
    std::vector<TInterval> out;
    for (const TInterval &i : spans) {
        const TInterval c{std::max(i.From, range.From), std::min(i.To, range.To)};
        if (c.From < c.To)
            out.push_back(c);
    }
    return out;
}

TUs Length(const std::vector<TInterval> &spans)
{
    TUs total = 0;
    for (const TInterval &i : spans)
        total += i.To - i.From;
    return total;
}

std::vector<TInterval> Intervals(const std::vector<TSpanRow> &spans, TUs now)
{
    std::vector<TInterval> out;
    for (const TSpanRow &s : spans)
        out.push_back({s.Start, s.End.value_or(std::max(now, s.Start))});
    return Merge(std::move(out));
}

std::vector<TInterval> Intervals(const std::vector<TOutageRow> &outages, TUs now)
{
    std::vector<TInterval> out;
    for (const TOutageRow &o : outages)
        out.push_back({o.Start, o.End.value_or(std::max(now, o.Start))});
    return Merge(std::move(out));
}

std::optional<double> TUptime::Percent() const
{
    if (Monitored <= 0)
        return std::nullopt;
    return 100.0 * double(Monitored - std::min(Down, Monitored)) / double(Monitored);
}

TUptime Uptime(const TRange &range, const std::vector<TSpanRow> &sessions, const std::vector<TSpanRow> &gaps,
               const std::vector<TOutageRow> &outages, TUs now)
{
    const std::vector<TInterval> watched =
        Subtract(Clip(Intervals(sessions, now), range), Intervals(gaps, now));
    TUptime up;
    up.Monitored = Length(watched);
    // Only time that was watched can have been down.
    std::vector<TInterval> down;
    for (const TInterval &o : Intervals(outages, now)) {
        for (const TInterval &w : watched) {
            const TInterval c{std::max(o.From, w.From), std::min(o.To, w.To)};
            if (c.From < c.To)
                down.push_back(c);
        }
    }
    up.Down = Length(Merge(down));
    for (const TOutageRow &o : outages) {
        if (o.Start < range.To && o.End.value_or(now) >= range.From)
            ++up.Outages;
    }
    return up;
}

std::vector<TGap> Gaps(const TRange &range, const std::vector<TSpanRow> &sessions,
                       const std::vector<TSpanRow> &pauses, TUs now)
{
    std::vector<TGap> out;
    const TRange until{range.From, std::min(range.To, std::max(now, range.From))};
    for (const TInterval &i : Subtract({{until.From, until.To}}, Clip(Intervals(sessions, now), until)))
        out.push_back({i, kNotMonitored});
    for (const TSpanRow &p : pauses) {
        const std::vector<TInterval> c = Clip({{p.Start, p.End.value_or(std::max(now, p.Start))}}, until);
        if (!c.empty())
            out.push_back({c.front(), p.Kind});
    }
    std::sort(out.begin(), out.end(), [](const TGap &a, const TGap &b) { return a.Span.From < b.Span.From; });
    return out;
}

bool TSpanCursor::Inside(TUs t)
{
    while (next_ < spans_.size() && spans_[next_].To <= t)
        ++next_;
    return next_ < spans_.size() && spans_[next_].From <= t;
}

void TTargetStats::Add(const TProbeRow &p, bool lineDown)
{
    if (!TellsOfLine(p.Outcome))
        return;
    TAcc &a = acc_[{p.Host, KindCode(p.Kind)}];
    if (a.Row.Probes == 0) {
        a.Row.Host = p.Host;
        a.Row.Kind = p.Kind;
    }
    ++a.Row.Probes;
    a.LastAt = p.At;
    const qint64 us = p.TimeUs();
    if (!p.Ok() || us < 0) {
        ++a.Row.Lost;
        // The losses that led into a line outage were the line going.
        if (lineDown)
            a.DownSince = -1;
        else if (a.DownSince < 0)
            a.DownSince = p.At;
        return;
    }
    if (a.DownSince >= 0) {
        a.Row.DownUs += p.At - a.DownSince;
        a.DownSince = -1;
    }
    a.Row.MinUs = a.Row.MinUs < 0 ? us : std::min(a.Row.MinUs, us);
    a.Row.MaxUs = std::max(a.Row.MaxUs, us);
    a.SumUs += us;
    if (a.LastUs >= 0) {
        a.JitterSumUs += std::abs(us - a.LastUs);
        ++a.JitterCount;
    }
    a.LastUs = us;
}

void TTargetStats::Add(const TDayRow &hour)
{
    if (hour.Counted == 0)
        return;
    TAcc &a = acc_[{hour.Host, KindCode(hour.Kind)}];
    if (a.Row.Probes == 0) {
        a.Row.Host = hour.Host;
        a.Row.Kind = hour.Kind;
    }
    a.Row.Probes += hour.Counted;
    a.Row.Lost += hour.Lost;
    if (hour.FirstUs < 0)
        return;
    a.Row.MinUs = a.Row.MinUs < 0 ? hour.MinUs : std::min(a.Row.MinUs, hour.MinUs);
    a.Row.MaxUs = std::max(a.Row.MaxUs, hour.MaxUs);
    a.SumUs += hour.SumUs;
    // The step from the last answer before the day to its first.
    if (a.LastUs >= 0) {
        a.JitterSumUs += std::abs(hour.FirstUs - a.LastUs);
        ++a.JitterCount;
    }
    a.JitterSumUs += hour.JitterUs;
    a.JitterCount += hour.JitterCount;
    a.LastUs = hour.LastUs;
}

std::vector<TTargetRow> TTargetStats::Rows() const
{
    std::vector<TTargetRow> out;
    for (const auto &[key, a] : acc_) {
        TTargetRow row = a.Row;
        const qint64 answered = row.Probes - row.Lost;
        row.Min = row.MinUs < 0 ? -1 : int((row.MinUs + 500) / 1000);
        row.Max = row.MaxUs < 0 ? -1 : int((row.MaxUs + 500) / 1000);
        row.Average = answered ? double(a.SumUs) / double(answered) / 1000.0 : 0.0;
        if (a.JitterCount > 0)
            row.Jitter = double(a.JitterSumUs) / double(a.JitterCount) / 1000.0;
        if (a.DownSince >= 0)
            row.DownUs += a.LastAt - a.DownSince;
        out.push_back(row);
    }
    return out;
}

QString RoundTripText(qint64 us)
{
    if (us < 0)
        return QString();
    // Integer arithmetic, as for the bytes: the same text in every locale.
    const qint64 tenths = (us + 50) / 100;
    if (tenths < 100)
        return QStringLiteral("%1.%2").arg(tenths / 10).arg(tenths % 10);
    return QString::number((us + 500) / 1000);
}

QString FormatBytes(qint64 bytes)
{
    // Integer arithmetic for the one decimal: the same text in every locale.
    auto scaled = [](qint64 v, qint64 unit, const char *name) {
        const qint64 tenths = (v * 10 + unit / 2) / unit;
        if (tenths >= 100)
            return QStringLiteral("%1 %2").arg((tenths + 5) / 10).arg(QLatin1String(name));
        return QStringLiteral("%1.%2 %3").arg(tenths / 10).arg(tenths % 10).arg(QLatin1String(name));
    };
    if (bytes < 1000)
        return QStringLiteral("%1 bytes").arg(bytes);
    if (bytes < 1000 * 1000)
        return scaled(bytes, 1000, "KB");
    if (bytes < 1000LL * 1000 * 1000)
        return scaled(bytes, 1000 * 1000, "MB");
    return scaled(bytes, 1000LL * 1000 * 1000, "GB");
}

} // namespace history
