// The resolve tool on a window without the test network: the panel and its
// controls, opening and closing with the check mark, Cancel with nothing
// pending, the Enter key's press effect, and loopback's own name.
#include "lookuptools.h"

#include "net/wsextra.h"
#include "widgets/picturebutton.h"
#include "../support/ctl.h"

#include <QAction>
#include <QLabel>
#include <QLineEdit>
#include <QTest>
#include <gtest/gtest.h>

using namespace std::chrono_literals;

namespace {

class ResolveTool : public ::testing::Test {
protected:
    void SetUp() override
    {
        w = std::make_unique<lookuptest::Window>();
        f = w->form.get();
        rsv = w->rsv;
    }
    std::unique_ptr<lookuptest::Window> w;
    TMainForm *f = nullptr;
    TResolveTool *rsv = nullptr;
};

} // namespace

TEST_F(ResolveTool, PanelHoldsItsControls)
{
    EXPECT_TRUE(Ctl<QAction>(f, "Resolve1")->isEnabled());
    EXPECT_EQ(Ctl<QAction>(f, "Resolve1")->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_R));
    EXPECT_TRUE(Ctl<QAction>(f, "Resolve1")->isCheckable());
    EXPECT_EQ(rsv->WSocket1->objectName(), "WSocket1");
    const struct {
        QLabel *label;
        const char *name, *text;
    } captions[] = {
        {rsv->lbl_RsvResolve, "lbl_RsvResolve", "Resolve"},
        {rsv->lbl_RsvCancel, "lbl_RsvCancel", "Cancel"},
        {rsv->lbl_RsvClose, "lbl_RsvClose", "Close"},
    };
    for (const auto &c : captions) {
        EXPECT_EQ(c.label->objectName(), c.name);
        EXPECT_EQ(c.label->text(), c.text);
        EXPECT_EQ(c.label->parentWidget(), Ctl<QFrame>(f, "pnl_Resolve"));
    }
    QStringList texts;
    for (const QLabel *l : Ctl<QFrame>(f, "pnl_Resolve")->findChildren<QLabel *>())
        texts << l->text();
    EXPECT_TRUE(texts.contains("Host/IP (Leave blank for local host):"));
    EXPECT_TRUE(texts.contains("Resolved Host/IP:"));
    for (QLineEdit *edit : {rsv->edt_RsvHost, rsv->edt_RsvHostRsv}) {
        EXPECT_EQ(edit->parentWidget(), Ctl<QFrame>(f, "pnl_Resolve"));
        EXPECT_EQ(edit->toolTip(), "Enter hostname to trace");
        EXPECT_EQ(edit->palette().color(QPalette::Text), QColor(Qt::white));
        EXPECT_EQ(edit->palette().color(QPalette::Base), QColor(Qt::black));
        EXPECT_EQ(edit->font().pointSize(), 7);
    }
}

TEST_F(ResolveTool, MenuAndCloseButtonOpenAndCloseWithTheCheckMark)
{
    EXPECT_TRUE(Ctl<QFrame>(f, "pnl_Resolve")->isHidden());
    EXPECT_FALSE(Ctl<QAction>(f, "Resolve1")->isChecked());
    Ctl<QAction>(f, "Resolve1")->trigger();
    EXPECT_FALSE(Ctl<QFrame>(f, "pnl_Resolve")->isHidden());
    EXPECT_TRUE(Ctl<QAction>(f, "Resolve1")->isChecked());
    EXPECT_TRUE(rsv->PanelOpen());

    // Closing by the menu and by the Close button alike.
    for (bool byButton : {false, true}) {
        SCOPED_TRACE(byButton ? "button" : "menu");
        rsv->edt_RsvHost->setText("some host");
        rsv->edt_RsvHostRsv->setText("some result");
        f->SetStatus("Status: busy");
        if (byButton)
            rsv->btn_RsvClose->Click();
        else
            Ctl<QAction>(f, "Resolve1")->trigger();
        EXPECT_TRUE(Ctl<QFrame>(f, "pnl_Resolve")->isHidden());
        EXPECT_FALSE(Ctl<QAction>(f, "Resolve1")->isChecked());
        EXPECT_EQ(Ctl<QLabel>(f, "StatusLBL")->text(), "Status:");
        EXPECT_TRUE(rsv->edt_RsvHost->text().isEmpty());
        EXPECT_TRUE(rsv->edt_RsvHostRsv->text().isEmpty());
        Ctl<QAction>(f, "Resolve1")->trigger();
        EXPECT_FALSE(Ctl<QFrame>(f, "pnl_Resolve")->isHidden());
        EXPECT_TRUE(Ctl<QAction>(f, "Resolve1")->isChecked());
    }
}

TEST_F(ResolveTool, CancelWithNothingPendingChangesNothing)
{
    Ctl<QAction>(f, "Resolve1")->trigger();
    rsv->edt_RsvHost->setText("a host");
    rsv->edt_RsvHostRsv->setText("a result");
    f->SetStatus("Status: before");
    rsv->btn_RsvNo->Click();
    EXPECT_EQ(rsv->edt_RsvHost->text(), "a host");
    EXPECT_EQ(rsv->edt_RsvHostRsv->text(), "a result");
    EXPECT_EQ(Ctl<QLabel>(f, "StatusLBL")->text(), "Status: before");
}

TEST_F(ResolveTool, EnterGivesResolveThePressEffect)
{
    Ctl<QAction>(f, "Resolve1")->trigger();
    for (QLineEdit *edit : {rsv->edt_RsvHost, rsv->edt_RsvHostRsv}) {
        SCOPED_TRACE(edit->objectName().toStdString());
        rsv->edt_RsvHost->setText("127.0.0.1");
        const QPoint button = rsv->btn_RsvYes->pos(), caption = rsv->lbl_RsvResolve->pos();
        QTest::keyPress(edit, Qt::Key_Return);
        EXPECT_EQ(rsv->btn_RsvYes->pos(), button + QPoint(1, 1));
        EXPECT_EQ(rsv->lbl_RsvResolve->pos(), caption + QPoint(1, 1));
        QTest::keyRelease(edit, Qt::Key_Return);
        EXPECT_EQ(rsv->btn_RsvYes->pos(), button);
        EXPECT_EQ(rsv->lbl_RsvResolve->pos(), caption);
        // The key ran Resolve: loopback's name from the hosts file.
        ASSERT_TRUE(testutil::waitFor([&] { return !rsv->Run.RsvRun.Active(); }, 5000ms));
        const std::optional<THostEntry> expected = LookupHostByAddress("127.0.0.1");
        EXPECT_EQ(rsv->edt_RsvHostRsv->text(),
                  expected ? expected->Name : QString("invalid Host/IP address"));
    }
}
