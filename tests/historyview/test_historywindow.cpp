// The History window over a history written for the test: the timeline's
// shape (never a line across a lost probe, a gap or an outage), what the
// tables and labels show (as plain text), following new records while
// shown, exporting the range, a damaged file's notice, and the Tools menu
// item that opens it.
#include "config/options.h"
#include "config/optionsfile.h"
#include "history/historyexport.h"
#include "history/historystore.h"
#include "historyview/historyfeature.h"
#include "historyview/historywindow.h"
#include "historyview/timelineview.h"
#include "shell/mainform.h"
#include "../support/testutil.h"

#include <QAction>
#include <QComboBox>
#include <QDateTime>
#include <QFile>
#include <QLabel>
#include <QPushButton>
#include <QTabWidget>
#include <QTableWidget>
#include <QTest>
#include <gtest/gtest.h>

using namespace history;
using namespace historyview;
using namespace std::chrono_literals;

namespace {

constexpr TUs kMin = 60LL * 1000000;

TUs Now() { return QDateTime::currentMSecsSinceEpoch() * kUsPerMs; }

QStringList Row(QTableWidget *t, int row)
{
    QStringList cells;
    for (int c = 0; c < t->columnCount(); ++c)
        cells << (t->item(row, c) ? t->item(row, c)->text() : QString());
    return cells;
}

TProbeRow Probe(TUs at, const QString &host, int ms)
{
    TProbeRow p;
    p.At = at;
    p.Host = host;
    p.Address = "127.0.0.1";
    p.Kind = session::TProbeKind::Echo;
    p.Outcome = ms >= 0 ? TProbeOutcome::Ok : TProbeOutcome::Timeout;
    p.Ms = ms;
    p.BytesSent = 84;
    p.BytesReceived = ms >= 0 ? 84 : 0;
    if (ms < 0)
        p.Reason = "Request timed out";
    return p;
}

} // namespace

TEST(HistoryTimeline, LinesBreakAtLostProbesGapsAndOutages)
{
    const TRange range{0, 100};
    struct Case {
        const char *name;
        std::vector<TTimelinePoint> points;
        std::vector<TInterval> breaks;
        std::vector<std::vector<int>> runs;     // the columns of each run
        std::vector<int> lost;
    };
    const std::vector<Case> cases = {
        {"one line", {{10, 5}, {20, 6}, {30, 7}}, {}, {{10, 20, 30}}, {}},
        {"a lost probe between", {{10, 5}, {20, -1}, {30, 7}}, {}, {{10}, {30}}, {20}},
        {"a gap between", {{10, 5}, {20, 6}, {60, 7}}, {{40, 50}}, {{10, 20}, {60}}, {}},
        {"an outage up to the next answer", {{10, 5}, {20, -1}, {30, -1}, {40, 8}}, {{20, 40}}, {{10}, {40}}, {20, 30}},
        {"a break before the first probe", {{30, 5}, {40, 6}}, {{0, 20}}, {{30, 40}}, {}},
        {"points outside the range", {{-5, 5}, {50, 6}, {100, 7}}, {}, {{50}}, {}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        const TTimelineShape shape = ShapeTimeline(c.points, c.breaks, range, 100);
        std::vector<std::vector<int>> runs;
        for (const auto &run : shape.Runs) {
            runs.emplace_back();
            for (const auto &col : run)
                runs.back().push_back(col.X);
        }
        EXPECT_EQ(runs, c.runs);
        EXPECT_EQ(shape.LostX, c.lost);
    }
    // Many probes on one column keep their extremes and their order.
    const TTimelineShape dense = ShapeTimeline({{10, 40}, {11, 5}, {12, 90}, {13, 20}}, {}, range, 10);
    ASSERT_EQ(dense.Runs.size(), 1u);
    ASSERT_EQ(dense.Runs[0].size(), 1u);
    const TTimelineShape::TColumn col = dense.Runs[0][0];
    EXPECT_EQ(std::vector<int>({col.X, col.MinMs, col.MaxMs, col.FirstMs, col.LastMs}),
              std::vector<int>({1, 5, 90, 40, 20}));
    EXPECT_EQ(dense.MaxMs, 90);
}

class HistoryWindowTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(store.Open(THistoryStore::DefaultPath()));
        options.AntiIdle.Frequency = "1";
        now = Now();
        // Two hours ago a session of an hour: probes a minute apart to a
        // host whose name is markup, a 10-minute outage, a 10-minute sleep.
        const TUs start = now - 120 * kMin;
        const qint64 s = store.BeginSession(start, 60000, 1, false);
        for (int i = 0; i < 60; ++i) {
            if (i >= 40 && i < 50)
                continue;   // asleep
            const bool down = i >= 20 && i < 30;
            store.AddProbe(Probe(start + i * kMin, host, down ? -1 : 20 + (i % 2) * 10), s);
        }
        TOutageRow o;
        o.Start = start + 20 * kMin;
        o.End = start + 30 * kMin;
        o.DurationMs = 10 * 60000 - 500;   // rounded to the second, as every view rounds
        o.ProbesLost = 10;
        o.FirstOutcome = TProbeOutcome::Timeout;
        o.FirstReason = "Request timed out";
        o.Hosts = host;
        o.EndedBy = "up";
        o.Verdict = "provider";
        o.Evidence = "The router 10.0.0.1 answers in 0.8 ms; nothing past it does (hop 2 silent).";
        o.Route = R"([{"hop":1,"address":"10.0.0.1","name":"gw.lan","ms":1},)"
                  R"({"hop":2,"address":null,"name":null,"ms":null},)"
                  R"({"hop":3,"address":"192.0.2.7","name":null,"ms":12}])";
        store.CloseOutage(store.OpenOutage(o, s), o);
        store.CloseGap(store.OpenGap(s, start + 40 * kMin - 1, kSuspended), start + 50 * kMin - 1);
        store.EndSession(s, start + 60 * kMin);
    }

    testutil::ScratchDir dir;
    const QString host = "<b>bold</b>.test";
    THistoryStore store;
    config::TOptions options;
    TUs now = 0;
};

