// The connection history at a year's size, one step per run so that each
// figure (time, memory) is its own process's:
//
//   history_once gen DIR [PROBES] [OUTAGES]
//                                   a generated history of PROBES probes (default
//                                   525600: a year at one a minute) in DIR/history.db,
//                                   with OUTAGES outages evenly spread (else one
//                                   every few days at random)
//   history_once uptime DIR         the 30-day uptime, from opening the file
//   history_once export DIR OUT     every probe as CSV into OUT
//   history_once window DIR [RANGE] the History window (RANGE 0..4 as its range
//                                   choice) shown to its first paint; needs a display
//   history_once report DIR OUT     a report of everything into OUT (.pdf or .html)
//
// Each prints "name value unit" lines.
#include "config/options.h"
#include "history/historycalc.h"
#include "history/historyexport.h"
#include "history/historyreport.h"
#include "history/historystore.h"
#include "history/rangefigures.h"
#include "historyreport/reportfile.h"
#include "historyview/historywindow.h"
#include "historyview/timelineview.h"

#include <QApplication>
#include <QComboBox>
#include <QDateTime>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QTabWidget>

#include <cstdio>
#include <cstring>

using namespace history;
using namespace historyview;
using namespace historyreport;

namespace {

long RssKiB()
{
    QFile f(QStringLiteral("/proc/self/status"));
    if (!f.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray &line : f.readAll().split('\n')) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toLong();
    }
    return 0;
}

// A year of one probe a minute ending now: three servers in turn with
// round trips around 30 to 90 ms, an outage of 3 to 20 minutes every few
// days, a night's sleep now and then, and the program restarted weekly.
int Generate(const QString &dir, qint64 count, qint64 outages)
{
    QFile::remove(dir + "/history.db");
    THistoryStore store;
    if (!store.Open(dir + "/history.db"))
        return 1;
    QRandomGenerator rng(2024);
    const TUs minute = 60LL * 1000000;
    // Every 13 days a night of 8 hours asleep: no probes then.
    const qint64 sleepEvery = 13 * 1440, sleepMinutes = 8 * 60;
    const TUs end = QDateTime::currentMSecsSinceEpoch() * kUsPerMs;
    const TUs start = end - (count + count / sleepEvery * sleepMinutes + 1) * minute;
    TUs asleep = 0;
    const QString hosts[] = {"ns1.example.net", "www.example.org", "192.0.2.80"};
    const QString addresses[] = {"198.51.100.1", "203.0.113.7", "192.0.2.80"};
    QElapsedTimer t;
    t.start();
    {
        THistoryStore::TBatch batch(store);
        qint64 session = 0;
        TUs sessionStart = start;
        int outageLeft = 0;
        TOutageRow outage;
        qint64 outageId = 0;
        for (qint64 i = 0; i < count; ++i) {
            const TUs at = start + i * minute + asleep + rng.bounded(900) * 1000;
            if (!session || at - sessionStart > 7 * kUsPerDay) {
                if (session)
                    store.EndSession(session, at - 2 * minute);
                sessionStart = at;
                session = store.BeginSession(at, 60000, 1, true);
            }
            const bool due = outages > 0 && count >= outages ? (i + count / outages / 2) % (count / outages) == 0 : rng.bounded(4320) == 0;
            if (outageLeft == 0 && due) {
                outageLeft = 3 + int(rng.bounded(18));
                outage = TOutageRow();
                outage.Start = at;
                outage.FirstOutcome = TProbeOutcome::Timeout;
                outage.FirstReason = "Request timed out";
                outage.Hosts = hosts[0] + " " + hosts[1] + " " + hosts[2];
                outage.ProbesLost = 3;
                outageId = store.OpenOutage(outage, session);
            }
            TProbeRow p;
            p.At = at;
            p.Host = hosts[i % 3];
            p.Address = addresses[i % 3];
            p.Kind = session::TProbeKind::Echo;
            p.BytesSent = 84;
            if (outageLeft > 0) {
                p.Outcome = TProbeOutcome::Timeout;
                p.Reason = "Request timed out";
                if (--outageLeft == 0) {
                    outage.End = at + minute;
                    outage.DurationMs = (*outage.End - outage.Start) / 1000;
                    outage.EndedBy = "up";
                    store.CloseOutage(outageId, outage);
                }
            } else {
                p.Outcome = TProbeOutcome::Ok;
                p.Ms = 30 + int(i % 3) * 20 + int(rng.bounded(25));
                p.BytesReceived = 84;
            }
            store.AddProbe(p, session);
            if (i % sleepEvery == sleepEvery - 1) {
                const qint64 gap = store.OpenGap(session, at + 1000, kSuspended);
                store.CloseGap(gap, at + sleepMinutes * minute);
                asleep += sleepMinutes * minute;
            }
        }
        store.EndSession(session, end);
    }
    const qint64 ms = t.elapsed();
    store.Close();
    std::printf("generate %lld ms\n", ms);
    std::printf("probes %lld\n", count);
    const qint64 size = QFileInfo(dir + "/history.db").size() + QFileInfo(dir + "/history.db-wal").size();
    std::printf("file %.1f MB\n", double(size) / 1e6);
    return 0;
}

