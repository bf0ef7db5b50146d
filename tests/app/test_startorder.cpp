// The start-up as a user sees it. The window goes on the screen as soon as
// everything it shows is in place (the settings read, Stay on Top applied,
// the history pane in front), before the hidden
// option panels, the features and the tray icon are made; what it showed
// then is what it shows once all is built; and the rest (the option panels
// filled from the settings, the dial-up entry list with the stored
// connection, "Connect on start", the tray icon, the backdrop picture) is in
// place before the event loop runs, that is before the user's first click
// can be taken.
#include "app/idlix.h"
#include "desktop/msgbox.h"
#include "desktop/pictures.h"
#include "desktop/trayservice.h"
#include "dialup/dialupcontrol.h"
#include "net/ras.h"
#include "shell/holdform.h"
#include "shell/mainform.h"
#include "shell/trayicon.h"
#include "widgets/optioncontrols.h"
#include "widgets/toolswitch.h"
#include "../support/ctl.h"
#include "../support/testutil.h"
#include "../support/trayoverride.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QEvent>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QScreen>
#include <QSpinBox>
#include <gtest/gtest.h>

#include <memory>

inline void PrintTo(const QString &s, std::ostream *os) { *os << '"' << s.toStdString() << '"'; }

namespace {

// What the main window held when it first painted.
class FirstPaintProbe : public QObject {
public:
    FirstPaintProbe() { qApp->installEventFilter(this); }
    ~FirstPaintProbe() override { qApp->removeEventFilter(this); }

    bool painted = false;
    bool optionPanelsMade = false;   // the Anti-Idle Options panel existed
    bool featuresMade = false;       // the dial-up control existed
    bool trayIconUp = false;         // the hold window's icon was in the tray
    bool onTop = false;
    bool historyShown = false;
    QString status;

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
        historyShown = Ctl<QFrame>(form, "pnl_History")->isVisible();
        status = Ctl<QLabel>(form, "StatusLBL")->text();
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
        desktop::SetMessageHook([this](const QString &t) { messages << t; });
        hold = std::make_unique<THoldForm>();
        idlix = std::make_unique<TIdlix>(hold.get());
        form = idlix->Form.get();
    }
    ~Start()
    {
        idlix.reset();
        hold.reset();
        desktop::SetMessageHook({});
        qunsetenv("IDLIX_PHONEBOOK");
    }
};

QImage Normalised(const QImage &image)
{
    return image.convertToFormat(QImage::Format_RGB32);
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
         "[General]\r\nStay on Top=0\r\n[Anti-Idle Options]\r\nMethod=1\r\nHost=probe.example\r\n"
         "[Dial-Up Options]\r\nConnection=1\r\n",
         false},
    };
    for (const auto &r : rows) {
        SCOPED_TRACE(r.name);
        Start s(r.ini, "[First]\nStepMs=5\n[Second]\nStepMs=5\n");
        const FirstPaintProbe &p = s.probe;
        ASSERT_TRUE(p.painted);
        // On the screen before the hidden panels and the features were made...
        EXPECT_FALSE(p.optionPanelsMade);
        EXPECT_FALSE(p.featuresMade);
        EXPECT_FALSE(p.trayIconUp);
        // ...with what the window shows already in place.
        EXPECT_EQ(p.onTop, r.onTop);
        EXPECT_TRUE(p.historyShown);
        EXPECT_EQ(p.status, "");

        // What went to the screen then (no event has been handled since) is
        // what the finished window draws now.
        QScreen *screen = s.form->screen();
        ASSERT_NE(screen, nullptr);
        const QImage shown = Normalised(screen->grabWindow(s.form->winId()).toImage());
        const QImage now = Normalised(s.form->grab().toImage());
        ASSERT_FALSE(shown.isNull());
        EXPECT_EQ(shown.size(), now.size());
        EXPECT_TRUE(shown == now) << "the first paint differs from the finished window";
        EXPECT_TRUE(s.messages.isEmpty());
    }
}

TEST(StartOrder, TheStoredConnectionIsSelectedBeforeTheFirstClick)
{
    // Nothing has run the event loop when the constructor returns: a click on
    // Connect comes after this at the earliest.
    Start s("[Dial-Up Options]\r\nConnection=1\r\n",
            "[First]\nStepMs=5\n[Second]\nStepMs=5\n[Third]\nStepMs=5\n");
    TMainForm &f = *s.form;
    auto *entries = Ctl<QComboBox>(f, "cb_RasConnect");
    ASSERT_EQ(entries->count(), 3);
    EXPECT_EQ(entries->currentIndex(), 1);
    EXPECT_EQ(entries->currentText(), "Second");
    QAction *connect = f.MenuItem("Connect1");
    ASSERT_NE(connect, nullptr);
    EXPECT_TRUE(connect->isEnabled());
    connect->trigger();
    EXPECT_EQ(Ctl<QLabel>(f, "StatusLBL")->text(), "Status: Attemping to connect to Second...");
    EXPECT_EQ(s.idlix->DialUp->RAS1->EntryName(), "Second");
}

