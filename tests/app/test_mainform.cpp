// The main window: layout, menus, key routing, Edit menu, stopwatch display,
// status-line quotation, picture-button press effect, close and hide.
#include "app/idlix.h"
#include "shell/mainform.h"
#include "antiidle/antiidle.h"
#include "session/antiidlesession.h"
#include "antiidle/antiidlefeature.h"
#include "tools/pingtool.h"
#include "../support/trayoverride.h"
#include "widgets/optioncontrols.h"
#include "widgets/picturebutton.h"
#include "components/supertimer.h"
#include "components/tickingclock.h"
#include "desktop/msgbox.h"
#include "../support/sessionaccess.h"
#include "../support/testutil.h"
#include "../support/ctl.h"
#include "platform/services.h"

#include <QAction>
#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QFrame>
#include <QProgressBar>
#include <QScrollArea>
#include <QSignalSpy>
#include <QSpinBox>
#include <QTest>
#include <QTextEdit>
#include <QTimer>
#include <gtest/gtest.h>

// Readable QString values in failure messages.
inline void PrintTo(const QString &s, std::ostream *os) { *os << '"' << s.toStdString() << '"'; }

using namespace std::chrono_literals;

namespace {

struct Fixture {
    testutil::ScratchDir dir;
    QStringList messages;
    std::unique_ptr<TIdlix> idlix;
    TMainForm *form = nullptr;
    Fixture()
    {
        platform::Services().Message = [this](const QString &t) { messages << t; };
        idlix = std::make_unique<TIdlix>();
        form = idlix->Form.get();
    }
    ~Fixture()
    {
        idlix.reset();
        platform::Services().Message = {};
    }
};

} // namespace

