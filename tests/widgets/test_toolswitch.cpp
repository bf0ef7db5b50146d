// The tool switch: one call shows a tool on or off everywhere, the state is
// the switch's own, and an unbound tool does nothing.
#include "widgets/picturebutton.h"
#include "widgets/toolswitch.h"

#include <QAction>
#include <QLabel>
#include <QPixmap>
#include <QWidget>
#include <gtest/gtest.h>

namespace {

struct Column {
    QWidget window;
    TPictureButton *button = new TPictureButton(&window);
    QLabel *caption = new QLabel("Tool", &window);
    QLabel *red = new QLabel(&window);
    QLabel *green = new QLabel(&window);
    TPictureButton *arrow = new TPictureButton(&window);
    QAction tool{"&Tool"}, options{"&Tool options"}, other{"&Other"};
    TToolSwitch sw{{button, caption, red, green, arrow, &tool, &options}, &window};
    Column()
    {
        button->SetImages({QPixmap(4, 4), QPixmap(4, 4)});
        button->SetImageIndex(0);
        green->hide();
        window.show();
    }
};

} // namespace

TEST(ToolSwitch, RunningStateIsShownByEveryPart)
{
    Column c;
    c.sw.LockedWhileOn = {&c.tool, &c.other};
    struct Step {
        bool on;
    };
    for (const Step s : {Step{true}, Step{true}, Step{false}, Step{true}, Step{false}}) {
        c.sw.SetRunning(s.on);
        EXPECT_EQ(c.sw.Running(), s.on);
        EXPECT_EQ(c.button->ImageIndex(), s.on ? 1 : 0);
        EXPECT_EQ(c.green->isHidden(), !s.on);
        EXPECT_EQ(c.red->isHidden(), s.on);
        EXPECT_EQ(c.arrow->isHidden(), s.on);
        EXPECT_EQ(c.tool.isEnabled(), !s.on);
        EXPECT_EQ(c.other.isEnabled(), !s.on);
        EXPECT_TRUE(c.options.isEnabled());   // not in the locked list
    }
}

TEST(ToolSwitch, SwitchAndMenuItemReachTheBoundToolOnly)
{
    Column c;
    // Unbound: clicks go nowhere.
    c.button->Click();
    c.tool.trigger();
    int toggles = 0;
    c.sw.Bind([&] {
        ++toggles;
        c.sw.SetRunning(!c.sw.Running());
    });
    EXPECT_TRUE(c.button->isEnabled());
    EXPECT_TRUE(c.tool.isEnabled());
    c.button->Click();
    EXPECT_EQ(toggles, 1);
    EXPECT_TRUE(c.sw.Running());
    c.tool.trigger();   // the menu item clicks the switch
    EXPECT_EQ(toggles, 2);
    EXPECT_FALSE(c.sw.Running());

    // A tool that is not part of the program is disabled, menu item and all.
    c.sw.SetAvailable(false);
    EXPECT_FALSE(c.button->isEnabled());
    EXPECT_FALSE(c.tool.isEnabled());
    c.tool.trigger();
    EXPECT_EQ(toggles, 2);
}

TEST(ToolSwitch, MenuOnlyToolRunsFromItsItem)
{
    QWidget window;
    QAction item("&Resolve");
    TToolSwitch sw({nullptr, nullptr, nullptr, nullptr, nullptr, &item, nullptr}, &window);
    int runs = 0;
    sw.Bind([&] { ++runs; });
    item.trigger();
    EXPECT_EQ(runs, 1);
    sw.SetRunning(true);   // no pictures to show it on: only the state changes
    EXPECT_TRUE(sw.Running());
}
