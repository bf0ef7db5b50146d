// The ping tool: a counted series of echoes to one host, one line per echo in
// re_Ping and a summary of successes and round trips after the last one.
// Also creates the echo components of both echo tools and wires them.
//
// The echoes run in a loop inside the lookup's completion handler and let
// pending events run between them, so the user's clicks are handled during
// a run. A second run started from inside a run would share its counters and
// interleave its lines; it is refused instead, so every run writes exactly
// its own lines.
#include "tools/pingtool.h"

#include "app/mainform.h"
#include "app/picturebutton.h"
#include "app/pictures.h"
#include "net/ping.h"
#include "platform/msgbox.h"

#include <QAction>
#include <QApplication>
#include <QFrame>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QSpinBox>
#include <QTextCursor>
#include <QTextEdit>
#include <QTimer>

#include <climits>
#include <exception>

namespace {

constexpr qint32 NoMinimumYet = 10000000;
constexpr int LargestPacket = 65535;

// A command button of the ping panel: the button face with its caption over
// it; pressing the caption presses the button.
TPictureButton *MakeCaptionButton(QWidget *parent, const QString &name, const QString &captionName,
                                  const QString &caption, int x, int y, QLabel **captionOut)
{
    auto *button = new TPictureButton(parent);
    button->setObjectName(name);
    button->setGeometry(x, y, 60, 19);
    button->SetImages({Picture(QStringLiteral("button.png"))});
    auto *label = new QLabel(caption, parent);
    label->setObjectName(captionName);
    label->setGeometry(x, y, 60, 19);
    label->setAlignment(Qt::AlignCenter);
    label->setAttribute(Qt::WA_TranslucentBackground);
    button->SetCaptionLabel(label, true);
    *captionOut = label;
    return button;
}

// Runs 'onEnter' when Enter is pressed in the watched field and swallows the
// key. Installed before the press effect's filter, so that one (called first)
// still sees the key go down.
class TEnterKeyPress : public QObject {
public:
    TEnterKeyPress(QObject *field, std::function<void()> onEnter)
        : QObject(field), onEnter_(std::move(onEnter)) {}

protected:
    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() != QEvent::KeyPress)
            return false;
        auto *ke = static_cast<QKeyEvent *>(event);
        if (ke->key() != Qt::Key_Return && ke->key() != Qt::Key_Enter)
            return false;
        onEnter_();
        return true;
    }

private:
    std::function<void()> onEnter_;
};

// Appends a line without the bullet (the per-echo and summary lines).
void AddPlainLine(QTextEdit *pane, const QString &text)
{
    QTextCursor cursor(pane->document());
    cursor.movePosition(QTextCursor::End);
    if (!pane->document()->isEmpty())
        cursor.insertBlock();
    cursor.insertText(text);
    pane->moveCursor(QTextCursor::End);
}

} // namespace

void tools::ExplainIcmpAccess(const TPing &ping)
{
    if (ping.LastError() != kIcmpNotPermitted)
        return;
    const QString hint = TPing::AccessHintOnce();
    if (!hint.isEmpty())
        platform::ShowMessage(hint);
}

void TMainForm::TToolPingDeleter::operator()(TPing *ping) const
{
    ping->OnDisplay = nullptr;
    ping->OnEchoRequest = nullptr;
    ping->OnEchoReply = nullptr;
    ping->OnDnsLookupDone = nullptr;
    delete ping;
}

