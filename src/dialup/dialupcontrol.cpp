#include "dialup/dialupcontrol.h"

#include "dialup/disconnect.h"
#include "dialup/linecause.h"
#include "net/ras.h"
#include "dialer/dialup.h"
#include "shell/shellapi.h"
#include "widgets/textpane.h"
#include "widgets/toolswitch.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPointer>
#include <QSpinBox>
#include <QTimer>

namespace {

// Tools the auto-disconnect switches off, in this order, before it hangs up.
// The resolver and the ISP tree are panels, not running tools, and stay.
constexpr TToolId ToolsOffOrder[] = {TToolId::AntiIdle, TToolId::Finger, TToolId::Latency,
                                     TToolId::Ping, TToolId::Trace};

} // namespace

TDialUpControl::TDialUpControl(IShell &shell) : QObject(shell.Window()), shell_(shell)
{
    setObjectName(QStringLiteral("DialUpControl"));
    RAS1 = new TRAS(this);
    RAS1->setObjectName(QStringLiteral("RAS1"));
    RAS1->OnConnect = [this](QObject *s) { RAS1Connect(s); };
    RAS1->OnDisconnect = [this](QObject *s, int e, const QString &t) { RAS1Disconnect(s, e, t); };
    RAS1->OnAuthenticate = [this](QObject *s) { RAS1Authenticate(s); };
    RAS1->OnAuthenticated = [this](QObject *s) { RAS1Authenticated(s); };
    RAS1->OnPrepareforCallback = [this](QObject *s) { RAS1PrepareforCallback(s); };
    RAS1->OnDialError = [this](QObject *s, int e, const QString &t) { RAS1DialError(s, e, t); };

    // A minute at a time, counted down in RasMinutesLeft: the longest setting
    // (a million minutes) is far beyond what one timer interval can hold.
    RasTimer = new QTimer(this);
    RasTimer->setObjectName(QStringLiteral("RasTimer"));
    RasTimer->setTimerType(Qt::PreciseTimer);
    connect(RasTimer, &QTimer::timeout, this, &TDialUpControl::RasTimerTimer);

    const TDialUpMenu menu = shell_.DialUpMenu();
    Connect1 = menu.Connect1;
    Disconnect1 = menu.Disconnect1;
    Reset1 = menu.Reset1;
    connect(Connect1, &QAction::triggered, this, &TDialUpControl::Connect1Click);
    connect(Disconnect1, &QAction::triggered, this, &TDialUpControl::Disconnect1Click);
    connect(Reset1, &QAction::triggered, this, &TDialUpControl::Reset1Click);
    for (QAction *item : {Connect1, Disconnect1, Reset1})
        item->setEnabled(true);

    FillEntryList();
    ConnectOnStart();
}

TDialUpControl::~TDialUpControl()
{
    // A line that is up stays up when the program ends; only our handlers go.
    RasTimer->stop();
    RAS1->OnConnect = nullptr;
    RAS1->OnDisconnect = nullptr;
    RAS1->OnAuthenticate = nullptr;
    RAS1->OnAuthenticated = nullptr;
    RAS1->OnPrepareforCallback = nullptr;
    RAS1->OnDialError = nullptr;
}

void TDialUpControl::FillEntryList()
{
    // Setting the path lists its entries; the options' list shows them, with
    // the stored connection selected.
    RAS1->SetPhoneBookPath(dialer::StartupPhoneBook());
    shell_.SetDialUpEntries(RAS1->Entries());
}

void TDialUpControl::ConnectOnStart()
{
    if (shell_.Options().DialUp.ConnectOnStart)
        Dial();
}

void TDialUpControl::Dial()
{
    const config::TDialUpOptions &o = shell_.Options().DialUp;
    RAS1->SetUserName(o.UserName);
    RAS1->SetPassword(o.Password);
    // The chosen connection; none when the stored choice is not in the list.
    RAS1->SetEntryName(RAS1->Entries().value(o.Connection));
    shell_.SetStatus(QStringLiteral("Status: Attemping to connect to ") + RAS1->EntryName() +
                     QStringLiteral("..."));
    const int started = RAS1->Dial();
    // The dialer may not be able to take the password (a pppd peer without
    // the passwordfd plugin): say so, since the dial uses the entry's own.
    if (!RAS1->DialNotice().isEmpty())
        shell_.AddHistoryLine(RAS1->DialNotice());
    if (started == dialer::kDialErrPortAlreadyOpen)
        AlreadyConnected();
    else if (started != 0)
        RAS1DialError(RAS1, started, dialer::DialErrorText(started));
}