TEST(StartOrder, ConnectOnStartHasDialledAndStartedTheSessionBeforeTheLoopRuns)
{
    const struct {
        const char *name;
        QByteArray book;
        QString status;      // the status line when the constructor returns
        bool sessionRuns;    // started already: the line was up
        bool connectable;    // Connect is offered
    } rows[] = {
        {"dialling", "[Provider]\nStepMs=5000\n", "Status: Attemping to connect to Provider...",
         false, true},
        // The session's first probe has written the status line since.
        {"line already up", "[Provider]\nDialResult=602\n", "", true, false},
    };
    for (const auto &r : rows) {
        SCOPED_TRACE(r.name);
        Start s("[Anti-Idle Options]\r\nMethod=1\r\nFrequecy=1\r\nHost=127.0.0.1\r\n"
                "[Dial-Up Options]\r\nConnection=0\r\nConnect On Start=1\r\nStart AI=1\r\n",
                r.book);
        TMainForm &f = *s.form;
        // The window was on the screen first; the dial came after it.
        EXPECT_TRUE(s.probe.painted);
        EXPECT_FALSE(s.probe.featuresMade);
        EXPECT_EQ(f.Switch(TToolId::AntiIdle).Running(), r.sessionRuns);
        const QString status = Ctl<QLabel>(f, "StatusLBL")->text();
        if (!r.status.isEmpty())
            EXPECT_EQ(status, r.status);
        else
            EXPECT_TRUE(status.startsWith("Status: "));
        EXPECT_EQ(f.MenuItem("Connect1")->isEnabled(), r.connectable);
    }
}

TEST(StartOrder, TheTrayIconAndThePicturesAreInPlaceOnceTheLoopRuns)
{
    Start s("", "[First]\nStepMs=5\n");
    testutil::pump(std::chrono::milliseconds(50));
    TMainForm &f = *s.form;

    // The icon put up after the first paint is in the tray, with its picture
    // and tip, and a click on it reaches the window.
    TTrayIcon *icon = s.hold->TrayIcon1;
    ASSERT_NE(icon, nullptr);
    EXPECT_TRUE(icon->Active());
    EXPECT_TRUE(icon->Service()->Shown());
    EXPECT_FALSE(icon->Icon().isNull());
    EXPECT_EQ(icon->ToolTip(), "Idlix v2.0");
    f.hide();
    s.hold->TrayIcon1Click();
    EXPECT_TRUE(f.isVisible());

    // The pictures: the background from the start; the backdrop, decoded
    // only when a wide panel first stands on it, is the shipped one and is
    // drawn in the window then.
    const auto imageOf = [](const QPixmap &p) { return p.toImage().convertToFormat(QImage::Format_RGB32); };
    EXPECT_EQ(imageOf(Ctl<QLabel>(f, "img_Background")->pixmap()), imageOf(desktop::Picture("background.jpg")));
    auto *backdrop = Ctl<QLabel>(f, "img_Bg2");
    ASSERT_TRUE(backdrop->isHidden());
    const QImage without = imageOf(f.grab());
    f.AcquireBackdrop();
    EXPECT_FALSE(backdrop->isHidden());
    const QImage expected = imageOf(desktop::Picture("backdrop.jpg"));
    ASSERT_FALSE(expected.isNull());
    EXPECT_EQ(imageOf(backdrop->pixmap()), expected);
    EXPECT_EQ(imageOf(backdrop->grab()), expected.scaled(backdrop->size()));
    EXPECT_NE(imageOf(f.grab()), without);
    // Released and held again: the same picture, still there.
    f.ReleaseBackdrop();
    EXPECT_TRUE(backdrop->isHidden());
    f.AcquireBackdrop();
    EXPECT_EQ(imageOf(backdrop->pixmap()), expected);
    f.ReleaseBackdrop();
    EXPECT_TRUE(s.messages.isEmpty());
}

TEST(StartOrder, TheOptionPanelsShowTheSettingsBeforeTheFirstClick)
{
    // Made after the first paint, the option panels hold what the settings
    // file says by the time the constructor returns, and what the user then
    // changes is written back.
    Start s("[Anti-Idle Options]\r\nHost=probe.example\r\n[Latency Test]\r\nTime-out=7\r\n"
            "[Traceroute Options]\r\nTest Packet=0\r\n",
            "[First]\nStepMs=5\n");
    TMainForm &f = *s.form;
    EXPECT_EQ(Ctl<QLineEdit>(f, "edt_AIHost")->text(), "probe.example");
    EXPECT_EQ(f.Options().AntiIdle.Host, "probe.example");
    EXPECT_EQ(Ctl<QSpinBox>(f, "se_LatTO")->value(), 7);
    EXPECT_EQ(f.Options().Latency.TimeOut, 7);
    EXPECT_EQ(Ctl<QCheckBox>(f, "cb_TrcTestPack")->isChecked(), f.Options().Trace.TestPacket);
    EXPECT_FALSE(f.Options().Trace.TestPacket);
    Ctl<QLineEdit>(f, "edt_AIHost")->setText("other.example");
    EXPECT_EQ(f.Options().AntiIdle.Host, "other.example");
}
