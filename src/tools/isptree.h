// The ISP tree: the names of every address .1 to .255 of a host's IPv4 /24
// block, one tree node per address that has one, in address order; the list
// can be saved as a text file. A host with no IPv4 address has no block.
#pragma once

#include "components/runguard.h"
#include "tools/isptreefile.h"

#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <map>
#include <memory>
#include <optional>

class IShell;
class QFileDialog;
class QFrame;
class QLabel;
class QLineEdit;
class QTreeWidget;
class TAddrLookups;
class TWidePanel;
class TPictureButton;
class TToolSwitch;
class TWSocket;

class TISPTree : public QObject {
    Q_OBJECT
public:
    // Binds the ISP Tree menu item of 'shell' and fills its ISP tree panel.
    explicit TISPTree(IShell &shell);
    ~TISPTree() override;

    // Where a Map stands: a host name being looked up, or the block being scanned.
    enum class TMapState { Idle, LookingUp, Scanning };

    TWSocket *WSocket2 = nullptr;         // forward lookup of a host name
    TAddrLookups *ScanLookups = nullptr;  // the reverse lookups of a scan
    QFrame *pnl_ISPTree = nullptr;        // the panel (made by the window's layout)
    QLineEdit *edt_ISPHost = nullptr;     // host name or dotted address (an IPv6 one has no block)
    QTreeWidget *tv_ISP = nullptr;        // one top-level node per named address
    TPictureButton *btn_ISPMap = nullptr, *btn_ISPCancel = nullptr, *btn_IspSave = nullptr,
                   *btn_ISPClose = nullptr;
    QLabel *lbl_ISPMap = nullptr, *lbl_ISPCancel = nullptr, *lbl_IspSave = nullptr,
           *lbl_ISPClose = nullptr;
    // Asks where Save to File writes. Made at the first Save to File: a file
    // dialog lists the working folder and looks up every file's type as it
    // is made, too much to do at every start for a dialog rarely opened.
    QFileDialog *SaveDialog();

    // A Map, from its click to its end, Cancel or Close.
    struct TRunState {
        QString ScanBase;                 // dotted address whose block is scanned
        bool ScanActive = false;          // a scan may run; Cancel and Close clear it
        TMapState MapState = TMapState::Idle;
        // The Map that owns the lookups in flight. A reverse lookup that
        // returns after Close or a newer Map finds its ticket stale and is dropped.
        TRunGuard MapRun;
        bool ForwardPending = false;      // WSocket2's lookup has not completed yet
    };
    TRunState Run;

    bool PanelOpen() const;

    void ISPTree1Click();
    void btn_ISPMapClick();
    void btn_ISPCancelClick();
    void btn_IspSaveClick();
    void btn_ISPCloseClick();
    void edt_ISPHostKeyPress();           // Enter in edt_ISPHost
    void WSocket2DnsLookupDone(quint16 Error);
    // Starts the scan of ScanBase's block: up to kLookupsInFlight reverse
    // lookups out at once, asked in address order, and their answers shown
    // (node, status, gauge) strictly in address order as they complete. It
    // returns at once; the scan goes on from the event loop.
    void ScanSubnet();

    // Reverse lookups of a scan out at the same time.
    static constexpr int kLookupsInFlight = 64;

    // The nodes of tv_ISP in tree order with their nesting levels.
    QList<tools::TTreeLine> TreeLines() const;
    // Writes the tree to path; a failure is told in a message box with the
    // path and the reason. True when written.
    bool SaveTree(const QString &path);

private:
    // The scan going on: which address's turn it is, what came back before its turn.
    struct TScan {
        QString prefix;                    // the block, "10.1.2."
        int nextShow = 1;                  // address whose turn it is to be shown
        std::map<int, std::optional<QString>> waiting;  // answers ahead of their turn
    };

    void CreatePanel();
    QFileDialog *SaveDialog1 = nullptr;   // see SaveDialog()
    void EndMap();
    // The first IPv4 address of a lookup's answers (every address found, in
    // order, then the one an address typed as such gave); empty when there
    // is none.
    static QString FirstIPv4(const QStringList &addresses);
    // Tells that host has no IPv4 address, so no block to scan, and ends the Map.
    void NoIPv4Block(const QString &host);
    void LookupDone(std::uint64_t ticket, int n, int error, const std::string &name);
    // Shows every answer whose turn has come, then says which address the
    // scan waits for.
    void ShowReady();
    // Forgets the lookups out and the answers not shown; nodes stay.
    void StopScan();

    IShell &shell_;
    TToolSwitch &switch_;
    std::unique_ptr<TWidePanel> panel_;     // opens and closes pnl_ISPTree
    std::unique_ptr<TScan> scan_;         // while MapState is Scanning
};
