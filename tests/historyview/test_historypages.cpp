// The History window's pages over a history long enough that its outages
// and days fill many rows: a page not on screen gets the rows of the range
// when it is shown, the same rows, cell for cell, that it holds when it is
// the page on screen as the range is read; and after a change of range while
// hidden it shows the new range's rows, not the old.
#include "config/options.h"
#include "history/historystore.h"
#include "historyview/historywindow.h"
#include "../support/testutil.h"

#include <QComboBox>
#include <QDateTime>
#include <QTabWidget>
#include <QTableWidget>
#include <QTest>
#include <gtest/gtest.h>

#include <algorithm>

using namespace history;
using namespace historyview;

namespace {

constexpr TUs kMin = 60LL * 1000000;
constexpr int kDays = 150;

// Every cell of a table as text, with its tool tip where it has one.
std::vector<QStringList> Cells(QTableWidget *t)
{
    std::vector<QStringList> rows;
    for (int r = 0; r < t->rowCount(); ++r) {
        QStringList cells;
        for (int c = 0; c < t->columnCount(); ++c) {
            const QTableWidgetItem *item = t->item(r, c);
            cells << (item ? item->text() + QLatin1Char('|') + item->toolTip() : QStringLiteral("(none)"));
        }
        rows.push_back(cells);
    }
    return rows;
}

QString Local(TUs at)
{
    return QDateTime::fromMSecsSinceEpoch(at / kUsPerMs).toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"));
}

} // namespace

TEST(HistoryPages, AHiddenPageShownHoldsTheRowsOfThePageOnScreen)
{
    // 150 days of a probe an hour, and four outages of ten minutes a day (a
    // hundred and twenty in the last 30 days).
    testutil::ScratchDir dir;
    THistoryStore store;
    ASSERT_TRUE(store.Open(THistoryStore::DefaultPath()));
    const TUs now = QDateTime::currentMSecsSinceEpoch() * kUsPerMs, start = now - kDays * kUsPerDay;
    qint64 probes = 0;
    std::vector<TUs> outageStarts;
    {
        THistoryStore::TBatch batch(store);
        const qint64 s = store.BeginSession(start, 3600000, 1, false);
        for (TUs at = start + kMin; at < now - kMin; at += kUsPerDay / 24, ++probes) {
            TProbeRow p;
            p.At = at;
            p.Host = "a.test";
            p.Kind = session::TProbeKind::Echo;
            p.Outcome = TProbeOutcome::Ok;
            p.Ms = 20 + int(at / kMin % 7);
            store.AddProbe(p, s);
        }
        for (TUs at = start + kUsPerDay / 8; at < now - kUsPerDay / 4; at += kUsPerDay / 4) {
            TOutageRow o;
            o.Start = at;
            o.End = at + 10 * kMin;
            o.DurationMs = 10 * 60000;
            o.Evidence = QStringLiteral("outage at %1").arg(Local(at));
            store.CloseOutage(store.OpenOutage(o, s), o);
            outageStarts.push_back(at);
        }
        store.EndSession(s, now);
    }
    config::TOptions options;
    enum { Outages = 0, Targets = 1, Bytes = 2 };
    const struct {
        const char *name;
        int range, first, page;   // the range, the page on screen at first, the page compared
        std::vector<int> later;   // ranges chosen after the page was shown once and hidden again
    } cases[] = {
        {"days of everything", THistoryWindow::Everything, Outages, Bytes, {}},
        {"outages of everything", THistoryWindow::Everything, Targets, Outages, {}},
        {"outages of 30 days", THistoryWindow::Last30Days, Bytes, Outages, {}},
        {"outages, then 30 days", THistoryWindow::Everything, Targets, Outages, {THistoryWindow::Last30Days}},
        {"outages, then 7 days, then 30", THistoryWindow::Everything, Targets, Outages,
         {THistoryWindow::Last7Days, THistoryWindow::Last30Days}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        THistoryWindow w(store, options), onScreen(store, options);
        w.cb_HistRange->setCurrentIndex(c.range);
        w.tab_Hist->setCurrentIndex(c.first);
        w.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
        QTableWidget *table = c.page == Outages ? w.tbl_HistOutages : w.tbl_HistBytes;
        // Hundreds of rows wait for their page.
        EXPECT_EQ(table->rowCount(), 0);
        for (int range : c.later) {
            w.tab_Hist->setCurrentIndex(c.page);
            w.tab_Hist->setCurrentIndex(c.first);
            w.cb_HistRange->setCurrentIndex(range);
        }
        w.tab_Hist->setCurrentIndex(c.page);
        const std::vector<QStringList> rows = Cells(table);

        // The same as the page shows when it is on screen as the range is read.
        onScreen.cb_HistRange->setCurrentIndex(w.cb_HistRange->currentIndex());
        onScreen.tab_Hist->setCurrentIndex(c.page);
        onScreen.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&onScreen));
        EXPECT_EQ(rows, Cells(c.page == Outages ? onScreen.tbl_HistOutages : onScreen.tbl_HistBytes));

        // And the range's own: every probe in its day, or every outage
        // that reaches into the range, newest first.
        if (c.page == Bytes) {
            qint64 sum = 0;
            for (const QStringList &row : rows)
                sum += row[1].section('|', 0, 0).toLongLong();
            EXPECT_EQ(sum, probes);
            // 150 days less two minutes: 151 local days, or 150 just after midnight.
            EXPECT_GE(rows.size(), size_t(kDays));
            EXPECT_LE(rows.size(), size_t(kDays + 1));
            continue;
        }
        QStringList starts;
        for (auto it = outageStarts.rbegin(); it != outageStarts.rend() && *it + 10 * kMin > w.Range().From; ++it)
            starts << Local(*it) + "|";
        QStringList shown;
        for (const QStringList &row : rows)
            shown << row[0];
        EXPECT_EQ(shown, starts);
        EXPECT_GT(shown.size(), 100);
        EXPECT_EQ(rows.front()[5], "|outage at " + Local(outageStarts.back()));
    }
}
