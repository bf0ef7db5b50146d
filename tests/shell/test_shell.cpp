// What the window offers the features: the backdrop held by a use count, the
// switches with their running state, and the tools that are not built.
#include "desktop/msgbox.h"
#include "shell/mainform.h"
#include "shell/widepanel.h"
#include "widgets/picturebutton.h"
#include "widgets/toolswitch.h"
#include "../support/testutil.h"
#include "shellwindow.h"
#include "../support/ctl.h"

#include <QAction>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEvent>
#include <QFontMetrics>
#include <QFrame>
#include <QProgressBar>
#include <QLabel>
#include <gtest/gtest.h>

#include <memory>

using shelltest::Window;

TEST(Backdrop, ShowsFromTheFirstUserAndHidesAfterTheLast)
{
    Window w;
    TMainForm &f = *w.form;
    ASSERT_TRUE(Ctl<QLabel>(f, "img_Bg2")->isHidden());
    TBackdropHold ping(f), servers(f), report(f);
    struct Step {
        TBackdropHold *hold;
        bool held;
        int users;       // holders after the step
    };
    // Two panels open, one closes (the backdrop stays), a holder asks twice
    // (counted once), and the last one closes.
    const Step steps[] = {
        {&ping, true, 1},    {&servers, true, 2}, {&servers, true, 2}, {&ping, false, 1},
        {&ping, false, 1},   {&report, true, 2},  {&servers, false, 1}, {&report, false, 0},
        {&report, false, 0}, {&ping, true, 1},    {&ping, false, 0},
    };
    int i = 0;
    for (const Step &s : steps) {
        s.hold->Set(s.held);
        EXPECT_EQ(f.BackdropUsers(), s.users) << "step " << i;
        EXPECT_EQ(Ctl<QLabel>(f, "img_Bg2")->isHidden(), s.users == 0) << "step " << i;
        ++i;
    }
    // A release without a hold cannot take the count below zero.
    f.ReleaseBackdrop();
    EXPECT_EQ(f.BackdropUsers(), 0);
    f.AcquireBackdrop();
    EXPECT_FALSE(Ctl<QLabel>(f, "img_Bg2")->isHidden());
    f.ReleaseBackdrop();
    EXPECT_TRUE(Ctl<QLabel>(f, "img_Bg2")->isHidden());
}

TEST(WidePanel, OpensInFrontOnTheBackdropAndClosesOffIt)
{
    Window w;
    TMainForm &f = *w.form;
    TWidePanel ping(f, TPanelId::Ping), servers(f, TPanelId::Servers), resolve(f, TPanelId::Resolve);
    auto *bg2 = Ctl<QLabel>(f, "img_Bg2");
    enum { Close, Open };
    struct Step {
        TWidePanel *panel;
        int act;
        int users;       // holders of the backdrop after the step
    };
    // The narrow resolve panel stands on nothing; a panel closed twice lets
    // the backdrop go once.
    const Step steps[] = {
        {&ping, Open, 1},    {&resolve, Open, 1}, {&servers, Open, 2}, {&ping, Close, 1},
        {&ping, Close, 1},   {&resolve, Close, 1}, {&ping, Open, 2},   {&servers, Close, 1},
        {&ping, Close, 0},
    };
    int i = 0;
    for (const Step &s : steps) {
        SCOPED_TRACE(i++);
        QFrame *frame = s.panel->Frame();
        if (s.act == Open)
            s.panel->Open();
        else
            s.panel->Close();
        EXPECT_EQ(s.panel->IsOpen(), s.act == Open);
        EXPECT_EQ(frame->isHidden(), s.act == Close);
        EXPECT_EQ(f.BackdropUsers(), s.users);
        EXPECT_EQ(bg2->isHidden(), s.users == 0);
        // An opened panel is in front of every other; a closed one at the back.
        const QList<QWidget *> stack = frame->parentWidget()->findChildren<QWidget *>(Qt::FindDirectChildrenOnly);
        EXPECT_EQ(s.act == Open ? stack.last() : stack.first(), frame);
    }
}