TEST_F(HistoryWindowTest, ShowsTheHistoryAsPlainText)
{
    THistoryWindow w(store, options);
    w.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
    EXPECT_TRUE(w.isWindow());
    // Two hours of history: the window opens on all of it, and only on it.
    EXPECT_EQ(w.cb_HistRange->currentText(), "Everything");
    EXPECT_EQ(w.Range().From, now - 120 * kMin);

    // 60 minutes watched, 10 of them asleep, 10 of the rest down.
    EXPECT_EQ(w.lbl_HistUptime24->text(), "Last 24 hours: 80.00 % up\n1 outage, 10 min down, 50 min watched");
    EXPECT_TRUE(w.lbl_HistUptime30->text().startsWith("Last 30 days: 80.00 % up"));

    ASSERT_EQ(w.tbl_HistOutages->rowCount(), 1);
    const QStringList outage = Row(w.tbl_HistOutages, 0);
    EXPECT_EQ(outage.mid(2), (QStringList{"10 min", "10", "Request timed out", "provider"}));
    EXPECT_EQ(w.tbl_HistOutages->item(0, 5)->toolTip(),
              "The router 10.0.0.1 answers in 0.8 ms; nothing past it does (hop 2 silent).");
    ASSERT_EQ(w.tbl_HistTargets->rowCount(), 1);
    // 50 probes, 10 lost; round trips alternate 20 and 30 (a jitter of 10)
    // except across the outage and the sleep, where the turn is kept.
    const QStringList target = Row(w.tbl_HistTargets, 0);
    EXPECT_EQ(target.mid(0, 7), (QStringList{host, "echo", "50", "20.0", "20", "25.0", "30"}));
    EXPECT_EQ(target[7], "10.0");
    // Its ten losses were the line's outage: no down time of its own.
    EXPECT_EQ(target[8], "");
    ASSERT_EQ(w.tbl_HistBytes->rowCount() >= 1, true);
    qint64 probes = 0;
    for (int r = 0; r < w.tbl_HistBytes->rowCount(); ++r)
        probes += Row(w.tbl_HistBytes, r)[1].toLongLong();
    EXPECT_EQ(probes, 50);
    // 40 answered echoes of 168 bytes and 10 lost of 84, over 50 probes: 151 a probe.
    EXPECT_EQ(w.lbl_HistCost->text(), "About 217 KB a day at one probe every 1 min (151 bytes a probe on average).");
    EXPECT_TRUE(w.lbl_HistLast->text().contains(host));

    // Markup from the file is never rendered.
    for (QLabel *l : w.findChildren<QLabel *>())
        EXPECT_EQ(l->textFormat(), Qt::PlainText) << l->objectName().toStdString();
    EXPECT_FALSE(w.lbl_HistNotice->isVisible());

    // The timeline: the line breaks at the outage and at the sleep.
    EXPECT_EQ(w.img_HistTimeline->Shape().Runs.size(), 3u);
    EXPECT_FALSE(w.img_HistTimeline->Shape().LostX.empty());
}

