// The latency test: one echo to one host every LatTimer interval until the
// user switches it off, each round trip plotted on img_LatGraph over the
// graph background on img_AIGraph, each outcome on the status line.
//
// An echo blocks the GUI thread and its handlers let pending events run, so
// timer ticks (and clicks on the switch) can arrive while an echo is in
// flight. Ticks that fall due then are skipped: one echo at a time. An echo
// that completes after the test was switched off, or after it was switched
// off and on again, no longer reports.
#include "tools/latencytest.h"

#include "components/runguard.h"
#include "net/ping.h"
#include "platform/hosttext.h"
#include "shell/shellapi.h"
#include "tools/pingtool.h"
#include "widgets/animate.h"
#include "widgets/responsegraph.h"
#include "widgets/toolswitch.h"

#include <QAction>
#include <QCoreApplication>
#include <QLabel>
#include <QLineEdit>
#include <QSpinBox>
#include <QTimer>

#include <climits>
#include <exception>

TLatencyTest::TLatencyTest(IShell &shell)
    : QObject(shell.Window()), shell_(shell), switch_(shell.Switch(TToolId::Latency))
{
    setObjectName(QStringLiteral("LatencyTest"));
    Ping4 = MakePing(QStringLiteral("Ping4"), 4000, 56);
    Ping4->OnDnsLookupDone = [this](QObject *s, quint16 e) { Ping4DnsLookupDone(s, e); };
    Ping4->OnEchoRequest = [this](QObject *s) { Ping4EchoRequest(s); };
    Ping4->OnEchoReply = [this](QObject *s, int e) { Ping4EchoReply(s, e); };

    LatTimer = new QTimer(this);
    LatTimer->setObjectName(QStringLiteral("LatTimer"));
    LatTimer->setInterval(500);
    connect(LatTimer, &QTimer::timeout, this, &TLatencyTest::LatTimerTimer);

    // The test and an anti-idle session share the graph: while the test runs
    // neither it nor the session can be started from the menu.
    const TToolSwitch::TParts &own = switch_.Parts();
    switch_.LockedWhileOn = {own.ToolItem, shell.Switch(TToolId::AntiIdle).Parts().ToolItem,
                             own.OptionsItem};
    switch_.Bind([this] { btn_LatencyClick(); });
}

TLatencyTest::~TLatencyTest() = default;

bool TLatencyTest::Running() const
{
    return switch_.Running();
}

void TLatencyTest::SwitchOff()
{
    LatTimer->stop();
    Run.LatRun.End();
    switch_.SetRunning(false);
    const TInfoColumn info = shell_.Info();
    info.anm_BV->Play();
    info.anm_BV->show();
    QLabel *background = shell_.Graph().Background();
    QLabel *line = shell_.Graph().Line();
    background->clear();
    line->clear();
    background->hide();
    line->hide();
    shell_.RepaintBackground();
    shell_.SetStatus(QStringLiteral("Status:"));
}

void TLatencyTest::btn_LatencyClick()
{
    // The test and an anti-idle session share the graph: never both.
    if (shell_.Switch(TToolId::AntiIdle).Running())
        return;

    if (Running()) {
        SwitchOff();
        return;
    }

    // Off: without a host, open the options so one can be entered.
    const config::TLatencyOptions &options = shell_.Options().Latency;
    if (options.Host.isEmpty()) {
        shell_.OpenOptions(TToolId::Latency);
        return;
    }

    switch_.SetRunning(true);
    const TInfoColumn info = shell_.Info();
    info.anm_BV->Stop();
    info.anm_BV->hide();
    TResponseGraph &graph = shell_.Graph();
    graph.Background()->show();
    shell_.RepaintBackground();

    graph.ClearResponseHistory();
    graph.DrawGraph(false);   // background on img_AIGraph, the flat line on img_LatGraph
    graph.Line()->show();

    Run.LatRun.Begin();
    Run.LatHost = platform::HostShown(options.Host);
    Ping4->SetTimeout(options.TimeOut * 1000);
    LatTimer->setInterval(options.Interval);
    // The timer starts when the lookup has found the host.
    try {
        Ping4->DnsLookup(Run.LatHost);
    } catch (const std::exception &e) {
        shell_.ShowMessage(QString::fromUtf8(e.what()));
    }
}

void TLatencyTest::Ping4DnsLookupDone(QObject *Sender, quint16 Error)
{
    // A lookup that ends after the test was switched off (or switched off
    // and on again) has no one to tell.
    const TRunGuard::TTicket run = Run.LatRun.Current();
    if (!Run.LatRun.IsCurrent(run))
        return;
    QCoreApplication::processEvents();
    if (!Run.LatRun.IsCurrent(run))
        return;

    if (Error != 0) {
        // The test stays on without a timer until the user switches it off.
        shell_.SetStatus(QStringLiteral("Status: Unknown Host ") + Run.LatHost);
    } else {
        shell_.SetStatus(QStringLiteral("Status: Lookup complete: ") + Run.LatHost + QStringLiteral(" (") +
                         Ping4->DnsResult() + QStringLiteral(")"));
        Ping4->SetAddress(Ping4->DnsResult());
        LatTimer->start();
    }
    QCoreApplication::processEvents();
}

void TLatencyTest::LatTimerTimer()
{
    if (!Run.LatRun.Active() || Run.LatEchoActive)
        return;

    Run.LatEchoActive = true;
    Run.LatEchoRun = Run.LatRun.Current();
    Run.LatReplySeen = false;
    struct Release {
        bool &flag;
        ~Release() { flag = false; }
    } release{Run.LatEchoActive};

    try {
        Ping4->Ping();
    } catch (const std::exception &e) {
        // Stop ticking, or every tick would raise the same error again; the
        // test stays on until the user switches it off.
        LatTimer->stop();
        shell_.ShowMessage(QString::fromUtf8(e.what()));
        return;
    }
    // An echo refused before it was sent (an address the engine cannot use)
    // fires no reply event; report it as the failure it is.
    if (!Run.LatReplySeen)
        Ping4EchoReply(Ping4.get(), 0);
}

void TLatencyTest::Ping4EchoRequest(QObject *Sender)
{
    QCoreApplication::processEvents();
    if (!Run.LatRun.IsCurrent(Run.LatEchoRun))
        return;
    shell_.SetStatus(QStringLiteral("Status: Sending %1 bytes to %2").arg(Ping4->Size()).arg(Run.LatHost),
                     true);
}

void TLatencyTest::Ping4EchoReply(QObject *Sender, int Replies)
{
    Run.LatReplySeen = true;
    QCoreApplication::processEvents();
    if (!Run.LatRun.IsCurrent(Run.LatEchoRun))
        return;

    if (Replies != 0) {
        const quint32 rtt = Ping4->Reply().RoundTripTime;
        shell_.SetStatus(
            QStringLiteral("Status: %1 successfully pinged in %2 msecs").arg(Run.LatHost).arg(rtt), true);
        TResponseGraph &graph = shell_.Graph();
        graph.PushResponse(rtt > quint32(INT_MAX) ? INT_MAX : int(rtt));
        graph.Line()->clear();
        graph.Background()->repaint();
        try {
            graph.DrawResponseLine(graph.Line());
        } catch (...) {
            // A graph that cannot be drawn this time is left empty.
        }
    } else {
        shell_.SetStatus(QStringLiteral("Status: Error pinging ") + Run.LatHost + QStringLiteral(" : ") +
                             Ping4->ErrorText(),
                         true);
        tools::ExplainIcmpAccess(shell_, *Ping4);
    }
    QCoreApplication::processEvents();
}
