// The resolve tool: a host name to its addresses (both families, in the
// order the system prefers), an address of either family to its name, or
// with an empty field the local host's name and address.
#pragma once

#include "components/runguard.h"

#include <QObject>
#include <QString>
#include <QStringList>

#include <memory>

class IShell;
class QFrame;
class QLabel;
class QLineEdit;
class TPictureButton;
class TToolSwitch;
class TWidePanel;
class TWSocket;

class TResolveTool : public QObject {
    Q_OBJECT
public:
    // Binds the Resolve menu item of 'shell' and fills its resolve panel.
    explicit TResolveTool(IShell &shell);
    ~TResolveTool() override;

    TWSocket *WSocket1 = nullptr;         // forward lookups
    QFrame *pnl_Resolve = nullptr;        // the panel (made by the window's layout)
    QLineEdit *edt_RsvHost = nullptr;     // name or address to resolve
    QLineEdit *edt_RsvHostRsv = nullptr;  // the result
    TPictureButton *btn_RsvYes = nullptr, *btn_RsvNo = nullptr, *btn_RsvClose = nullptr;
    QLabel *lbl_RsvResolve = nullptr, *lbl_RsvCancel = nullptr, *lbl_RsvClose = nullptr;

    // The lookup of the last Resolve click.
    struct TRunState {
        // From the click until its answer is shown or it is cancelled; an
        // answer of an older click is dropped.
        TRunGuard RsvRun;
        // A forward lookup of WSocket1 belongs to the current click.
        bool ForwardPending = false;
    };
    TRunState Run;

    bool PanelOpen() const;

    void Resolve1Click();
    void btn_RsvYesClick();
    void btn_RsvNoClick();
    void btn_RsvCloseClick();
    void edt_RsvHostKeyPress();           // Enter in either edit
    void WSocket1DnsLookupDone(quint16 Error);

private:
    void CreatePanel();
    void ResolveLocalHost(TRunGuard::TTicket ticket);
    void ResolveAddress(const QString &host, TRunGuard::TTicket ticket);
    void DropForwardLookup();
    void ShowResult(const QString &text);

    IShell &shell_;
    TToolSwitch &switch_;
    std::unique_ptr<TWidePanel> panel_;     // opens and closes pnl_Resolve
};
