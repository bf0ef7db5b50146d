// The main window's shell: creation and start-up order, menus and their
// routing, the Edit and Help menus, Stay on Top, the status line, the session
// stopwatch display, the status-line quotation, and close/hide.
#include "shell/mainform.h"
#include "platform/version.h"
#include "widgets/framepaint.h"

#include "shell/about.h"
#include "widgets/animate.h"
#include "desktop/gotoweb.h"
#include "shell/hidewindow.h"
#include "shell/holdform.h"
#include "desktop/justone32.h"
#include "widgets/optioncontrols.h"
#include "shell/mainform_shortcuts.h"
#include "shell/optionkeys.h"
#include "widgets/fittext.h"
#include "widgets/picturebutton.h"
#include "desktop/fonts.h"
#include "desktop/pictures.h"
#include "components/tickingclock.h"
#include "widgets/responsegraph.h"
#include "widgets/firstpaint.h"
#include "widgets/tabchain.h"
#include "widgets/textpane.h"
#include "widgets/toolswitch.h"
#include "platform/appdir.h"
#include "platform/startuptrace.h"
#include "desktop/helpviewer.h"
#include "desktop/msgbox.h"

#include <QAbstractSpinBox>
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QScreen>
#include <QScrollArea>
#include <QTextEdit>
#include <QTimer>
#include <QVBoxLayout>

namespace {

const QString MakerHomePage = QStringLiteral("http://www.brisvane.com/");
const QString ProductPage = QStringLiteral("http://www.brisvane.com/idlix/");

// The status-line quotation, one line every two seconds.
const QString Quotation[5] = {
    QStringLiteral(" A quiet line is a line they cut,"),
    QStringLiteral(" so every few minutes we knock:"),
    QStringLiteral(" one small packet, one small reply,"),
    QStringLiteral(" and the meter keeps on running."),
    QStringLiteral(" -- from the Idlix workbench"),
};

// The control the Edit menu works on: the focused widget, or the text field
// inside a focused spin field or editable combo box.
QWidget *editTarget()
{
    QWidget *w = QApplication::focusWidget();
    if (auto *spin = qobject_cast<QAbstractSpinBox *>(w)) {
        if (auto *edit = spin->findChild<QLineEdit *>())
            return edit;
    }
    if (auto *combo = qobject_cast<QComboBox *>(w)) {
        if (combo->lineEdit())
            return combo->lineEdit();
    }
    return w;
}

bool isReadOnly(QWidget *w)
{
    if (auto *e = qobject_cast<QLineEdit *>(w))
        return e->isReadOnly();
    if (auto *e = qobject_cast<QTextEdit *>(w))
        return e->isReadOnly();
    if (auto *e = qobject_cast<QPlainTextEdit *>(w))
        return e->isReadOnly();
    return true;
}

bool isEditField(QWidget *w)
{
    return qobject_cast<QLineEdit *>(w) || qobject_cast<QTextEdit *>(w) ||
           qobject_cast<QPlainTextEdit *>(w);
}

// Runs one edit operation on the target; the operations do nothing on
// controls that cannot take them, and any failure is swallowed.
void editOperation(const char *slot, bool modifies)
{
    try {
        QWidget *w = editTarget();
        if (!w || !isEditField(w) || (modifies && isReadOnly(w)))
            return;
        QMetaObject::invokeMethod(w, slot);
    } catch (...) {
    }
}

// Opens a home page; when no browser takes it, the user is told rather than
// left wondering why nothing happened.
void openPage(TGoToWeb &web, const QString &url)
{
    web.Url = url;
    if (!web.OpenUrl())
        desktop::ShowMessage(QStringLiteral("No web browser could be started to show %1").arg(url));
}

} // namespace

TMainForm::TMainForm(THoldForm *hold, TPreviousInstance *instance)
    : QWidget(nullptr, Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint |
                          Qt::WindowStaysOnTopHint)
{
    hold_ = hold;
    instance_ = instance;
    // Born on top, as "Stay on Top" is by default: the usual start then needs
    // no re-creation of the native window once the settings are read.
    setObjectName("MainForm");
    setWindowTitle(QLatin1String(platform::ProgramTitle));
    setWindowIcon(QIcon(desktop::Picture("idlix.png")));

    setFont(desktop::WindowFont(11));
    QPalette pal = palette();
    pal.setColor(QPalette::Window, Qt::black);
    pal.setColor(QPalette::WindowText, QColor(192, 192, 192));
    pal.setColor(QPalette::Button, QColor(48, 48, 48));
    pal.setColor(QPalette::ButtonText, QColor(192, 192, 192));
    pal.setColor(QPalette::Base, Qt::white);
    pal.setColor(QPalette::Text, Qt::black);
    setPalette(pal);
    setAutoFillBackground(true);

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->setSizeConstraint(QLayout::SetFixedSize);
    CreateMenu();
    layout->setMenuBar(MainMenu1);
    Client = new QWidget(this);
    Client->setObjectName("Client");
    Client->setFixedSize(449, 252);
    layout->addWidget(Client);

    CreateSwitches();
    CreateHistoryPane();
    CreateFeaturePanels();
    CreateInfoColumn();
    CreateTimers();
    WireHandlers();
    FormCreate();
}

