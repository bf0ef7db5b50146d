// The start-up as a user sees it. The window goes on the screen as soon as
// everything it shows is in place (the settings read, Stay on Top applied,
// the history pane in front, the logo's first frame), before the hidden
// option panels and the features are made; what it showed then is what it
// shows once all is built; and the rest (the dial-up entry list with the
// stored connection, "Connect on start") is done before the event loop runs,
// that is before the user's first click can be taken.
#include "app/idlix.h"
#include "desktop/msgbox.h"
#include "dialup/dialupcontrol.h"
#include "net/ras.h"
#include "shell/mainform.h"
#include "widgets/animate.h"
#include "widgets/toolswitch.h"
#include "../support/testutil.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QEvent>
#include <QFrame>
#include <QLabel>
#include <QScreen>
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
    bool onTop = false;
    bool historyShown = false;
    QString status;
    int logoFrame = -1;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        auto *form = qobject_cast<TMainForm *>(watched);
        if (painted || !form || event->type() != QEvent::Paint)
            return false;
        painted = true;
        optionPanelsMade = form->findChild<QWidget *>("sb_AI") != nullptr;
        featuresMade = form->findChild<QObject *>("DialUpControl") != nullptr;
        onTop = form->windowFlags().testFlag(Qt::WindowStaysOnTopHint);
        historyShown = form->pnl_History->isVisible();
        status = form->StatusLBL->text();
        logoFrame = form->anm_BV->CurrentFrame();
        return false;
    }
};

// The program's window on a scratch folder holding 'ini', with the phone
// book 'book'; message boxes are collected.
struct Start {
    testutil::ScratchDir dir;
    QStringList messages;
    FirstPaintProbe probe;
    std::unique_ptr<TIdlix> idlix;
    TMainForm *form = nullptr;

    Start(const QByteArray &ini, const QByteArray &book)
    {
        testutil::writeFile(dir.file("idlix2.ini"), ini);
        testutil::writeFile(dir.file("book.ini"), book);
        qputenv("IDLIX_PHONEBOOK", dir.file("book.ini").toLocal8Bit());
        platform::SetMessageHook([this](const QString &t) { messages << t; });
        idlix = std::make_unique<TIdlix>();
        form = idlix->Form.get();
    }
    ~Start()
    {
        idlix.reset();
        platform::SetMessageHook({});
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
        // ...with what the window shows already in place.
        EXPECT_EQ(p.onTop, r.onTop);
        EXPECT_TRUE(p.historyShown);
        EXPECT_EQ(p.status, "");
        EXPECT_EQ(p.logoFrame, 0);

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
    ASSERT_EQ(f.cb_RasConnect->count(), 3);
    EXPECT_EQ(f.cb_RasConnect->currentIndex(), 1);
    EXPECT_EQ(f.cb_RasConnect->currentText(), "Second");
    EXPECT_TRUE(f.Connect1->isEnabled());
    f.Connect1->trigger();
    EXPECT_EQ(f.StatusLBL->text(), "Status: Attemping to connect to Second...");
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
        if (!r.status.isEmpty())
            EXPECT_EQ(f.StatusLBL->text(), r.status);
        else
            EXPECT_TRUE(f.StatusLBL->text().startsWith("Status: "));
        EXPECT_EQ(f.Connect1->isEnabled(), r.connectable);
    }
}
