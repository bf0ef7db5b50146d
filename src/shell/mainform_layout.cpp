// The main window's layout: the menu, the tool switches, the panels, the
// information column, the status line and the timers. Positions are in the
// 449 x 252 client area below the menu bar.
#include "shell/mainform.h"
#include "widgets/menustyle.h"

#include "widgets/animate.h"
#include "desktop/gotoweb.h"
#include "desktop/justone32.h"
#include "widgets/optioncontrols.h"
#include "widgets/fittext.h"
#include "widgets/picturebutton.h"
#include "desktop/pictures.h"
#include "components/tickingclock.h"
#include "widgets/responsegraph.h"
#include "widgets/layout.h"
#include "widgets/toolswitch.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QProgressBar>
#include <QScrollArea>
#include <QSpinBox>
#include <QTextEdit>
#include <QTimer>

namespace {

constexpr int PanelX = 125, PanelY = 17, PanelH = 187, NarrowW = 167, WideW = 309;

QAction *addItem(QMenu *menu, const QString &name, const QString &caption,
                 const QKeySequence &shortcut = {})
{
    QAction *action = menu->addAction(caption);
    action->setObjectName(name);
    if (!shortcut.isEmpty())
        action->setShortcut(shortcut);
    return action;
}

// Panel titles: bold, in the window's silver.
void makeTitle(QLabel *title)
{
    QFont bold = title->font();
    bold.setBold(true);
    title->setFont(bold);
    QPalette pal = title->palette();
    pal.setColor(QPalette::WindowText, QColor(192, 192, 192));
    title->setPalette(pal);
}

// Width of a scroll box's page: the narrow panel less its frame and the
// vertical scroll bar.
constexpr int ScrollPageW = 148;

// The inner page of a scroll box, taller than the visible panel when needed.
QWidget *makeScrollPage(QScrollArea *box, int width, int height)
{
    auto *page = new QWidget;
    page->setObjectName(box->objectName() + "_page");
    page->setFixedSize(width, height);
    box->setWidget(page);
    box->setWidgetResizable(false);
    // Only the height scrolls: the page is made as wide as the space beside
    // the vertical scroll bar.
    box->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    box->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    return page;
}

// A spin field over an option's range.
QSpinBox *MakeSpin(QWidget *parent, const QString &name, config::TRange range, int x, int y, int w)
{
    return ::MakeSpin(parent, name, range.Min, range.Max, x, y, w);
}

} // namespace

QFrame *TMainForm::MakePanel(const QString &name, const QString &title, bool wide)
{
    auto *panel = new QFrame(Client);
    panel->setObjectName(name);
    panel->setGeometry(PanelX, PanelY, wide ? WideW : NarrowW, PanelH);
    panel->setFrameShape(QFrame::Box);
    panel->setAutoFillBackground(true);   // covers the panel beneath it
    auto *caption = MakeLabel(panel, name + "_title", title, 4, 2, (wide ? WideW : NarrowW) - 8, 14);
    makeTitle(caption);
    panel->hide();
    return panel;
}

