#include "shell/about.h"
#include "desktop/fonts.h"
#include "platform/version.h"

#include "desktop/pictures.h"

#include <QGuiApplication>
#include <QLabel>
#include <QMouseEvent>
#include <QScreen>

namespace {
constexpr int AboutW = 320, AboutH = 200;
}

Tfrm_About::Tfrm_About(QWidget *parent)
    : QDialog(parent, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowCloseButtonHint |
                          Qt::MSWindowsFixedSizeDialogHint)
{
    setObjectName("frm_About");
    setWindowTitle("About...");
    setAttribute(Qt::WA_DeleteOnClose);
    setFixedSize(AboutW, AboutH);
    QPalette pal = palette();
    pal.setColor(QPalette::Window, Qt::black);
    pal.setColor(QPalette::WindowText, QColor(192, 192, 192));
    setPalette(pal);
    setAutoFillBackground(true);
    const QFont font = desktop::WindowFont(11);
    setFont(font);

    img_About = new QLabel(this);
    img_About->setObjectName("img_About");
    img_About->setGeometry(0, 0, AboutW, AboutH);
    img_About->setPixmap(desktop::Picture("about.jpg"));
    img_About->setToolTip("Click to close");

    lbl_Version = new QLabel(QLatin1String(platform::ProgramTitle), this);
    lbl_Version->setObjectName("lbl_Version");
    QFont big = font;
    big.setPixelSize(20);
    big.setBold(true);
    lbl_Version->setFont(big);
    lbl_Version->setGeometry(16, 126, 150, 26);
    lbl_TM = new QLabel(QStringLiteral("\u2122"), this);
    lbl_TM->setObjectName("lbl_TM");
    lbl_TM->setGeometry(150, 122, 16, 14);
    lbl_Years = new QLabel(QStringLiteral("\u00a9 1999-2002 Brisvane Software"), this);
    lbl_Years->setObjectName("lbl_Years");
    lbl_Years->setGeometry(16, 156, 290, 16);

    for (QLabel *label : {img_About, lbl_Version, lbl_TM, lbl_Years})
        label->setTextFormat(Qt::PlainText);
    for (QLabel *label : {img_About, lbl_Version, lbl_Years})
        label->installEventFilter(this);

    if (const QScreen *s = QGuiApplication::primaryScreen())
        move(s->availableGeometry().center() - QPoint(AboutW / 2, AboutH / 2));
}

bool Tfrm_About::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::MouseButtonRelease &&
        (watched == img_About || watched == lbl_Version || watched == lbl_Years)) {
        close();
        return true;
    }
    return QDialog::eventFilter(watched, event);
}

void ShowAboutBox(QWidget *parent)
{
    auto *box = new Tfrm_About(parent);
    box->exec();
}