TMainForm::~TMainForm()
{
    // The settings are written on the way out, whatever the panels hold now.
    SaveSettings();
    TickingClock1->SetMode(tcmIdle);
}

void TMainForm::WireHandlers()
{
    auto on = [this](QAction *action, void (TMainForm::*handler)()) {
        connect(action, &QAction::triggered, this, [this, handler] { (this->*handler)(); });
    };
    img_AIArrow->OnClick = [this] { img_AIArrowClick(); };
    img_LatArrow->OnClick = [this] { img_LatArrowClick(); };
    img_PngArrow->OnClick = [this] { img_PngArrowClick(); };
    img_TrcArrow->OnClick = [this] { img_TrcArrowClick(); };
    btn_Yes->OnClick = [this] { btn_YesClick(); };
    btn_No->OnClick = [this] { btn_NoClick(); };

    // A tool item does what its switch does (see TToolSwitch); an options
    // item what its arrow does.
    on(HideIdlix1, &TMainForm::HideIdlix1Click);
    on(Exit1, &TMainForm::Exit1Click);
    on(Undo1, &TMainForm::Undo1Click);
    on(Cut1, &TMainForm::Cut1Click);
    on(Copy1, &TMainForm::Copy1Click);
    on(Paste1, &TMainForm::Paste1Click);
    on(Clear1, &TMainForm::Clear1Click);
    on(SelectAll1, &TMainForm::SelectAll1Click);
    on(DialUpOptions1, &TMainForm::DialUpOptions1Click);
    connect(AntiIdle2, &QAction::triggered, this, [this] { img_AIArrow->Click(); });
    connect(Latency1, &QAction::triggered, this, [this] { img_LatArrow->Click(); });
    connect(Ping5, &QAction::triggered, this, [this] { img_PngArrow->Click(); });
    connect(Traceroute2, &QAction::triggered, this, [this] { img_TrcArrow->Click(); });
    on(StayOnTop1, &TMainForm::StayOnTop1Click);
    on(Preferences1, &TMainForm::Preferences1Click);
    on(Help2, &TMainForm::Help2Click);
    on(BrisvaneHomePage1, &TMainForm::BrisvaneHomePage1Click);
    on(IdlixHomePage1, &TMainForm::IdlixHomePage1Click);
    on(About1, &TMainForm::About1Click);

    connect(EggTimer, &QTimer::timeout, this, &TMainForm::EggTimerTimer);
    TickingClock1->OnTick = [this] { TickingClock1Tick(); };
    StatusLBL->installEventFilter(this);
    lbl_Question->installEventFilter(this);
    InstallToolKeyRouter(this);
    InstallVisibleTabChain(this);
    // A later instance asking us to the front: the same as a click on the tray icon.
    JustOne321->OnActivate = [this] {
        if (hold_)
            hold_->TrayIcon1Click();
        else
            TJustOne32::BringToFront();
    };
}

void TMainForm::FormCreate()
{
    HelpFile = platform::ShippedFile("Help.html");
    show();
    if (const QScreen *s = screen())
        move(s->availableGeometry().center() - QPoint(width() / 2, height() / 2));
    anm_BV->SetFileName(platform::ShippedFile("bvspin.avi"));
    pnl_History->raise();
    if (hold_)
        hold_->hide();
    StatusLBL->clear();
    TickingClock1->SetMode(tcmChronoMeter);
    TickingClock1->SetEnabled(false);
    ReadSettings();
    anm_BV->SetActive(true);
    platform::StartupMark("window shown");

    // Everything the window shows is in place: it goes on the screen now,
    // and the tray icon and the option panels, hidden until their arrow or
    // menu item opens them, are made while the user looks at it. The user's
    // input waits meanwhile, so no click can reach a panel not yet made.
    WaitForFirstPaint(this);
    platform::StartupMark("first paint");
    if (hold_)
        hold_->ShowTrayIcon();
    CreateOptionPanels();
    WireOptionControls();
    ShowOptions();
    InstallOptionPanelKeys(this, OptionPanels(), btn_Yes, btn_No);
}