TEST(MainFormLayout, ControlsSitWhereTheWindowNeedsThem)
{
    Fixture fx;
    TMainForm &f = *fx.form;
    EXPECT_EQ(f.windowTitle(), "Idlix v2.0");
    EXPECT_EQ(Ctl<QWidget>(f, "Client")->size(), QSize(449, 252));
    EXPECT_EQ(f.size(), QSize(449, 252 + Ctl<QMenuBar>(f, "MainMenu1")->height()));

    struct Geo {
        const char *name;
        QRect rect;
    };
    const Geo geos[] = {
        {"img_Background", {0, 0, 449, 252}},
        {"img_Bg2", {115, 9, 329, 203}},
        {"pnl_History", {125, 17, 167, 187}},
        {"sb_AI", {125, 17, 167, 187}},
        {"pnl_Latency", {125, 17, 167, 187}},
        {"pnl_PingOptions", {125, 17, 167, 187}},
        {"pnl_traceOptions", {125, 17, 167, 187}},
        {"pnl_DialUp", {125, 17, 167, 187}},
        {"pnl_Proxy", {125, 17, 167, 187}},
        {"pnl_Resolve", {125, 17, 167, 187}},
        {"pnl_AIReport", {125, 17, 309, 187}},
        {"pnl_Finger", {125, 17, 309, 187}},
        {"pnl_Ping", {125, 17, 309, 187}},
        {"pnl_Trace", {125, 17, 309, 187}},
        {"pnl_ISPTree", {125, 17, 309, 187}},
        {"pnl_Servers", {125, 17, 309, 187}},
        {"img_AIGraph", {309, 16, 130, 116}},
        {"img_LatGraph", {309, 16, 130, 116}},
        {"anm_BV", {330, 38, 85, 75}},
        {"StatusLBL", {20, 224, 345, 15}},
        {"btn_Yes", {388, 223, 21, 17}},
        {"btn_No", {412, 224, 21, 17}},
        {"Gauge1", {312, 226, 121, 14}},
    };
    for (const Geo &g : geos) {
        auto *w = f.findChild<QWidget *>(g.name);
        ASSERT_NE(w, nullptr) << g.name;
        EXPECT_EQ(w->geometry(), g.rect) << g.name;
        EXPECT_EQ(w->parentWidget(), Ctl<QWidget>(f, "Client")) << g.name;
    }
    EXPECT_EQ(Ctl<QLabel>(f, "lbl_Question")->pos(), QPoint(220, 224));

    // Tool switches, lamps and arrows: sizes, and the left column order.
    const char *switches[] = {"btn_AntiIdle", "btn_Finger", "btn_Latency", "btn_Ping", "btn_Trace"};
    int lastY = -1;
    for (const char *name : switches) {
        auto *w = f.findChild<TPictureButton *>(name);
        ASSERT_NE(w, nullptr) << name;
        EXPECT_EQ(w->size(), QSize(52, 23)) << name;
        EXPECT_LT(w->geometry().right(), 125) << name;
        EXPECT_GT(w->y(), lastY) << name;
        lastY = w->y();
        EXPECT_EQ(w->ImageIndex(), 0) << name;
        ASSERT_NE(w->CaptionLabel(), nullptr);
        EXPECT_LT(w->CaptionLabel()->y(), w->y()) << name;   // caption above
    }
    for (const char *name : {"img_AIRed", "img_FngRed", "img_LatRed", "img_PngRed", "img_TrcRed"}) {
        auto *w = f.findChild<QLabel *>(name);
        ASSERT_NE(w, nullptr) << name;
        EXPECT_EQ(w->size(), QSize(9, 9));
        EXPECT_FALSE(w->isHidden()) << name;
    }
    for (const char *name : {"img_AIGreen", "img_FngGreen", "img_LatGreen", "img_PngGreen", "img_TrcGreen"}) {
        auto *w = f.findChild<QLabel *>(name);
        ASSERT_NE(w, nullptr) << name;
        EXPECT_TRUE(w->isHidden()) << name;
    }
    for (const char *name : {"img_AIArrow", "img_LatArrow", "img_PngArrow", "img_TrcArrow"}) {
        auto *w = f.findChild<TPictureButton *>(name);
        ASSERT_NE(w, nullptr) << name;
        EXPECT_EQ(w->size(), QSize(15, 17));
        EXPECT_EQ(w->ImageIndex(), 0);
    }
    EXPECT_EQ(f.findChild<TPictureButton *>("img_FngArrow"), nullptr);

    // Start state: only the history shows; the information column is hidden.
    EXPECT_FALSE(Ctl<QFrame>(f, "pnl_History")->isHidden());
    const QList<QWidget *> hiddenAtStart{
             Ctl<QScrollArea>(f, "sb_AI"), Ctl<QFrame>(f, "pnl_Latency"), Ctl<QFrame>(f, "pnl_PingOptions"), Ctl<QFrame>(f, "pnl_traceOptions"), Ctl<QScrollArea>(f, "pnl_DialUp"),
             Ctl<QFrame>(f, "pnl_Proxy"), Ctl<QFrame>(f, "pnl_AIReport"), Ctl<QFrame>(f, "pnl_Servers"), Ctl<QLabel>(f, "img_Bg2"), Ctl<QLabel>(f, "img_AIGraph"),
             Ctl<QLabel>(f, "PingLight"), Ctl<QLabel>(f, "lbl_Method"), Ctl<QLabel>(f, "ModeLBL"), Ctl<QLabel>(f, "GoodLBL"), Ctl<QLabel>(f, "TimeLBL"), Ctl<TPictureButton>(f, "btn_Yes"), Ctl<TPictureButton>(f, "btn_No"),
             Ctl<QProgressBar>(f, "Gauge1")};
    for (QWidget *w : hiddenAtStart)
        EXPECT_TRUE(w->isHidden()) << w->objectName().toStdString();
    EXPECT_EQ(Ctl<QLabel>(f, "PingLight")->text(), "Ping");
    EXPECT_EQ(Ctl<QLabel>(f, "lbl_Method")->text(), "Method");
    EXPECT_EQ(Ctl<QLabel>(f, "StatusLBL")->text(), "");
    EXPECT_EQ(Ctl<QLabel>(f, "StatusLBL")->toolTip(), "Idlix status");
    EXPECT_EQ(Ctl<QLabel>(f, "GoodLBL")->toolTip(), "Pings: Successful/Total, Avg: Average time");
    EXPECT_TRUE(Ctl<QTextEdit>(f, "re_History")->isReadOnly());
    EXPECT_EQ(fx.idlix->PingTool->se_PngTimes->minimum(), 1);
    EXPECT_EQ(fx.idlix->PingTool->se_PngTimes->maximum(), 100);
    EXPECT_EQ(fx.idlix->PingTool->se_PngTimes->value(), 1);

    // Every option control carries its name.
    for (const char *name : {"rg_AIMethod", "edt_AIFreq", "edt_AIHost", "cb_AIOptions", "edt_LatHost",
                             "se_LatInterval", "se_LatTO", "se_PngBytes", "se_PngTO", "se_TrcBytes",
                             "se_TrcTO", "cb_TrcTestPack", "rg_TrcMode", "cb_RasConnect",
                             "edt_RasUserName", "edt_RasPassword", "cb_RasCnctOnStrt", "cb_RasAIStrt",
                             "cb_RasDisc", "se_RasDisc", "edt_PxyServer", "edt_PxyPort",
                             "edt_PxyUser", "edt_PxyPass", "re_History", "edt_PngHost"})
        EXPECT_NE(f.findChild<QWidget *>(name), nullptr) << name;
    EXPECT_EQ(Ctl<QLineEdit>(f, "edt_RasPassword")->echoMode(), QLineEdit::Password);
}

