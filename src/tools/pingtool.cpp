// The ping tool: a counted series of echoes to one host, one line per echo in
// re_Ping and a summary of successes and round trips after the last one.
//
// The echoes run in a loop inside the lookup's completion handler and let
// pending events run between them, so the user's clicks are handled during
// a run. A second run started from inside a run would share its counters and
// interleave its lines; it is refused instead, so every run writes exactly
// its own lines.
#include "tools/pingtool.h"

#include "net/ping.h"
#include "platform/hosttext.h"
#include "shell/shellapi.h"
#include "shell/widepanel.h"
#include "widgets/captionbutton.h"
#include "widgets/layout.h"
#include "widgets/picturebutton.h"
#include "widgets/textpane.h"
#include "widgets/toolswitch.h"

#include <QApplication>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QSpinBox>
#include <QTextEdit>

#include <climits>
#include <exception>

namespace {

constexpr qint32 NoMinimumYet = 10000000;
constexpr int LargestPacket = 65535;

} // namespace

void tools::ExplainIcmpAccess(IShell &shell, const TPing &ping)
{
    if (ping.LastError() != kIcmpNotPermitted)
        return;
    const QString hint = TPing::AccessHintOnce();
    if (!hint.isEmpty())
        shell.ShowMessage(hint);
}

TPingTool::TPingTool(IShell &shell)
    : QObject(shell.Window()), shell_(shell), switch_(shell.Switch(TToolId::Ping))
{
    setObjectName(QStringLiteral("PingTool"));
    Ping3 = MakePing(QStringLiteral("Ping3"), 15000, 56);
    Ping3->OnDnsLookupDone = [this](QObject *s, quint16 e) { Ping3DnsLookupDone(s, e); };
    Ping3->OnEchoRequest = [this](QObject *s) { Ping3EchoRequest(s); };
    Ping3->OnEchoReply = [this](QObject *s, int e) { Ping3EchoReply(s, e); };
    CreatePanel();
    switch_.Bind([this] { btn_PingClick(); });
}

TPingTool::~TPingTool() = default;

bool TPingTool::Running() const
{
    return switch_.Running();
}

void TPingTool::CreatePanel()
{
    panel_ = std::make_unique<TWidePanel>(shell_, TPanelId::Ping);
    pnl_Ping = panel_->Frame();
    MakeLabel(pnl_Ping, QStringLiteral("lbl_PngHost"), QStringLiteral("Host:"), 6, 22, 30, 14);
    edt_PngHost = MakeEdit(pnl_Ping, QStringLiteral("edt_PngHost"), 38, 20, 150);
    MakeLabel(pnl_Ping, QStringLiteral("lbl_PngTimes"), QStringLiteral("Times:"), 196, 22, 40, 14);
    se_PngTimes = MakeSpin(pnl_Ping, QStringLiteral("se_PngTimes"), 1, 100, 238, 20, 60);
    se_PngTimes->setValue(1);

    re_Ping = MakeOutputPane(pnl_Ping, QStringLiteral("re_Ping"), QRect(6, 44, 297, 113));
    re_Ping->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);

    btn_PngYes = MakeCaptionButton(pnl_Ping, QStringLiteral("btn_PngYes"),
                                   QStringLiteral("lbl_PngPing"), QStringLiteral("Ping"), 177,
                                   162, CaptionButtonWidth, &lbl_PngPing);
    btn_PngNo = MakeCaptionButton(pnl_Ping, QStringLiteral("btn_PngNo"),
                                  QStringLiteral("lbl_PngCancel"), QStringLiteral("Cancel"), 243,
                                  162, CaptionButtonWidth, &lbl_PngCancel);
    btn_PngYes->OnClick = [this] { btn_PngYesClick(); };
    btn_PngNo->OnClick = [this] { btn_PngNoClick(); };

    // Before the press effect, which is asked first and still sees the key.
    InstallEnterAction(edt_PngHost, TKeyEdge::Down, [this] { edt_PngHostKeyPress(); });
    InstallEnterPressEffect(edt_PngHost, btn_PngYes);
}

void TPingTool::btn_PingClick()
{
    if (!Running()) {
        switch_.SetRunning(true);
        panel_->Open();
        edt_PngHost->setFocus();
        return;
    }

    // Switching off leaves a run in progress running.
    switch_.SetRunning(false);
    panel_->Close();
    shell_.SetStatus(QStringLiteral("Status:"));
    edt_PngHost->clear();
    re_Ping->clear();
}

void TPingTool::edt_PngHostKeyPress()
{
    btn_PngYes->Click();
}

void TPingTool::btn_PngYesClick()
{
    if (Run.PingRun.Active()) {
        QApplication::beep();
        return;
    }
    re_Ping->clear();
    Run.PingSuccesses = 0;
    Run.PingFailures = 0;
    Run.PingSeq = 0;
    Run.PingMinRtt = NoMinimumYet;
    Run.PingMaxRtt = 0;
    Run.PingSumRtt = 0;

    const config::TPingOptions &options = shell_.Options().Ping;
    // The size as typed: a number the field would not take is refused here
    // with a warning rather than sent or silently cut.
    const qint64 size = options.Bytes;
    if (size > LargestPacket) {
        shell_.ShowMessage(QStringLiteral("Packet size cannot be greater than 65535 bytes."));
        config::TOptions corrected = shell_.Options();
        corrected.Ping.Bytes = LargestPacket;
        shell_.SetOptions(corrected);
        return;
    }

    Run.PingRun.Begin();
    Run.PingHost = platform::HostShown(edt_PngHost->text());
    Ping3->SetTimeout(options.TimeOut * 1000);
    Ping3->SetSize(int(size));
    try {
        // A dotted address completes inside this call, echoes and all.
        Ping3->DnsLookup(Run.PingHost);
    } catch (const std::exception &e) {
        Run.PingRun.End();
        shell_.ShowMessage(QString::fromUtf8(e.what()));
    }
}

