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

class HistoryPagesTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(store.Open(THistoryStore::DefaultPath()));
        options.AntiIdle.Frequency = "60";
        const TUs now = QDateTime::currentMSecsSinceEpoch() * kUsPerMs;
        const TUs start = now - kDays * kUsPerDay;
        // A probe an hour to two hosts in turn, and four outages of ten
        // minutes a day (a hundred and twenty in the last 30 days).
        THistoryStore::TBatch batch(store);
        const qint64 s = store.BeginSession(start, 3600000, 1, false);
        for (TUs at = start + kMin; at < now - kMin; at += kUsPerDay / 24) {
            TProbeRow p;
            p.At = at;
            p.Host = (at / (kUsPerDay / 24)) % 2 ? "a.test" : "b.test";
            p.Address = "127.0.0.1";
            p.Kind = session::TProbeKind::Echo;
            p.Outcome = TProbeOutcome::Ok;
            p.Ms = 20 + int(at / kMin % 7);
            p.BytesSent = p.BytesReceived = 84;
            store.AddProbe(p, s);
            ++probes;
        }
        for (TUs at = start + 3 * kUsPerDay / 24; at < now - kUsPerDay / 4; at += kUsPerDay / 4) {
            TOutageRow o;
            o.Start = at;
            o.End = at + 10 * kMin;
            o.DurationMs = 10 * 60000;
            o.ProbesLost = 1;
            o.FirstOutcome = TProbeOutcome::Timeout;
            o.FirstReason = "Request timed out";
            o.Hosts = "a.test b.test";
            o.EndedBy = "up";
            o.Evidence = QStringLiteral("outage at %1").arg(Local(at));
            store.CloseOutage(store.OpenOutage(o, s), o);
            outageStarts.push_back(at);
        }
        store.EndSession(s, now);
    }

    testutil::ScratchDir dir;
    THistoryStore store;
    config::TOptions options;
    qint64 probes = 0;
    std::vector<TUs> outageStarts;
};

} // namespace

TEST_F(HistoryPagesTest, AHiddenPageShownHoldsTheRowsOfThePageOnScreen)
{
    const struct {
        const char *name;
        int range;
        int page;     // the page compared
        int first;    // the page on screen as the window opens
    } cases[] = {
        {"days of everything", THistoryWindow::Everything, 2, 0},
        {"outages of everything", THistoryWindow::Everything, 0, 1},
        {"outages of 30 days", THistoryWindow::Last30Days, 0, 2},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        THistoryWindow onScreen(store, options), hidden(store, options);
        for (THistoryWindow *w : {&onScreen, &hidden})
            w->cb_HistRange->setCurrentIndex(c.range);
        onScreen.tab_Hist->setCurrentIndex(c.page);
        hidden.tab_Hist->setCurrentIndex(c.first);
        onScreen.show();
        hidden.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&onScreen));
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&hidden));
        QTableWidget *table = c.page == 0 ? hidden.tbl_HistOutages : hidden.tbl_HistBytes;
        // Hundreds of rows wait for their page.
        EXPECT_EQ(table->rowCount(), 0);
        hidden.tab_Hist->setCurrentIndex(c.page);
        const std::vector<QStringList> rows = Cells(table);
        EXPECT_EQ(rows, Cells(c.page == 0 ? onScreen.tbl_HistOutages : onScreen.tbl_HistBytes));

        // And they are the range's: a day a row with every probe, or every
        // outage newest first.
        const TRange range = hidden.Range();
        if (c.page == 0) {
            std::vector<QString> starts;
            for (auto it = outageStarts.rbegin(); it != outageStarts.rend(); ++it) {
                if (*it + 10 * kMin > range.From)
                    starts.push_back(Local(*it) + "|");
            }
            ASSERT_EQ(rows.size(), starts.size());
            ASSERT_GT(rows.size(), 100u);
            for (size_t r = 0; r < rows.size(); ++r)
                ASSERT_EQ(rows[r][0], starts[r]) << "row " << r;
            EXPECT_EQ(rows.front()[5], "|outage at " + Local(outageStarts.back()));
        } else {
            qint64 sum = 0;
            for (const QStringList &row : rows)
                sum += row[1].section('|', 0, 0).toLongLong();
            EXPECT_EQ(sum, probes);
            EXPECT_GE(rows.size(), size_t(kDays));
            EXPECT_LE(rows.size(), size_t(kDays + 1));
        }
    }
}

TEST_F(HistoryPagesTest, ARangeChangedWhileHiddenShowsTheNewRange)
{
    // The outages page filled for everything, hidden, the range changed,
    // then shown again: the last 30 days' outages, whether the range changed
    // once or back and forth.
    const struct {
        const char *name;
        std::vector<int> ranges;   // chosen in turn while the outages are hidden
        size_t rows;
    } cases[] = {
        {"to 30 days", {THistoryWindow::Last30Days}, 120},
        {"to 7 days and on to 30", {THistoryWindow::Last7Days, THistoryWindow::Last30Days}, 120},
        {"away and back", {THistoryWindow::Last30Days, THistoryWindow::Everything}, 0},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        THistoryWindow w(store, options);
        w.cb_HistRange->setCurrentIndex(THistoryWindow::Everything);
        w.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
        const size_t all = Cells(w.tbl_HistOutages).size();
        ASSERT_EQ(all, outageStarts.size());
        w.tab_Hist->setCurrentIndex(1);
        for (int range : c.ranges)
            w.cb_HistRange->setCurrentIndex(range);
        w.tab_Hist->setCurrentIndex(0);
        const std::vector<QStringList> rows = Cells(w.tbl_HistOutages);
        const TUs from = w.Range().From;
        const size_t want = size_t(std::count_if(outageStarts.begin(), outageStarts.end(),
                                                 [&](TUs at) { return at + 10 * kMin > from; }));
        EXPECT_EQ(rows.size(), want);
        EXPECT_NEAR(double(rows.size()), double(c.rows ? c.rows : all), 1);
        ASSERT_FALSE(rows.empty());
        EXPECT_EQ(rows.front()[0], Local(outageStarts.back()) + "|");
        EXPECT_EQ(rows.back()[0], Local(outageStarts[outageStarts.size() - rows.size()]) + "|");
    }
}
