// The ping tool: a counted series of echoes to one host, one line per echo in
// re_Ping and a summary of successes and round trips after the last one.
#pragma once

#include "components/runguard.h"
#include "net/pingowner.h"

#include <QObject>
#include <QString>

class IShell;
class QFrame;
class QLabel;
class QLineEdit;
class QSpinBox;
class QTextEdit;
class TWidePanel;
class TPictureButton;
class TToolSwitch;

class TPingTool : public QObject {
    Q_OBJECT
public:
    // Binds the Ping switch of 'shell' and fills its ping panel.
    explicit TPingTool(IShell &shell);
    ~TPingTool() override;

    TPingOwner Ping3;                 // the tool's echoes: TTL 64; size and time-out from the options
    QFrame *pnl_Ping = nullptr;       // the panel (made by the window's layout)
    QLineEdit *edt_PngHost = nullptr;
    QSpinBox *se_PngTimes = nullptr;  // echoes per run, 1..100
    QTextEdit *re_Ping = nullptr;     // output pane
    TPictureButton *btn_PngYes = nullptr, *btn_PngNo = nullptr;
    QLabel *lbl_PngPing = nullptr, *lbl_PngCancel = nullptr;

    // A run of echoes, from Ping until its summary.
    struct TRunState {
        qint32 PingSeq = 0;           // echo being sent, 1-based during a run
        qint32 PingSuccesses = 0;     // echoes answered
        qint32 PingFailures = 0;      // echoes not answered
        qint32 PingSumRtt = 0;        // sum of the answered round trips, ms
        qint32 PingMaxRtt = 0;        // largest answered round trip, ms
        qint32 PingMinRtt = 10000000; // smallest answered round trip; 10000000 = none yet
        qint32 PingTimes = 0;         // echoes of the run, fixed when its echoes start
        QString PingHost;             // host of the run, as typed when it started
        TRunGuard PingRun;            // from Ping until the summary; a second Ping is refused
        bool PingReplySeen = false;   // the echo in flight has reported its reply
    };
    TRunState Run;

    bool Running() const;             // the switch is on (a run may outlive it)
    bool PingRunActive() const { return Run.PingRun.Active(); }

    void btn_PingClick();
    void btn_PngYesClick();
    void btn_PngNoClick();
    void edt_PngHostKeyPress();       // Enter in edt_PngHost
    void Ping3DnsLookupDone(QObject *Sender, quint16 Error);
    void Ping3EchoRequest(QObject *Sender);
    void Ping3EchoReply(QObject *Sender, int Replies);

private:
    void CreatePanel();
    IShell &shell_;
    TToolSwitch &switch_;
    std::unique_ptr<TWidePanel> panel_;     // opens and closes pnl_Ping
};

namespace tools {

// When the last echo of 'ping' could not be sent for want of permission,
// tells the user (once per process) how to allow ICMP echoes.
void ExplainIcmpAccess(IShell &shell, const TPing &ping);

} // namespace tools