TEST_F(HistoryWindowTest, FollowsNewRecordsWhileShown)
{
    THistoryWindow w(store, options);
    w.cb_HistRange->setCurrentIndex(THistoryWindow::Last24Hours);
    w.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
    ASSERT_EQ(Row(w.tbl_HistTargets, 0)[2], "50");
    store.AddProbe(Probe(Now(), "new.test", 12), 0);
    ASSERT_TRUE(testutil::waitFor([&] { return w.tbl_HistTargets->rowCount() == 2; }, 3s));
    EXPECT_TRUE(w.lbl_HistLast->text().contains("new.test"));
    // An idle timer kept while the window shows: in its tab, whatever the range.
    ASSERT_EQ(w.tbl_HistIdle->rowCount(), 0);
    store.AddIdleTimer({Now() - 40 * 24 * 3600 * 1000000LL, "udp", "gateway 10.0.0.1 via eth0", "at least", 1800,
                        1800, 0, "15+ 1800+", 248, 1803000});
    ASSERT_TRUE(testutil::waitFor([&] { return w.tbl_HistIdle->rowCount() == 1; }, 3s));
    EXPECT_EQ(Row(w.tbl_HistIdle, 0).mid(1), (QStringList{"udp", "gateway 10.0.0.1 via eth0", "at least 1800", "1800",
                                                          "", "15+ 1800+", "248 bytes"}));
}

TEST_F(HistoryWindowTest, ATargetAloneSilentShowsItsOwnDownTime)
{
    // A second server of the cycle, silent for three minutes while the line
    // was up, then silent again inside the line's outage.
    const TUs start = now - 120 * kMin;
    const qint64 s = store.BeginSession(start + 61 * kMin, 60000, 1, true);
    const struct {
        TUs at;
        int ms;
    } quiet[] = {{2 * kMin + kMin / 2, -1}, {3 * kMin + kMin / 2, -1}, {5 * kMin + kMin / 2, 7},
                 {21 * kMin + kMin / 2, -1}, {31 * kMin + kMin / 2, 7}};
    for (const auto &q : quiet)
        store.AddProbe(Probe(start + q.at, "quiet.test", q.ms), s);
    store.EndSession(s, start + 62 * kMin);
    THistoryWindow w(store, options);
    w.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
    ASSERT_EQ(w.tbl_HistTargets->rowCount(), 2);
    ASSERT_EQ(w.tbl_HistTargets->columnCount(), 9);
    EXPECT_EQ(w.tbl_HistTargets->horizontalHeaderItem(8)->text(), "Down");
    const QStringList row = Row(w.tbl_HistTargets, 1);
    EXPECT_EQ(row[0], "quiet.test");
    EXPECT_EQ(row[8], "3 min");
    EXPECT_EQ(Row(w.tbl_HistTargets, 0)[8], "");
}