TEST(MainFormLayout, TimersAreIdleAtStart)
{
    Fixture fx;
    TMainForm &f = *fx.form;
    struct T {
        const char *name;
        int interval;
    };
    for (const T &t : {T{"EggTimer", 2000}, T{"LogTimer", 100000}, T{"Timer3", -1},
                       T{"LatTimer", -1}, T{"RasTimer", -1}}) {
        auto *timer = f.findChild<QTimer *>(t.name);
        ASSERT_NE(timer, nullptr) << t.name;
        EXPECT_FALSE(timer->isActive()) << t.name;
        if (t.interval >= 0) {
            EXPECT_EQ(timer->interval(), t.interval) << t.name;
        }
    }
    EXPECT_FALSE(Inside(fx.idlix->AntiIdle->Engine()).HTTPTimer->Enabled());
    EXPECT_EQ(Inside(fx.idlix->AntiIdle->Engine()).HTTPTimer->Interval(), 1);
    EXPECT_EQ(Inside(fx.idlix->AntiIdle->Engine()).HTTPTimer->ThreadPriority(), QThread::TimeCriticalPriority);
    EXPECT_EQ(Ctl<TTickingClock>(f, "TickingClock1")->Mode(), tcmChronoMeter);
    EXPECT_FALSE(Ctl<TTickingClock>(f, "TickingClock1")->Enabled());
    EXPECT_EQ(Inside(fx.idlix->AntiIdle->Engine()).HTTPTimer->objectName(), "HTTPTimer");
    EXPECT_EQ(Ctl<TTickingClock>(f, "TickingClock1")->objectName(), "TickingClock1");
}

