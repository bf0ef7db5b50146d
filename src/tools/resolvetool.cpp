// The resolve tool. The direction is chosen on the text alone: empty is the
// local host, an address (IPv4 as inet_addr takes it, or IPv6) is looked up
// in reverse, anything else forward through WSocket1, which finds every
// address of both families; the result field lists them all, in the order
// the system prefers.
//
// Reverse and local lookups wait on the resolver's worker with the event loop
// running, so Cancel, Close and another Resolve are handled during the wait.
// Each click is one run of Run.RsvRun: an answer that arrives for an older click,
// or after Cancel or Close, is dropped instead of overwriting newer results.
#include "tools/resolvetool.h"
#include "desktop/fonts.h"

#include "net/wsocket.h"
#include "platform/hosttext.h"
#include "shell/shellapi.h"
#include "shell/widepanel.h"
#include "tools/hostaddress.h"
#include "widgets/captionbutton.h"
#include "widgets/layout.h"
#include "widgets/picturebutton.h"
#include "widgets/toolswitch.h"

#include <QAction>
#include <QCoreApplication>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>

#include <exception>
#include <optional>

namespace {

// Both edits: white Tahoma 7 pt on black.
void StyleEdit(QLineEdit *edit)
{
    QPalette pal = edit->palette();
    pal.setColor(QPalette::Base, Qt::black);
    pal.setColor(QPalette::Text, Qt::white);
    edit->setPalette(pal);
    QFont font;
    font.setFamilies(desktop::WindowFaces());
    font.setPointSize(7);
    edit->setFont(font);
    edit->setToolTip(QStringLiteral("Enter hostname to trace"));
}

} // namespace

TResolveTool::TResolveTool(IShell &shell)
    : QObject(shell.Window()), shell_(shell), switch_(shell.Switch(TToolId::Resolve))
{
    setObjectName(QStringLiteral("ResolveTool"));
    WSocket1 = new TWSocket(this);
    WSocket1->setObjectName(QStringLiteral("WSocket1"));
    WSocket1->OnDnsLookupDone = [this](TCustomWSocket *, quint16 error) {
        WSocket1DnsLookupDone(error);
    };
    CreatePanel();
    // The menu item's check mark shows whether the panel is open.
    if (QAction *item = switch_.Parts().ToolItem)
        item->setCheckable(true);
    switch_.Bind([this] { Resolve1Click(); });
}

TResolveTool::~TResolveTool()
{
    // A lookup still out must not report to a tool that is gone.
    WSocket1->OnDnsLookupDone = nullptr;
}

void TResolveTool::CreatePanel()
{
    panel_ = std::make_unique<TWidePanel>(shell_, TPanelId::Resolve);
    pnl_Resolve = panel_->Frame();
    MakeLabel(pnl_Resolve, QStringLiteral("lbl_RsvHost"),
              QStringLiteral("Host/IP (Leave blank for local host):"), 6, 20, 155, 28)
        ->setWordWrap(true);
    edt_RsvHost = MakeEdit(pnl_Resolve, QStringLiteral("edt_RsvHost"), 6, 50, 155);
    StyleEdit(edt_RsvHost);

    btn_RsvYes = MakeCaptionButton(pnl_Resolve, QStringLiteral("btn_RsvYes"),
                                   QStringLiteral("lbl_RsvResolve"), QStringLiteral("Resolve"),
                                   20, 75, CaptionButtonWidth, &lbl_RsvResolve);
    btn_RsvNo = MakeCaptionButton(pnl_Resolve, QStringLiteral("btn_RsvNo"),
                                  QStringLiteral("lbl_RsvCancel"), QStringLiteral("Cancel"), 87,
                                  75, CaptionButtonWidth, &lbl_RsvCancel);

    MakeLabel(pnl_Resolve, QStringLiteral("lbl_RsvHostRsv"), QStringLiteral("Resolved Host/IP:"), 6,
              104, 155, 14);
    edt_RsvHostRsv = MakeEdit(pnl_Resolve, QStringLiteral("edt_RsvHostRsv"), 6, 120, 155);
    StyleEdit(edt_RsvHostRsv);

    btn_RsvClose = MakeCaptionButton(pnl_Resolve, QStringLiteral("btn_RsvClose"),
                                     QStringLiteral("lbl_RsvClose"), QStringLiteral("Close"), 53,
                                     162, CaptionButtonWidth, &lbl_RsvClose);

    btn_RsvYes->OnClick = [this] { btn_RsvYesClick(); };
    btn_RsvNo->OnClick = [this] { btn_RsvNoClick(); };
    btn_RsvClose->OnClick = [this] { btn_RsvCloseClick(); };
    for (QLineEdit *edit : {edt_RsvHost, edt_RsvHostRsv}) {
        InstallEnterAction(edit, TKeyEdge::Down, [this] { edt_RsvHostKeyPress(); });
        InstallEnterPressEffect(edit, btn_RsvYes);
    }
}

bool TResolveTool::PanelOpen() const
{
    return switch_.Running();
}

