// The finger tool: asks a finger server about a user ("user@host") and shows
// the server's reply in re_finger. FingerPing looks the host up without
// blocking the window and sends it one echo; the end of that echo starts the
// query itself, which FingerCli runs as one call while the window stays live.
// The reply comes from a server nobody vouches for: it is shown as plain
// characters only, never as markup or links.
#pragma once

#include "net/pingowner.h"

#include <QObject>
#include <QString>

#include <memory>

class IShell;
class QFrame;
class QLabel;
class QLineEdit;
class QTextEdit;
class TWidePanel;
class TFinger;
class TPictureButton;
class TToolSwitch;

// Where a query stands.
enum class TFingerStep { Idle, LookingUp, Echoing, Querying };

class TFingerTool : public QObject {
    Q_OBJECT
public:
    // Binds the Finger switch of 'shell' and fills its finger panel.
    explicit TFingerTool(IShell &shell);
    ~TFingerTool() override;

    TPingOwner FingerPing;            // lookup and one echo before each query: Size 56, 10000 ms, TTL 64
    TFinger *FingerCli = nullptr;     // the query; TimeOut 10000 one-second ticks per waiting step
    QFrame *pnl_Finger = nullptr;     // the panel (made by the window's layout)
    QLineEdit *edt_Finger = nullptr;  // the query, user@host
    QTextEdit *re_finger = nullptr;   // the reply, plain text
    TPictureButton *btn_FngYes = nullptr, *btn_FngNo = nullptr;
    QLabel *lbl_fngQuery = nullptr, *lbl_FngCancel = nullptr;

    bool Running() const;             // the switch is on (a query may outlive it)
    TFingerStep Step() const { return run_.Step; }
    // Text of the query going on (or of the last one), as typed when Query was pressed.
    QString FingerQuery() const { return run_.Query; }

    void btn_FingerClick();
    void btn_FngYesClick();
    void btn_FngNoMouseUp();
    void edt_FingerKeyPress();        // Enter in edt_Finger
    void FingerPingDnsLookupDone(QObject *Sender, quint16 Error);
    void FingerPingEchoReply(QObject *Sender, int Replies);

    // Text of the warning box shown for a query without "@".
    static QString AddressWarning();

private:
    void CreatePanel();
    void SetStep(TFingerStep step) { run_.Step = step; }
    QString HostOfQuery() const;

    IShell &shell_;
    TToolSwitch &switch_;
    std::unique_ptr<TWidePanel> panel_;     // opens and closes pnl_Finger
    // A query from its click to its reply, failure or cancel.
    struct TRunState {
        TFingerStep Step = TFingerStep::Idle;
        QString Query;                // as typed when Query was pressed
        bool EchoReplySeen = false;   // the echo in flight has reported its end
    };
    TRunState run_;
};