TEST(MainFormMenu, ItemsCaptionsShortcutsAndSeparators)
{
    Fixture fx;
    TMainForm &f = *fx.form;
    struct Item {
        const char *name;       // "-" for a separator
        const char *caption;
        QKeySequence keys;
    };
    struct Menu {
        const char *name;
        std::vector<Item> items;
    };
    const QKeySequence none;
    const std::vector<Menu> menus{
        {"Tools1", {{"AntiIdle1", "&Anti-Idle", QKeySequence("Ctrl+A")},
                    {"Finger1", "&Finger", QKeySequence("Ctrl+F")},
                    {"LatencyTest1", "&Latency", QKeySequence("Ctrl+L")},
                    {"Ping1", "&Ping", QKeySequence("Ctrl+P")},
                    {"TraceRoute1", "&Traceroute", QKeySequence("Ctrl+T")},
                    {"-", "", none},
                    {"ISPTree1", "&ISP Tree", QKeySequence("Ctrl+I")},
                    {"Resolve1", "&Resolve", QKeySequence("Ctrl+R")},
                    {"History1", "Hi&story...", none},
                    {"FindIdleTimer1", "Find Idle Ti&mer...", none},
                    {"-", "", none},
                    {"HideIdlix1", "&Hide Idlix", none},
                    {"-", "", none},
                    {"Exit1", "E&xit", none}}},
        {"Edit1", {{"Undo1", "&Undo", QKeySequence("Ctrl+Z")},
                   {"-", "", none},
                   {"Cut1", "Cu&t", QKeySequence("Ctrl+X")},
                   {"Copy1", "&Copy", QKeySequence("Ctrl+C")},
                   {"Paste1", "&Paste", QKeySequence("Ctrl+V")},
                   {"Clear1", "&Delete", QKeySequence("Ctrl+Del")},
                   {"-", "", none},
                   {"SelectAll1", "Select A&ll", QKeySequence("Ctrl+A")}}},
        {"DialUp1", {{"Connect1", "&Connect", none},
                     {"Disconnect1", "&Disconnect", none},
                     {"Reset1", "&Reset", none},
                     {"-", "", none},
                     {"DialUpOptions1", "&Dial-Up &Options", none}}},
        {"Options1", {{"AntiIdle2", "&Anti-Idle", none},
                      {"Latency1", "&Latency", none},
                      {"Ping5", "&Ping", none},
                      {"ServerList1", "&Server List", none},
                      {"Traceroute2", "&Traceroute", none},
                      {"-", "", none},
                      {"StayOnTop1", "Stay &On Top", none},
                      {"-", "", none},
                      {"Preferences1", "P&references...", none}}},
        {"Help1", {{"Help2", "&Help", none},
                   {"-", "", none},
                   {"BrisvaneHomePage1", "Brisvane Home Page", none},
                   {"IdlixHomePage1", "Idlix Home Page", none},
                   {"-", "", none},
                   {"About1", "&About", none}}},
    };
    const QList<QAction *> bar = Ctl<QMenuBar>(f, "MainMenu1")->actions();
    ASSERT_EQ(bar.size(), qsizetype(menus.size()));
    for (size_t m = 0; m < menus.size(); ++m) {
        QMenu *menu = bar.at(qsizetype(m))->menu();
        ASSERT_NE(menu, nullptr);
        EXPECT_EQ(menu->objectName(), menus[m].name);
        const QList<QAction *> actions = menu->actions();
        ASSERT_EQ(actions.size(), qsizetype(menus[m].items.size())) << menus[m].name;
        for (size_t i = 0; i < menus[m].items.size(); ++i) {
            const Item &want = menus[m].items[i];
            QAction *a = actions.at(qsizetype(i));
            SCOPED_TRACE(std::string(menus[m].name) + " item " + std::to_string(i));
            if (QString(want.name) == "-") {
                EXPECT_TRUE(a->isSeparator());
                continue;
            }
            EXPECT_FALSE(a->isSeparator());
            EXPECT_EQ(a->objectName(), want.name);
            EXPECT_EQ(a->text(), want.caption);
            EXPECT_EQ(a->shortcut(), want.keys);
        }
    }
    EXPECT_TRUE(Ctl<QAction>(f, "StayOnTop1")->isCheckable());
}