void TMainForm::CreatePingTools()
{
    // Neither component has a parent: the window frees them (see the deleter)
    // while its controls still exist.
    Ping3.reset(new TPing);
    Ping3->setObjectName(QStringLiteral("Ping3"));
    Ping3->SetSize(56);
    Ping3->SetTimeout(15000);
    Ping3->SetTTL(64);
    Ping3->OnDnsLookupDone = [this](QObject *s, quint16 e) { Ping3DnsLookupDone(s, e); };
    Ping3->OnEchoRequest = [this](QObject *s) { Ping3EchoRequest(s); };
    Ping3->OnEchoReply = [this](QObject *s, int e) { Ping3EchoReply(s, e); };

    Ping4.reset(new TPing);
    Ping4->setObjectName(QStringLiteral("Ping4"));
    Ping4->SetSize(56);
    Ping4->SetTimeout(4000);
    Ping4->SetTTL(64);
    Ping4->OnDnsLookupDone = [this](QObject *s, quint16 e) { Ping4DnsLookupDone(s, e); };
    Ping4->OnEchoRequest = [this](QObject *s) { Ping4EchoRequest(s); };
    Ping4->OnEchoReply = [this](QObject *s, int e) { Ping4EchoReply(s, e); };
    connect(LatTimer, &QTimer::timeout, this, &TMainForm::LatTimerTimer);

    // The options arrows press in as the command buttons do.
    img_LatArrow->PressEffect = true;
    img_PngArrow->PressEffect = true;

    // The ping panel: host and times are laid out with the panel; the output
    // pane and the two buttons go below them.
    re_Ping = new QTextEdit(pnl_Ping);
    re_Ping->setObjectName(QStringLiteral("re_Ping"));
    re_Ping->setGeometry(6, 44, 297, 113);
    re_Ping->setReadOnly(true);
    re_Ping->setLineWrapMode(QTextEdit::NoWrap);
    re_Ping->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    re_Ping->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    QPalette pal = re_Ping->palette();
    pal.setColor(QPalette::Base, Qt::black);
    pal.setColor(QPalette::Text, QColor(192, 192, 192));
    re_Ping->setPalette(pal);
    QFont font;
    font.setFamilies({QStringLiteral("Tahoma"), QStringLiteral("DejaVu Sans")});
    font.setPixelSize(9);
    re_Ping->setFont(font);

    btn_PngYes = MakeCaptionButton(pnl_Ping, QStringLiteral("btn_PngYes"),
                                   QStringLiteral("lbl_PngPing"), QStringLiteral("Ping"), 177,
                                   162, &lbl_PngPing);
    btn_PngNo = MakeCaptionButton(pnl_Ping, QStringLiteral("btn_PngNo"),
                                  QStringLiteral("lbl_PngCancel"), QStringLiteral("Cancel"), 243,
                                  162, &lbl_PngCancel);
    btn_PngYes->OnClick = [this] { btn_PngYesClick(); };
    btn_PngNo->OnClick = [this] { btn_PngNoClick(); };

    edt_PngHost->installEventFilter(new TEnterKeyPress(edt_PngHost, [this] {
        edt_PngHostKeyPress();
    }));
    InstallEnterPressEffect(edt_PngHost, btn_PngYes);
}

void TMainForm::btn_PingClick()
{
    if (!img_PngRed->isHidden()) {
        img_PngGreen->show();
        btn_Ping->SetImageIndex(1);
        img_PngRed->hide();
        img_PngArrow->hide();
        img_Background->repaint();
        img_Bg2->show();
        pnl_Ping->raise();
        pnl_Ping->show();
        img_Bg2->repaint();
        edt_PngHost->setFocus();
        return;
    }

    // Switching off leaves a run in progress running.
    btn_Ping->SetImageIndex(0);
    img_PngArrow->show();
    img_PngRed->show();
    img_PngGreen->hide();
    pnl_Ping->hide();
    // The backdrop stays while another wide panel still needs it.
    const bool backdropNeeded = !img_FngGreen->isHidden() || !img_TrcGreen->isHidden() ||
                                !pnl_Servers->isHidden() || !pnl_AIReport->isHidden() ||
                                !pnl_ISPTree->isHidden();
    if (!backdropNeeded)
        img_Bg2->hide();
    img_Background->repaint();
    SetStatus(QStringLiteral("Status:"));
    edt_PngHost->clear();
    re_Ping->clear();
}

void TMainForm::edt_PngHostKeyPress()
{
    btn_PngYes->Click();
}

void TMainForm::btn_PngYesClick()
{
    if (PingRunActive) {
        QApplication::beep();
        return;
    }
    re_Ping->clear();
    PingSuccesses = 0;
    PingFailures = 0;
    PingSeq = 0;
    PingMinRtt = NoMinimumYet;
    PingMaxRtt = 0;
    PingSumRtt = 0;

    // The size as typed: a number the field would not take is refused here
    // with a warning rather than sent or silently cut.
    bool typed = false;
    const qlonglong asTyped = se_PngBytes->cleanText().trimmed().toLongLong(&typed);
    const qlonglong size = typed && asTyped >= se_PngBytes->minimum() ? asTyped : se_PngBytes->value();
    if (size > LargestPacket) {
        platform::ShowMessage(QStringLiteral("Packet size cannot be greater than 65535 bytes."));
        se_PngBytes->setValue(LargestPacket);
        return;
    }

    PingRunActive = true;
    PingHost = edt_PngHost->text();
    Ping3->SetTimeout(se_PngTO->value() * 1000);
    Ping3->SetSize(int(size));
    try {
        // A dotted address completes inside this call, echoes and all.
        Ping3->DnsLookup(PingHost);
    } catch (const std::exception &e) {
        PingRunActive = false;
        platform::ShowMessage(QString::fromUtf8(e.what()));
    }
}