void TDialUpControl::AlreadyConnected()
{
    // The line is up, but not through a dial of ours: neither Connect nor
    // Disconnect can act on it until Reset.
    Connect1->setEnabled(false);
    Disconnect1->setEnabled(false);
    shell_.SetStatus(QStringLiteral("Status: Connection already established."));
    if (shell_.Options().DialUp.StartAntiIdle)
        StartAntiIdle();
}

void TDialUpControl::StartAntiIdle()
{
    // Start, never stop: a session that already runs (a line that came back)
    // keeps running.
    TToolSwitch &antiIdle = shell_.Switch(TToolId::AntiIdle);
    if (!antiIdle.Running())
        antiIdle.Click();
}

void TDialUpControl::Connect1Click()
{
    Dial();
}

void TDialUpControl::Disconnect1Click()
{
    shell_.SetStatus(QStringLiteral("Status: Disconnecting from ") + RAS1->EntryName() +
                     QStringLiteral("..."));
    RAS1->HangUp();
}

void TDialUpControl::Reset1Click()
{
    if (RAS1->ConnState() > 0) {
        RAS1->HangUp();
        return;
    }
    Connect1->setEnabled(true);
    Disconnect1->setEnabled(true);
}

void TDialUpControl::RAS1Authenticate(QObject *)
{
    shell_.SetStatus(QStringLiteral("Status: Authenticating username/password..."));
}

void TDialUpControl::RAS1Authenticated(QObject *)
{
    shell_.SetStatus(QStringLiteral("Status: Username/password authenticated."));
}

void TDialUpControl::RAS1PrepareforCallback(QObject *)
{
    shell_.SetStatus(QStringLiteral("Status: Preparing for redial..."));
}

void TDialUpControl::RAS1Connect(QObject *)
{
    lineUp_ = true;
    Connect1->setEnabled(false);
    Disconnect1->setEnabled(true);
    shell_.SetStatus(QStringLiteral("Status: Connected to ") + RAS1->EntryName() +
                     QStringLiteral("."));
    const config::TDialUpOptions &o = shell_.Options().DialUp;
    if (o.Disconnect) {
        RasMinutesLeft = o.DisconnectTime;
        RasTimer->start(MinuteMs);
    }
    if (o.StartAntiIdle)
        StartAntiIdle();
}

void TDialUpControl::RAS1Disconnect(QObject *, int, const QString &)
{
    TellLineEnded();
    Connect1->setEnabled(true);
    Disconnect1->setEnabled(false);
    shell_.SetStatus(QStringLiteral("Status: Disconnected."));
    // Nothing is left to disconnect: the countdown belongs to the connection
    // that ended, and the next one arms its own.
    RasTimer->stop();
}

void TDialUpControl::RAS1DialError(QObject *, int Error, const QString &ErrorString)
{
    // The attempt is over: Connect is there for the next one. Disconnect is
    // left as the last connection left it.
    Connect1->setEnabled(true);
    const QString text = ErrorString.isEmpty() ? QStringLiteral("Status Unknown") : ErrorString;
    shell_.SetStatus(QStringLiteral("Status: Dial-up failed: %1 %2").arg(Error).arg(text));
}

void TDialUpControl::TellLineEnded()
{
    // Only the end of a line that was up has a cause: a hang-up of nothing
    // (Reset, Disconnect while idle) is no news.
    if (!lineUp_)
        return;
    lineUp_ = false;
    // A line the service dropped keeps its connection until the next dial or
    // hang-up, and its status holds the reason; ours was released already.
    const QString cause = RAS1->LineState() == TRasLineState::Dropped ? LineEndCause(RAS1->UpdateStatus())
                                                                       : HungUpHereCause();
    if (auto handler = OnLineEnded)
        handler(cause);
}

void TDialUpControl::RasTimerTimer()
{
    if (--RasMinutesLeft > 0)
        return;
    // Once per connection.
    RasTimer->stop();
    QPointer<TDialUpControl> self(this);
    const bool wanted = AskToDisconnect(shell_.Window(), CountdownTickMs);
    if (!self)
        return;
    DisconnectWanted = wanted;
    if (!DisconnectWanted)
        return;
    SwitchToolsOff();
    RAS1->HangUp();
}

void TDialUpControl::SwitchToolsOff()
{
    for (TToolId tool : ToolsOffOrder) {
        if (shell_.RunningTools().contains(tool))
            shell_.Switch(tool).Click();
    }
}
