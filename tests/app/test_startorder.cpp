// The start-up as a user sees it: the window goes on the screen as soon as
// what it shows is in place, before the hidden option panels, the features
// and the tray icon are made; what it showed then is what the finished window
// shows; the rest is in place before the user's first click can be taken.
#include "app/idlix.h"
#include "desktop/msgbox.h"
#include "desktop/pictures.h"
#include "dialup/dialupcontrol.h"
#include "net/ras.h"
#include "shell/holdform.h"
#include "shell/mainform.h"
#include "shell/trayicon.h"
#include "../support/ctl.h"
#include "../support/qtprint.h"
#include "../support/testutil.h"
#include "../support/trayoverride.h"
#include "platform/services.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QEvent>
#include <QLabel>
#include <QLineEdit>
#include <QScreen>
#include <QSpinBox>
#include <gtest/gtest.h>

#include <memory>

namespace {

// What had been made when the main window first painted.
class FirstPaintProbe : public QObject {
public:
    FirstPaintProbe() { qApp->installEventFilter(this); }
    ~FirstPaintProbe() override { qApp->removeEventFilter(this); }

    bool painted = false;
    bool optionPanelsMade = false;   // the Anti-Idle Options panel existed
    bool featuresMade = false;       // the dial-up control existed
    bool trayIconUp = false;         // the hold window's icon was in the tray
    bool onTop = false;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        auto *form = qobject_cast<TMainForm *>(watched);
        if (painted || !form || event->type() != QEvent::Paint)
            return false;
        painted = true;
        optionPanelsMade = form->findChild<QWidget *>("sb_AI") != nullptr;
        featuresMade = form->findChild<QObject *>("DialUpControl") != nullptr;
        for (QWidget *w : QApplication::topLevelWidgets())
            if (auto *hold = qobject_cast<THoldForm *>(w); hold && hold->TrayIcon1)
                trayIconUp = hold->TrayIcon1->Active();
        onTop = form->windowFlags().testFlag(Qt::WindowStaysOnTopHint);
        return false;
    }
};

// The program's two windows, as main() makes them, on a scratch folder
// holding 'ini', with the phone book 'book', on a desktop with a tray;
// message boxes are collected.
struct Start {
    testutil::ScratchDir dir;
    testutil::TrayAvailable tray{true};
    QStringList messages;
    FirstPaintProbe probe;
    std::unique_ptr<THoldForm> hold;
    std::unique_ptr<TIdlix> idlix;
    TMainForm *form = nullptr;

    Start(const QByteArray &ini, const QByteArray &book)
    {
        testutil::writeFile(dir.file("idlix2.ini"), ini);
        testutil::writeFile(dir.file("book.ini"), book);
        qputenv("IDLIX_PHONEBOOK", dir.file("book.ini").toLocal8Bit());
        platform::Services().Message = [this](const QString &t) { messages << t; };
        hold = std::make_unique<THoldForm>();
        idlix = std::make_unique<TIdlix>(hold.get());
        form = idlix->Form.get();
    }
    ~Start()
    {
        idlix.reset();
        hold.reset();
        platform::Services().Message = {};
        qunsetenv("IDLIX_PHONEBOOK");
    }
};

QImage Rgb(const QPixmap &p)
{
    return p.toImage().convertToFormat(QImage::Format_RGB32);
}

} // namespace

TEST(StartOrder, TheWindowPaintsWhatItShowsBeforeTheRestIsMade)
{
    const struct {
        const char *name;
        QByteArray ini;
        bool onTop;
    } rows[] = {
        {"defaults", "", true},
        {"not on top, options set",
         "[General]\r\nStay on Top=0\r\n[Anti-Idle Options]\r\nMethod=1\r\nHost=probe.example\r\n", false},
    };
    for (const auto &r : rows) {
        SCOPED_TRACE(r.name);
        Start s(r.ini, "[First]\nStepMs=5\n");
        const FirstPaintProbe &p = s.probe;
        ASSERT_TRUE(p.painted);
        EXPECT_FALSE(p.optionPanelsMade);
        EXPECT_FALSE(p.featuresMade);
        EXPECT_FALSE(p.trayIconUp);
        EXPECT_EQ(p.onTop, r.onTop);
        // What went to the screen then (no event has been handled since) is
        // what the finished window draws now.
        QScreen *screen = s.form->screen();
        ASSERT_NE(screen, nullptr);
        EXPECT_TRUE(Rgb(screen->grabWindow(s.form->winId())) == Rgb(s.form->grab()))
            << "the first paint differs from the finished window";
        EXPECT_TRUE(s.messages.isEmpty());
    }
}

TEST(StartOrder, TheSettingsAreInPlaceAndConnectOnStartHasDialledBeforeTheLoopRuns)
{
    // Nothing has run the event loop when the constructor returns: a click
    // comes after this at the earliest. The option panels and the dial-up
    // entry list, made after the first paint, already hold the settings, and
    // "Connect on start" has dialled the stored connection.
    Start s("[Anti-Idle Options]\r\nHost=probe.example\r\n[Latency Test]\r\nTime-out=7\r\n"
            "[Traceroute Options]\r\nTest Packet=0\r\n"
            "[Dial-Up Options]\r\nConnection=1\r\nConnect On Start=1\r\n",
            "[First]\nStepMs=5\n[Second]\nStepMs=5000\n[Third]\nStepMs=5\n");
    TMainForm &f = *s.form;
    EXPECT_FALSE(s.probe.featuresMade);
    EXPECT_EQ(Ctl<QLineEdit>(f, "edt_AIHost")->text(), "probe.example");
    EXPECT_EQ(Ctl<QSpinBox>(f, "se_LatTO")->value(), 7);
    EXPECT_FALSE(Ctl<QCheckBox>(f, "cb_TrcTestPack")->isChecked());
    EXPECT_EQ(Ctl<QComboBox>(f, "cb_RasConnect")->currentText(), "Second");
    EXPECT_EQ(Ctl<QLabel>(f, "StatusLBL")->text(), "Status: Attemping to connect to Second...");
    EXPECT_EQ(s.idlix->DialUp->RAS1->EntryName(), "Second");
}

TEST(StartOrder, TheTrayIconAndTheBackdropComeAfterTheFirstPaint)
{
    Start s("", "[First]\nStepMs=5\n");
    testutil::pump(std::chrono::milliseconds(50));
    TMainForm &f = *s.form;
    // The icon put up after the first paint is in the tray, and a click on
    // it reaches the window.
    ASSERT_NE(s.hold->TrayIcon1, nullptr);
    EXPECT_TRUE(s.hold->TrayIcon1->Service()->Shown());
    f.hide();
    s.hold->TrayIcon1Click();
    EXPECT_TRUE(f.isVisible());

    // The backdrop, decoded only when a wide panel first stands on it, is
    // the shipped picture and is drawn in the window then.
    auto *backdrop = Ctl<QLabel>(f, "img_Bg2");
    ASSERT_TRUE(backdrop->isHidden());
    const QImage without = Rgb(f.grab());
    f.AcquireBackdrop();
    const QImage expected = Rgb(desktop::Picture("backdrop.jpg"));
    ASSERT_FALSE(expected.isNull());
    EXPECT_EQ(Rgb(backdrop->grab()), expected.scaled(backdrop->size()));
    EXPECT_NE(Rgb(f.grab()), without);
    EXPECT_TRUE(s.messages.isEmpty());
}