void TMainForm::btn_PngNoClick()
{
    try {
        Ping3->CancelDnsLookup();
    } catch (const std::exception &e) {
        platform::ShowMessage(QString::fromUtf8(e.what()));
    }
}

void TMainForm::Ping3DnsLookupDone(QObject *Sender, quint16 Error)
{
    if (!PingRunActive)
        return;
    struct EndRun {
        bool &active;
        ~EndRun() { active = false; }
    } endRun{PingRunActive};

    QCoreApplication::processEvents();
    const QString host = PingHost;
    if (Error != 0) {
        SetStatus(QStringLiteral("Status: Unknown Host ") + host);
        AddLine(re_Ping, QStringLiteral("Unknown Host ") + host);
        QCoreApplication::processEvents();
        return;
    }

    AddLine(re_Ping, QStringLiteral("Lookup complete: ") + host + QStringLiteral(" (") +
                         Ping3->DnsResult() + QStringLiteral(")"));
    Ping3->SetAddress(Ping3->DnsResult());
    // The count is fixed for the run: changing the field meanwhile must not
    // lose the summary or end the run early.
    PingTimes = se_PngTimes->value();
    try {
        for (int i = 1; i <= PingTimes; ++i) {
            QCoreApplication::processEvents();
            PingSeq = i;
            PingReplySeen = false;
            Ping3->Ping();
            // An echo refused before it was sent fires no reply event; it
            // still counts as a failed echo of the run.
            if (!PingReplySeen)
                Ping3EchoReply(Ping3.get(), 0);
            QCoreApplication::processEvents();
        }
    } catch (const std::exception &e) {
        // The run is cut short: no summary.
        PingRunActive = false;
        platform::ShowMessage(QString::fromUtf8(e.what()));
    }
}

void TMainForm::Ping3EchoRequest(QObject *Sender)
{
    QCoreApplication::processEvents();
    SetStatus(QStringLiteral("Status: Sending %1 bytes to %2").arg(Ping3->Size()).arg(PingHost),
              true);
}

void TMainForm::Ping3EchoReply(QObject *Sender, int Error)
{
    PingReplySeen = true;
    QCoreApplication::processEvents();
    const QString host = PingHost;

    if (Error != 0) {
        const quint32 reply = Ping3->Reply().RoundTripTime;
        const qint32 rtt = reply > quint32(INT_MAX) ? INT_MAX : qint32(reply);
        SetStatus(QStringLiteral("Status: %1 successfully pinged in %2 msecs").arg(host).arg(rtt),
                  true);
        AddPlainLine(re_Ping, QStringLiteral("%1.) %2 msecs").arg(PingSeq).arg(rtt));
        PingSumRtt += rtt;
        if (rtt < PingMinRtt)
            PingMinRtt = rtt;
        if (rtt > PingMaxRtt)
            PingMaxRtt = rtt;
        ++PingSuccesses;
    } else {
        const QString line = QStringLiteral("Error pinging ") + host + QStringLiteral(" : ") +
                             Ping3->ErrorText();
        SetStatus(QStringLiteral("Status: ") + line, true);
        AddLine(re_Ping, line);
        ++PingFailures;
        tools::ExplainIcmpAccess(*Ping3);
    }

    if (PingSeq == PingTimes) {
        AddLine(re_Ping, QStringLiteral("Ping finished."));
        AddPlainLine(re_Ping, QStringLiteral("Successful Pings: %1/%2").arg(PingSuccesses).arg(PingTimes));
        if (PingMinRtt == NoMinimumYet)
            PingMinRtt = 0;
        AddPlainLine(re_Ping, QStringLiteral("Minimum Round Trip: %1 msecs.").arg(PingMinRtt));
        AddPlainLine(re_Ping, QStringLiteral("Maximum Round Trip: %1 msecs.").arg(PingMaxRtt));
        if (PingTimes == PingFailures)
            AddPlainLine(re_Ping, QStringLiteral("Average Round Trip: 0 msecs"));
        else
            AddPlainLine(re_Ping, QStringLiteral("Average Round Trip: %1 msecs")
                                      .arg(PingSumRtt / (PingTimes - PingFailures)));
    }
    re_Ping->ensureCursorVisible();
    QCoreApplication::processEvents();
}
