// Session statistics on a real main window: counters, the report table, the
// end of a session, the log file flush and the graph after a success.
#include "widgets/reportgrid.h"
#include "sessionwindow.h"
#include "widgets/optioncontrols.h"
#include "widgets/picturebutton.h"
#include "widgets/optioncontrols.h"
#include "components/tickingclock.h"
#include "desktop/msgbox.h"
#include "../support/testutil.h"
#include "../support/ctl.h"
#include "platform/services.h"

#include <QDir>
#include <QFile>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QTextEdit>
#include <QTimer>
#include <gtest/gtest.h>
#include <memory>

namespace {

class Session : public ::testing::Test, public antiidletest::AntiIdleParts {
protected:
    void SetUp() override
    {
        platform::Services().Message = [this](const QString &m) { messages << m; };
        form = std::make_unique<TMainForm>();
        Attach(*form);
        Ctl<TSpinText>(form, "edt_AIFreq")->setText("5");
        Ctl<QLineEdit>(form, "edt_AIHost")->setText("single.test");
    }
    void TearDown() override
    {
        form.reset();
        platform::Services().Message = {};
    }
    // A cycling session over the given servers.
    void StartCycle(const QStringList &servers)
    {
        ai->Servers().Replace(servers);
        Inside(ai).State.CycleMode = true;
        ASSERT_TRUE(Inside(ai).StartSessionStats());
    }
    // A probe to server i, as the anti-idle tick starts it.
    void Probe(int server)
    {
        Inside(ai).State.ServerIndex = server;
        ai->Stats().NewTick();
        ai->Stats().CountAttempt();
    }
    QString Cell(int col, int row) const { return report->ReportGrid->Cells(col, row); }

