// The anti-idle switch and the window's view of a session: each event of the
// session becomes the status line, a history line, the information column,
// the stopwatch, the graph and the report table, as it happens.
#include "antiidle/antiidle.h"

#include "antiidle/antiidlereport.h"
#include "components/tickingclock.h"
#include "config/options.h"
#include "session/antiidlesession.h"
#include "session/probetexts.h"
#include "session/statscalc.h"
#include "shell/shellapi.h"
#include "widgets/animate.h"
#include "widgets/reportgrid.h"
#include "widgets/responsegraph.h"
#include "widgets/textpane.h"
#include "widgets/toolswitch.h"

#include <QDateTime>
#include <QLabel>
#include <QLocale>
#include <QPixmap>
#include <QRegularExpression>
#include <QTextEdit>

namespace {

using config::TAntiIdleOptions;

// The caption of the method ("HTTP Gets", "ICMP Pings", "Alternate"),
// empty when none is selected.
QString MethodCaption(int method)
{
    switch (method) {
    case TAntiIdleOptions::HttpGets: return QStringLiteral("HTTP Gets");
    case TAntiIdleOptions::IcmpPings: return QStringLiteral("ICMP Pings");
    case TAntiIdleOptions::Alternate: return QStringLiteral("Alternate");
    default: return QString();
    }
}

// The locale's long time without its time-zone name, which only lengthens
// the report line.
QString LocalLongTime(const QLocale &locale, const QTime &time)
{
    QString fmt = locale.timeFormat(QLocale::LongFormat);
    fmt.remove(QRegularExpression(QStringLiteral("\\s*t+\\s*")));
    return locale.toString(time, fmt.trimmed());
}

} // namespace

TAntiIdle::TAntiIdle(IShell &shell, TAntiIdleReport &report, QObject *parent)
    : QObject(parent), shell_(shell), report_(report), switch_(shell.Switch(TToolId::AntiIdle))
{
    setObjectName(QStringLiteral("AntiIdleView"));
    Engine = new TAntiIdleSession(shell.Options(), this);
    Engine->Diagnosis().SetEnabled(true);
    Engine->AddObserver(this);
    // Lines from outside the session (a dial-up notice) go through it, so
    // that the log holds every line the pane shows.
    shell.SetHistoryWriter([this](const QString &text) { Engine->AddHistoryLine(text); });

    // The session and the latency test share the graph: while a session runs
    // neither can be started from the menu, nor the options changed.
    const TToolSwitch::TParts &own = switch_.Parts();
    switch_.LockedWhileOn = {own.OptionsItem, own.ToolItem,
                             shell.Switch(TToolId::Latency).Parts().ToolItem};
    switch_.Bind([this] { btn_AntiIdleClick(); });
}

TAntiIdle::~TAntiIdle()
{
    shell_.SetHistoryWriter({});
    Engine->RemoveObserver(this);
}

bool TAntiIdle::Running() const
{
    return switch_.Running();
}

void TAntiIdle::btn_AntiIdleClick()
{
    // The latency test uses the same graph: while it runs the switch is dead.
    if (shell_.Switch(TToolId::Latency).Running())
        return;

    const TInfoColumn info = shell_.Info();
    TResponseGraph &graph = shell_.Graph();
    if (!Running()) {
        report_.HideReport();
        switch_.SetRunning(true);
        graph.Background()->show();
        info.anm_BV->Stop();
        info.anm_BV->hide();
        shell_.SetHistoryInFront(true);
        // Drawn before the session clears the history, so until the first
        // success the graph still shows the previous session's line. A start
        // that fails leaves the switch on with nothing sent; a second click
        // stops it.
        graph.DrawGraph(true);
        // A start that cannot work told its reason as a message; the status
        // line keeps it while the switch stays on.
        if (QString why; !Engine->Start(&why))
            shell_.SetStatus(QStringLiteral("Status: ") + why);
        return;
    }

    switch_.SetRunning(false);
    graph.Background()->setPixmap(QPixmap());
    graph.Background()->hide();
    shell_.SetHistoryInFront(false);
    Engine->Stop();
    info.anm_BV->show();
    info.anm_BV->Play();
    shell_.SetStatus(QStringLiteral("Status:"));
}

