// Session statistics: the counters shown in GoodLBL, the per-server table in
// ReportGrid, the session log flush and the end of a session.
#include "antiidle/antiidle.h"

#include "antiidle/logfile.h"
#include "antiidle/report.h"
#include "antiidle/serverlist.h"
#include "antiidle/statscalc.h"
#include "components/tickingclock.h"
#include "shell/shellapi.h"
#include "widgets/optioncontrols.h"
#include "widgets/responsegraph.h"

#include <QDateTime>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QRegularExpression>
#include <QTextEdit>
#include <QTimer>

namespace {


// The locale's long time without its time-zone name, which only lengthens
// the report line.
QString LocalLongTime(const QLocale &locale, const QTime &time)
{
    QString fmt = locale.timeFormat(QLocale::LongFormat);
    fmt.remove(QRegularExpression(QStringLiteral("\\s*t+\\s*")));
    return locale.toString(time, fmt.trimmed());
}

} // namespace

bool TAntiIdle::StartSessionStats(QString *error)
{
    const config::TAntiIdleOptions &options = shell_.Options().AntiIdle;
    shell_.Graph().ClearResponseHistory();
    bool ok = false;
    int minutes = options.Frequency.trimmed().toInt(&ok);
    if (!ok) {
        if (error)
            *error = QStringLiteral("'%1' is not a valid integer value").arg(options.Frequency);
        return false;
    }
    // 0 would fire the timer without pause; the field's own range applies.
    minutes = config::TAntiIdleOptions::FrequencyRange.Clamp(minutes);
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
        shell_.ShowMessage(logError);

    const QLocale locale;
    const QDateTime now = QDateTime::currentDateTime();
    report_.lbl_RptTime->setText(QStringLiteral("Session Start: ")
                                 + locale.toString(now.date(), QLocale::ShortFormat)
                                 + QLatin1Char(' ') + LocalLongTime(locale, now.time()));
    shell_.Info().GoodLBL->clear();
    report_.ResetReportTable(CycleMode ? servers_.Hosts() : QStringList{options.Host},
                             CycleMode);
    return true;
}

int TAntiIdle::ReportRow() const
{
    return CycleMode ? ServerIndex + 1 : 1;
}

void TAntiIdle::RecordSuccess(int ms)
{
    shell_.Graph().PushResponse(ms);
    // The table may lack the row when the server list grew during the session
    // (the table keeps the rows it started with); the success still counts.
    report_.AddSuccess(ReportRow(), ms);
    ++SuccessCount;
    shell_.Info().GoodLBL->setText(antiidle::CountsText(SuccessCount, AttemptCount));
    shell_.Graph().DrawGraph(Running());
}

void TAntiIdle::RecordFailure()
{
    ++FailureCount;
    FailureCounted = true;
    shell_.Info().GoodLBL->setText(antiidle::CountsText(SuccessCount, AttemptCount));
    report_.AddFailure(ReportRow());
}

void TAntiIdle::RecordLookupFailure()
{
    // A lookup failure is counted once per tick, and never in the table.
    if (FailureCounted)
        return;
    FailureCounted = true;
    ++FailureCount;
    shell_.Info().GoodLBL->setText(antiidle::CountsText(SuccessCount, AttemptCount));
}

void TAntiIdle::EndSession()
{
    const TInfoColumn info = shell_.Info();
    TTickingClock &clock = shell_.Stopwatch();
    LogTimer->stop();
    Timer3->stop();
    info.PingLight->hide();
    shell_.SetStatus(QString());

    report_.lbl_RptTime->setText(report_.lbl_RptTime->text() + QStringLiteral("     Session End: ")
                                 + antiidle::ElapsedText(clock.Hour(), clock.Min(), clock.Sec()));
    clock.SetEnabled(false);
    clock.SetTime(0, 0, 0);

    info.TimeLBL->clear();
    info.GoodLBL->clear();
    info.ModeLBL->clear();
    info.lbl_Method->clear();

    SessionActive = false;
    SuccessCount = 0;
    FailureCount = 0;

    if (shell_.Options().AntiIdle.Checked(config::TAntiIdleOptions::ShowReportOnStop))
        report_.ShowReport();
    FailureCounted = false;
    CycleMode = false;
}

void TAntiIdle::LogTimerTimer()
{
    QTextEdit *history = shell_.History();
    const QStringList lines = antiidle::HistoryLines(history->document());
    if (lines.size() <= antiidle::LogFlushThreshold)
        return;
    QString error;
    if (!antiidle::AppendLogLines(antiidle::LogFilePath(), lines, &error)) {
        // The lines stay in the pane, so the next tick tries again.
        shell_.ShowMessage(error);
        return;
    }
    history->clear();
}
