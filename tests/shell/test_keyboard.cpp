// The window by keyboard alone: in each option panel Enter saves and Escape
// cancels, as the green and red buttons do, and Tab never lands on a control
// the user cannot see (the history pane under an option panel, hidden panels).
#include "desktop/msgbox.h"
#include "shell/mainform.h"
#include "widgets/picturebutton.h"
#include "../support/testutil.h"
#include "shellwindow.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QLineEdit>
#include <QSpinBox>
#include <QTest>
#include <QTextEdit>
#include <gtest/gtest.h>

#include <functional>
#include <memory>

namespace {

// The window, active, so that keys reach its focused control.
struct Window : shelltest::Window {
    Window()
    {
        form->activateWindow();
        EXPECT_TRUE(QTest::qWaitForWindowActive(form.get()));
    }
    QString Ini() const
    {
        QFile f(dir.file("idlix2.ini"));
        return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
    }
};

// One option panel: how it is opened, the control that gets the key, an edit
// made there and the line the save writes for it.
struct PanelCase {
    const char *opener;    // menu item
    const char *panel;
    const char *control;   // focused when the key comes
    std::function<void(QWidget *)> edit;
    const char *saved;     // in idlix2.ini after a save
};

void SetText(QWidget *w, const QString &text) { static_cast<QLineEdit *>(w)->setText(text); }

const PanelCase kPanels[] = {
    {"AntiIdle2", "sb_AI", "edt_AIHost", [](QWidget *w) { SetText(w, "keys.test"); },
     "Host=keys.test"},
    {"Latency1", "pnl_Latency", "edt_LatHost", [](QWidget *w) { SetText(w, "lat.test"); },
     "Host=lat.test"},
    {"Ping5", "pnl_PingOptions", "se_PngBytes",
     [](QWidget *w) { static_cast<QSpinBox *>(w)->setValue(1234); }, "Bytes=1234"},
    {"Traceroute2", "pnl_traceOptions", "cb_TrcTestPack",
     [](QWidget *w) { static_cast<QCheckBox *>(w)->setChecked(false); }, "Test Packet=0"},
    {"DialUpOptions1", "pnl_DialUp", "edt_RasUserName", [](QWidget *w) { SetText(w, "carol"); },
     "Username=carol"},
};

} // namespace

TEST(OptionPanelKeys, EnterSavesAndEscapeCancelsInEveryPanel)
{
    struct Key {
        Qt::Key key;
        Qt::KeyboardModifiers mods;
        bool saves;
    };
    const Key keys[] = {{Qt::Key_Return, Qt::NoModifier, true},
                        {Qt::Key_Enter, Qt::KeypadModifier, true},
                        {Qt::Key_Escape, Qt::NoModifier, false}};
    for (const PanelCase &p : kPanels) {
        for (const Key &k : keys) {
            SCOPED_TRACE(std::string(p.panel) + " key " + std::to_string(k.key));
            Window w;
            w.Get<QAction>(p.opener)->trigger();
            QWidget *panel = w.Get<QWidget>(p.panel);
            auto *yes = w.Get<TPictureButton>("btn_Yes");
            ASSERT_TRUE(panel->isVisible());
            ASSERT_TRUE(yes->isVisible());
            QWidget *control = w.Get<QWidget>(p.control);
            control->setFocus();
            ASSERT_EQ(QApplication::focusWidget(), control);
            p.edit(control);
            QTest::keyClick(control, k.key, k.mods);
            // The question is answered and the panel closed either way.
            EXPECT_FALSE(panel->isVisible());
            EXPECT_FALSE(yes->isVisible());
            EXPECT_FALSE(w.Get<TPictureButton>("btn_No")->isVisible());
            EXPECT_TRUE(w.Get<QWidget>("pnl_History")->isVisible());
            EXPECT_EQ(w.Ini().contains(p.saved), k.saves) << w.Ini().toStdString();
            EXPECT_TRUE(w.messages.isEmpty());
        }
    }
}

TEST(OptionPanelKeys, KeysOutsideAnOpenPanelDoNothing)
{
    Window w;
    auto *history = w.Get<QTextEdit>("re_History");
    // No panel open: Enter and Escape in the history pane answer nothing.
    history->setFocus();
    QTest::keyClick(history, Qt::Key_Return);
    QTest::keyClick(history, Qt::Key_Escape);
    EXPECT_FALSE(QFile::exists(w.dir.file("idlix2.ini")));
    // A held key's repeats after the answer find the panel closed.
    w.Get<QAction>("Latency1")->trigger();
    auto *host = w.Get<QLineEdit>("edt_LatHost");
    ASSERT_EQ(QApplication::focusWidget(), host);
    QTest::keyClick(host, Qt::Key_Escape);
    ASSERT_FALSE(w.Get<QWidget>("pnl_Latency")->isVisible());
    QKeyEvent repeat(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier, QString(), true);
    QApplication::sendEvent(QApplication::focusWidget() ? QApplication::focusWidget() : w.form.get(),
                            &repeat);
    EXPECT_FALSE(QFile::exists(w.dir.file("idlix2.ini")));
    // Other keys reach the field as before.
    w.Get<QAction>("Latency1")->trigger();
    QTest::keyClicks(host, "abc");
    EXPECT_EQ(host->text(), "abc");
    EXPECT_TRUE(w.Get<QWidget>("pnl_Latency")->isVisible());
}

TEST(TabChain, NeverLandsOnAControlTheUserCannotSee)
{
    // Each option panel covers the history pane (or hides it); Tab and
    // Shift+Tab go round the panel's controls and the rest of the window
    // without ever reaching a control that is covered or hidden.
    for (const PanelCase &p : kPanels) {
        for (const bool forward : {true, false}) {
            SCOPED_TRACE(std::string(p.panel) + (forward ? " Tab" : " Shift+Tab"));
            Window w;
            w.Get<QAction>(p.opener)->trigger();
            QWidget *panel = w.Get<QWidget>(p.panel);
            QWidget *control = w.Get<QWidget>(p.control);
            control->setFocus();
            QStringList visited;
            bool panelReached = false;
            for (int i = 0; i < 60; ++i) {
                QWidget *focus = QApplication::focusWidget();
                ASSERT_NE(focus, nullptr);
                QTest::keyClick(focus, Qt::Key_Tab, forward ? Qt::NoModifier : Qt::ShiftModifier);
                QWidget *now = QApplication::focusWidget();
                ASSERT_NE(now, nullptr);
                visited << now->objectName();
                EXPECT_TRUE(now->isVisible()) << now->objectName().toStdString();
                EXPECT_FALSE(now->visibleRegion().isEmpty())
                    << now->objectName().toStdString() << " is covered";
                panelReached = panelReached || (now != control && panel->isAncestorOf(now));
            }
            EXPECT_FALSE(visited.contains("re_History")) << visited.join(' ').toStdString();
            EXPECT_TRUE(panelReached) << visited.join(' ').toStdString();
        }
    }
}

TEST(TabChain, TheHistoryPaneIsReachedWhenItShows)
{
    Window w;
    auto *history = w.Get<QTextEdit>("re_History");
    ASSERT_TRUE(history->isVisible());
    QStringList visited;
    for (int i = 0; i < 40 && !visited.contains("re_History"); ++i) {
        QWidget *focus = QApplication::focusWidget() ? QApplication::focusWidget() : w.form.get();
        QTest::keyClick(focus, Qt::Key_Tab);
        if (QApplication::focusWidget())
            visited << QApplication::focusWidget()->objectName();
    }
    EXPECT_TRUE(visited.contains("re_History")) << visited.join(' ').toStdString();
}