TEST(ToolRegistry, TheWindowAnswersWhichToolsRun)
{
    Window w;
    TMainForm &f = *w.form;
    EXPECT_TRUE(f.RunningTools().isEmpty());
    f.Switch(TToolId::Ping).SetRunning(true);
    f.Switch(TToolId::Latency).SetRunning(true);
    EXPECT_EQ(f.RunningTools(), (QList<TToolId>{TToolId::Latency, TToolId::Ping}));
    EXPECT_FALSE(Ctl<QLabel>(f, "img_PngGreen")->isHidden());
    EXPECT_TRUE(Ctl<QLabel>(f, "img_PngRed")->isHidden());
    f.Switch(TToolId::Latency).SetRunning(false);
    EXPECT_EQ(f.RunningTools(), QList<TToolId>{TToolId::Ping});

    // Each switch is made of the controls of its row.
    struct Row {
        TToolId tool;
        TPictureButton *button;
        QAction *item;
    };
    for (const Row &r : {Row{TToolId::AntiIdle, Ctl<TPictureButton>(f, "btn_AntiIdle"), Ctl<QAction>(f, "AntiIdle1")},
                         Row{TToolId::Finger, Ctl<TPictureButton>(f, "btn_Finger"), Ctl<QAction>(f, "Finger1")},
                         Row{TToolId::Latency, Ctl<TPictureButton>(f, "btn_Latency"), Ctl<QAction>(f, "LatencyTest1")},
                         Row{TToolId::Ping, Ctl<TPictureButton>(f, "btn_Ping"), Ctl<QAction>(f, "Ping1")},
                         Row{TToolId::Trace, Ctl<TPictureButton>(f, "btn_Trace"), Ctl<QAction>(f, "TraceRoute1")},
                         Row{TToolId::ISPTree, nullptr, Ctl<QAction>(f, "ISPTree1")},
                         Row{TToolId::Resolve, nullptr, Ctl<QAction>(f, "Resolve1")}}) {
        EXPECT_EQ(f.Switch(r.tool).Parts().Button, r.button);
        EXPECT_EQ(f.Switch(r.tool).Parts().ToolItem, r.item);
    }
}

TEST(ToolRegistry, ToolsNobodyBoundAreDisabled)
{
    Window w;
    TMainForm &f = *w.form;
    int pings = 0;
    f.Switch(TToolId::Ping).Bind([&] { ++pings; });
    f.DisableUnboundTools();
    EXPECT_TRUE(Ctl<TPictureButton>(f, "btn_Ping")->isEnabled());
    EXPECT_TRUE(Ctl<QAction>(f, "Ping1")->isEnabled());
    for (QAction *a : {Ctl<QAction>(f, "AntiIdle1"), Ctl<QAction>(f, "Finger1"), Ctl<QAction>(f, "LatencyTest1"), Ctl<QAction>(f, "TraceRoute1"), Ctl<QAction>(f, "ISPTree1"),
                       Ctl<QAction>(f, "Resolve1")})
        EXPECT_FALSE(a->isEnabled()) << a->objectName().toStdString();
    for (TPictureButton *b : {Ctl<TPictureButton>(f, "btn_AntiIdle"), Ctl<TPictureButton>(f, "btn_Finger"), Ctl<TPictureButton>(f, "btn_Latency"), Ctl<TPictureButton>(f, "btn_Trace")})
        EXPECT_FALSE(b->isEnabled()) << b->objectName().toStdString();
    // Options stay reachable: they are the window's own.
    EXPECT_TRUE(Ctl<QAction>(f, "Traceroute2")->isEnabled());
    EXPECT_TRUE(Ctl<QAction>(f, "DialUpOptions1")->isEnabled());
    Ctl<QAction>(f, "Ping1")->trigger();
    Ctl<QAction>(f, "Finger1")->trigger();
    EXPECT_EQ(pings, 1);
}

