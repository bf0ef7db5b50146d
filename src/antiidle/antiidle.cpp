// The anti-idle cycle: the switch that starts and stops a session, the start
// of a session, the timer tick and the choice of host and method for each
// probe. The echo's own events are handled in antiidle_echo.cpp.
#include "app/mainform.h"

#include "antiidle/antiidle_probe.h"
#include "app/animate.h"
#include "app/hidewindow.h"
#include "app/mainform_controls.h"
#include "app/picturebutton.h"
#include "app/tickingclock.h"
#include "net/ping.h"
#include "platform/msgbox.h"

#include <QAction>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPixmap>
#include <QRadioButton>
#include <QTextEdit>
#include <QTimer>

#include <exception>
#include <stdexcept>

namespace {

// Switch pictures of the image list: 0 off, 1 on.
constexpr int SwitchOff = 0, SwitchOn = 1;
// Items of the anti-idle options check list.
constexpr int OptCycle = 0, OptMinimize = 1, OptVarySize = 2;

// What the application's error report would say for a failure that reaches
// it from a handler: the message of the exception, in a message box.
void ReportError(const std::exception &e)
{
    platform::ShowMessage(QString::fromStdString(e.what()));
}

// The runtime's message for reading a list entry that does not exist.
std::out_of_range ListIndexError(int index)
{
    return std::out_of_range(QStringLiteral("List index out of bounds (%1)")
                                 .arg(index)
                                 .toStdString());
}

// The caption of the selected method ("HTTP Gets", "ICMP Pings", "Alternate"),
// empty when none is selected.
QString MethodCaption(const TRadioGroup *group)
{
    const int index = group->ItemIndex();
    if (index < 0 || index >= group->Count())
        return QString();
    return group->Button(index)->text().remove(QLatin1Char('&'));
}

} // namespace

void TMainForm::TPing2Deleter::operator()(TPing *ping) const
{
    ping->OnDnsLookupDone = nullptr;
    ping->OnEchoRequest = nullptr;
    ping->OnEchoReply = nullptr;
    delete ping;
}

TPing *TMainForm::CreatePing2()
{
    auto *ping = new TPing;
    ping->setObjectName(QStringLiteral("Ping2"));
    ping->SetTimeout(5000);
    ping->SetTTL(64);
    ping->SetSize(antiidle::MinEchoSize);
    ping->OnDnsLookupDone = [this](QObject *s, quint16 e) { Ping2DnsLookupDone(s, e); };
    ping->OnEchoRequest = [this](QObject *s) { Ping2EchoRequest(s); };
    ping->OnEchoReply = [this](QObject *s, int e) { Ping2EchoReply(s, e); };
    return ping;
}

void TMainForm::btn_AntiIdleClick()
{
    // The latency test uses the same graph: while it runs the switch is dead.
    if (!img_LatGreen->isHidden())
        return;

    if (!img_AIRed->isHidden()) {
        if (!pnl_AIReport->isHidden()) {
            pnl_AIReport->hide();
            img_Bg2->hide();
        }
        img_AIGreen->show();
        btn_AntiIdle->SetImageIndex(SwitchOn);
        img_AIGraph->show();
        img_AIRed->hide();
        img_AIArrow->hide();
        AntiIdle2->setEnabled(false);
        AntiIdle1->setEnabled(false);
        LatencyTest1->setEnabled(false);
        anm_BV->Stop();
        anm_BV->hide();
        pnl_History->raise();
        // Drawn before StartAntiIdle clears the history, so until the first
        // success the graph still shows the previous session's line.
        DrawGraph();
        try {
            StartAntiIdle();
        } catch (const std::exception &e) {
            // The switch stays on with nothing sent; a second click stops it.
            ReportError(e);
        }
        return;
    }

    img_AIArrow->show();
    btn_AntiIdle->SetImageIndex(SwitchOff);
    img_AIRed->show();
    img_AIGreen->hide();
    img_AIGraph->setPixmap(QPixmap());
    img_AIGraph->hide();
    AntiIdle2->setEnabled(true);
    AntiIdle1->setEnabled(true);
    LatencyTest1->setEnabled(true);
    // Behind every other panel but still over the background pictures.
    pnl_History->lower();
    img_Bg2->lower();
    img_Background->lower();
    EndSession();
    anm_BV->show();
    anm_BV->Play();
    SetStatus(QStringLiteral("Status:"));
    // An echo lookup still outstanding is not cancelled: its events arrive
    // later and are shown as usual.
}

