// The ISP tree. A Map finds the host's address (forward lookup through
// WSocket2 for a name), then asks for the name of every address .1 to .255 of
// its block, and shows them in address order.
//
// The reverse lookups go through the program's lookup service
// (TAddrLookups), many at a time: they are asked in address order, as many as
// kLookupsInFlight ahead of the address whose turn it is, and an answer that comes back before its turn
// waits for it, so the nodes, the gauge and the status line advance strictly
// in address order, as one lookup after another would show them, only
// sooner. The scan runs from the event loop, so the window repaints and a
// name server that does not answer never freezes it. Cancel stops at once:
// the lookups out are dropped, and the nodes shown (every name up to the
// gauge's number) stay. Close drops everything. Map is refused with a beep
// while a Map runs: two scans interleaving into one tree would give a list
// that belongs to neither.
#include "tools/isptree.h"

#include "desktop/pictures.h"
#include "net/addrlookups.h"
#include "net/wsocket.h"
#include "platform/replacefile.h"
#include "platform/resolver.h"
#include "shell/shellapi.h"
#include "shell/widepanel.h"
#include "tools/hostaddress.h"
#include "widgets/captionbutton.h"
#include "widgets/layout.h"
#include "widgets/picturebutton.h"
#include "widgets/toolswitch.h"

#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QFrame>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QProgressBar>
#include <QTreeWidget>

#include <exception>
#include <optional>

namespace {

constexpr int LastHost = 255;   // .0 is not probed
constexpr int NodeImageW = 19, NodeImageH = 17;

// The node pictures: image 0 for a node, image 1 while it is selected.
QIcon NodeIcon()
{
    const QPixmap strip = desktop::Picture(QStringLiteral("isp_images.png"));
    QIcon icon;
    if (strip.isNull())
        return icon;
    // The strip may be a double-size drawing: cut it in its own pixels.
    const qreal r = strip.devicePixelRatio();
    auto image = [&](int i) {
        QPixmap pix = strip.copy(QRectF(i * NodeImageW * r, 0, NodeImageW * r, NodeImageH * r).toRect());
        pix.setDevicePixelRatio(r);
        return pix;
    };
    icon.addPixmap(image(0), QIcon::Normal);
    icon.addPixmap(image(1), QIcon::Selected);
    return icon;
}

void AddLines(const QTreeWidgetItem *item, int level, QList<tools::TTreeLine> &out)
{
    out.append({item->text(0), level});
    for (int i = 0; i < item->childCount(); ++i)
        AddLines(item->child(i), level + 1, out);
}

} // namespace

TISPTree::TISPTree(IShell &shell)
    : QObject(shell.Window()), shell_(shell), switch_(shell.Switch(TToolId::ISPTree))
{
    setObjectName(QStringLiteral("ISPTree"));
    WSocket2 = new TWSocket(this);
    WSocket2->setObjectName(QStringLiteral("WSocket2"));
    WSocket2->OnDnsLookupDone = [this](TCustomWSocket *, quint16 error) {
        WSocket2DnsLookupDone(error);
    };
    ScanLookups = new TAddrLookups(this);
    ScanLookups->setObjectName(QStringLiteral("ScanLookups"));
    CreatePanel();
    switch_.Bind([this] { ISPTree1Click(); });
}

TISPTree::~TISPTree()
{
    WSocket2->OnDnsLookupDone = nullptr;
    StopScan();
}

