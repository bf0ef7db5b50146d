// The anti-idle cycle: the switch that starts and stops a session, the start
// of a session, the timer tick and the choice of host and method for each
// probe. The echo's own events are handled in antiidle_echo.cpp.
#include "antiidle/antiidle.h"

#include "antiidle/antiidle_probe.h"
#include "antiidle/report.h"
#include "antiidle/serverlist.h"
#include "antiidle/webclient.h"
#include "components/supertimer.h"
#include "components/tickingclock.h"
#include "net/ping.h"
#include "shell/shellapi.h"
#include "widgets/animate.h"
#include "widgets/optioncontrols.h"
#include "widgets/responsegraph.h"
#include "widgets/textpane.h"
#include "widgets/toolswitch.h"

#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPixmap>
#include <QRadioButton>
#include <QTextEdit>
#include <QThread>
#include <QTimer>

#include <exception>
#include <stdexcept>

namespace {

using config::TAntiIdleOptions;

// What the application's error report would say for a failure that reaches
// it from a handler: the message of the exception, in a message box.
void ReportError(IShell &shell, const std::exception &e)
{
    shell.ShowMessage(QString::fromStdString(e.what()));
}

// The runtime's message for reading a list entry that does not exist.
std::out_of_range ListIndexError(int index)
{
    return std::out_of_range(QStringLiteral("List index out of bounds (%1)")
                                 .arg(index)
                                 .toStdString());
}

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

} // namespace

TAntiIdle::TAntiIdle(IShell &shell, TWebClient &web, TServerList &servers,
                     TAntiIdleReport &report, QObject *parent)
    : QObject(parent), shell_(shell), web_(web), servers_(servers), report_(report),
      switch_(shell.Switch(TToolId::AntiIdle))
{
    setObjectName(QStringLiteral("AntiIdleSession"));
    Ping2 = MakePing(QStringLiteral("Ping2"), 5000, antiidle::MinEchoSize);
    Ping2->OnDnsLookupDone = [this](QObject *s, quint16 e) { Ping2DnsLookupDone(s, e); };
    Ping2->OnEchoRequest = [this](QObject *s) { Ping2EchoRequest(s); };
    Ping2->OnEchoReply = [this](QObject *s, int e) { Ping2EchoReply(s, e); };

    auto timer = [this](const char *name, int interval) {
        auto *t = new QTimer(this);
        t->setObjectName(QString::fromLatin1(name));
        t->setInterval(interval);
        return t;
    };
    Timer3 = timer("Timer3", 60000);      // set per session from the frequency
    LogTimer = timer("LogTimer", 100000);
    connect(Timer3, &QTimer::timeout, this, &TAntiIdle::Timer3Timer);
    connect(LogTimer, &QTimer::timeout, this, &TAntiIdle::LogTimerTimer);

    HTTPTimer = new TSuperTimer(this);
    HTTPTimer->setObjectName(QStringLiteral("HTTPTimer"));
    HTTPTimer->SetInterval(1);
    HTTPTimer->SetThreadPriority(QThread::TimeCriticalPriority);
    HTTPTimer->OnTimer = [this] { HTTPTimerTimer(); };

    // The session and the latency test share the graph: while a session runs
    // neither can be started from the menu, nor the options changed.
    const TToolSwitch::TParts &own = switch_.Parts();
    switch_.LockedWhileOn = {own.OptionsItem, own.ToolItem,
                             shell.Switch(TToolId::Latency).Parts().ToolItem};
    switch_.Bind([this] { btn_AntiIdleClick(); });
}

TAntiIdle::~TAntiIdle() = default;

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
        // Drawn before StartAntiIdle clears the history, so until the first
        // success the graph still shows the previous session's line.
        graph.DrawGraph(true);
        try {
            StartAntiIdle();
        } catch (const std::exception &e) {
            // The switch stays on with nothing sent; a second click stops it.
            ReportError(shell_, e);
        }
        return;
    }

    switch_.SetRunning(false);
    graph.Background()->setPixmap(QPixmap());
    graph.Background()->hide();
    shell_.SetHistoryInFront(false);
    EndSession();
    info.anm_BV->show();
    info.anm_BV->Play();
    shell_.SetStatus(QStringLiteral("Status:"));
    // An echo lookup still outstanding is not cancelled: its events arrive
    // later and are shown as usual.
}

