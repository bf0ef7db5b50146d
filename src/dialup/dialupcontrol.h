// The window's control of the dial-up line: the Dial-Up menu's Connect,
// Disconnect and Reset, the entry list of the dial-up options, "Connect on
// start", "Start Anti-Idle on connect", the status line while dialing, and
// the auto-disconnect that asks through a countdown dialog and then switches
// the running tools off and hangs up. A dial that fails, or cannot start,
// shows the dial-up error's code and text on the status line.
#pragma once

#include <QObject>
#include <QString>

#include <functional>

class IShell;
class QAction;
class QTimer;
class TRAS;

class TDialUpControl : public QObject {
    Q_OBJECT
public:
    // Takes the Dial-Up menu of 'shell', fills the entry list from the phone
    // book (IDLIX_PHONEBOOK, else the system's), selects the stored entry and,
    // with "Connect on start", dials. Made after the anti-idle feature, which
    // a connection may start.
    explicit TDialUpControl(IShell &shell);
    ~TDialUpControl() override;

    TRAS *RAS1 = nullptr;              // the line
    QTimer *RasTimer = nullptr;        // one tick a minute while an auto-disconnect is armed
    QAction *Connect1 = nullptr, *Disconnect1 = nullptr, *Reset1 = nullptr;

    bool DisconnectWanted = false;     // answer of the last countdown dialog
    qint64 RasMinutesLeft = 0;         // minutes until the countdown dialog opens

    // A line that was up has ended: why, in words ("the modem hung up"; see
    // linecause.h). Told before the status line changes.
    std::function<void(const QString &cause)> OnLineEnded;

    // Length of a minute and of a countdown second in ms. Tests shorten them.
    int MinuteMs = 60000;
    int CountdownTickMs = 1000;

    // Start-up: the phone book's entries into the options' entry list, then
    // the dial of "Connect on start".
    void FillEntryList();
    void ConnectOnStart();

    void Connect1Click();
    void Disconnect1Click();
    void Reset1Click();
    void RasTimerTimer();
    void RAS1Connect(QObject *Sender);
    void RAS1Disconnect(QObject *Sender, int Error, const QString &ErrorString);
    // A dial that failed, or that could not start: the status line says why.
    void RAS1DialError(QObject *Sender, int Error, const QString &ErrorString);
    void RAS1Authenticate(QObject *Sender);
    void RAS1Authenticated(QObject *Sender);
    void RAS1PrepareforCallback(QObject *Sender);

private:
    void Dial();
    void AlreadyConnected();
    void StartAntiIdle();
    void SwitchToolsOff();
    void TellLineEnded();
    IShell &shell_;
    bool lineUp_ = false;              // a connection of ours is up (OnConnect seen)
};