TEST(MainFormMenu, ToolKeysReachTheMenuFromAnEditField)
{
    Fixture fx;
    TMainForm &f = *fx.form;
    f.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&f));
    f.img_AIArrowClick();
    Ctl<QLineEdit>(f, "edt_AIHost")->setFocus();
    Ctl<QLineEdit>(f, "edt_AIHost")->setText("host.example");
    ASSERT_TRUE(testutil::waitFor([&] { return Ctl<QLineEdit>(f, "edt_AIHost")->hasFocus(); }, 2s));

    // Only the routing is under test here: the tools themselves stay out.
    for (QAction *a : {Ctl<QAction>(f, "AntiIdle1"), Ctl<QAction>(f, "Finger1"), Ctl<QAction>(f, "LatencyTest1"), Ctl<QAction>(f, "Ping1"), Ctl<QAction>(f, "TraceRoute1"), Ctl<QAction>(f, "ISPTree1"),
                       Ctl<QAction>(f, "Resolve1")})
        QObject::disconnect(a, &QAction::triggered, &f, nullptr);
    // Tools that are not part of the program are disabled; the keys reach
    // their items all the same.
    for (QAction *a : {Ctl<QAction>(f, "Finger1"), Ctl<QAction>(f, "TraceRoute1"), Ctl<QAction>(f, "ISPTree1"), Ctl<QAction>(f, "Resolve1")})
        a->setEnabled(true);

    QSignalSpy antiIdle(Ctl<QAction>(f, "AntiIdle1"), &QAction::triggered);
    // Ctrl+A in a field selects all there (CtrlASelectsAllInEveryHostField).
    struct K {
        Qt::Key key;
        QAction *action;
    };
    for (const K &k : {K{Qt::Key_F, Ctl<QAction>(f, "Finger1")}, K{Qt::Key_L, Ctl<QAction>(f, "LatencyTest1")}, K{Qt::Key_P, Ctl<QAction>(f, "Ping1")},
                       K{Qt::Key_T, Ctl<QAction>(f, "TraceRoute1")}, K{Qt::Key_I, Ctl<QAction>(f, "ISPTree1")}, K{Qt::Key_R, Ctl<QAction>(f, "Resolve1")}}) {
        QSignalSpy spy(k.action, &QAction::triggered);
        QTest::keyClick(Ctl<QLineEdit>(f, "edt_AIHost"), k.key, Qt::ControlModifier);
        EXPECT_EQ(spy.count(), 1) << k.action->objectName().toStdString();
    }
    // Ctrl+Del is Edit > Delete: the whole field, not the word after the caret.
    Ctl<QLineEdit>(f, "edt_AIHost")->setCursorPosition(0);
    QTest::keyClick(Ctl<QLineEdit>(f, "edt_AIHost"), Qt::Key_Delete, Qt::ControlModifier);
    EXPECT_EQ(Ctl<QLineEdit>(f, "edt_AIHost")->text(), "");
    Ctl<QLineEdit>(f, "edt_AIHost")->setText("host.example");

    // Plain typing still goes to the field.
    QTest::keyClick(Ctl<QLineEdit>(f, "edt_AIHost"), Qt::Key_X);
    EXPECT_EQ(Ctl<QLineEdit>(f, "edt_AIHost")->text(), "host.examplex");
    EXPECT_EQ(antiIdle.count(), 0);
}

TEST(MainFormMenu, CtrlASelectsAllInEveryHostFieldAndTogglesTheSessionElsewhere)
{
    Fixture fx;
    TMainForm &f = *fx.form;
    f.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&f));
    QObject::disconnect(Ctl<QAction>(f, "AntiIdle1"), &QAction::triggered, &f, nullptr);
    QSignalSpy antiIdle(Ctl<QAction>(f, "AntiIdle1"), &QAction::triggered);
    // Each field after the menu item that shows it; option panels first,
    // since a wide panel covers them.
    const std::pair<const char *, const char *> fields[] = {
        {"AntiIdle2", "edt_AIHost"}, {"Latency1", "edt_LatHost"},  {"Resolve1", "edt_RsvHost"},
        {"Ping1", "edt_PngHost"},    {"Finger1", "edt_Finger"},    {"TraceRoute1", "edt_TrcHost"},
        {"ISPTree1", "edt_ISPHost"}, {"ServerList1", "edt_SrvHost"}};
    for (const auto &[opens, field] : fields) {
        Ctl<QAction>(f, opens)->setEnabled(true);
        Ctl<QAction>(f, opens)->trigger();
        auto *edit = Ctl<QLineEdit>(f, field);
        edit->setFocus();
        ASSERT_TRUE(testutil::waitFor([&] { return edit->hasFocus(); }, 2s)) << field;
        edit->setText("host.example");
        QTest::keyClick(edit, Qt::Key_A, Qt::ControlModifier);
        EXPECT_EQ(edit->selectedText(), "host.example") << field;
    }
    EXPECT_EQ(antiIdle.count(), 0);
    // A pane that only shows text is no field: there the key is the session's.
    auto *history = Ctl<QTextEdit>(f, "re_History");
    history->show();
    history->setFocus();
    ASSERT_TRUE(testutil::waitFor([&] { return history->hasFocus(); }, 2s));
    QTest::keyClick(history, Qt::Key_A, Qt::ControlModifier);
    EXPECT_EQ(antiIdle.count(), 1);
}

