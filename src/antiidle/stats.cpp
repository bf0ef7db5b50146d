// Session statistics: the counters shown in GoodLBL, the per-server table in
// ReportGrid, the session log flush and the end of a session.
#include "app/mainform.h"

#include "antiidle/logfile.h"
#include "antiidle/reportgrid.h"
#include "antiidle/statscalc.h"
#include "app/mainform_controls.h"
#include "app/tickingclock.h"
#include "platform/msgbox.h"

#include <QDateTime>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QLocale>
#include <QRegularExpression>
#include <QTextEdit>
#include <QTimer>

namespace {

// Longest and shortest time between probes, in minutes.
constexpr int MinFrequency = 1, MaxFrequency = 60;

// The locale's long time without its time-zone name, which only lengthens
// the report line.
QString LocalLongTime(const QLocale &locale, const QTime &time)
{
    QString fmt = locale.timeFormat(QLocale::LongFormat);
    fmt.remove(QRegularExpression(QStringLiteral("\\s*t+\\s*")));
    return locale.toString(time, fmt.trimmed());
}

} // namespace

bool TMainForm::StartSessionStats(QString *error)
{
    ClearResponseHistory();
    bool ok = false;
    int minutes = edt_AIFreq->text().trimmed().toInt(&ok);
    if (!ok) {
        if (error)
            *error = QStringLiteral("'%1' is not a valid integer value").arg(edt_AIFreq->text());
        return false;
    }
    // 0 would fire the timer without pause; the field's own range applies.
    minutes = qBound(MinFrequency, minutes, MaxFrequency);
    Timer3->setInterval(minutes * 60000);

    AttemptCount = 0;
    FailureCounted = false;
    SuccessCount = 0;
    FailureCount = 0;
    SessionActive = true;

    // The log holds the last session only. A log that cannot be removed is
    // reported but does not stop the session.
    QString logError;
    if (!antiidle::DeleteLogFile(antiidle::LogFilePath(), &logError))
        platform::ShowMessage(logError);

    const QLocale locale;
    const QDateTime now = QDateTime::currentDateTime();
    lbl_RptTime->setText(QStringLiteral("Session Start: ")
                         + locale.toString(now.date(), QLocale::ShortFormat) + QLatin1Char(' ')
                         + LocalLongTime(locale, now.time()));
    GoodLBL->clear();
    ResetReportTable();
    return true;
}

void TMainForm::ResetReportTable()
{
    if (CycleMode) {
        const int servers = ListBox1->count();
        ReportGrid->SetRowCount(servers + 1);
        for (int i = 0; i < servers; ++i) {
            ReportGrid->SetCells(0, i + 1, ListBox1->item(i)->text());
            for (int c = 1; c <= 4; ++c)
                ReportGrid->SetCells(c, i + 1, QStringLiteral("0"));
        }
    } else {
        ReportGrid->SetRowCount(2);
        const QString cells[5] = {edt_AIHost->text(), QStringLiteral("0"), QStringLiteral("0"),
                                  QStringLiteral("100"), QStringLiteral("0")};
        for (int c = 0; c < 5; ++c)
            ReportGrid->SetCells(c, 1, cells[c]);
    }
}

int TMainForm::ReportRow() const
{
    return CycleMode ? ServerIndex + 1 : 1;
}

void TMainForm::RecordSuccess(int ms)
{
    PushResponse(ms);
    // The table may lack the row when the server list grew during the session
    // (the table keeps the rows it started with); the success still counts.
    const int row = ReportRow();
    const auto good = antiidle::CellInteger(ReportGrid->Cells(1, row));
    const auto sum = antiidle::CellInteger(ReportGrid->Cells(4, row));
    if (row >= 1 && row < ReportGrid->RowCount() && good && sum) {
        ReportGrid->SetCells(1, row, QString::number(*good + 1));
        ReportGrid->SetCells(4, row, QString::number(*sum + ms));
    }
    ++SuccessCount;
    GoodLBL->setText(antiidle::CountsText(SuccessCount, AttemptCount));
    DrawGraph();
}

void TMainForm::RecordFailure()
{
    ++FailureCount;
    FailureCounted = true;
    GoodLBL->setText(antiidle::CountsText(SuccessCount, AttemptCount));
    const int row = ReportRow();
    const auto failed = antiidle::CellInteger(ReportGrid->Cells(2, row));
    if (row >= 1 && row < ReportGrid->RowCount() && failed)
        ReportGrid->SetCells(2, row, QString::number(*failed + 1));
}

void TMainForm::RecordLookupFailure()
{
    // A lookup failure is counted once per tick, and never in the table.
    if (FailureCounted)
        return;
    FailureCounted = true;
    ++FailureCount;
    GoodLBL->setText(antiidle::CountsText(SuccessCount, AttemptCount));
}

void TMainForm::FinishReport()
{
    for (int row = 1; row < ReportGrid->RowCount(); ++row) {
        const auto a = antiidle::CellInteger(ReportGrid->Cells(1, row));
        const auto f = antiidle::CellInteger(ReportGrid->Cells(2, row));
        const auto t = antiidle::CellInteger(ReportGrid->Cells(4, row));
        if (!a || !f || !t)
            continue; // an empty row (no session yet) has nothing to sum up
        const antiidle::TRowSummary s = antiidle::SummariseRow(*a, *f, *t);
        ReportGrid->SetCells(3, row, s.Percent);
        ReportGrid->SetCells(4, row, s.Average);
    }
    ReportGrid->viewport()->update();
}

void TMainForm::EndSession()
{
    LogTimer->stop();
    Timer3->stop();
    PingLight->hide();
    SetStatus(QString());

    lbl_RptTime->setText(lbl_RptTime->text() + QStringLiteral("     Session End: ")
                         + antiidle::ElapsedText(TickingClock1->Hour(), TickingClock1->Min(),
                                                 TickingClock1->Sec()));
    TickingClock1->SetEnabled(false);
    TickingClock1->SetTime(0, 0, 0);

    TimeLBL->clear();
    GoodLBL->clear();
    ModeLBL->clear();
    lbl_Method->clear();

    SessionActive = false;
    SuccessCount = 0;
    FailureCount = 0;

    if (cb_AIOptions->Checked(3)) {
        FinishReport();
        img_Bg2->show();
        pnl_AIReport->raise();
        pnl_AIReport->show();
        img_Background->update();
        img_Bg2->update();
    }
    FailureCounted = false;
    CycleMode = false;
}

void TMainForm::LogTimerTimer()
{
    const QStringList lines = antiidle::HistoryLines(re_History->document());
    if (lines.size() <= antiidle::LogFlushThreshold)
        return;
    QString error;
    if (!antiidle::AppendLogLines(antiidle::LogFilePath(), lines, &error)) {
        // The lines stay in the pane, so the next tick tries again.
        platform::ShowMessage(error);
        return;
    }
    re_History->clear();
}
