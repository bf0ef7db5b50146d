// The finger tool. A query goes idle -> looking up -> echoing -> querying ->
// idle. The lookup runs through the event loop; the echo blocks the window for
// at most FingerPing's time-out; the query waits in a nested event loop, so
// Cancel, timers and the other tools keep working while it runs.
//
// The query text is taken once, when Query is pressed, and the lookup, the
// status texts and the query all use that text: editing the field or
// switching the tool off (which clears it) while a query is under way cannot
// make the query ask another host than the one looked up. A second Query
// while one is under way is refused, since the client runs one query at a time.
#include "tools/fingertool.h"

#include "net/finger.h"
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
#include <QRect>
#include <QTextEdit>

#include <exception>

namespace {

constexpr int EchoSize = 56;
constexpr int EchoTimeoutMs = 10000;
constexpr int QueryTicks = 10000;

// Text of an exception for the error box.
QString MessageOf(const std::exception &e)
{
    if (const auto *net = dynamic_cast<const ENetError *>(&e))
        return net->Message();
    return QString::fromUtf8(e.what());
}

} // namespace

TFingerTool::TFingerTool(IShell &shell)
    : QObject(shell.Window()), shell_(shell), switch_(shell.Switch(TToolId::Finger))
{
    setObjectName(QStringLiteral("FingerTool"));
    FingerPing = MakePing(QStringLiteral("FingerPing"), EchoTimeoutMs, EchoSize);
    FingerPing->OnDnsLookupDone = [this](QObject *s, quint16 e) { FingerPingDnsLookupDone(s, e); };
    FingerPing->OnEchoReply = [this](QObject *s, int e) { FingerPingEchoReply(s, e); };

    FingerCli = new TFinger(this);
    FingerCli->setObjectName(QStringLiteral("FingerCli"));
    FingerCli->TimeOut = QueryTicks;

    CreatePanel();
    switch_.Bind([this] { btn_FingerClick(); });
}

TFingerTool::~TFingerTool() = default;

bool TFingerTool::Running() const
{
    return switch_.Running();
}

QString TFingerTool::AddressWarning()
{
    return QStringLiteral("Invalid address!\n\nThe address must in the form of:\n"
                          "jdoe@example.com");
}

void TFingerTool::CreatePanel()
{
    panel_ = std::make_unique<TWidePanel>(shell_, TPanelId::Finger);
    pnl_Finger = panel_->Frame();
    MakeLabel(pnl_Finger, QStringLiteral("lbl_FngUser"), QStringLiteral("User:"), 6, 22, 30, 14);
    edt_Finger = MakeEdit(pnl_Finger, QStringLiteral("edt_Finger"), 38, 20, 265);
    edt_Finger->setToolTip(QStringLiteral("Enter hostname to finger"));

    re_finger = MakeOutputPane(pnl_Finger, QStringLiteral("re_finger"), QRect(6, 44, 297, 113));
    // Whatever the server sends stays characters: no markup, no links.
    re_finger->setAcceptRichText(false);
    re_finger->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
    re_finger->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    re_finger->setFocusPolicy(Qt::ClickFocus);   // not a tab stop
    re_finger->viewport()->setCursor(Qt::ArrowCursor);
    QFont font = re_finger->font();
    font.setFamilies({QStringLiteral("Arial"), QStringLiteral("Liberation Sans"),
                      QStringLiteral("DejaVu Sans")});
    re_finger->setFont(font);

    btn_FngYes = MakeCaptionButton(pnl_Finger, QStringLiteral("btn_FngYes"),
                                   QStringLiteral("lbl_fngQuery"), QStringLiteral("Query"), 177,
                                   162, CaptionButtonWidth, &lbl_fngQuery);
    btn_FngNo = MakeCaptionButton(pnl_Finger, QStringLiteral("btn_FngNo"),
                                  QStringLiteral("lbl_FngCancel"), QStringLiteral("Cancel"), 243,
                                  162, CaptionButtonWidth, &lbl_FngCancel);
    btn_FngYes->OnClick = [this] { btn_FngYesClick(); };
    // The button has moved back by the time its click comes; a release away
    // from the button cancels nothing, as with every other button.
    btn_FngNo->OnClick = [this] { btn_FngNoMouseUp(); };

    InstallEnterAction(edt_Finger, TKeyEdge::Down, [this] { edt_FingerKeyPress(); });
    InstallEnterPressEffect(edt_Finger, btn_FngYes);
}