// A writer inside a long step asks for the status line to be repainted with
// every piece (a transfer: "Status: Received N bytes..." per piece). The
// label holds every text at once; what is painted is never more than a
// frame behind, and a burst costs about one picture a frame.
TEST(StatusLine, RepaintedAtOnceButAtMostOnceAFrame)
{
    Window w;
    TMainForm &f = *w.form;
    ASSERT_TRUE(testutil::waitFor([&] { return Ctl<QLabel>(f, "StatusLBL")->isVisible(); }, std::chrono::seconds(2)));
    testutil::pump(std::chrono::milliseconds(50));
    // The text each paint of the status line showed, as it happened.
    struct PaintLog : QObject {
        QStringList texts;
        bool eventFilter(QObject *o, QEvent *e) override
        {
            if (e->type() == QEvent::Paint)
                texts << static_cast<QLabel *>(o)->text();
            return false;
        }
    } log;
    Ctl<QLabel>(f, "StatusLBL")->installEventFilter(&log);

    f.SetStatus("Status: Receiving file...", true);
    ASSERT_EQ(log.texts, QStringList{"Status: Receiving file..."});   // painted before returning
    QElapsedTimer took;
    took.start();
    constexpr int kPieces = 1000;
    for (int i = 1; i <= kPieces; ++i) {
        const QString text = QStringLiteral("Status: Received %1 bytes...").arg(i * 8192);
        f.SetStatus(text, true);
        ASSERT_EQ(Ctl<QLabel>(f, "StatusLBL")->text(), text);
        if (i % 20 == 0)
            QCoreApplication::processEvents();   // as the transfer's wait loop does
    }
    const qint64 ms = took.elapsed();
    // A frame later the last text is on the screen.
    testutil::pump(std::chrono::milliseconds(3 * 16));
    ASSERT_FALSE(log.texts.isEmpty());
    EXPECT_EQ(log.texts.last(), QStringLiteral("Status: Received %1 bytes...").arg(kPieces * 8192));
    // Repaints asked for: one at once, then about one a frame; ordinary
    // updates of the label (one per loop pass at most) come on top.
    EXPECT_LE(log.texts.size(), ms / 16 + 2 + kPieces / 20) << ms << " ms";
    EXPECT_LT(log.texts.size(), kPieces / 4);
    // A request of its own a frame later is painted at once again.
    const int before = int(log.texts.size());
    f.SetStatus("Status: Update finished.", true);
    EXPECT_EQ(log.texts.size(), before + 1);
    EXPECT_EQ(log.texts.last(), "Status: Update finished.");
    Ctl<QLabel>(f, "StatusLBL")->removeEventFilter(&log);
}

// The status line keeps its place and size: a text naming a full IPv6
// address that is wider than it is set smaller, a text that fits it alone is
// set smaller while the gauge covers its right end, and whatever does not
// fit is in its tool tip; a text that fits keeps the designed font and hint.
TEST(StatusLine, LongTextsShrinkToTheRoomTheGaugeLeavesAndTellTheRestInTheTip)
{
    Window w;
    TMainForm &f = *w.form;
    const QRect place = Ctl<QLabel>(f, "StatusLBL")->geometry();
    const QFont designed = Ctl<QLabel>(f, "StatusLBL")->font();
    const QString address = QStringLiteral("fd00:200:3:0:fedc:ba98:7654:3210");
    const QString wide = QStringLiteral("Status: Lookup complete: long.v6.idlix.test (%1) and %1")
                             .arg(address);
    const QString fits = QStringLiteral("Status: Tracing to host.v6");
    // Wider than what the gauge leaves, by one character, whatever the fonts.
    const int besideGauge = Ctl<QProgressBar>(f, "Gauge1")->x() - Ctl<QLabel>(f, "StatusLBL")->x();
    QString medium = QStringLiteral("Status: ");
    while (QFontMetrics(designed).horizontalAdvance(medium) <= besideGauge)
        medium += address.at(medium.size() % address.size());

    f.SetStatus(wide);
    const int alone = Ctl<QLabel>(f, "StatusLBL")->font().pixelSize();
    EXPECT_LT(alone, designed.pixelSize());
    EXPECT_EQ(Ctl<QLabel>(f, "StatusLBL")->toolTip(), wide);
    Ctl<QProgressBar>(f, "Gauge1")->show();
    EXPECT_LE(Ctl<QLabel>(f, "StatusLBL")->font().pixelSize(), alone);
    EXPECT_EQ(Ctl<QLabel>(f, "StatusLBL")->toolTip(), wide);

    Ctl<QProgressBar>(f, "Gauge1")->hide();
    f.SetStatus(medium, true);
    EXPECT_EQ(Ctl<QLabel>(f, "StatusLBL")->font(), designed);
    EXPECT_EQ(Ctl<QLabel>(f, "StatusLBL")->toolTip(), "Idlix status");
    Ctl<QProgressBar>(f, "Gauge1")->show();   // the status is fitted again, without a new text
    EXPECT_LT(Ctl<QLabel>(f, "StatusLBL")->font().pixelSize(), designed.pixelSize());
    EXPECT_LE(QFontMetrics(Ctl<QLabel>(f, "StatusLBL")->font()).horizontalAdvance(medium), besideGauge);
    EXPECT_EQ(Ctl<QLabel>(f, "StatusLBL")->toolTip(), medium);

    f.SetStatus(fits);
    EXPECT_EQ(Ctl<QLabel>(f, "StatusLBL")->font(), designed);
    EXPECT_EQ(Ctl<QLabel>(f, "StatusLBL")->toolTip(), "Idlix status");
    EXPECT_EQ(Ctl<QLabel>(f, "StatusLBL")->geometry(), place);
}