void TMainForm::CreateMenu()
{
    // The window's fixed layout includes its menu: never a desktop's global
    // menu bar. Said before the bar is made, since making one otherwise asks
    // the session bus whether the desktop offers such a bar (starting a bus
    // where none runs), before the window can show.
    QCoreApplication::setAttribute(Qt::AA_DontUseNativeMenuBar);
    MainMenu1 = new QMenuBar(this);
    MainMenu1->setObjectName("MainMenu1");
    MainMenu1->setNativeMenuBar(false);
    MainMenu1->setStyleSheet(kMenuStyle);

    Tools1 = MainMenu1->addMenu("&Tools");
    Tools1->setObjectName("Tools1");
    AntiIdle1 = addItem(Tools1, "AntiIdle1", "&Anti-Idle", QKeySequence(Qt::CTRL | Qt::Key_A));
    Finger1 = addItem(Tools1, "Finger1", "&Finger", QKeySequence(Qt::CTRL | Qt::Key_F));
    LatencyTest1 = addItem(Tools1, "LatencyTest1", "&Latency", QKeySequence(Qt::CTRL | Qt::Key_L));
    Ping1 = addItem(Tools1, "Ping1", "&Ping", QKeySequence(Qt::CTRL | Qt::Key_P));
    TraceRoute1 = addItem(Tools1, "TraceRoute1", "&Traceroute", QKeySequence(Qt::CTRL | Qt::Key_T));
    Tools1->addSeparator();
    ISPTree1 = addItem(Tools1, "ISPTree1", "&ISP Tree", QKeySequence(Qt::CTRL | Qt::Key_I));
    Resolve1 = addItem(Tools1, "Resolve1", "&Resolve", QKeySequence(Qt::CTRL | Qt::Key_R));
    // The connection history's own window (made by its feature when asked).
    History1 = addItem(Tools1, "History1", "Hi&story...");
    // The idle-timer finder's window (made by its feature when asked).
    FindIdleTimer1 = addItem(Tools1, "FindIdleTimer1", "Find Idle Ti&mer...");
    Tools1->addSeparator();
    HideIdlix1 = addItem(Tools1, "HideIdlix1", "&Hide Idlix");
    Tools1->addSeparator();
    Exit1 = addItem(Tools1, "Exit1", "E&xit");

    Edit1 = MainMenu1->addMenu("&Edit");
    Edit1->setObjectName("Edit1");
    Undo1 = addItem(Edit1, "Undo1", "&Undo", QKeySequence(Qt::CTRL | Qt::Key_Z));
    Edit1->addSeparator();
    Cut1 = addItem(Edit1, "Cut1", "Cu&t", QKeySequence(Qt::CTRL | Qt::Key_X));
    Copy1 = addItem(Edit1, "Copy1", "&Copy", QKeySequence(Qt::CTRL | Qt::Key_C));
    Paste1 = addItem(Edit1, "Paste1", "&Paste", QKeySequence(Qt::CTRL | Qt::Key_V));
    Clear1 = addItem(Edit1, "Clear1", "&Delete", QKeySequence(Qt::CTRL | Qt::Key_Delete));
    Edit1->addSeparator();
    SelectAll1 = addItem(Edit1, "SelectAll1", "Select A&ll", QKeySequence(Qt::CTRL | Qt::Key_A));
    // Ctrl+A belongs to Tools > Anti-Idle, which comes first in the menu. Select
    // All shows the same keys but listens only while its own menu has the
    // focus, so the two never compete for the key.
    SelectAll1->setShortcutContext(Qt::WidgetShortcut);

    DialUp1 = MainMenu1->addMenu("&Dial-Up");
    DialUp1->setObjectName("DialUp1");
    Connect1 = addItem(DialUp1, "Connect1", "&Connect");
    Disconnect1 = addItem(DialUp1, "Disconnect1", "&Disconnect");
    Reset1 = addItem(DialUp1, "Reset1", "&Reset");
    DialUp1->addSeparator();
    DialUpOptions1 = addItem(DialUp1, "DialUpOptions1", "&Dial-Up &Options");

    Options1 = MainMenu1->addMenu("&Options");
    Options1->setObjectName("Options1");
    AntiIdle2 = addItem(Options1, "AntiIdle2", "&Anti-Idle");
    Latency1 = addItem(Options1, "Latency1", "&Latency");
    Ping5 = addItem(Options1, "Ping5", "&Ping");
    ServerList1 = addItem(Options1, "ServerList1", "&Server List");
    Traceroute2 = addItem(Options1, "Traceroute2", "&Traceroute");
    Options1->addSeparator();
    StayOnTop1 = addItem(Options1, "StayOnTop1", "Stay &On Top");
    StayOnTop1->setCheckable(true);
    StayOnTop1->setChecked(true);
    // The settings beyond the panels: window size, connection history,
    // notifications, network, service.
    Options1->addSeparator();
    Preferences1 = addItem(Options1, "Preferences1", "P&references...");

    Help1 = MainMenu1->addMenu("&Help");
    Help1->setObjectName("Help1");
    Help2 = addItem(Help1, "Help2", "&Help");
    Help1->addSeparator();
    BrisvaneHomePage1 = addItem(Help1, "BrisvaneHomePage1", "Brisvane Home Page");
    IdlixHomePage1 = addItem(Help1, "IdlixHomePage1", "Idlix Home Page");
    Help1->addSeparator();
    About1 = addItem(Help1, "About1", "&About");
}