TEST_F(HistoryWindowTest, ExportsTheRangeShown)
{
    THistoryWindow w(store, options);
    w.cb_HistRange->setCurrentIndex(THistoryWindow::Last24Hours);
    const QString path = dir.file("out.csv");
    ASSERT_TRUE(w.ExportTo(TExportKind::Probes, TExportFormat::Csv, path));
    QByteArray want;
    ExportHistory(store, TExportKind::Probes, TExportFormat::Csv, w.Range(),
                  [&](const QByteArray &p) { want += p; return true; });
    EXPECT_EQ(testutil::readFile(path), want);
    EXPECT_EQ(want.count('\n'), 51);

    // A folder that is not there: said in a box, as plain text.
    const testutil::SeenBox box = testutil::readModalBox(
        [&] { EXPECT_FALSE(w.ExportTo(TExportKind::Outages, TExportFormat::Ndjson, dir.file("no/such/out.ndjson"))); });
    EXPECT_TRUE(box.shown);
    EXPECT_TRUE(box.plainText);
    EXPECT_TRUE(box.text.contains("no/such/out.ndjson")) << box.text.toStdString();
}

TEST_F(HistoryWindowTest, ReportsTheRangeShown)
{
    QLocale::setDefault(QLocale::c());   // the figures below with a point
    THistoryWindow w(store, options);
    w.cb_HistRange->setCurrentIndex(THistoryWindow::Last24Hours);
    EXPECT_EQ(w.btn_HistReport->text(), "Report...");
    ASSERT_TRUE(w.ReportTo(dir.file("r.html")));
    ASSERT_TRUE(w.ReportTo(dir.file("r.PDF")));
    EXPECT_TRUE(testutil::readFile(dir.file("r.PDF")).startsWith("%PDF-"));
    // The range shown is the report's period: its 24 hours, the outage of
    // 10 minutes and its 10 lost probes, the host as text.
    const QString html = QString::fromUtf8(testutil::readFile(dir.file("r.html")));
    const QDateTime from = QDateTime::fromMSecsSinceEpoch(w.Range().From / kUsPerMs, Qt::UTC);
    EXPECT_TRUE(html.contains(from.toString("yyyy-MM-dd HH:mm"))) << html.toStdString();
    for (const char *text : {"<td class=\"n\">10 min</td><td class=\"n\">10</td>", "&lt;b&gt;bold&lt;/b&gt;.test",
                             "<td>80.00 % of the watched time</td>"})
        EXPECT_TRUE(html.contains(QString::fromUtf8(text))) << text;

    // A name of no known kind, or a folder that is not there: said in a box.
    for (const QString &bad : {dir.file("r.txt"), dir.file("no/such/r.pdf")}) {
        const testutil::SeenBox box = testutil::readModalBox([&] { EXPECT_FALSE(w.ReportTo(bad)); });
        EXPECT_TRUE(box.shown);
        EXPECT_TRUE(box.text.contains(bad)) << box.text.toStdString();
    }
}

TEST(HistoryWindowNotice, ADamagedFileSetAsideIsSaid)
{
    testutil::ScratchDir dir;
    QFile f(THistoryStore::DefaultPath());
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(QByteArray(8192, 'x'));
    f.close();
    THistoryStore store;
    ASSERT_TRUE(store.Open(THistoryStore::DefaultPath()));
    config::TOptions options;
    THistoryWindow w(store, options);
    w.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
    EXPECT_TRUE(w.lbl_HistNotice->isVisible());
    EXPECT_TRUE(w.lbl_HistNotice->text().contains("set aside as " + dir.path())) << w.lbl_HistNotice->text().toStdString();
    EXPECT_EQ(w.lbl_HistUptime24->text(), "Last 24 hours: not monitored\n ");
}

