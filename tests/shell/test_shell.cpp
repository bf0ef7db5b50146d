// What the window offers the features: the backdrop held by a use count, the
// switches with their running state, and the tools that are not built.
#include "desktop/msgbox.h"
#include "shell/mainform.h"
#include "widgets/picturebutton.h"
#include "widgets/toolswitch.h"
#include "../support/testutil.h"
#include "shellwindow.h"

#include <QAction>
#include <QFrame>
#include <QLabel>
#include <gtest/gtest.h>

#include <memory>

using shelltest::Window;

TEST(Backdrop, ShowsFromTheFirstUserAndHidesAfterTheLast)
{
    Window w;
    TMainForm &f = *w.form;
    ASSERT_TRUE(f.img_Bg2->isHidden());
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
        EXPECT_EQ(f.img_Bg2->isHidden(), s.users == 0) << "step " << i;
        ++i;
    }
    // A release without a hold cannot take the count below zero.
    f.ReleaseBackdrop();
    EXPECT_EQ(f.BackdropUsers(), 0);
    f.AcquireBackdrop();
    EXPECT_FALSE(f.img_Bg2->isHidden());
    f.ReleaseBackdrop();
    EXPECT_TRUE(f.img_Bg2->isHidden());
}

TEST(ToolRegistry, TheWindowAnswersWhichToolsRun)
{
    Window w;
    TMainForm &f = *w.form;
    EXPECT_TRUE(f.RunningTools().isEmpty());
    f.Switch(TToolId::Ping).SetRunning(true);
    f.Switch(TToolId::Latency).SetRunning(true);
    EXPECT_EQ(f.RunningTools(), (QList<TToolId>{TToolId::Latency, TToolId::Ping}));
    EXPECT_FALSE(f.img_PngGreen->isHidden());
    EXPECT_TRUE(f.img_PngRed->isHidden());
    f.Switch(TToolId::Latency).SetRunning(false);
    EXPECT_EQ(f.RunningTools(), QList<TToolId>{TToolId::Ping});

    // Each switch is made of the controls of its row.
    struct Row {
        TToolId tool;
        TPictureButton *button;
        QAction *item;
    };
    for (const Row &r : {Row{TToolId::AntiIdle, f.btn_AntiIdle, f.AntiIdle1},
                         Row{TToolId::Finger, f.btn_Finger, f.Finger1},
                         Row{TToolId::Latency, f.btn_Latency, f.LatencyTest1},
                         Row{TToolId::Ping, f.btn_Ping, f.Ping1},
                         Row{TToolId::Trace, f.btn_Trace, f.TraceRoute1},
                         Row{TToolId::ISPTree, nullptr, f.ISPTree1},
                         Row{TToolId::Resolve, nullptr, f.Resolve1}}) {
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
    EXPECT_TRUE(f.btn_Ping->isEnabled());
    EXPECT_TRUE(f.Ping1->isEnabled());
    for (QAction *a : {f.AntiIdle1, f.Finger1, f.LatencyTest1, f.TraceRoute1, f.ISPTree1,
                       f.Resolve1})
        EXPECT_FALSE(a->isEnabled()) << a->objectName().toStdString();
    for (TPictureButton *b : {f.btn_AntiIdle, f.btn_Finger, f.btn_Latency, f.btn_Trace})
        EXPECT_FALSE(b->isEnabled()) << b->objectName().toStdString();
    // Options stay reachable: they are the window's own.
    EXPECT_TRUE(f.Traceroute2->isEnabled());
    EXPECT_TRUE(f.DialUpOptions1->isEnabled());
    f.Ping1->trigger();
    f.Finger1->trigger();
    EXPECT_EQ(pings, 1);
}
