#include "shell/holdform.h"
#include "platform/version.h"
#include "widgets/menustyle.h"

#include "shell/about.h"
#include "shell/hidewindow.h"
#include "shell/mainform.h"
#include "desktop/pictures.h"
#include "shell/trayicon.h"

#include <QAction>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QIcon>
#include <QMenu>

THoldForm::THoldForm(QWidget *parent)
    : QWidget(parent, Qt::Tool | Qt::FramelessWindowHint)
{
    setObjectName("HoldForm");
    setWindowTitle(QLatin1String(platform::ProgramTitle));

    PopupMenu1 = new QMenu(this);
    PopupMenu1->setObjectName("PopupMenu1");
    PopupMenu1->setStyleSheet(kMenuStyle);
    ShowIdlix1 = PopupMenu1->addAction("&Show Idlix");
    ShowIdlix1->setObjectName("ShowIdlix1");
    Help3 = PopupMenu1->addAction("&Help");
    Help3->setObjectName("Help3");
    About2 = PopupMenu1->addAction("&About...");
    About2->setObjectName("About2");
    PopupMenu1->addSeparator();
    Exit2 = PopupMenu1->addAction("E&xit");
    Exit2->setObjectName("Exit2");
    connect(ShowIdlix1, &QAction::triggered, this, [this] { ShowIdlix1Click(); });
    connect(Help3, &QAction::triggered, this, [this] { Help3Click(); });
    connect(About2, &QAction::triggered, this, [this] { About2Click(); });
    connect(Exit2, &QAction::triggered, this, [this] { Exit2Click(); });

    TrayIcon1 = new TTrayIcon(this);
    TrayIcon1->setObjectName("TrayIcon1");
    TrayIcon1->SetIcon(QIcon(desktop::Picture("idlix16.png")));
    TrayIcon1->SetToolTip(QLatin1String(platform::ProgramTitle));
    TrayIcon1->PopupMenu = PopupMenu1;
    TrayIcon1->OnClick = [this](Qt::MouseButton, Qt::KeyboardModifiers, int, int) {
        TrayIcon1Click();
    };
    FormCreate();
}

void THoldForm::SetMainWindow(TMainForm *main)
{
    main_ = main;
}

THoldForm::~THoldForm()
{
}

void THoldForm::FormCreate()
{
    // Zero-sized and far off screen: this window exists to be the
    // application's anchor, never to be seen, and has no task-bar entry.
    setGeometry(5000, 5000, 0, 0);
}

void THoldForm::ShowTrayIcon()
{
    TrayIcon1->SetActive(true);
}

void THoldForm::TrayIcon1Click()
{
    if (!main_)
        return;
    main_->show();
    main_->setWindowState((main_->windowState() & ~Qt::WindowMinimized) | Qt::WindowActive);
    main_->raise();
    main_->activateWindow();
}

void THoldForm::ShowIdlix1Click()
{
    if (!main_)
        return;
    if (main_->isVisible() && !main_->isMinimized()) {
        HideOrMinimize(main_.data());
        if (!main_->isVisible())
            ShowIdlix1->setText("Show Idlix");
    } else {
        TrayIcon1Click();
        ShowIdlix1->setText("Hide Idlix");
    }
}

void THoldForm::Help3Click()
{
    if (main_)
        main_->Help2Click();
}

void THoldForm::About2Click()
{
    // Owned by the main window so that it stays above it when that is on top.
    ShowAboutBox(main_.data());
}

void THoldForm::Exit2Click()
{
    close();
}

void THoldForm::closeEvent(QCloseEvent *event)
{
    // The anchor window going away ends the message loop; the main window is
    // destroyed after it and writes the settings on its way out.
    event->accept();
    closing_ = true;
    // Out of sight before the loop is asked to end: the application refuses
    // to quit while a window stays open, and without a tray the main window
    // answers a close by minimizing, not hiding.
    if (main_)
        main_->hide();
    if (TrayIcon1)
        TrayIcon1->SetActive(false);
    QCoreApplication::quit();
}