void TISPTree::CreatePanel()
{
    panel_ = std::make_unique<TWidePanel>(shell_, TPanelId::ISPTree);
    pnl_ISPTree = panel_->Frame();
    QPalette black = pnl_ISPTree->palette();
    black.setColor(QPalette::Window, Qt::black);
    pnl_ISPTree->setPalette(black);

    MakeLabel(pnl_ISPTree, QStringLiteral("lbl_ISPHost"), QStringLiteral("Host:"), 6, 22, 30, 14);
    edt_ISPHost = MakeEdit(pnl_ISPTree, QStringLiteral("edt_ISPHost"), 38, 20, 137);
    btn_ISPMap = MakeCaptionButton(pnl_ISPTree, QStringLiteral("btn_ISPMap"),
                                   QStringLiteral("lbl_ISPMap"), QStringLiteral("Map ISP"), 179,
                                   20, CaptionButtonWidth, &lbl_ISPMap);
    btn_ISPCancel = MakeCaptionButton(pnl_ISPTree, QStringLiteral("btn_ISPCancel"),
                                      QStringLiteral("lbl_ISPCancel"), QStringLiteral("Cancel"),
                                      243, 20, CaptionButtonWidth, &lbl_ISPCancel);

    tv_ISP = new QTreeWidget(pnl_ISPTree);
    tv_ISP->setObjectName(QStringLiteral("tv_ISP"));
    tv_ISP->setGeometry(6, 44, 297, 113);
    tv_ISP->setHeaderHidden(true);
    tv_ISP->setColumnCount(1);
    tv_ISP->setIndentation(22);
    tv_ISP->setRootIsDecorated(false);
    tv_ISP->setEditTriggers(QAbstractItemView::NoEditTriggers);
    tv_ISP->setIconSize(QSize(NodeImageW, NodeImageH));
    QPalette white = tv_ISP->palette();
    white.setColor(QPalette::Base, Qt::white);
    white.setColor(QPalette::Text, Qt::black);
    tv_ISP->setPalette(white);

    btn_IspSave = MakeCaptionButton(pnl_ISPTree, QStringLiteral("btn_IspSave"),
                                    QStringLiteral("lbl_IspSave"), QStringLiteral("Save to File"),
                                    163, 162, 76, &lbl_IspSave);
    btn_ISPClose = MakeCaptionButton(pnl_ISPTree, QStringLiteral("btn_ISPClose"),
                                     QStringLiteral("lbl_ISPClose"), QStringLiteral("Close"), 243,
                                     162, CaptionButtonWidth, &lbl_ISPClose);

    btn_ISPMap->OnClick = [this] { btn_ISPMapClick(); };
    btn_ISPCancel->OnClick = [this] { btn_ISPCancelClick(); };
    btn_IspSave->OnClick = [this] { btn_IspSaveClick(); };
    btn_ISPClose->OnClick = [this] { btn_ISPCloseClick(); };
    InstallEnterAction(edt_ISPHost, TKeyEdge::Down, [this] { edt_ISPHostKeyPress(); });
    InstallEnterPressEffect(edt_ISPHost, btn_ISPMap);
}

QFileDialog *TISPTree::SaveDialog()
{
    if (SaveDialog1)
        return SaveDialog1;
    SaveDialog1 = new QFileDialog(shell_.Window());
    SaveDialog1->setObjectName(QStringLiteral("SaveDialog1"));
    SaveDialog1->setAcceptMode(QFileDialog::AcceptSave);
    SaveDialog1->setFileMode(QFileDialog::AnyFile);
    SaveDialog1->setDefaultSuffix(QStringLiteral("txt"));
    // "All Files" matches every name, with or without a dot.
    SaveDialog1->setNameFilters({QStringLiteral("Text Document (*.txt)"),
                                 QStringLiteral("All Files (*)")});
    SaveDialog1->selectFile(QStringLiteral("untitled"));
    return SaveDialog1;
}

bool TISPTree::PanelOpen() const
{
    return switch_.Running();
}

void TISPTree::ISPTree1Click()
{
    // The menu item always opens; only Close closes.
    switch_.SetRunning(true);
    panel_->Open();
    edt_ISPHost->setFocus();
}

void TISPTree::edt_ISPHostKeyPress()
{
    btn_ISPMap->Click();
}

void TISPTree::EndMap()
{
    Run.MapRun.End();
    Run.MapState = TMapState::Idle;
}

