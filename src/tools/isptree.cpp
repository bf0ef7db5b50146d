// The ISP tree. A Map finds the host's address (forward lookup through
// WSocket2 for a name), then asks for the name of every address .1 to .255 of
// its block, one after the other and in address order.
//
// Each reverse lookup waits on the resolver's worker while the event loop
// runs, so the window repaints and Cancel and Close take effect at once; a
// name server that does not answer never freezes it. Cancel lets the lookup
// in flight finish and be shown (the gauge then tells how far the scan got)
// and probes nothing after it. Close and a newer Map make it stale instead.
// Map is refused with a beep while a Map runs: two scans interleaving into
// one tree would give a list that belongs to neither.
#include "tools/isptree.h"

#include "desktop/pictures.h"
#include "net/wsocket.h"
#include "platform/errcodes.h"
#include "platform/replacefile.h"
#include "shell/shellapi.h"
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
    const QPixmap strip = Picture(QStringLiteral("isp_images.png"));
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
    : QObject(shell.Window()), shell_(shell), switch_(shell.Switch(TToolId::ISPTree)),
      backdrop_(std::make_unique<TBackdropHold>(shell))
{
    setObjectName(QStringLiteral("ISPTree"));
    WSocket2 = new TWSocket(this);
    WSocket2->setObjectName(QStringLiteral("WSocket2"));
    WSocket2->OnDnsLookupDone = [this](TCustomWSocket *, quint16 error) {
        WSocket2DnsLookupDone(error);
    };
    CreatePanel();
    switch_.Bind([this] { ISPTree1Click(); });
}

TISPTree::~TISPTree()
{
    WSocket2->OnDnsLookupDone = nullptr;
}

void TISPTree::CreatePanel()
{
    pnl_ISPTree = shell_.Panel(TPanelId::ISPTree);
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

    SaveDialog1 = new QFileDialog(shell_.Window());
    SaveDialog1->setObjectName(QStringLiteral("SaveDialog1"));
    SaveDialog1->setAcceptMode(QFileDialog::AcceptSave);
    SaveDialog1->setFileMode(QFileDialog::AnyFile);
    SaveDialog1->setDefaultSuffix(QStringLiteral("txt"));
    // "All Files" matches every name, with or without a dot.
    SaveDialog1->setNameFilters({QStringLiteral("Text Document (*.txt)"),
                                 QStringLiteral("All Files (*)")});
    SaveDialog1->selectFile(QStringLiteral("untitled"));
}

bool TISPTree::PanelOpen() const
{
    return switch_.Running();
}

void TISPTree::ISPTree1Click()
{
    // The menu item always opens; only Close closes.
    switch_.SetRunning(true);
    backdrop_->Set(true);
    pnl_ISPTree->raise();
    pnl_ISPTree->show();
    edt_ISPHost->setFocus();
}

void TISPTree::edt_ISPHostKeyPress()
{
    btn_ISPMap->Click();
}

void TISPTree::EndMap()
{
    MapRun.End();
    MapState = TMapState::Idle;
}

void TISPTree::btn_ISPMapClick()
{
    if (MapState != TMapState::Idle) {
        QApplication::beep();   // the running Map goes on
        return;
    }
    MapRun.Begin();
    tv_ISP->clear();
    const QString host = edt_ISPHost->text();
    shell_.SetStatus(QStringLiteral("Status: Looking up host ") + host + QStringLiteral("..."));
    if (!tools::IsDottedAddress(host)) {
        MapState = TMapState::LookingUp;
        forwardPending_ = true;
        try {
            WSocket2->DnsLookup(host);
        } catch (const std::exception &e) {
            // An empty host: the socket refuses it with its own text.
            forwardPending_ = false;
            ScanActive = false;
            EndMap();
            shell_.ShowMessage(QString::fromUtf8(e.what()));
        }
        return;
    }
    ScanBase = host;
    ScanActive = true;
    ScanSubnet();
}