void TAntiIdle::StartAntiIdle()
{
    Session.Begin();
    const TAntiIdleOptions &options = shell_.Options().AntiIdle;
    const TInfoColumn info = shell_.Info();
    shell_.History()->clear();
    info.lbl_Method->setText(MethodCaption(options.Method));
    shell_.Graph().ClearResponseHistory();
    web_.HttpRequestCount = 0;
    LogTimer->start();
    web_.CopyProxySettings(shell_.Options().Proxy);

    if (options.Checked(TAntiIdleOptions::CycleServerList)) {
        CycleMode = true;
        servers_.LoadServerList();
        QString error;
        if (!StartSessionStats(&error))
            throw std::invalid_argument(error.toStdString());
        StartCycle();
    } else {
        CycleMode = false;
        const QString host = options.Host;
        // Without a host the switch shows "on" but nothing is sent; a bad
        // frequency is passed over the same way.
        if (!host.isEmpty() && StartSessionStats()) {
            try {
                shell_.SetStatus(QStringLiteral("Status: Pinging ") + host, true);
                AddPaneLine(shell_.History(), TLineStyle::Bulleted, QStringLiteral("Pinging ") + host);
                info.PingLight->show();
                // The first probe is always an echo of the size already set,
                // and it leaves the alternation where it was.
                LastPingHost = host;
                ++AttemptCount;
                SendEcho(host);
                StartProbeTimer();
            } catch (...) {
                // Any failure of the first probe ends the start quietly.
            }
        }
        info.ModeLBL->clear();
    }

    info.GoodLBL->show();
    info.ModeLBL->show();
    info.TimeLBL->show();
    info.lbl_Method->show();
    if (options.Checked(TAntiIdleOptions::MinimizeOnStart))
        shell_.HideWindow();
}

void TAntiIdle::StartCycle()
{
    CycleMode = true;
    shell_.Info().ModeLBL->setText(QStringLiteral("Cycle servers"));
    QListWidget *list = servers_.ListBox1;
    if (list->count() == 0)
        throw ListIndexError(0);
    CurrentHost = list->item(0)->text();
    ServerIndex = 0;
    SendProbe();
    StartProbeTimer();
}

void TAntiIdle::StartProbeTimer()
{
    Timer3->start();
    shell_.Stopwatch().SetElapsed(0);
    shell_.Stopwatch().SetEnabled(true);
}

void TAntiIdle::Timer3Timer()
{
    // A message box opened by an earlier tick runs its own loop, and the
    // timer keeps firing inside it; one box at a time is enough.
    static bool reporting = false;
    try {
        if (CycleMode) {
            QListWidget *list = servers_.ListBox1;
            ++ServerIndex;
            if (ServerIndex > list->count() - 1)
                ServerIndex = 0;
            // The list can be emptied in the editor during a session.
            if (ServerIndex >= list->count())
                throw ListIndexError(ServerIndex);
            CurrentHost = list->item(ServerIndex)->text();
        } else {
            CurrentHost = shell_.Options().AntiIdle.Host;
        }
        FailureCounted = false;
        SendProbe();
    } catch (const std::exception &e) {
        if (reporting)
            return;
        reporting = true;
        ReportError(shell_, e);
        reporting = false;
    }
}

void TAntiIdle::SendProbe()
{
    const TAntiIdleOptions &options = shell_.Options().AntiIdle;
    QLabel *light = shell_.Info().PingLight;
    ++AttemptCount;
    AlternateToggle = !AlternateToggle;
    switch (antiidle::ChooseProbe(options.Method, AlternateToggle)) {
    case antiidle::TProbeKind::Echo:
        Ping2->SetSize(options.Checked(TAntiIdleOptions::VaryPacketSize) ? antiidle::RandomEchoSize()
                                                                  : antiidle::MinEchoSize);
        light->setText(QStringLiteral("PING"));
        light->show();
        light->repaint();
        LastPingHost = CurrentHost;
        SendEcho(CurrentHost);
        break;
    case antiidle::TProbeKind::HttpGet:
        light->setText(QStringLiteral("HTTP GET"));
        light->show();
        light->repaint();
        HttpProbe();
        break;
    case antiidle::TProbeKind::None:
        break;
    }
}