void TISPTree::btn_ISPMapClick()
{
    if (Run.MapState != TMapState::Idle) {
        QApplication::beep();   // the running Map goes on
        return;
    }
    Run.MapRun.Begin();
    tv_ISP->clear();
    const QString host = edt_ISPHost->text();
    shell_.SetStatus(QStringLiteral("Status: Looking up host ") + host + QStringLiteral("..."));
    if (tools::IsAddressText(host) && !tools::IsDottedAddress(host)) {
        // An IPv6 address has no IPv4 block to scan.
        NoIPv4Block(host);
        return;
    }
    if (!tools::IsDottedAddress(host)) {
        Run.MapState = TMapState::LookingUp;
        Run.ForwardPending = true;
        try {
            WSocket2->DnsLookup(host);
        } catch (const std::exception &e) {
            // An empty host: the socket refuses it with its own text.
            Run.ForwardPending = false;
            Run.ScanActive = false;
            EndMap();
            shell_.ShowMessage(QString::fromUtf8(e.what()));
        }
        return;
    }
    Run.ScanBase = host;
    Run.ScanActive = true;
    ScanSubnet();
}

void TISPTree::WSocket2DnsLookupDone(quint16 Error)
{
    if (Run.MapState != TMapState::LookingUp || !Run.ForwardPending)
        return;   // dropped by Close
    Run.ForwardPending = false;
    const TRunGuard::TTicket ticket = Run.MapRun.Current();
    QPointer<TISPTree> self(this);
    QCoreApplication::processEvents();
    if (!self || !Run.MapRun.IsCurrent(ticket))
        return;   // cancelled or closed meanwhile
    const QString host = edt_ISPHost->text();
    if (Error != 0) {
        shell_.SetStatus(QStringLiteral("Status: Unknown Host ") + host);
        Run.ScanActive = false;
        EndMap();
    } else if (const QString block = FirstIPv4(WSocket2->DnsResultList() << WSocket2->DnsResult());
               block.isEmpty()) {
        NoIPv4Block(host);
    } else {
        // The block is IPv4's: a name with addresses of both families is
        // mapped around its first IPv4 one, whichever family comes first.
        shell_.SetStatus(QStringLiteral("Status: Lookup complete: ") + host + QStringLiteral(" (") +
                         block + QStringLiteral(")"));
        Run.ScanBase = block;
        Run.ScanActive = true;
        ScanSubnet();
        if (!self)
            return;
    }
    QCoreApplication::processEvents();
}

QString TISPTree::FirstIPv4(const QStringList &addresses)
{
    for (const QString &a : addresses)
        if (tools::IsDottedAddress(a))
            return a;
    return {};
}

void TISPTree::NoIPv4Block(const QString &host)
{
    shell_.SetStatus(QStringLiteral("Status: No IPv4 address for ") + host
                     + QStringLiteral(": the ISP tree maps IPv4 blocks only."));
    Run.ScanActive = false;
    EndMap();
}

void TISPTree::ScanSubnet()
{
    if (!Run.ScanActive)
        return;
    Run.MapState = TMapState::Scanning;
    scan_ = std::make_unique<TScan>();
    scan_->prefix = tools::ScanPrefix(Run.ScanBase);
    QProgressBar *gauge = shell_.Gauge();
    gauge->setMaximum(LastHost);
    gauge->setValue(1);
    gauge->show();
    shell_.SetStatus(QStringLiteral("Status: Resolving ") + scan_->prefix + QStringLiteral("1..."));
    std::vector<std::uint32_t> addrs;
    for (int n = 1; n <= LastHost; ++n)
        addrs.push_back(platform::InetAddr((scan_->prefix + QString::number(n)).toStdString()));
    const TRunGuard::TTicket ticket = Run.MapRun.Current();
    const bool started = ScanLookups->Start(
        std::move(addrs), kLookupsInFlight, kLookupsInFlight,
        [this, ticket](int index, int error, const std::string &name) {
            LookupDone(ticket, index + 1, error, name);
        });
    if (!started) {
        // The lookup service took nothing: no address has a name to show.
        for (int n = 1; n <= LastHost; ++n)
            scan_->waiting[n] = std::nullopt;
        ShowReady();
    }
}

void TISPTree::LookupDone(std::uint64_t ticket, int n, int error, const std::string &name)
{
    // After Cancel, Close or a newer Map this answer belongs to nobody.
    if (!scan_ || !Run.MapRun.IsCurrent(ticket))
        return;
    if (error == 0 && !name.empty())
        scan_->waiting[n] = QString::fromStdString(name);
    else
        scan_->waiting[n] = std::nullopt;
    ShowReady();
}