// The History window's figures of everything, without the window: the
// summaries' share of its first paint.
int Figures(const QString &dir)
{
    THistoryStore store;
    if (!store.Open(dir + "/history.db", THistoryStore::TMode::Read))
        return 1;
    const TUs now = QDateTime::currentMSecsSinceEpoch() * kUsPerMs;
    const TRange all{store.FirstProbe().value_or(0), now + 1};
    QElapsedTimer t;
    t.start();
    const std::vector<TSpanRow> pauses = store.Gaps(all);
    const qint64 gaps = t.elapsed();
    TRangeFigures figures;
    if (!ReadRangeFigures(store, all, pauses, now, 1000, figures))
        return 1;
    std::printf("figures_all %lld ms (pauses %lld ms; %zu pauses, %zu points, %zu days, %lld probes, hours %d)\n",
                t.elapsed(), gaps, pauses.size(), figures.Points.size(), figures.Days.size(), figures.Probes,
                int(figures.FromHours));
    return 0;
}

int Uptime(const QString &dir)
{
    const long before = RssKiB();
    QElapsedTimer t;
    t.start();
    THistoryStore store;
    if (!store.Open(dir + "/history.db", THistoryStore::TMode::Read))
        return 1;
    const qint64 open = t.elapsed();
    const TUs now = QDateTime::currentMSecsSinceEpoch() * kUsPerMs;
    const TRange month{now - 30 * kUsPerDay, now + 1};
    const TUptime up = Uptime(month, store.Sessions(month), store.Gaps(month), store.Outages(month), now);
    std::printf("open %lld ms\n", open);
    std::printf("uptime30 %lld ms (%.3f %% up, %d outages)\n", t.elapsed(), up.Percent().value_or(0), up.Outages);
    std::printf("uptime_rss_growth %.1f MB\n", (RssKiB() - before) / 1024.0);
    return 0;
}

int Export(const QString &dir, const QString &out)
{
    const long before = RssKiB();
    QElapsedTimer t;
    t.start();
    THistoryStore store;
    if (!store.Open(dir + "/history.db", THistoryStore::TMode::Read))
        return 1;
    qint64 count = 0;
    QString error;
    if (!ExportToFile(store, TExportKind::Probes, TExportFormat::Csv, {0, 1LL << 62}, out, &error, &count)) {
        std::fprintf(stderr, "%s\n", qPrintable(error));
        return 1;
    }
    std::printf("export %lld ms (%lld probes, %.1f MB)\n", t.elapsed(), count, QFileInfo(out).size() / 1e6);
    std::printf("export_rss_growth %.1f MB\n", (RssKiB() - before) / 1024.0);
    return 0;
}