void TAntiIdle::SessionStarting(const TSessionStart &start)
{
    cycle_ = start.Cycle;
    shell_.History()->clear();
    shell_.Info().lbl_Method->setText(MethodCaption(start.Method));
    shell_.Graph().ClearResponseHistory();
}

void TAntiIdle::StatsReset(const TStatsStart &start)
{
    shell_.Graph().ClearResponseHistory();
    const QLocale locale;
    const QDateTime now = start.At.WallUtc.toLocalTime();
    report_.lbl_RptTime->setText(QStringLiteral("Session Start: ")
                                 + locale.toString(now.date(), QLocale::ShortFormat)
                                 + QLatin1Char(' ') + LocalLongTime(locale, now.time()));
    shell_.Info().GoodLBL->clear();
    report_.ResetReportTable(start.Hosts, start.Cycle);
}

void TAntiIdle::CycleStarted()
{
    shell_.Info().ModeLBL->setText(QStringLiteral("Cycle servers"));
}

void TAntiIdle::ProbesScheduled()
{
    shell_.Stopwatch().SetElapsed(0);
    shell_.Stopwatch().SetEnabled(true);
}

void TAntiIdle::SessionStarted()
{
    const TInfoColumn info = shell_.Info();
    if (!cycle_)
        info.ModeLBL->clear();
    info.GoodLBL->show();
    info.ModeLBL->show();
    info.TimeLBL->show();
    info.lbl_Method->show();
    if (shell_.Options().AntiIdle.Checked(TAntiIdleOptions::MinimizeOnStart))
        shell_.HideWindow();
}

void TAntiIdle::SessionStopped(const TSessionEnd &)
{
    const TInfoColumn info = shell_.Info();
    TTickingClock &clock = shell_.Stopwatch();
    info.PingLight->hide();
    shell_.SetStatus(QString());

    // The end is the session's length as the stopwatch shows it.
    report_.lbl_RptTime->setText(report_.lbl_RptTime->text() + QStringLiteral("     Session End: ")
                                 + session::ElapsedText(clock.Hour(), clock.Min(), clock.Sec()));
    clock.SetEnabled(false);
    clock.SetTime(0, 0, 0);

    info.TimeLBL->clear();
    info.GoodLBL->clear();
    info.ModeLBL->clear();
    info.lbl_Method->clear();

    if (shell_.Options().AntiIdle.Checked(TAntiIdleOptions::ShowReportOnStop))
        report_.ShowReport();
}

void TAntiIdle::ProbeSent(const TProbeSent &sent)
{
    QLabel *light = shell_.Info().PingLight;
    // The opening echo of a session lights the lamp as it was.
    if (sent.Opening) {
        light->show();
        return;
    }
    light->setText(session::LampText(sent.Kind));
    light->show();
    light->repaint();
}

void TAntiIdle::ProbeResult(const TProbeResult &result)
{
    // An echo whose name did not resolve was never sent: its lamp stays lit.
    if (!(session::EchoLike(result.Kind) && result.Outcome == TProbeOutcome::LookupFailed))
        shell_.Info().PingLight->hide();
    if (!result.Counted)
        return;
    const TSessionStats &stats = Engine->Stats();
    TResponseGraph &graph = shell_.Graph();
    if (result.Success()) {
        graph.PushResponse(result.Ms);
        report_.AddSuccess(result.Row, result.Ms);
        shell_.Info().GoodLBL->setText(session::CountsText(stats.Successes(), stats.Attempts()));
        graph.DrawGraph(Running());
        return;
    }
    shell_.Info().GoodLBL->setText(session::CountsText(stats.Successes(), stats.Attempts()));
    report_.AddFailure(result.Row);
}

void TAntiIdle::Status(const QString &text, bool repaint)
{
    shell_.SetStatus(text, repaint);
}

void TAntiIdle::HistoryLine(const QString &text)
{
    AddPaneLine(shell_.History(), TLineStyle::Bulleted, text);
}

void TAntiIdle::LogFlushed()
{
    shell_.History()->clear();
}

void TAntiIdle::Message(const QString &text)
{
    shell_.ShowMessage(text);
}
