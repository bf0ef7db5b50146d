#include "historyreport/reportdoc.h"

#include "config/options.h"
#include "history/historytypes.h"
#include "platform/durationtext.h"

#include <QDateTime>
#include <QRegularExpression>

#include <cmath>

namespace historyreport {

// What this folder shows is the history layer's: its types are used unqualified.
using namespace history;

namespace {

using platform::FullDurationText;

// The locale's time with seconds, without the zone its long form carries.
QString TimeFormat(const QLocale &locale)
{
    static const QRegularExpression zone(QStringLiteral("\\s*\\(?t+\\)?"));
    return locale.timeFormat(QLocale::LongFormat).remove(zone).trimmed();
}

QDateTime Local(TUs at) { return QDateTime::fromMSecsSinceEpoch(at / kUsPerMs).toLocalTime(); }

QString LocalStamp(TUs at, const QLocale &locale)
{
    const QDateTime t = Local(at);
    return locale.toString(t.date(), QLocale::ShortFormat) + QLatin1Char(' ')
           + locale.toString(t.time(), TimeFormat(locale));
}

QString Offset(TUs at)
{
    const int s = Local(at).offsetFromUtc();
    return QStringLiteral("UTC%1%2:%3")
        .arg(s < 0 ? QLatin1Char('-') : QLatin1Char('+'))
        .arg(std::abs(s) / 3600, 2, 10, QLatin1Char('0'))
        .arg(std::abs(s) % 3600 / 60, 2, 10, QLatin1Char('0'));
}

QString UtcStamp(TUs at)
{
    return QDateTime::fromMSecsSinceEpoch(at / kUsPerMs, Qt::UTC).toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
}

QString Percent(const QLocale &locale, double v, int decimals)
{
    return locale.toString(v, 'f', decimals) + QStringLiteral(" %");
}

QString Ms(const QLocale &locale, std::optional<double> v)
{
    return v ? locale.toString(*v, 'f', std::floor(*v) == *v ? 0 : 1) : QString();
}

QString Ms(const QLocale &locale, int v) { return v < 0 ? QString() : locale.toString(v); }

QString Share(const QLocale &locale, TUs part, TUs whole)
{
    QString text = FullDurationText(part / kUsPerMs);
    if (whole > 0)
        text += QStringLiteral(" (") + Percent(locale, 100.0 * double(part) / double(whole), 1) + QLatin1Char(')');
    return text;
}

QString MethodName(int method)
{
    switch (method) {
    case config::TAntiIdleOptions::HttpGets: return QStringLiteral("HTTP GET");
    case config::TAntiIdleOptions::IcmpPings: return QStringLiteral("ICMP echo");
    case config::TAntiIdleOptions::Alternate: return QStringLiteral("HTTP GET and ICMP echo in turn");
    default: return QStringLiteral("unknown method");
    }
}

QString SettingsText(const TReport &r)
{
    QStringList parts;
    for (const TSessionSettings &s : r.Settings) {
        parts << QStringLiteral("%1 every %2%3")
                     .arg(MethodName(s.Method), FullDurationText(s.IntervalMs),
                          s.Cycle ? QStringLiteral(", through the server list") : QString());
    }
    return parts.isEmpty() ? QStringLiteral("no session in this period") : parts.join(QStringLiteral("; "));
}

QString LineText(const TReportLine &line)
{
    QStringList parts;
    if (!line.Connection.isEmpty())
        parts << line.Connection;
    if (!line.Interface.isEmpty())
        parts << QStringLiteral("interface ") + line.Interface;
    if (!line.LocalAddress.isEmpty())
        parts << QStringLiteral("local address ") + line.LocalAddress;
    if (!line.PublicAddress.isEmpty())
        parts << QStringLiteral("public address ") + line.PublicAddress;
    return parts.isEmpty() ? QStringLiteral("not known") : parts.join(QStringLiteral(", "));
}

TDocTable DaysTable(const TReport &r, const QLocale &locale)
{
    TDocTable t;
    t.Title = QStringLiteral("Days");
    t.Headings = {QStringLiteral("Day"), QStringLiteral("Watched"), QStringLiteral("Down"), QStringLiteral("Probes"),
                  QStringLiteral("Loss"), QStringLiteral("Median ms"), QStringLiteral("95th pct. ms")};
    t.Numbers = 6;
    t.IfEmpty = QStringLiteral("No day in this period.");
    for (const TReportDay &d : r.Days) {
        const std::optional<double> loss = d.LossPercent();
        t.Rows.push_back({{locale.toString(d.Day.Date, QLocale::ShortFormat),
                           FullDurationText(d.Monitored / kUsPerMs), FullDurationText(d.Down / kUsPerMs),
                           locale.toString(d.Probes),
                           loss ? Percent(locale, *loss, 1) : QString(), Ms(locale, d.MedianMs), Ms(locale, d.P95Ms)},
                          {}});
    }
    return t;
}

TDocTable OutagesTable(const TReport &r, const QLocale &locale)
{
    // The diagnosis's columns only once some outage has been diagnosed.
    const bool diagnosed = std::any_of(r.Outages.begin(), r.Outages.end(), [](const TReportOutage &o) {
        return !o.Verdict.isEmpty() || !o.Evidence.isEmpty();
    });
    TDocTable t;
    t.Title = QStringLiteral("Outages");
    t.Headings = {QStringLiteral("Start"), QStringLiteral("End"), QStringLiteral("Length"), QStringLiteral("Lost probes")};
    if (diagnosed)
        t.Headings << QStringLiteral("Verdict") << QStringLiteral("Evidence");
    else
        t.Headings << QStringLiteral("Reason");
    t.FirstNumber = 2;
    t.Numbers = 2;
    t.IfEmpty = QStringLiteral("No outage in this period.");
    for (const TReportOutage &o : r.Outages) {
        QString end = o.Row.End ? LocalStamp(*o.Row.End, locale) : QStringLiteral("still down");
        if (o.Row.End && !o.Row.EndedBy.isEmpty() && o.Row.EndedBy != QLatin1String("up"))
            end += QStringLiteral(" (") + o.Row.EndedBy + QLatin1Char(')');
        TDocRow row{{LocalStamp(o.Row.Start, locale), end, FullDurationText(o.LengthMs),
                      locale.toString(o.Row.ProbesLost)},
                     {}};
        if (diagnosed)
            row.Cells << o.Verdict << o.Evidence;
        else
            row.Cells << o.Row.Reason();
        if (!o.Route.isEmpty())
            row.Note = QStringLiteral("Route at the start: ") + o.Route.join(QStringLiteral(" > "));
        t.Rows.push_back(row);
    }
    return t;
}

TDocTable TargetsTable(const TReport &r, const QLocale &locale)
{
    TDocTable t;
    t.Title = QStringLiteral("Targets");
    t.Headings = {QStringLiteral("Target"),    QStringLiteral("Method"), QStringLiteral("Probes"),
                  QStringLiteral("Loss"),      QStringLiteral("Min ms"), QStringLiteral("Median ms"),
                  QStringLiteral("95th pct. ms"), QStringLiteral("Max ms"), QStringLiteral("Jitter ms")};
    t.FirstNumber = 2;
    t.Numbers = 7;
    t.IfEmpty = QStringLiteral("No probe in this period.");
    for (const TReportTarget &g : r.Targets) {
        const TTargetRow &row = g.Row;
        t.Rows.push_back({{row.Host, KindName(row.Kind), locale.toString(row.Probes), Percent(locale, row.LossPercent(), 1),
                           Ms(locale, row.Min), Ms(locale, g.MedianMs), Ms(locale, g.P95Ms), Ms(locale, row.Max),
                           row.Jitter ? locale.toString(*row.Jitter, 'f', 1) : QString()},
                          {}});
    }
    return t;
}

std::vector<TDocChart> Charts(const TReport &r, const QLocale &locale)
{
    TDocChart down{QStringLiteral("Down time per day"), QStringLiteral("min"), {}, {}};
    TDocChart loss{QStringLiteral("Lost probes per day"), QStringLiteral("%"), {}, {}};
    TDocChart rtt{QStringLiteral("Round trip per day"), QStringLiteral("ms"), {}, {}};
    TDocSeries downMin{QStringLiteral("down"), {}, 0xc62828, true};
    TDocSeries lossPct{QStringLiteral("loss"), {}, 0xef6c00, true};
    TDocSeries median{QStringLiteral("median"), {}, 0x1565c0, false};
    TDocSeries p95{QStringLiteral("95th percentile"), {}, 0x8e24aa, false};
    QStringList labels;
    for (const TReportDay &d : r.Days) {
        labels << locale.toString(d.Day.Date, QLocale::ShortFormat);
        downMin.Values.push_back(d.Monitored > 0 ? std::optional<double>(double(d.Down) / 60e6) : std::nullopt);
        lossPct.Values.push_back(d.LossPercent());
        median.Values.push_back(d.MedianMs);
        p95.Values.push_back(d.P95Ms >= 0 ? std::optional<double>(d.P95Ms) : std::nullopt);
    }
    down.DayLabels = loss.DayLabels = rtt.DayLabels = labels;
    down.Series = {downMin};
    loss.Series = {lossPct};
    rtt.Series = {median, p95};
    return {down, loss, rtt};
}

} // namespace

QString PaperFor(const QLocale &locale)
{
    static const QLocale::Territory letter[] = {
        QLocale::UnitedStates, QLocale::Canada,    QLocale::Mexico,   QLocale::PuertoRico, QLocale::Philippines,
        QLocale::Chile,        QLocale::Colombia,  QLocale::Venezuela, QLocale::Guatemala, QLocale::CostaRica,
        QLocale::Panama,       QLocale::DominicanRepublic, QLocale::ElSalvador, QLocale::Nicaragua, QLocale::Belize,
    };
    for (QLocale::Territory t : letter) {
        if (locale.territory() == t)
            return QStringLiteral("Letter");
    }
    return QStringLiteral("A4");
}

TReportDoc MakeReportDoc(const TReport &r, const QLocale &locale)
{
    TReportDoc doc;
    doc.Locale = locale;
    doc.Title = QStringLiteral("Connection report");
    doc.PageSize = PaperFor(locale);
    const TRange &p = r.Period;
    doc.Head = {
        {QStringLiteral("Period"),
         QStringLiteral("%1 (%2) to %3 (%4)")
             .arg(LocalStamp(p.From, locale), Offset(p.From), LocalStamp(p.To, locale), Offset(p.To))},
        {QStringLiteral("Period (UTC)"), QStringLiteral("%1 to %2 UTC").arg(UtcStamp(p.From), UtcStamp(p.To))},
        {QStringLiteral("Line"), LineText(r.Line)},
        {QStringLiteral("Probes"), SettingsText(r)},
        {QStringLiteral("Written"),
         LocalStamp(r.Made, locale) + QStringLiteral(" (") + UtcStamp(r.Made) + QStringLiteral(" UTC)")},
    };
    if (r.Empty)
        doc.EmptyNotice = QStringLiteral("Nothing was recorded in this period: no session ran and no probe was sent.");

    const TUs whole = r.Period.Length();
    const std::optional<double> up = r.Up.Percent();
    doc.Summary = {
        {QStringLiteral("Uptime"), up ? Percent(locale, *up, 2) + QStringLiteral(" of the watched time")
                                      : QStringLiteral("not known (nothing was watched)")},
        {QStringLiteral("Watched"), Share(locale, r.Up.Monitored, whole)},
        {QStringLiteral("Outages"), locale.toString(r.Up.Outages)},
        {QStringLiteral("Down in all"), FullDurationText(r.Up.Down / kUsPerMs)},
        {QStringLiteral("Longest outage"), r.Outages.empty() ? QStringLiteral("none") : FullDurationText(r.LongestMs)},
        {QStringLiteral("Lost probes"),
         QStringLiteral("%1 of %2").arg(locale.toString(r.Lost), locale.toString(r.Probes))},
    };
    // Not watched: every kind with its share, so a reader sees what was not looked at.
    if (r.Unwatched.empty())
        doc.Summary.push_back({QStringLiteral("Not watched"), FullDurationText(0)});
    for (const TUnwatched &u : r.Unwatched) {
        QString kind = u.Kind;
        kind[0] = kind[0].toUpper();
        doc.Summary.push_back({kind, Share(locale, u.Length, whole)});
    }

    doc.Charts = Charts(r, locale);
    doc.Tables = {DaysTable(r, locale), OutagesTable(r, locale), TargetsTable(r, locale)};

    doc.Method = QStringLiteral(
                     "How these figures were taken: Idlix sent %1. The line counts as down after %2 failed probes in a "
                     "row and as up again after %3 answered ones; an outage runs from the first failed probe of that "
                     "run to the first answer. Uptime is the share of the watched time (sessions less their pauses) "
                     "the line was up. Loss counts probes that got no answer; round trips are those of the answered "
                     "probes, the median and the 95th percentile by nearest rank; jitter is the mean difference of "
                     "consecutive round trips to the same target. Probes while paused are left out. Lengths are "
                     "rounded to the nearest second; local times are %4.")
                     .arg(SettingsText(r))
                     .arg(r.DownAfter)
                     .arg(r.UpAfter)
                     .arg(r.Period.Length() > 0 ? Offset(r.Period.From) : Offset(r.Made));
    return doc;
}

} // namespace historyreport