TEST(MainFormMenu, EditMenuWorksOnTheFocusedField)
{
    Fixture fx;
    TMainForm &f = *fx.form;
    f.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&f));
    f.img_LatArrowClick();
    ASSERT_TRUE(testutil::waitFor([&] { return Ctl<QLineEdit>(f, "edt_LatHost")->hasFocus(); }, 2s));
    Ctl<QLineEdit>(f, "edt_LatHost")->setText("gateway.example");
    Ctl<QAction>(f, "SelectAll1")->trigger();
    EXPECT_EQ(Ctl<QLineEdit>(f, "edt_LatHost")->selectedText(), "gateway.example");
    Ctl<QAction>(f, "Clear1")->trigger();
    EXPECT_EQ(Ctl<QLineEdit>(f, "edt_LatHost")->text(), "");

    // The history pane is read-only: Delete leaves it alone, Select All works.
    f.AddLine(Ctl<QTextEdit>(f, "re_History"), "kept");
    Ctl<QTextEdit>(f, "re_History")->setFocus();
    ASSERT_TRUE(testutil::waitFor([&] { return Ctl<QTextEdit>(f, "re_History")->hasFocus(); }, 2s));
    Ctl<QAction>(f, "Clear1")->trigger();
    Ctl<QAction>(f, "Cut1")->trigger();
    EXPECT_EQ(Ctl<QTextEdit>(f, "re_History")->toPlainText(), QString::fromUtf8("\u2022 kept"));
    Ctl<QAction>(f, "SelectAll1")->trigger();
    EXPECT_EQ(Ctl<QTextEdit>(f, "re_History")->textCursor().selectedText(), QString::fromUtf8("\u2022 kept"));

    // A spin field's text is an edit field too.
    Ctl<QSpinBox>(f, "se_LatTO")->setFocus();
    ASSERT_TRUE(testutil::waitFor([&] { return Ctl<QSpinBox>(f, "se_LatTO")->hasFocus(); }, 2s));
    Ctl<QAction>(f, "SelectAll1")->trigger();
    EXPECT_EQ(Ctl<QSpinBox>(f, "se_LatTO")->findChild<QLineEdit *>()->selectedText(), "5");
}

TEST(MainFormShell, AddLineBulletsPlainTextAndScrolls)
{
    Fixture fx;
    TMainForm &f = *fx.form;
    f.AddLine(Ctl<QTextEdit>(f, "re_History"), "first");
    f.AddLine(Ctl<QTextEdit>(f, "re_History"), "<b>not bold</b>");
    for (int i = 0; i < 40; ++i)
        f.AddLine(Ctl<QTextEdit>(f, "re_History"), QString("line %1").arg(i));
    const QStringList lines = Ctl<QTextEdit>(f, "re_History")->toPlainText().split('\n');
    ASSERT_EQ(lines.size(), 42);
    EXPECT_EQ(lines.at(0), QString::fromUtf8("\u2022 first"));
    EXPECT_EQ(lines.at(1), QString::fromUtf8("\u2022 <b>not bold</b>"));
    EXPECT_EQ(lines.at(41), QString::fromUtf8("\u2022 line 39"));
    EXPECT_TRUE(Ctl<QTextEdit>(f, "re_History")->textCursor().atEnd());
}

TEST(MainFormShell, StopwatchDisplayAndModeBlink)
{
    Fixture fx;
    TMainForm &f = *fx.form;
    Ctl<TTickingClock>(f, "TickingClock1")->SetElapsed(5);
    f.TickingClock1Tick();   // display off: nothing shown
    EXPECT_EQ(Ctl<QLabel>(f, "TimeLBL")->text(), "");

    struct Case {
        qint64 elapsed;
        const char *text;
        bool modeShown;
    };
    Ctl<TTickingClock>(f, "TickingClock1")->SetEnabled(true);
    for (const Case &c : {Case{5, "00:00:05", false}, Case{6, "00:00:06", true},
                          Case{59, "00:00:59", true}, Case{60, "00:01:00", false},
                          Case{3600 + 62, "01:01:02", true}, Case{86399, "23:59:59", true}}) {
        Ctl<TTickingClock>(f, "TickingClock1")->SetElapsed(c.elapsed);
        f.TickingClock1Tick();
        EXPECT_EQ(Ctl<QLabel>(f, "TimeLBL")->text(), c.text);
        EXPECT_EQ(!Ctl<QLabel>(f, "ModeLBL")->isHidden(), c.modeShown) << c.text;
    }
}