void TMainForm::CreateSwitches()
{
    img_Background = MakeLabel(Client, "img_Background", QString(), 0, 0, 449, 252);
    img_Background->setPixmap(desktop::Picture("background.jpg"));
    // Its picture comes when a wide panel first stands on it (AcquireBackdrop).
    img_Bg2 = MakeLabel(Client, "img_Bg2", QString(), 115, 9, 329, 203);
    img_Bg2->hide();

    const QList<QPixmap> switches{desktop::Picture("switch_off.png"), desktop::Picture("switch_on.png")};
    const QList<QPixmap> arrows{desktop::Picture("arrow_closed.png"), desktop::Picture("arrow_open.png")};
    const QPixmap red = desktop::Picture("lamp_red.png"), green = desktop::Picture("lamp_green.png");

    struct Row {
        TPictureButton **button;
        const char *name;
        QLabel **caption;
        const char *captionName;
        const char *text;
        QLabel **red;
        const char *redName;
        QLabel **green;
        const char *greenName;
        TPictureButton **arrow;
        const char *arrowName;
    };
    const Row rows[] = {
        {&btn_AntiIdle, "btn_AntiIdle", &lbl_AntiIdle, "lbl_AntiIdle", "Anti-Idle", &img_AIRed,
         "img_AIRed", &img_AIGreen, "img_AIGreen", &img_AIArrow, "img_AIArrow"},
        {&btn_Finger, "btn_Finger", &lbl_Finger, "lbl_Finger", "Finger", &img_FngRed,
         "img_FngRed", &img_FngGreen, "img_FngGreen", nullptr, nullptr},
        {&btn_Latency, "btn_Latency", &lbl_Latency, "lbl_Latency", "Latency", &img_LatRed,
         "img_LatRed", &img_LatGreen, "img_LatGreen", &img_LatArrow, "img_LatArrow"},
        {&btn_Ping, "btn_Ping", &lbl_Ping, "lbl_Ping", "Ping", &img_PngRed, "img_PngRed",
         &img_PngGreen, "img_PngGreen", &img_PngArrow, "img_PngArrow"},
        {&btn_Trace, "btn_Trace", &lbl_Trace, "lbl_Trace", "Traceroute", &img_TrcRed,
         "img_TrcRed", &img_TrcGreen, "img_TrcGreen", &img_TrcArrow, "img_TrcArrow"},
    };
    // One row of 40 pixels per tool: caption, then the switch with its red
    // lamp on the left and its green lamp (under the options arrow) on the right.
    int y = 17;
    for (const Row &row : rows) {
        *row.caption = MakeLabel(Client, row.captionName, row.text, 22, y, 66, 13);
        (*row.caption)->setAlignment(Qt::AlignCenter);
        auto *button = new TPictureButton(Client);
        button->setObjectName(row.name);
        button->setGeometry(29, y + 14, 52, 23);
        button->SetImages(switches);
        button->SetCaptionLabel(*row.caption, false);
        *row.button = button;
        *row.red = MakeLabel(Client, row.redName, QString(), 16, y + 21, 9, 9);
        (*row.red)->setPixmap(red);
        *row.green = MakeLabel(Client, row.greenName, QString(), 86, y + 21, 9, 9);
        (*row.green)->setPixmap(green);
        (*row.green)->hide();
        if (row.arrow) {
            auto *arrow = new TPictureButton(Client);
            arrow->setObjectName(row.arrowName);
            arrow->setGeometry(83, y + 1, 15, 17);
            arrow->PressEffect = false;
            arrow->SetImages(arrows);
            arrow->setToolTip("Options");
            *row.arrow = arrow;
        }
        y += 40;
    }
    // The echo tools' arrows press in as the command buttons do.
    img_LatArrow->PressEffect = true;
    img_PngArrow->PressEffect = true;

    auto addSwitch = [this](TToolId tool, const TToolSwitch::TParts &parts) {
        switches_[tool] = new TToolSwitch(parts, this);
    };
    addSwitch(TToolId::AntiIdle, {btn_AntiIdle, lbl_AntiIdle, img_AIRed, img_AIGreen, img_AIArrow,
                                  AntiIdle1, AntiIdle2});
    addSwitch(TToolId::Finger, {btn_Finger, lbl_Finger, img_FngRed, img_FngGreen, nullptr,
                                Finger1, nullptr});
    addSwitch(TToolId::Latency, {btn_Latency, lbl_Latency, img_LatRed, img_LatGreen, img_LatArrow,
                                 LatencyTest1, Latency1});
    addSwitch(TToolId::Ping, {btn_Ping, lbl_Ping, img_PngRed, img_PngGreen, img_PngArrow, Ping1,
                              Ping5});
    addSwitch(TToolId::Trace, {btn_Trace, lbl_Trace, img_TrcRed, img_TrcGreen, img_TrcArrow,
                               TraceRoute1, Traceroute2});
    // Started from the Tools menu only.
    addSwitch(TToolId::ISPTree, {nullptr, nullptr, nullptr, nullptr, nullptr, ISPTree1, nullptr});
    addSwitch(TToolId::Resolve, {nullptr, nullptr, nullptr, nullptr, nullptr, Resolve1, nullptr});
}