void TFingerTool::btn_FingerClick()
{
    if (!Running()) {
        switch_.SetRunning(true);
        panel_->Open();
        edt_Finger->setFocus();
        return;
    }

    // Switching off leaves a query under way running; Cancel ends it.
    switch_.SetRunning(false);
    panel_->Close();
    shell_.SetStatus(QStringLiteral("Status:"));
    edt_Finger->clear();
    re_finger->clear();
}

void TFingerTool::edt_FingerKeyPress()
{
    btn_FngYesClick();
}

QString TFingerTool::HostOfQuery() const
{
    return platform::HostShown(run_.Query.mid(run_.Query.indexOf(QLatin1Char('@')) + 1));
}

void TFingerTool::btn_FngYesClick()
{
    if (run_.Step != TFingerStep::Idle) {
        QApplication::beep();
        return;
    }
    re_finger->clear();
    // Blanks pasted around the query are not part of it.
    const QString text = edt_Finger->text().trimmed();
    if (!text.contains(QLatin1Char('@'))) {
        shell_.ShowWarning(AddressWarning());
        return;
    }
    // A query the client cannot send (the "@" too far in, a user name too
    // long for the request) is refused before anything goes on the wire.
    try {
        FingerCli->SetQuery(text);
    } catch (const std::exception &e) {
        shell_.ShowMessage(MessageOf(e));
        return;
    }
    run_.Query = text;
    // The echo that follows may block the window for seconds: show this now.
    shell_.SetStatus(QStringLiteral("Status: Query started..."), true);
    SetStep(TFingerStep::LookingUp);
    try {
        // A dotted address completes inside this call, query and all.
        FingerPing->DnsLookup(HostOfQuery());
    } catch (const std::exception &e) {
        SetStep(TFingerStep::Idle);
        shell_.ShowMessage(MessageOf(e));
    }
}

void TFingerTool::btn_FngNoMouseUp()
{
    try {
        // A pending lookup ends at once as an unknown host.
        FingerPing->CancelDnsLookup();
    } catch (const std::exception &e) {
        shell_.ShowMessage(MessageOf(e));
    }
    FingerCli->CancelQuery();
}

void TFingerTool::FingerPingDnsLookupDone(QObject *Sender, quint16 Error)
{
    Q_UNUSED(Sender);
    if (run_.Step != TFingerStep::LookingUp)
        return;
    QCoreApplication::processEvents();
    if (Error != 0) {
        SetStep(TFingerStep::Idle);
        shell_.SetStatus(QStringLiteral("Status: Unknown Host ") + HostOfQuery());
        return;
    }

    FingerPing->SetAddress(FingerPing->DnsResult());
    SetStep(TFingerStep::Echoing);
    run_.EchoReplySeen = false;
    try {
        FingerPing->Ping();
    } catch (const std::exception &e) {
        SetStep(TFingerStep::Idle);
        shell_.ShowMessage(MessageOf(e));
        return;
    }
    // The echo's outcome does not matter, only that it is over: an echo that
    // could not even be sent reports no reply, and the query still runs.
    if (!run_.EchoReplySeen)
        FingerPingEchoReply(FingerPing.get(), 0);
    QCoreApplication::processEvents();
}

void TFingerTool::FingerPingEchoReply(QObject *Sender, int Replies)
{
    Q_UNUSED(Sender);
    Q_UNUSED(Replies);   // answered or not, the query runs
    run_.EchoReplySeen = true;
    if (run_.Step != TFingerStep::Echoing)
        return;
    SetStep(TFingerStep::Querying);
    FingerCli->ReplyLines().clear();
    try {
        FingerCli->SetQuery(run_.Query);
        FingerCli->RunQuery();
    } catch (const std::exception &e) {
        // Timed out, cancelled or a failed read: the status still says the
        // query started, and the box says how it ended.
        SetStep(TFingerStep::Idle);
        shell_.ShowMessage(MessageOf(e));
        return;
    }
    SetStep(TFingerStep::Idle);

    // The lines are display-safe already (controls shown as placeholders);
    // as plain text nothing in them is taken for markup.
    re_finger->setPlainText(FingerCli->ReplyLines().join(QLatin1Char('\n')));
    // A reply of blank lines says nothing about the user.
    if (!re_finger->toPlainText().trimmed().isEmpty())
        shell_.SetStatus(QStringLiteral(" Status: Successfully fingered ") + FingerCli->Query());
    else
        shell_.SetStatus(QStringLiteral(" Status: Server returned no data for user."));
}