TEST(HistoryFeature, ToolsHistoryOpensOneWindow)
{
    testutil::ScratchDir dir;
    TMainForm form;
    THistoryStore store;
    ASSERT_TRUE(store.Open(THistoryStore::DefaultPath()));
    THistoryFeature feature(form, store);
    QObject::connect(form.MenuItem("History1"), &QAction::triggered, &feature, &THistoryFeature::History1Click);
    EXPECT_EQ(feature.Window(), nullptr);
    form.MenuItem("History1")->trigger();
    ASSERT_NE(feature.Window(), nullptr);
    THistoryWindow *first = feature.Window();
    EXPECT_TRUE(first->isVisible());
    EXPECT_TRUE(first->isWindow());
    EXPECT_EQ(first->parent(), &form);
    first->close();
    form.MenuItem("History1")->trigger();
    EXPECT_EQ(feature.Window(), first);
    EXPECT_TRUE(first->isVisible());
}

TEST_F(HistoryWindowTest, EscapeAndCtrlWCloseItTheTimelineKeepsItsHeightAndTheRangeIsRemembered)
{
    THistoryWindow w(store, options);
    for (const QKeySequence &keys : {QKeySequence(Qt::Key_Escape), QKeySequence(Qt::CTRL | Qt::Key_W)}) {
        w.show();
        ASSERT_TRUE(QTest::qWaitForWindowActive(&w));
        QTest::keySequence(&w, keys);
        EXPECT_FALSE(w.isVisible()) << keys.toString().toStdString();
    }
    w.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
    const int height = w.img_HistTimeline->height();
    for (int tab : {2, 1, 0, 2}) {
        w.tab_Hist->setCurrentIndex(tab);
        QCoreApplication::processEvents();
        EXPECT_EQ(w.img_HistTimeline->height(), height) << tab;
    }
    // The user's choice is in the settings at once, for the next start.
    emit w.cb_HistRange->activated(THistoryWindow::LastHour);
    config::LoadOptions(config::SettingsPath(), options);
    EXPECT_EQ(THistoryWindow(store, options).cb_HistRange->currentText(), "Last hour");
}

TEST_F(HistoryWindowTest, ASelectedOutageShowsWhyAndItsRoute)
{
    THistoryWindow w(store, options);
    w.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
    EXPECT_FALSE(w.lbl_HistRoute->isVisible()) << "nothing selected";
    w.tbl_HistOutages->selectRow(0);
    ASSERT_TRUE(w.lbl_HistRoute->isVisible());
    EXPECT_EQ(w.lbl_HistRoute->text(),
              "Why: your provider's network (provider). The router 10.0.0.1 answers in 0.8 ms; nothing past it "
              "does (hop 2 silent).\n"
              "Route at its start:\n"
              "1  10.0.0.1  gw.lan  1 ms\n"
              "2  *\n"
              "3  192.0.2.7  12 ms");
    // Another tab: the outage is not in view, nor is its route.
    w.tab_Hist->setCurrentIndex(1);
    EXPECT_FALSE(w.lbl_HistRoute->isVisible());
    w.tab_Hist->setCurrentIndex(0);
    EXPECT_TRUE(w.lbl_HistRoute->isVisible());
    w.tbl_HistOutages->clearSelection();
    EXPECT_FALSE(w.lbl_HistRoute->isVisible());
}

TEST_F(HistoryWindowTest, AnOutageWithoutADiagnosisOrARouteSaysSo)
{
    // One written before outages were diagnosed, and one whose route text is
    // somebody else's: neither is taken for a route.
    const struct {
        const char *route;
    } cases[] = {{""}, {"{\"hop\": 1}"}, {"not json"}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.route);
        testutil::ScratchDir fresh;
        THistoryStore other;
        ASSERT_TRUE(other.Open(THistoryStore::DefaultPath()));
        TOutageRow o;
        o.Start = now - 10 * kMin;
        o.End = now - 5 * kMin;
        o.DurationMs = 5 * 60000;
        o.ProbesLost = 5;
        o.Route = c.route;
        other.CloseOutage(other.OpenOutage(o, 0), o);
        THistoryWindow w(other, options);
        w.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
        ASSERT_EQ(w.tbl_HistOutages->rowCount(), 1);
        w.tbl_HistOutages->selectRow(0);
        EXPECT_EQ(w.lbl_HistRoute->text(), "Why: not diagnosed.\nNo route was traced at its start.");
    }
}