void TMainForm::CreateHistoryPane()
{
    pnl_History = MakePanel("pnl_History", "History", false);
    re_History = new QTextEdit(pnl_History);
    re_History->setObjectName("re_History");
    re_History->setReadOnly(true);
    re_History->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    re_History->setGeometry(3, 18, NarrowW - 6, PanelH - 21);
    QPalette dark = re_History->palette();
    dark.setColor(QPalette::Base, QColor(16, 16, 16));
    dark.setColor(QPalette::Text, QColor(192, 192, 192));
    re_History->setPalette(dark);
    pnl_History->show();
}

void TMainForm::CreateOptionPanels()
{
    // Anti-idle options: a scroll box, the page is taller than the panel.
    sb_AI = new QScrollArea(Client);
    sb_AI->setObjectName("sb_AI");
    sb_AI->setGeometry(PanelX, PanelY, NarrowW, PanelH);
    sb_AI->hide();
    QWidget *ai = makeScrollPage(sb_AI, ScrollPageW, 268);
    makeTitle(MakeLabel(ai, "sb_AI_title", "Anti-Idle Options", 3, 2, 140, 14));
    rg_AIMethod = new TRadioGroup("Method", {"HTTP Gets", "ICMP Pings", "Alternate"}, ai);
    rg_AIMethod->setObjectName("rg_AIMethod");
    rg_AIMethod->setGeometry(3, 18, 144, 74);
    MakeLabel(ai, "lbl_AIFreq", "Frequency (min):", 3, 98, 105, 14);
    edt_AIFreq = new TSpinText(config::TAntiIdleOptions::FrequencyRange.Min,
                                config::TAntiIdleOptions::FrequencyRange.Max, ai);
    edt_AIFreq->setObjectName("edt_AIFreq");
    edt_AIFreq->setGeometry(103, 96, 44, 19);
    MakeLabel(ai, "lbl_AIHost", "Host to Ping (Optional)", 3, 120, 150, 14);
    edt_AIHost = MakeEdit(ai, "edt_AIHost", 3, 135, 144);
    cb_AIOptions = new TCheckListBox({"Cycle server list", "Minimize Idlix on start",
                                      "Vary packet size", "Show report on stop"}, ai);
    cb_AIOptions->setObjectName("cb_AIOptions");
    cb_AIOptions->setGeometry(3, 160, 144, 76);
    QFont optionsFont = cb_AIOptions->font();   // one pixel smaller, so every item fits
    optionsFont.setPixelSize(10);
    cb_AIOptions->setFont(optionsFont);

    pnl_Latency = MakePanel("pnl_Latency", "Latency Options", false);
    MakeLabel(pnl_Latency, "lbl_LatHost", "ISP Host", 6, 22, 150, 14);
    edt_LatHost = MakeEdit(pnl_Latency, "edt_LatHost", 6, 37, 150);
    MakeLabel(pnl_Latency, "lbl_LatInterval", "Interval (msecs)", 6, 62, 90, 14);
    se_LatInterval = MakeSpin(pnl_Latency, "se_LatInterval", config::TLatencyOptions::IntervalRange, 96, 60, 64);
    MakeLabel(pnl_Latency, "lbl_LatTO", "Time-out (secs)", 6, 86, 90, 14);
    se_LatTO = MakeSpin(pnl_Latency, "se_LatTO", config::TLatencyOptions::TimeOutRange, 96, 84, 64);

    pnl_PingOptions = MakePanel("pnl_PingOptions", "Ping Options", false);
    MakeLabel(pnl_PingOptions, "lbl_PngBytes", "Packet Size", 6, 24, 90, 14);
    se_PngBytes = MakeSpin(pnl_PingOptions, "se_PngBytes", config::TPingOptions::BytesRange, 96, 22, 64);
    MakeLabel(pnl_PingOptions, "lbl_PngTO", "Time-out (secs)", 6, 48, 90, 14);
    se_PngTO = MakeSpin(pnl_PingOptions, "se_PngTO", config::TPingOptions::TimeOutRange, 96, 46, 64);

    pnl_traceOptions = MakePanel("pnl_traceOptions", "Traceroute Options", false);
    // Caption above, field and unit below: the three do not fit on one line.
    MakeLabel(pnl_traceOptions, "lbl_TrcBytes", "Packet Size:", 6, 20, 150, 14);
    se_TrcBytes = MakeSpin(pnl_traceOptions, "se_TrcBytes", config::TTraceOptions::BytesRange, 6, 34, 64);
    MakeLabel(pnl_traceOptions, "lbl_TrcBytesUnit", "bytes", 74, 36, 80, 14);
    MakeLabel(pnl_traceOptions, "lbl_TrcTO", "Time-out:", 6, 57, 150, 14);
    se_TrcTO = MakeSpin(pnl_traceOptions, "se_TrcTO", config::TTraceOptions::TimeOutRange, 6, 71, 64);
    MakeLabel(pnl_traceOptions, "lbl_TrcTOUnit", "seconds", 74, 73, 80, 14);
    cb_TrcTestPack = MakeCheck(pnl_traceOptions, "cb_TrcTestPack", "Send Test Packet", 6, 96, 150);
    rg_TrcMode = new TRadioGroup("Mode", {"Asynchronous", "Blocking"}, pnl_traceOptions);
    rg_TrcMode->setObjectName("rg_TrcMode");
    rg_TrcMode->setGeometry(6, 118, 150, 58);

    // Dial-up options: a scroll box as well.
    pnl_DialUp = new QScrollArea(Client);
    pnl_DialUp->setObjectName("pnl_DialUp");
    pnl_DialUp->setGeometry(PanelX, PanelY, NarrowW, PanelH);
    pnl_DialUp->hide();
    QWidget *ras = makeScrollPage(pnl_DialUp, ScrollPageW, 232);
    makeTitle(MakeLabel(ras, "pnl_DialUp_title", "Dial-Up Options", 3, 2, 140, 14));
    MakeLabel(ras, "lbl_RasConnect", "Connection:", 3, 20, 140, 14);
    cb_RasConnect = new QComboBox(ras);
    cb_RasConnect->setObjectName("cb_RasConnect");
    cb_RasConnect->setGeometry(3, 35, 140, 20);
    MakeLabel(ras, "lbl_RasUserName", "UserName:", 3, 60, 140, 14);
    edt_RasUserName = MakeEdit(ras, "edt_RasUserName", 3, 75, 140);
    MakeLabel(ras, "lbl_RasPassword", "Password:", 3, 98, 140, 14);
    edt_RasPassword = MakeEdit(ras, "edt_RasPassword", 3, 113, 140);
    edt_RasPassword->setEchoMode(QLineEdit::Password);
    cb_RasCnctOnStrt = MakeCheck(ras, "cb_RasCnctOnStrt", "Connect on start", 3, 138, 140);
    cb_RasAIStrt = MakeCheck(ras, "cb_RasAIStrt", "Start Anti-Idle on connect", 3, 158, 146);
    cb_RasDisc = MakeCheck(ras, "cb_RasDisc", "Disconnect after", 3, 178, 140);
    se_RasDisc = MakeSpin(ras, "se_RasDisc", config::TDialUpOptions::DisconnectTimeRange, 3, 198, 80);
    MakeLabel(ras, "lbl_RasDisc", "minutes", 88, 200, 55, 14);

    // Proxy options: not stored; they start empty on every run.
    pnl_Proxy = MakePanel("pnl_Proxy", "Proxy Options", false);
    MakeLabel(pnl_Proxy, "lbl_PxyServer", "Proxy Server:", 6, 22, 150, 14);
    edt_PxyServer = MakeEdit(pnl_Proxy, "edt_PxyServer", 6, 37, 150);
    MakeLabel(pnl_Proxy, "lbl_PxyPort", "Port:", 6, 60, 150, 14);
    edt_PxyPort = MakeEdit(pnl_Proxy, "edt_PxyPort", 6, 75, 60);
    MakeLabel(pnl_Proxy, "lbl_PxyUser", "Username:", 6, 98, 150, 14);
    edt_PxyUser = MakeEdit(pnl_Proxy, "edt_PxyUser", 6, 113, 150);
    MakeLabel(pnl_Proxy, "lbl_PxyPass", "Password:", 6, 136, 150, 14);
    edt_PxyPass = MakeEdit(pnl_Proxy, "edt_PxyPass", 6, 151, 150);
    edt_PxyPass->setEchoMode(QLineEdit::Password);

    // Made after the rest of the window, they take the place in its stacking
    // order they would have had if made with the history pane: above it,
    // below the features' panels.
    for (QWidget *panel : OptionPanels())
        panel->stackUnder(pnl_Resolve);
}