void TMainForm::SetStatus(const QString &text, bool repaint)
{
    StatusLBL->setText(text);
    statusFit_->Fit();
    if (!repaint)
        return;
    // At once, but no more than once a frame: a transfer asks for it with
    // every piece it receives.
    auto *paint = StatusLBL->findChild<TFramePaint *>(QString(), Qt::FindDirectChildrenOnly);
    if (!paint)
        paint = new TFramePaint(StatusLBL);
    paint->Request();
}

void TMainForm::AddLine(QTextEdit *pane, const QString &text)
{
    AddPaneLine(pane, TLineStyle::Bulleted, text);
}

void TMainForm::HideIdlix1Click()
{
    HideOrMinimize(this);
}

void TMainForm::Exit1Click()
{
    if (hold_)
        hold_->close();
    else
        QCoreApplication::quit();
}

void TMainForm::Undo1Click() { editOperation("undo", true); }
void TMainForm::Cut1Click() { editOperation("cut", true); }
void TMainForm::Copy1Click() { editOperation("copy", false); }
void TMainForm::Paste1Click() { editOperation("paste", true); }
void TMainForm::Clear1Click() { editOperation("clear", true); }
void TMainForm::SelectAll1Click() { editOperation("selectAll", false); }

void TMainForm::StayOnTop1Click()
{
    // The action is checkable: the click has already flipped the mark. Both
    // directions take effect at once.
    ApplyStayOnTop(StayOnTop1->isChecked());
}

void TMainForm::ApplyStayOnTop(bool on)
{
    if (windowFlags().testFlag(Qt::WindowStaysOnTopHint) == on)
        return;
    // Changing a window flag re-creates the native window, which hides it.
    const bool wasVisible = isVisible();
    setWindowFlag(Qt::WindowStaysOnTopHint, on);
    if (wasVisible)
        show();
}

void TMainForm::Help2Click()
{
    bool shown = false;
    try {
        shown = help_.ShowContents(HelpFile);
    } catch (...) {
        shown = false;
    }
    if (!shown)
        desktop::ShowMessage("Help File Not Found!");
}

void TMainForm::BrisvaneHomePage1Click()
{
    openPage(*GoToWeb1, MakerHomePage);
}

void TMainForm::IdlixHomePage1Click()
{
    openPage(*GoToWeb1, ProductPage);
}

void TMainForm::About1Click()
{
    ShowAboutBox(this);
}

void TMainForm::TickingClock1Tick()
{
    if (!TickingClock1->Enabled())
        return;
    auto two = [](int v) { return QString::number(v).rightJustified(2, '0'); };
    TimeLBL->setText(two(TickingClock1->Hour()) + ":" + two(TickingClock1->Min()) + ":" +
                     two(TickingClock1->Sec()));
    TimeLBL->repaint();
    // ModeLBL blinks off for one second in every five.
    ModeLBL->setVisible(TickingClock1->Sec() % 5 != 0);
}

void TMainForm::StatusLBLMouseUp(Qt::MouseButton button, Qt::KeyboardModifiers modifiers)
{
    const Qt::KeyboardModifiers relevant =
        Qt::ShiftModifier | Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier;
    if (button != Qt::RightButton ||
        (modifiers & relevant) != (Qt::ShiftModifier | Qt::ControlModifier | Qt::AltModifier))
        return;
    SetStatus(Quotation[0]);
    EggLine = 2;
    EggTimer->start();   // restarts the two-second rhythm when already running
}

void TMainForm::EggTimerTimer()
{
    if (EggLine >= 2 && EggLine <= 5) {
        SetStatus(Quotation[EggLine - 1]);
        ++EggLine;
        return;
    }
    SetStatus(QString());
    EggTimer->stop();
}

void TMainForm::closeEvent(QCloseEvent *event)
{
    // Closing the window only takes it out of sight; the program lives on in
    // the tray (or on the task bar, where the desktop has no tray).
    event->ignore();
    HideOrMinimize(this);
}

void TMainForm::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    if (hold_)
        hold_->ShowIdlix1->setText("Hide Idlix");
}

void TMainForm::hideEvent(QHideEvent *event)
{
    QWidget::hideEvent(event);
    // A minimised window reports a spontaneous hide but is still "shown".
    if (hold_ && !event->spontaneous())
        hold_->ShowIdlix1->setText("Show Idlix");
}

bool TMainForm::eventFilter(QObject *watched, QEvent *event)
{
    if ((watched == StatusLBL || watched == lbl_Question) &&
        event->type() == QEvent::MouseButtonRelease) {
        auto *me = static_cast<QMouseEvent *>(event);
        StatusLBLMouseUp(me->button(), me->modifiers());
    }
    return QWidget::eventFilter(watched, event);
}
