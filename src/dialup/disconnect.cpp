#include "dialup/disconnect.h"
#include "desktop/fonts.h"

#include "desktop/msgbox.h"
#include "desktop/pictures.h"
#include "widgets/picturebutton.h"

#include <QGuiApplication>
#include <QLabel>
#include <QPointer>
#include <QScreen>
#include <QTimer>

namespace {

constexpr int DiscW = 221, DiscH = 112;
const QColor Silver(192, 192, 192);

QLabel *makeLabel(QWidget *parent, const char *name, const QString &text, const QColor &colour,
                  QRect geometry)
{
    auto *label = new QLabel(parent);
    label->setTextFormat(Qt::PlainText);
    label->setText(text);
    label->setObjectName(QString::fromLatin1(name));
    label->setGeometry(geometry);
    QPalette pal = label->palette();
    pal.setColor(QPalette::WindowText, colour);
    label->setPalette(pal);
    return label;
}

} // namespace

Tfrm_Disc::Tfrm_Disc(QWidget *parent, int tickMs)
    : QDialog(parent, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowCloseButtonHint |
                          Qt::MSWindowsFixedSizeDialogHint | Qt::WindowStaysOnTopHint)
{
    setObjectName(QStringLiteral("frm_Disc"));
    setWindowTitle(QStringLiteral("Idlix 2.0 Alarm"));
    setModal(true);
    setFixedSize(DiscW, DiscH);
    QPalette pal = palette();
    pal.setColor(QPalette::Window, Qt::black);
    pal.setColor(QPalette::WindowText, Silver);
    setPalette(pal);
    setAutoFillBackground(true);
    setFont(desktop::WindowFont(11));

    Label1 = makeLabel(this, "Label1",
                       QStringLiteral("Idlix is set to Disconnect your Internet connection in"),
                       Silver, QRect(8, 6, DiscW - 16, 30));
    Label1->setAlignment(Qt::AlignCenter);
    Label1->setWordWrap(true);
    Label2 = makeLabel(this, "Label2", QStringLiteral("30 seconds"), Qt::red,
                       QRect(8, 38, DiscW - 16, 16));
    Label2->setAlignment(Qt::AlignCenter);

    btn_No = new TPictureButton(this);
    btn_No->setObjectName(QStringLiteral("btn_No"));
    btn_No->SetImages({desktop::Picture(QStringLiteral("btn_no.png"))});
    btn_No->setGeometry(40, 62, 21, 17);
    Label3 = makeLabel(this, "Label3", QStringLiteral("DO NOT DISCONNECT"), Silver,
                       QRect(66, 63, 140, 16));
    // Only the picture refuses: a stray click on the text must not count.
    btn_No->SetCaptionLabel(Label3, false);
    btn_No->OnClick = [this] { btn_NoClick(); };

    btn_Yes = new TPictureButton(this);
    btn_Yes->setObjectName(QStringLiteral("btn_Yes"));
    btn_Yes->SetImages({desktop::Picture(QStringLiteral("btn_yes.png"))});
    btn_Yes->setGeometry(40, 86, 21, 17);
    Label4 = makeLabel(this, "Label4", QStringLiteral("Ok, Disconnect"), Silver,
                       QRect(66, 87, 140, 16));
    btn_Yes->SetCaptionLabel(Label4, true);
    btn_Yes->OnClick = [this] { btn_YesClick(); };

    Timer1 = new QTimer(this);
    Timer1->setObjectName(QStringLiteral("Timer1"));
    Timer1->setInterval(tickMs);
    connect(Timer1, &QTimer::timeout, this, &Tfrm_Disc::Timer1Timer);
    Timer1->start();

    if (const QScreen *s = QGuiApplication::primaryScreen())
        move(s->availableGeometry().center() - QPoint(DiscW / 2, DiscH / 2));
}

Tfrm_Disc::~Tfrm_Disc() = default;

void Tfrm_Disc::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    // One beep when the warning appears, not at every re-show by the window
    // manager.
    if (!beeped_) {
        beeped_ = true;
        desktop::Beep();
    }
}

void Tfrm_Disc::Timer1Timer()
{
    // The label shows the count before it drops, so it reads "30 seconds"
    // for two ticks and "1 seconds" for the last one.
    Label2->setText(QString::number(Countdown) + QStringLiteral(" seconds"));
    if (--Countdown <= 0)
        finish(true);
}

void Tfrm_Disc::btn_YesClick()
{
    finish(true);
}

void Tfrm_Disc::btn_NoClick()
{
    finish(false);
}

void Tfrm_Disc::finish(bool disconnect)
{
    disconnectWanted_ = disconnect;
    done(disconnect ? QDialog::Accepted : QDialog::Rejected);
}

void Tfrm_Disc::done(int result)
{
    // However the dialog ends (an answer, the close box, Escape), the
    // countdown ends with it.
    Timer1->stop();
    QDialog::done(result);
}

bool AskToDisconnect(QWidget *parent, int tickMs)
{
    // Made for this question and freed when it is answered. The window may go
    // away while the question is open (the program told to end); the dialog
    // goes with it and the answer is then "no".
    QPointer<Tfrm_Disc> dialog = new Tfrm_Disc(parent, tickMs);
    dialog->exec();
    const bool wanted = dialog && dialog->DisconnectWanted();
    delete dialog;
    return wanted;
}