QList<QWidget *> TMainForm::OptionPanels() const
{
    return {sb_AI, pnl_Latency, pnl_PingOptions, pnl_traceOptions, pnl_DialUp, pnl_Proxy};
}

void TMainForm::CreateFeaturePanels()
{
    pnl_Resolve = MakePanel("pnl_Resolve", "Resolve IP/Host", false);
    pnl_AIReport = MakePanel("pnl_AIReport", "Anti-Idle Report", true);
    pnl_Finger = MakePanel("pnl_Finger", "Finger", true);
    pnl_Ping = MakePanel("pnl_Ping", "Ping", true);
    pnl_Trace = MakePanel("pnl_Trace", "Traceroute", true);
    pnl_ISPTree = MakePanel("pnl_ISPTree", "ISP Tree", true);
    pnl_Servers = MakePanel("pnl_Servers", "Server List", true);
}

void TMainForm::CreateInfoColumn()
{
    // The graphs are drawn with transparency over the background picture.
    img_AIGraph = MakeLabel(Client, "img_AIGraph", QString(), 309, 16, 130, 116);
    img_LatGraph = MakeLabel(Client, "img_LatGraph", QString(), 309, 16, 130, 116);
    for (QLabel *graph : {img_AIGraph, img_LatGraph}) {
        graph->setAttribute(Qt::WA_TranslucentBackground);
        graph->setAutoFillBackground(false);
        graph->hide();
    }
    ResponseGraph = std::make_unique<TResponseGraph>(img_AIGraph, img_LatGraph);

    anm_BV = new TAnimate(Client);
    anm_BV->setObjectName("anm_BV");
    anm_BV->setGeometry(330, 38, 85, 75);
    anm_BV->SetStopFrame(41);

    PingLight = MakeLabel(Client, "PingLight", "Ping", 314, 144, 122, 13);
    lbl_Method = MakeLabel(Client, "lbl_Method", "Method", 314, 156, 122, 13);
    ModeLBL = MakeLabel(Client, "ModeLBL", QString(), 314, 168, 122, 13);
    ModeLBL->setToolTip("Pinging mode");
    GoodLBL = MakeLabel(Client, "GoodLBL", QString(), 314, 180, 122, 13);
    GoodLBL->setToolTip("Pings: Successful/Total, Avg: Average time");
    TimeLBL = MakeLabel(Client, "TimeLBL", QString(), 314, 192, 122, 13);
    TimeLBL->setToolTip("Anti-idle session timer");
    for (QLabel *label : {PingLight, lbl_Method, ModeLBL, GoodLBL, TimeLBL})
        label->hide();

    StatusLBL = MakeLabel(Client, "StatusLBL", "Status:", 20, 224, 345, 15);
    StatusLBL->setToolTip("Idlix status");
    QFont small = StatusLBL->font();
    small.setPixelSize(9);
    StatusLBL->setFont(small);
    QPalette white = StatusLBL->palette();
    white.setColor(QPalette::WindowText, Qt::white);
    StatusLBL->setPalette(white);

    lbl_Question = MakeLabel(Client, "lbl_Question", QString(), 220, 224, 166, 15);
    QPalette red = lbl_Question->palette();
    red.setColor(QPalette::WindowText, Qt::red);
    lbl_Question->setPalette(red);

    btn_Yes = new TPictureButton(Client);
    btn_Yes->setObjectName("btn_Yes");
    btn_Yes->setGeometry(388, 223, 21, 17);
    btn_Yes->SetImages({desktop::Picture("btn_yes.png")});
    btn_Yes->setToolTip("Yes");
    btn_Yes->hide();
    btn_No = new TPictureButton(Client);
    btn_No->setObjectName("btn_No");
    btn_No->setGeometry(412, 224, 21, 17);
    btn_No->SetImages({desktop::Picture("btn_no.png")});
    btn_No->setToolTip("No");
    btn_No->hide();

    Gauge1 = new QProgressBar(Client);
    Gauge1->setObjectName("Gauge1");
    Gauge1->setGeometry(312, 226, 121, 14);
    Gauge1->setTextVisible(false);
    QPalette gauge = Gauge1->palette();
    gauge.setColor(QPalette::Highlight, QColor(128, 0, 0));   // maroon progress
    for (QPalette::ColorRole groove : {QPalette::Base, QPalette::Window, QPalette::Button})
        gauge.setColor(groove, QColor(64, 64, 64));            // on dark grey
    Gauge1->setPalette(gauge);
    Gauge1->hide();

    // A status naming a full IPv6 address is wider than the line: the text
    // shrinks to fit what the gauge leaves of it, and the tool tip holds
    // whatever still does not fit.
    statusFit_ = new TFitLabel(StatusLBL);
    statusFit_->SetCover(Gauge1);
}

void TMainForm::CreateTimers()
{
    auto timer = [this](const char *name, int interval) {
        auto *t = new QTimer(this);
        t->setObjectName(name);
        t->setInterval(interval);
        return t;
    };
    EggTimer = timer("EggTimer", 2000);

    TickingClock1 = new TTickingClock(this);
    TickingClock1->setObjectName("TickingClock1");

    GoToWeb1 = new TGoToWeb(this);
    GoToWeb1->setObjectName("GoToWeb1");
    JustOne321 = new TJustOne32(this, instance_);
    JustOne321->setObjectName("JustOne321");
}