void TPingTool::btn_PngNoClick()
{
    try {
        Ping3->CancelDnsLookup();
    } catch (const std::exception &e) {
        shell_.ShowMessage(QString::fromUtf8(e.what()));
    }
}

void TPingTool::Ping3DnsLookupDone(QObject *Sender, quint16 Error)
{
    if (!Run.PingRun.Active())
        return;
    struct EndRun {
        TRunGuard &run;
        ~EndRun() { run.End(); }
    } endRun{Run.PingRun};

    QCoreApplication::processEvents();
    const QString host = Run.PingHost;
    if (Error != 0) {
        shell_.SetStatus(QStringLiteral("Status: Unknown Host ") + host);
        AddPaneLine(re_Ping, TLineStyle::Bulleted, QStringLiteral("Unknown Host ") + host);
        QCoreApplication::processEvents();
        return;
    }

    AddPaneLine(re_Ping, TLineStyle::Bulleted, QStringLiteral("Lookup complete: ") + host + QStringLiteral(" (") +
                         Ping3->DnsResult() + QStringLiteral(")"));
    Ping3->SetAddress(Ping3->DnsResult());
    // The count is fixed for the run: changing the field meanwhile must not
    // lose the summary or end the run early.
    Run.PingTimes = se_PngTimes->value();
    try {
        for (int i = 1; i <= Run.PingTimes; ++i) {
            QCoreApplication::processEvents();
            Run.PingSeq = i;
            Run.PingReplySeen = false;
            Ping3->Ping();
            // An echo refused before it was sent fires no reply event; it
            // still counts as a failed echo of the run.
            if (!Run.PingReplySeen)
                Ping3EchoReply(Ping3.get(), 0);
            QCoreApplication::processEvents();
        }
    } catch (const std::exception &e) {
        // The run is cut short: no summary.
        Run.PingRun.End();
        shell_.ShowMessage(QString::fromUtf8(e.what()));
    }
}

void TPingTool::Ping3EchoRequest(QObject *Sender)
{
    QCoreApplication::processEvents();
    shell_.SetStatus(QStringLiteral("Status: Sending %1 bytes to %2").arg(Ping3->Size()).arg(Run.PingHost),
              true);
}

void TPingTool::Ping3EchoReply(QObject *Sender, int Replies)
{
    Run.PingReplySeen = true;
    QCoreApplication::processEvents();
    const QString host = Run.PingHost;

    if (Replies != 0) {
        const quint32 reply = Ping3->Reply().RoundTripTime;
        const qint32 rtt = reply > quint32(INT_MAX) ? INT_MAX : qint32(reply);
        shell_.SetStatus(QStringLiteral("Status: %1 successfully pinged in %2 msecs").arg(host).arg(rtt),
                  true);
        AddPaneLine(re_Ping, TLineStyle::Plain, QStringLiteral("%1.) %2 msecs").arg(Run.PingSeq).arg(rtt));
        Run.PingSumRtt += rtt;
        if (rtt < Run.PingMinRtt)
            Run.PingMinRtt = rtt;
        if (rtt > Run.PingMaxRtt)
            Run.PingMaxRtt = rtt;
        ++Run.PingSuccesses;
    } else {
        const QString line = QStringLiteral("Error pinging ") + host + QStringLiteral(" : ") +
                             Ping3->ErrorText();
        shell_.SetStatus(QStringLiteral("Status: ") + line, true);
        AddPaneLine(re_Ping, TLineStyle::Bulleted, line);
        ++Run.PingFailures;
        tools::ExplainIcmpAccess(shell_, *Ping3);
    }

    if (Run.PingSeq == Run.PingTimes) {
        AddPaneLine(re_Ping, TLineStyle::Bulleted, QStringLiteral("Ping finished."));
        AddPaneLine(re_Ping, TLineStyle::Plain, QStringLiteral("Successful Pings: %1/%2").arg(Run.PingSuccesses).arg(Run.PingTimes));
        if (Run.PingMinRtt == NoMinimumYet)
            Run.PingMinRtt = 0;
        AddPaneLine(re_Ping, TLineStyle::Plain, QStringLiteral("Minimum Round Trip: %1 msecs.").arg(Run.PingMinRtt));
        AddPaneLine(re_Ping, TLineStyle::Plain, QStringLiteral("Maximum Round Trip: %1 msecs.").arg(Run.PingMaxRtt));
        if (Run.PingTimes == Run.PingFailures)
            AddPaneLine(re_Ping, TLineStyle::Plain, QStringLiteral("Average Round Trip: 0 msecs"));
        else
            AddPaneLine(re_Ping, TLineStyle::Plain, QStringLiteral("Average Round Trip: %1 msecs")
                                      .arg(Run.PingSumRtt / (Run.PingTimes - Run.PingFailures)));
    }
    re_Ping->ensureCursorVisible();
    QCoreApplication::processEvents();
}