int Report(int argc, char **argv, const QString &dir, const QString &out)
{
    // As idlix --report runs: a GUI application for the fonts, no display.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    THistoryStore store;
    if (!store.Open(dir + "/history.db", THistoryStore::TMode::Read))
        return 1;
    const long before = RssKiB();
    QElapsedTimer t;
    t.start();
    TReport report;
    QString error;
    if (!BuildReport(store, {kOpenStart, kOpenEnd}, QDateTime::currentMSecsSinceEpoch() * kUsPerMs, &report, &error)) {
        std::fprintf(stderr, "%s\n", qPrintable(error));
        return 1;
    }
    const qint64 figures = t.elapsed();
    const std::optional<TReportFormat> format = ReportFormatFor(out);
    if (!format || !WriteReportFile(report, *format, out, &error)) {
        std::fprintf(stderr, "%s\n", qPrintable(error));
        return 1;
    }
    const char *kind = *format == TReportFormat::Pdf ? "pdf" : "html";
    std::printf("report_%s %lld ms (figures %lld ms; %zu days, %zu outages, %lld probes)\n", kind, t.elapsed(), figures,
                report.Days.size(), report.Outages.size(), report.Probes);
    std::printf("report_%s_size %.2f MB\n", kind, QFileInfo(out).size() / 1e6);
    std::printf("report_%s_rss_growth %.1f MB\n", kind, (RssKiB() - before) / 1024.0);
    return 0;
}

int Window(int argc, char **argv, const QString &dir, int range)
{
    QApplication app(argc, argv);
    config::TOptions options;
    // The program has its history open from its start: the window's time
    // runs from the click that makes it.
    THistoryStore store;
    if (!store.Open(dir + "/history.db", THistoryStore::TMode::Read))
        return 1;
    const long before = RssKiB();
    QElapsedTimer t;
    t.start();
    THistoryWindow window(store, options);
    window.cb_HistRange->setCurrentIndex(range);
    qint64 painted = -1;
    QObject::connect(window.img_HistTimeline, &TTimelineView::Painted, &app, [&] {
        if (painted < 0) {
            painted = t.elapsed();
            QTimer::singleShot(0, &app, &QApplication::quit);
        }
    });
    window.show();
    QTimer::singleShot(30000, &app, &QApplication::quit);
    QApplication::exec();
    std::printf("first_paint %lld ms (range %d, %zu runs)\n", painted, range,
                window.img_HistTimeline->Shape().Runs.size());
    // From there to each other range, as a click on the choice does it:
    // the figures read again and the timeline painted.
    window.show();
    QCoreApplication::processEvents();
    for (int other = 0; other < window.cb_HistRange->count(); ++other) {
        if (other == range)
            continue;
        t.restart();
        window.cb_HistRange->setCurrentIndex(other);
        window.img_HistTimeline->repaint();
        std::printf("range_change %lld ms (range %d to %d)\n", t.elapsed(), range, other);
        window.cb_HistRange->setCurrentIndex(range);
    }
    // The pages under the timeline get their rows when first shown: what a
    // click on each costs.
    for (int page = 1; page < window.tab_Hist->count(); ++page) {
        t.restart();
        window.tab_Hist->setCurrentIndex(page);
        window.tab_Hist->currentWidget()->repaint();
        std::printf("page_shown %lld ms (range %d, page %d)\n", t.elapsed(), range, page);
    }
    std::printf("window_rss_growth %.1f MB\n", (RssKiB() - before) / 1024.0);
    return painted < 0 ? 1 : 0;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc < 3)
        return 2;
    const QString dir = QString::fromLocal8Bit(argv[2]);
    if (!std::strcmp(argv[1], "gen"))
        return Generate(dir, argc > 3 ? std::atoll(argv[3]) : 525600, argc > 4 ? std::atoll(argv[4]) : 0);
    if (!std::strcmp(argv[1], "figures"))
        return Figures(dir);
    if (!std::strcmp(argv[1], "uptime"))
        return Uptime(dir);
    if (!std::strcmp(argv[1], "export") && argc > 3)
        return Export(dir, QString::fromLocal8Bit(argv[3]));
    if (!std::strcmp(argv[1], "report") && argc > 3)
        return Report(argc, argv, dir, QString::fromLocal8Bit(argv[3]));
    if (!std::strcmp(argv[1], "window"))
        return Window(argc, argv, dir, argc > 3 ? std::atoi(argv[3]) : 2);
    return 2;
}