void TISPTree::WSocket2DnsLookupDone(quint16 Error)
{
    if (MapState != TMapState::LookingUp || !forwardPending_)
        return;   // dropped by Close
    forwardPending_ = false;
    const TRunGuard::TTicket ticket = MapRun.Current();
    QPointer<TISPTree> self(this);
    QCoreApplication::processEvents();
    if (!self || !MapRun.IsCurrent(ticket))
        return;   // cancelled or closed meanwhile
    const QString host = edt_ISPHost->text();
    if (Error != 0) {
        shell_.SetStatus(QStringLiteral("Status: Unknown Host ") + host);
        ScanActive = false;
        EndMap();
    } else {
        shell_.SetStatus(QStringLiteral("Status: Lookup complete: ") + host + QStringLiteral(" (") +
                         WSocket2->DnsResult() + QStringLiteral(")"));
        ScanBase = WSocket2->DnsResult();
        ScanActive = true;
        ScanSubnet();
        if (!self)
            return;
    }
    QCoreApplication::processEvents();
}

void TISPTree::ScanSubnet()
{
    if (!ScanActive)
        return;
    const TRunGuard::TTicket ticket = MapRun.Current();
    MapState = TMapState::Scanning;
    const QString prefix = tools::ScanPrefix(ScanBase);
    QProgressBar *gauge = shell_.Gauge();
    gauge->setMaximum(LastHost);
    gauge->setValue(1);
    gauge->show();

    QPointer<TISPTree> self(this);
    for (int n = 1; n <= LastHost; ++n) {
        QCoreApplication::processEvents();
        if (!self || !MapRun.IsCurrent(ticket) || !ScanActive)
            break;
        const QString address = prefix + QString::number(n);
        shell_.SetStatus(QStringLiteral("Status: Resolving ") + address + QStringLiteral("..."));
        int error = 0;
        const std::optional<QString> name = tools::HostNameOfAddress(address, &error);
        // After Close or a newer Map this answer belongs to nobody; after
        // Cancel it is still shown, and the loop stops at the next address.
        if (!self || !MapRun.IsLatest(ticket))
            return;
        if (name) {
            auto *node = new QTreeWidgetItem(tv_ISP, {tools::ISPNodeText(*name, address)});
            node->setIcon(0, NodeIcon());
            QCoreApplication::processEvents();
            if (!self || !MapRun.IsLatest(ticket))
                return;
            shell_.SetStatus(QStringLiteral("Status: Lookup complete: ") + *name + QStringLiteral(" (") +
                             address + QStringLiteral(")"));
        } else {
            QCoreApplication::processEvents();
            if (!self || !MapRun.IsLatest(ticket))
                return;
            shell_.SetStatus(QStringLiteral("Status: Invalid Host/IP address."));
        }
        gauge->setValue(n);
        if (error == platform::kErrInterrupted) {
            // The program is quitting: no more lookups.
            ScanActive = false;
            break;
        }
    }
    if (self && MapRun.IsLatest(ticket))
        EndMap();
}

void TISPTree::btn_ISPCancelClick()
{
    ScanActive = false;
    if (MapState == TMapState::LookingUp && forwardPending_) {
        // Reported at once through WSocket2DnsLookupDone with 10004.
        try {
            WSocket2->CancelDnsLookup();
        } catch (const std::exception &e) {
            shell_.ShowMessage(QString::fromUtf8(e.what()));
        }
        return;
    }
    // A scan stops before its next address; the lookup in flight still
    // shows its answer. A Map may start again at once.
    if (MapState != TMapState::Idle) {
        MapState = TMapState::Idle;
        MapRun.End();
    }
}

void TISPTree::btn_ISPCloseClick()
{
    ScanActive = false;
    MapState = TMapState::Idle;
    // Every lookup of this panel goes stale: nothing reaches the cleared tree.
    MapRun.Begin();
    MapRun.End();
    if (forwardPending_) {
        forwardPending_ = false;
        try {
            WSocket2->CancelDnsLookup();
        } catch (const std::exception &) {
            // already ended: nothing left to drop
        }
    }
    switch_.SetRunning(false);
    pnl_ISPTree->hide();
    shell_.Gauge()->hide();
    // The backdrop stays while another wide panel still needs it.
    backdrop_->Set(false);
    shell_.RepaintBackground();
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
    if (SaveDialog1->exec() != QDialog::Accepted)
        return;
    const QStringList files = SaveDialog1->selectedFiles();
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