void TResolveTool::Resolve1Click()
{
    const bool open = !PanelOpen();
    switch_.SetRunning(open);
    if (QAction *item = switch_.Parts().ToolItem)
        item->setChecked(open);
    if (!open) {
        // Whatever is still being looked up is no longer wanted.
        Run.RsvRun.End();
        DropForwardLookup();
        panel_->Close();
        shell_.SetStatus(QStringLiteral("Status:"));
        edt_RsvHost->clear();
        edt_RsvHostRsv->clear();
        return;
    }
    panel_->Open();
    edt_RsvHost->setFocus();
}

void TResolveTool::btn_RsvCloseClick()
{
    Resolve1Click();
}

void TResolveTool::edt_RsvHostKeyPress()
{
    btn_RsvYes->Click();
}

void TResolveTool::DropForwardLookup()
{
    if (!Run.ForwardPending)
        return;
    // Cleared first, so the cancel's completion is not reported.
    Run.ForwardPending = false;
    try {
        WSocket1->CancelDnsLookup();
    } catch (const std::exception &) {
        // The request had already ended; nothing is left to drop.
    }
}

void TResolveTool::btn_RsvYesClick()
{
    const TRunGuard::TTicket ticket = Run.RsvRun.Begin();
    DropForwardLookup();
    edt_RsvHostRsv->clear();
    const QString host = platform::HostShown(edt_RsvHost->text());
    shell_.SetStatus(QStringLiteral("Status: Looking up host ") + host + QStringLiteral("..."), true);
    if (host.isEmpty()) {
        ResolveLocalHost(ticket);
        return;
    }
    if (tools::IsAddressText(host)) {
        ResolveAddress(host, ticket);
        return;
    }
    Run.ForwardPending = true;
    try {
        WSocket1->DnsLookup(host);
    } catch (const std::exception &e) {
        Run.ForwardPending = false;
        Run.RsvRun.End();
        shell_.ShowMessage(QString::fromUtf8(e.what()));
    }
}

void TResolveTool::ResolveLocalHost(TRunGuard::TTicket ticket)
{
    QPointer<TResolveTool> self(this);
    const std::uint32_t local = tools::LocalIPAddress();
    if (!self || !Run.RsvRun.IsCurrent(ticket))
        return;
    const QString name = tools::AddressToHostName(local);
    if (!self || !Run.RsvRun.IsCurrent(ticket))
        return;
    Run.RsvRun.End();
    edt_RsvHostRsv->setText(tools::DottedAddressText(local));
    edt_RsvHost->setText(name);
    shell_.SetStatus(QStringLiteral("Status: Local host lookup complete"));
}

void TResolveTool::ResolveAddress(const QString &host, TRunGuard::TTicket ticket)
{
    QPointer<TResolveTool> self(this);
    const std::optional<QString> name = tools::HostNameOfAddress(host);
    if (!self || !Run.RsvRun.IsCurrent(ticket))
        return;
    Run.RsvRun.End();
    if (!name) {
        ShowResult(QStringLiteral("invalid Host/IP address"));
        shell_.SetStatus(QStringLiteral("Status: Invalid Host/IP address."));
        return;
    }
    ShowResult(*name);
    shell_.SetStatus(QStringLiteral("Status: Lookup complete: ") + host + QStringLiteral(" (") + *name +
                     QStringLiteral(")"));
}

void TResolveTool::ShowResult(const QString &text)
{
    edt_RsvHostRsv->setText(text);
    // A result longer than the field shows its start: the first address (the
    // one the tools use) or the name's first labels.
    edt_RsvHostRsv->setCursorPosition(0);
}

void TResolveTool::btn_RsvNoClick()
{
    if (Run.ForwardPending) {
        // Reported at once through WSocket1DnsLookupDone with 10004.
        try {
            WSocket1->CancelDnsLookup();
        } catch (const std::exception &e) {
            shell_.ShowMessage(QString::fromUtf8(e.what()));
        }
        return;
    }
    if (!Run.RsvRun.Active())
        return;  // nothing pending: nothing changes
    // A reverse or local lookup being waited for: its answer will be dropped,
    // and the user is told as a cancelled forward lookup tells it.
    Run.RsvRun.End();
    shell_.SetStatus(QStringLiteral("Status: Unknown Host ") + platform::HostShown(edt_RsvHost->text()));
}

void TResolveTool::WSocket1DnsLookupDone(quint16 Error)
{
    if (!Run.ForwardPending)
        return;  // dropped: the panel closed or a newer click replaced it
    Run.ForwardPending = false;
    const TRunGuard::TTicket ticket = Run.RsvRun.Current();
    Run.RsvRun.End();

    QPointer<TResolveTool> self(this);
    QCoreApplication::processEvents();
    // Closing the panel or another click meanwhile makes this answer stale.
    if (!self || !Run.RsvRun.IsLatest(ticket) || !PanelOpen())
        return;
    // The host as the field shows it now, even if it was edited meanwhile.
    const QString host = platform::HostShown(edt_RsvHost->text());
    if (Error != 0) {
        shell_.SetStatus(QStringLiteral("Status: Unknown Host ") + host);
    } else {
        shell_.SetStatus(QStringLiteral("Status: Lookup complete: ") + host + QStringLiteral(" (") +
                         WSocket1->DnsResult() + QStringLiteral(")"));
        const QStringList all = WSocket1->DnsResultList();
        ShowResult((all.isEmpty() ? QStringList{WSocket1->DnsResult()} : all)
                       .join(QStringLiteral(", ")));
    }
    QCoreApplication::processEvents();
}