TEST(MainFormShell, QuotationNeedsShiftCtrlAltAndTheRightButton)
{
    Fixture fx;
    TMainForm &f = *fx.form;
    const auto all = Qt::ShiftModifier | Qt::ControlModifier | Qt::AltModifier;
    struct Case {
        QWidget *target;
        Qt::MouseButton button;
        Qt::KeyboardModifiers mods;
        bool starts;
    };
    const Case cases[] = {
        {Ctl<QLabel>(f, "StatusLBL"), Qt::RightButton, all, true},
        {Ctl<QLabel>(f, "lbl_Question"), Qt::RightButton, all, true},
        {Ctl<QLabel>(f, "StatusLBL"), Qt::LeftButton, all, false},
        {Ctl<QLabel>(f, "StatusLBL"), Qt::RightButton, Qt::ShiftModifier | Qt::ControlModifier, false},
        {Ctl<QLabel>(f, "StatusLBL"), Qt::RightButton, all | Qt::MetaModifier, false},
        {Ctl<QLabel>(f, "StatusLBL"), Qt::RightButton, Qt::NoModifier, false},
        {Ctl<QLabel>(f, "GoodLBL"), Qt::RightButton, all, false},
    };
    for (const Case &c : cases) {
        Ctl<QTimer>(f, "EggTimer")->stop();
        f.SetStatus("Status:");
        c.target->show();
        QTest::mouseRelease(c.target, c.button, c.mods, QPoint(3, 3));
        EXPECT_EQ(Ctl<QTimer>(f, "EggTimer")->isActive(), c.starts) << c.target->objectName().toStdString();
        EXPECT_EQ(Ctl<QLabel>(f, "StatusLBL")->text() != "Status:", c.starts);
    }

    // The full run: five lines, each beginning with a blank, then a clear.
    Ctl<QTimer>(f, "EggTimer")->stop();
    f.StatusLBLMouseUp(Qt::RightButton, all);
    QStringList shown{Ctl<QLabel>(f, "StatusLBL")->text()};
    for (int i = 0; i < 4; ++i) {
        f.EggTimerTimer();
        shown << Ctl<QLabel>(f, "StatusLBL")->text();
    }
    EXPECT_EQ(shown.size(), 5);
    for (const QString &line : shown) {
        EXPECT_TRUE(line.startsWith(' ')) << line.toStdString();
        EXPECT_GT(line.trimmed().size(), 0);
    }
    EXPECT_EQ(QSet<QString>(shown.begin(), shown.end()).size(), 5);
    EXPECT_TRUE(Ctl<QTimer>(f, "EggTimer")->isActive());
    f.EggTimerTimer();
    EXPECT_EQ(Ctl<QLabel>(f, "StatusLBL")->text(), "");
    EXPECT_FALSE(Ctl<QTimer>(f, "EggTimer")->isActive());

    // A new trigger while it runs starts again at line 1.
    f.StatusLBLMouseUp(Qt::RightButton, all);
    f.EggTimerTimer();
    f.EggTimerTimer();
    f.StatusLBLMouseUp(Qt::RightButton, all);
    EXPECT_EQ(Ctl<QLabel>(f, "StatusLBL")->text(), shown.at(0));
    f.EggTimerTimer();   // and goes on with line 2
    EXPECT_EQ(Ctl<QLabel>(f, "StatusLBL")->text(), shown.at(1));
    EXPECT_EQ(Ctl<QTimer>(f, "EggTimer")->interval(), 2000);
}