void TMainForm::StartAntiIdle()
{
    ++SessionSerial;
    re_History->clear();
    lbl_Method->setText(MethodCaption(rg_AIMethod));
    ClearResponseHistory();
    HttpRequestCount = 0;
    LogTimer->start();
    CopyProxySettings();

    if (cb_AIOptions->Checked(OptCycle)) {
        CycleMode = true;
        LoadServerList();
        QString error;
        if (!StartSessionStats(&error))
            throw std::invalid_argument(error.toStdString());
        StartCycle();
    } else {
        CycleMode = false;
        const QString host = edt_AIHost->text();
        // Without a host the switch shows "on" but nothing is sent; a bad
        // frequency is passed over the same way.
        if (!host.isEmpty() && StartSessionStats()) {
            try {
                SetStatus(QStringLiteral("Status: Pinging ") + host);
                AddLine(re_History, QStringLiteral("Pinging ") + host);
                StatusLBL->repaint();
                PingLight->show();
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
        ModeLBL->clear();
    }

    GoodLBL->show();
    ModeLBL->show();
    TimeLBL->show();
    lbl_Method->show();
    if (cb_AIOptions->Checked(OptMinimize))
        HideOrMinimize(this);
}

void TMainForm::StartCycle()
{
    CycleMode = true;
    ModeLBL->setText(QStringLiteral("Cycle servers"));
    if (ListBox1->count() == 0)
        throw ListIndexError(0);
    CurrentHost = ListBox1->item(0)->text();
    ServerIndex = 0;
    SendProbe();
    StartProbeTimer();
}

void TMainForm::StartProbeTimer()
{
    connect(Timer3, &QTimer::timeout, this, &TMainForm::Timer3Timer, Qt::UniqueConnection);
    Timer3->start();
    TickingClock1->SetElapsed(0);
    TickingClock1->SetEnabled(true);
}

void TMainForm::Timer3Timer()
{
    // A message box opened by an earlier tick runs its own loop, and the
    // timer keeps firing inside it; one box at a time is enough.
    static bool reporting = false;
    try {
        if (CycleMode) {
            ++ServerIndex;
            if (ServerIndex > ListBox1->count() - 1)
                ServerIndex = 0;
            // The list can be emptied in the editor during a session.
            if (ServerIndex >= ListBox1->count())
                throw ListIndexError(ServerIndex);
            CurrentHost = ListBox1->item(ServerIndex)->text();
        } else {
            CurrentHost = edt_AIHost->text();
        }
        FailureCounted = false;
        SendProbe();
    } catch (const std::exception &e) {
        if (reporting)
            return;
        reporting = true;
        ReportError(e);
        reporting = false;
    }
}

void TMainForm::SendProbe()
{
    ++AttemptCount;
    AlternateToggle = !AlternateToggle;
    switch (antiidle::ChooseProbe(rg_AIMethod->ItemIndex(), AlternateToggle)) {
    case antiidle::TProbeKind::Echo:
        Ping2->SetSize(cb_AIOptions->Checked(OptVarySize) ? antiidle::RandomEchoSize()
                                                          : antiidle::MinEchoSize);
        PingLight->setText(QStringLiteral("PING"));
        PingLight->show();
        PingLight->repaint();
        LastPingHost = CurrentHost;
        SendEcho(CurrentHost);
        break;
    case antiidle::TProbeKind::HttpGet:
        PingLight->setText(QStringLiteral("HTTP GET"));
        PingLight->show();
        PingLight->repaint();
        HttpProbe();
        break;
    case antiidle::TProbeKind::None:
        break;
    }
}