void TISPTree::ShowReady()
{
    const TRunGuard::TTicket ticket = Run.MapRun.Current();
    QPointer<TISPTree> self(this);
    while (scan_) {
        const auto it = scan_->waiting.find(scan_->nextShow);
        if (it == scan_->waiting.end())
            return;
        const int n = scan_->nextShow++;
        const std::optional<QString> name = it->second;
        scan_->waiting.erase(it);
        const QString address = scan_->prefix + QString::number(n);
        if (name) {
            auto *node = new QTreeWidgetItem(tv_ISP, {tools::ISPNodeText(*name, address)});
            node->setIcon(0, NodeIcon());
            shell_.SetStatus(QStringLiteral("Status: Lookup complete: ") + *name + QStringLiteral(" (") +
                             address + QStringLiteral(")"));
        } else {
            shell_.SetStatus(QStringLiteral("Status: Invalid Host/IP address."));
        }
        shell_.Gauge()->setValue(n);
        // Whoever watches the gauge may have ended the scan.
        if (!self || !scan_ || !Run.MapRun.IsCurrent(ticket))
            return;
        if (n == LastHost) {
            // Done: the last status and the full gauge stay, and so does Run.ScanActive.
            scan_.reset();
            EndMap();
            return;
        }
        shell_.SetStatus(QStringLiteral("Status: Resolving ") + scan_->prefix
                         + QString::number(scan_->nextShow) + QStringLiteral("..."));
        // One more may be asked: the answers ahead of their turn stay within
        // the lookups that may be out.
        ScanLookups->Allow(scan_->nextShow - 1 + kLookupsInFlight);
    }
}

void TISPTree::StopScan()
{
    ScanLookups->Cancel();
    scan_.reset();
}

void TISPTree::btn_ISPCancelClick()
{
    Run.ScanActive = false;
    if (Run.MapState == TMapState::LookingUp && Run.ForwardPending) {
        // Reported at once through WSocket2DnsLookupDone with 10004.
        try {
            WSocket2->CancelDnsLookup();
        } catch (const std::exception &e) {
            shell_.ShowMessage(QString::fromUtf8(e.what()));
        }
        return;
    }
    // A scan stops at once: what was shown stays, the rest is dropped. A
    // Map may start again at once.
    StopScan();
    if (Run.MapState != TMapState::Idle) {
        Run.MapState = TMapState::Idle;
        Run.MapRun.End();
    }
}

void TISPTree::btn_ISPCloseClick()
{
    Run.ScanActive = false;
    StopScan();
    Run.MapState = TMapState::Idle;
    // Every lookup of this panel goes stale: nothing reaches the cleared tree.
    Run.MapRun.Begin();
    Run.MapRun.End();
    if (Run.ForwardPending) {
        Run.ForwardPending = false;
        try {
            WSocket2->CancelDnsLookup();
        } catch (const std::exception &) {
            // already ended: nothing left to drop
        }
    }
    switch_.SetRunning(false);
    shell_.Gauge()->hide();
    panel_->Close();
    edt_ISPHost->clear();
    tv_ISP->clear();
}

QList<tools::TTreeLine> TISPTree::TreeLines() const
{
    QList<tools::TTreeLine> lines;
    for (int i = 0; i < tv_ISP->topLevelItemCount(); ++i)
        AddLines(tv_ISP->topLevelItem(i), 0, lines);
    return lines;
}

void TISPTree::btn_IspSaveClick()
{
    QFileDialog *dialog = SaveDialog();
    if (dialog->exec() != QDialog::Accepted)
        return;
    const QStringList files = dialog->selectedFiles();
    if (!files.isEmpty())
        SaveTree(files.first());
}

bool TISPTree::SaveTree(const QString &path)
{
    QString reason;
    if (platform::ReplaceFile(path, tools::ISPTreeFileBytes(TreeLines()),
                              platform::TFileAccess::Shared, &reason))
        return true;
    shell_.ShowMessage(QStringLiteral("Unable to write to %1\n%2")
                           .arg(QDir::toNativeSeparators(path), reason));
    return false;
}