TEST(MainFormShell, PictureButtonPressEffect)
{
    Fixture fx;
    TMainForm &f = *fx.form;
    TPictureButton *b = Ctl<TPictureButton>(f, "btn_AntiIdle");
    QLabel *caption = b->CaptionLabel();
    const QPoint bp = b->pos(), cp = caption->pos();
    int clicks = 0;
    QObject::connect(b, &TPictureButton::clicked, [&] { ++clicks; });

    QTest::mousePress(b, Qt::LeftButton, {}, QPoint(10, 10));
    EXPECT_EQ(b->pos(), bp + QPoint(1, 1));
    EXPECT_EQ(caption->pos(), cp + QPoint(1, 1));
    EXPECT_EQ(clicks, 0);
    QTest::mouseRelease(b, Qt::LeftButton, {}, QPoint(10, 10));
    EXPECT_EQ(b->pos(), bp);
    EXPECT_EQ(caption->pos(), cp);
    EXPECT_EQ(clicks, 1);

    // Released away from the button: back in place, no click.
    QTest::mousePress(b, Qt::LeftButton, {}, QPoint(10, 10));
    QTest::mouseRelease(b, Qt::LeftButton, {}, QPoint(200, 10));
    EXPECT_EQ(b->pos(), bp);
    EXPECT_EQ(clicks, 1);

    // The right button does nothing.
    QTest::mousePress(b, Qt::RightButton, {}, QPoint(10, 10));
    EXPECT_EQ(b->pos(), bp);
    QTest::mouseRelease(b, Qt::RightButton, {}, QPoint(10, 10));
    EXPECT_EQ(clicks, 1);

    // Enter in a host field presses a button while the key is down.
    InstallEnterPressEffect(fx.idlix->PingTool->edt_PngHost, Ctl<TPictureButton>(f, "btn_Yes"));
    const QPoint yp = Ctl<TPictureButton>(f, "btn_Yes")->pos();
    QTest::keyPress(fx.idlix->PingTool->edt_PngHost, Qt::Key_Return);
    EXPECT_EQ(Ctl<TPictureButton>(f, "btn_Yes")->pos(), yp + QPoint(1, 1));
    QKeyEvent repeat(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier, "\r", true);
    QApplication::sendEvent(fx.idlix->PingTool->edt_PngHost, &repeat);
    EXPECT_EQ(Ctl<TPictureButton>(f, "btn_Yes")->pos(), yp + QPoint(1, 1));   // auto-repeat does not move it further
    QTest::keyRelease(fx.idlix->PingTool->edt_PngHost, Qt::Key_Return);
    EXPECT_EQ(Ctl<TPictureButton>(f, "btn_Yes")->pos(), yp);
}

TEST(MainFormShell, ClosingHidesAndStayOnTopFollowsTheMark)
{
    const testutil::TrayAvailable tray(true);   // with a tray, out of sight means hidden
    Fixture fx;
    TMainForm &f = *fx.form;
    ASSERT_TRUE(f.isVisible());
    EXPECT_FALSE(f.close());   // refused: the window only hides
    EXPECT_FALSE(f.isVisible());
    f.show();
    Ctl<QAction>(f, "HideIdlix1")->trigger();
    EXPECT_FALSE(f.isVisible());
    f.show();

    ASSERT_TRUE(Ctl<QAction>(f, "StayOnTop1")->isChecked());
    ASSERT_TRUE(f.windowFlags().testFlag(Qt::WindowStaysOnTopHint));
    Ctl<QAction>(f, "StayOnTop1")->trigger();
    EXPECT_FALSE(Ctl<QAction>(f, "StayOnTop1")->isChecked());
    EXPECT_FALSE(f.windowFlags().testFlag(Qt::WindowStaysOnTopHint));
    EXPECT_TRUE(f.isVisible());   // taking effect did not leave it hidden
    Ctl<QAction>(f, "StayOnTop1")->trigger();
    EXPECT_TRUE(f.windowFlags().testFlag(Qt::WindowStaysOnTopHint));
}

TEST(MainFormShell, MissingHelpFileIsReported)
{
    Fixture fx;
    Ctl<QAction>(fx.form, "Help2")->trigger();
    ASSERT_EQ(fx.messages.size(), 1);
    EXPECT_EQ(fx.messages.at(0), "Help File Not Found!");
}