    testutil::ScratchDir dir;
    std::unique_ptr<TMainForm> form;
    QStringList messages;
};

QByteArray ReadAll(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

} // namespace

TEST_F(Session, StartFillsTableForSingleHostAndCycling)
{
    Inside(ai).State.CycleMode = false;
    ASSERT_TRUE(Inside(ai).StartSessionStats());
    EXPECT_EQ(Inside(ai).Timer3->interval(), 5 * 60000);
    EXPECT_TRUE(ai->Stats().Active());
    EXPECT_EQ(report->ReportGrid->RowCount(), 2);
    const QStringList single = {"single.test", "0", "0", "100", "0"};
    for (int c = 0; c < 5; ++c)
        EXPECT_EQ(Cell(c, 1), single[c]) << c;
    EXPECT_TRUE(report->lbl_RptTime->text().startsWith("Session Start: "));
    // The headings written at start-up stay in row 0.
    EXPECT_EQ(Cell(0, 0), "Server");
    EXPECT_EQ(Cell(4, 0), "Average");

    StartCycle({"a.test", "b.test", "c.test"});
    EXPECT_EQ(report->ReportGrid->RowCount(), 4);
    EXPECT_EQ(Cell(0, 3), "c.test");
    for (int c = 1; c <= 4; ++c)
        EXPECT_EQ(Cell(c, 2), "0");
}

TEST_F(Session, FrequencyIsCheckedAndKeptInRange)
{
    const struct { const char *text; bool ok; int minutes; } cases[] = {
        {"1", true, 1}, {"60", true, 60}, {" 7", true, 7}, {"0", true, 1}, {"900", true, 60},
        {"abc", false, 0}, {"", false, 0}, {"5x", false, 0},
    };
    for (const auto &c : cases) {
        Ctl<TSpinText>(form, "edt_AIFreq")->setText(c.text);
        Inside(ai).Timer3->setInterval(1234);
        ai->Stats().End();
        QString error;
        EXPECT_EQ(Inside(ai).StartSessionStats(&error), c.ok) << c.text;
        if (c.ok) {
            EXPECT_EQ(Inside(ai).Timer3->interval(), c.minutes * 60000) << c.text;
        } else {
            EXPECT_EQ(error, QStringLiteral("'%1' is not a valid integer value").arg(c.text));
            EXPECT_EQ(Inside(ai).Timer3->interval(), 1234);
            EXPECT_FALSE(ai->Stats().Active());
        }
    }
}

TEST_F(Session, SuccessesAndFailuresMakeThePercentageAndAverage)
{
    StartCycle({"a.test", "b.test", "never.test", "poor.test"});
    for (int ms : {100, 200, 301}) {
        Probe(0);
        Inside(ai).RecordSuccess(ms);
    }
    Probe(0);
    Inside(ai).RecordFailure();
    EXPECT_EQ(Ctl<QLabel>(form, "GoodLBL")->text(), "3/4");
    EXPECT_EQ(Cell(1, 1), "3");
    EXPECT_EQ(Cell(2, 1), "1");
    EXPECT_EQ(Cell(4, 1), "601");

    Probe(1);
    Inside(ai).RecordSuccess(40);
    Probe(1);
    Inside(ai).RecordSuccess(41); // 40.5 rounds to the even 40

    Probe(3);
    Inside(ai).RecordSuccess(100);
    for (int i = 0; i < 7; ++i) {
        Probe(3);
        Inside(ai).RecordFailure();
    }
    EXPECT_EQ(Ctl<QLabel>(form, "GoodLBL")->text(), "6/14");

    report->FinishReport();
    const struct { int row; const char *pct, *avg; } expected[] = {
        {1, "75 %", "150"}, {2, "100 %", "40"}, {3, "100 %", "0"}, {4, "12 %", "12"},
    };
    for (const auto &e : expected) {
        EXPECT_EQ(Cell(3, e.row), e.pct) << e.row;
        EXPECT_EQ(Cell(4, e.row), e.avg) << e.row;
    }
    // Counts stay as they were.
    EXPECT_EQ(Cell(1, 4), "1");
    EXPECT_EQ(Cell(2, 4), "7");
}

TEST_F(Session, LookupFailuresCountOncePerTickInTheServersRow)
{
    StartCycle({"a.test"});
    Probe(0);
    Inside(ai).RecordLookupFailure();
    Inside(ai).RecordLookupFailure(); // the same tick
    EXPECT_EQ(ai->Stats().Failures(), 1);
    EXPECT_EQ(Ctl<QLabel>(form, "GoodLBL")->text(), "0/1");
    Probe(0);
    Inside(ai).RecordLookupFailure();
    EXPECT_EQ(ai->Stats().Failures(), 2);
    // A server whose name never resolves shows its failures like any other.
    EXPECT_EQ(Cell(2, 1), "2");
    // After a counted echo failure in the same tick the lookup adds nothing.
    Probe(0);
    Inside(ai).RecordFailure();
    Inside(ai).RecordLookupFailure();
    EXPECT_EQ(ai->Stats().Failures(), 3);
    EXPECT_EQ(Cell(2, 1), "3");
}

TEST_F(Session, ServerAddedDuringSessionIsCountedWithoutARow)
{
    StartCycle({"a.test"});
    Probe(1); // the list grew; the table did not
    Inside(ai).RecordSuccess(80);
    Probe(1);
    Inside(ai).RecordFailure();
    EXPECT_EQ(Ctl<QLabel>(form, "GoodLBL")->text(), "1/2");
    EXPECT_EQ(report->ReportGrid->RowCount(), 2);
    EXPECT_EQ(Cell(1, 1), "0");
    EXPECT_EQ(form->Graph().ResponseHistory[0], 2);
    EXPECT_TRUE(messages.isEmpty());
}

TEST_F(Session, SuccessRedrawsTheSessionGraph)
{
    StartCycle({"a.test"});
    form->Switch(TToolId::AntiIdle).SetRunning(true);
    Probe(0);
    Inside(ai).RecordSuccess(400);
    const QImage pic = Ctl<QLabel>(form, "img_AIGraph")->pixmap().toImage();
    ASSERT_EQ(pic.size(), QSize(130, 116));
    EXPECT_EQ(pic.pixel(69, 48), 0xffff0000u); // slot 0 is 10 units up
    EXPECT_EQ(pic.pixel(65, 0), 0xff008000u);  // the background's axis
    // A failure leaves history and graph alone.
    Probe(0);
    Inside(ai).RecordFailure();
    EXPECT_EQ(form->Graph().ResponseHistory[0], 10);
    EXPECT_EQ(form->Graph().ResponseHistory[1], 0);
}

TEST_F(Session, EndAddsElapsedTimeAndShowsTheReportWhenAsked)
{
    StartCycle({"a.test", "b.test"});
    Ctl<TCheckListBox>(form, "cb_AIOptions")->SetChecked(3, true);
    Inside(ai).LogTimer->start();
    Inside(ai).Timer3->start();
    Probe(0);
    Inside(ai).RecordSuccess(120);
    const QString start = report->lbl_RptTime->text();
    Ctl<TTickingClock>(form, "TickingClock1")->SetEnabled(true);
    Ctl<TTickingClock>(form, "TickingClock1")->SetTime(1, 5, 3);
    Inside(ai).EndSession();
    EXPECT_EQ(report->lbl_RptTime->text(), start + "     Session End: 01:05:03");
    EXPECT_FALSE(Inside(ai).LogTimer->isActive());
    EXPECT_FALSE(Inside(ai).Timer3->isActive());
    EXPECT_FALSE(Ctl<TTickingClock>(form, "TickingClock1")->Enabled());
    EXPECT_FALSE(ai->Stats().Active());
    EXPECT_FALSE(Inside(ai).State.CycleMode);
    EXPECT_EQ(ai->Stats().Successes(), 0);
    EXPECT_TRUE(Ctl<QLabel>(form, "GoodLBL")->text().isEmpty());
    EXPECT_FALSE(Ctl<QFrame>(form, "pnl_AIReport")->isHidden());
    EXPECT_FALSE(Ctl<QLabel>(form, "img_Bg2")->isHidden());
    EXPECT_EQ(Cell(3, 1), "100 %");
    EXPECT_EQ(Cell(4, 1), "120");
    EXPECT_EQ(Cell(3, 2), "100 %");

    report->btn_RptClose->Click();
    EXPECT_TRUE(Ctl<QFrame>(form, "pnl_AIReport")->isHidden());
    EXPECT_TRUE(Ctl<QLabel>(form, "img_Bg2")->isHidden());
}

TEST_F(Session, EndWithoutReportOptionLeavesSumsAndPanel)
{
    Ctl<TCheckListBox>(form, "cb_AIOptions")->SetChecked(3, false);
    StartCycle({"a.test"});
    Probe(0);
    Inside(ai).RecordSuccess(120);
    Probe(0);
    Inside(ai).RecordSuccess(120);
    Inside(ai).EndSession();
    EXPECT_TRUE(Ctl<QFrame>(form, "pnl_AIReport")->isHidden());
    EXPECT_EQ(Cell(4, 1), "240");
}

TEST_F(Session, LogIsFlushedOnlyAbove200Lines)
{
    const QString log = dir.file("AI_Log.txt");
    Ctl<QTextEdit>(form, "re_History")->clear();
    for (int i = 1; i <= 200; ++i)
        ai->AddHistoryLine(QStringLiteral("line %1").arg(i));
    Inside(ai).LogTimerTimer();
    EXPECT_FALSE(QFile::exists(log));
    EXPECT_EQ(Ctl<QTextEdit>(form, "re_History")->document()->blockCount(), 200);

    ai->AddHistoryLine(QStringLiteral("caf\u00e9 line 201"));
    Inside(ai).LogTimerTimer();
    const QByteArray bytes = ReadAll(log);
    EXPECT_TRUE(bytes.startsWith("\x95 line 1\r\n\x95 line 2\r\n"));
    EXPECT_TRUE(bytes.endsWith("\x95 line 200\r\n\x95 caf\xe9 line 201\r\n"));
    EXPECT_EQ(bytes.count("\r\n"), 201);
    EXPECT_TRUE(Ctl<QTextEdit>(form, "re_History")->document()->isEmpty());

    // The next flush appends.
    for (int i = 0; i < 201; ++i)
        ai->AddHistoryLine(QStringLiteral("more"));
    Inside(ai).LogTimerTimer();
    EXPECT_EQ(ReadAll(log).count("\r\n"), 402);

    // A new session starts with no log.
    Inside(ai).State.CycleMode = false;
    ASSERT_TRUE(Inside(ai).StartSessionStats());
    EXPECT_FALSE(QFile::exists(log));
}

TEST_F(Session, LogThatCannotBeWrittenKeepsTheLines)
{
    ASSERT_TRUE(QDir(dir.path()).mkdir("AI_Log.txt"));
    for (int i = 0; i < 201; ++i)
        ai->AddHistoryLine(QStringLiteral("kept"));
    Inside(ai).LogTimerTimer();
    ASSERT_EQ(messages.size(), 1);
    EXPECT_EQ(messages[0], "Cannot create file " + dir.file("AI_Log.txt"));
    EXPECT_EQ(Ctl<QTextEdit>(form, "re_History")->document()->blockCount(), 201);
    // Nor can it be removed at the start; the session starts all the same.
    Inside(ai).State.CycleMode = false;
    EXPECT_TRUE(Inside(ai).StartSessionStats());
    EXPECT_EQ(messages.size(), 2);
    EXPECT_TRUE(ai->Stats().Active());
}

TEST_F(Session, LogTimerIsWiredToTheFlush)
{
    for (int i = 0; i < 201; ++i)
        ai->AddHistoryLine(QStringLiteral("x"));
    Inside(ai).LogTimer->setInterval(10);
    Inside(ai).LogTimer->start();
    EXPECT_TRUE(testutil::waitFor([&] { return QFile::exists(dir.file("AI_Log.txt")); },
                                  std::chrono::milliseconds(2000)));
    Inside(ai).LogTimer->stop();
}

TEST_F(Session, GraphsAreLayeredOverTheWindowBackground)
{
    form->show();
    const QImage before = Ctl<QWidget>(form, "Client")->grab().toImage();
    // Latency layout: background on img_AIGraph, the line alone on img_LatGraph.
    form->Switch(TToolId::AntiIdle).SetRunning(false);
    form->Graph().ClearResponseHistory();
    form->Graph().PushResponse(400);
    form->Graph().DrawGraph(false);
    Ctl<QLabel>(form, "img_AIGraph")->show();
    Ctl<QLabel>(form, "img_LatGraph")->show();
    Ctl<QLabel>(form, "img_LatGraph")->raise();
    const QImage lat = Ctl<QLabel>(form, "img_LatGraph")->pixmap().toImage();
    ASSERT_FALSE(lat.isNull());
    EXPECT_EQ(qAlpha(lat.pixel(65, 0)), 0) << "the line picture holds no background";

    const QImage after = Ctl<QWidget>(form, "Client")->grab().toImage();
    const QPoint origin(309, 16);
    // Outside the circle the window's background shows through both images.
    EXPECT_EQ(after.pixel(origin + QPoint(1, 1)), before.pixel(origin + QPoint(1, 1)));
    EXPECT_EQ(after.pixel(origin + QPoint(128, 114)), before.pixel(origin + QPoint(128, 114)));
    // The axis of the lower image shows through the upper one, and the line
    // of the upper one is on top.
    EXPECT_EQ(after.pixel(origin + QPoint(65, 2)), 0xff008000u);
    EXPECT_EQ(after.pixel(origin + QPoint(69, 48)), 0xffff0000u);
}
