// Settings file <-> option controls, and the option panels' open/close cycle.
#include "shell/mainform.h"
#include "shell/preferencesdialog.h"
#include "widgets/optioncontrols.h"
#include "widgets/picturebutton.h"
#include "desktop/msgbox.h"
#include "../support/testutil.h"
#include "../support/ctl.h"
#include "platform/services.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QScrollArea>
#include <QSpinBox>
#include <QTabBar>
#include <QTabWidget>
#include <QTimer>
#include <QDialog>
#include <gtest/gtest.h>

// Readable QString values in failure messages.
inline void PrintTo(const QString &s, std::ostream *os) { *os << '"' << s.toStdString() << '"'; }

#include <functional>
#include <memory>

namespace {

void writeIni(const QString &path, const QByteArray &text)
{
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(text);
}

QByteArray readFile(const QString &path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    return f.readAll();
}

// Non-empty lines of an INI text, line ends normalised.
QStringList iniLines(const QByteArray &text)
{
    QStringList out;
    for (const QByteArray &line : text.split('\n')) {
        const QString l = QString::fromUtf8(line).trimmed();
        if (!l.isEmpty())
            out << l;
    }
    return out;
}

// Captures message boxes for the life of the object.
struct MessageCatcher {
    QStringList messages;
    MessageCatcher()
    {
        platform::Services().Message = [this](const QString &t) { messages << t; };
    }
    ~MessageCatcher() { platform::Services().Message = {}; }
};

} // namespace

TEST(Settings, FirstRunGivesTheDefaults)
{
    testutil::ScratchDir dir;
    MessageCatcher catcher;
    TMainForm f;
    EXPECT_EQ(Ctl<TRadioGroup>(f, "rg_AIMethod")->ItemIndex(), 0);
    EXPECT_EQ(Ctl<TSpinText>(f, "edt_AIFreq")->text(), "1");
    EXPECT_EQ(Ctl<QLineEdit>(f, "edt_AIHost")->text(), "");
    for (int i = 0; i < 4; ++i)
        EXPECT_FALSE(Ctl<TCheckListBox>(f, "cb_AIOptions")->Checked(i)) << i;
    EXPECT_EQ(Ctl<QSpinBox>(f, "se_LatTO")->value(), 5);
    EXPECT_EQ(Ctl<QSpinBox>(f, "se_LatInterval")->value(), 500);
    EXPECT_EQ(Ctl<QSpinBox>(f, "se_PngBytes")->value(), 56);
    EXPECT_EQ(Ctl<QSpinBox>(f, "se_PngTO")->value(), 5);
    EXPECT_EQ(Ctl<QSpinBox>(f, "se_TrcBytes")->value(), 56);
    EXPECT_EQ(Ctl<QSpinBox>(f, "se_TrcTO")->value(), 5);
    EXPECT_TRUE(Ctl<QCheckBox>(f, "cb_TrcTestPack")->isChecked());
    EXPECT_EQ(Ctl<TRadioGroup>(f, "rg_TrcMode")->ItemIndex(), 0);
    EXPECT_TRUE(Ctl<QAction>(f, "StayOnTop1")->isChecked());
    EXPECT_TRUE(f.windowFlags().testFlag(Qt::WindowStaysOnTopHint));
    EXPECT_FALSE(Ctl<QCheckBox>(f, "cb_RasCnctOnStrt")->isChecked());
    EXPECT_FALSE(Ctl<QCheckBox>(f, "cb_RasAIStrt")->isChecked());
    EXPECT_FALSE(Ctl<QCheckBox>(f, "cb_RasDisc")->isChecked());
    EXPECT_EQ(Ctl<QSpinBox>(f, "se_RasDisc")->value(), 60);
    EXPECT_EQ(Ctl<QComboBox>(f, "cb_RasConnect")->currentIndex(), -1);   // no phone-book entries
    // Reading never creates the file.
    EXPECT_FALSE(QFile::exists(dir.file("idlix2.ini")));
    EXPECT_TRUE(catcher.messages.isEmpty());
}

TEST(Settings, StoredValuesAreClampedOrDefaulted)
{
    struct Case {
        const char *section, *key, *value;
        std::function<void(TMainForm &)> check;
    };
    const Case cases[] = {
        {"Ping Options", "Bytes", "70000", [](TMainForm &f) { EXPECT_EQ(Ctl<QSpinBox>(f, "se_PngBytes")->value(), 65535); }},
        {"Ping Options", "Time-out", "0", [](TMainForm &f) { EXPECT_EQ(Ctl<QSpinBox>(f, "se_PngTO")->value(), 1); }},
        {"Traceroute Options", "Bytes", "-4", [](TMainForm &f) { EXPECT_EQ(Ctl<QSpinBox>(f, "se_TrcBytes")->value(), 1); }},
        {"Latency Test", "Interval", "abc", [](TMainForm &f) { EXPECT_EQ(Ctl<QSpinBox>(f, "se_LatInterval")->value(), 500); }},
        {"Latency Test", "Time-out", "0x10", [](TMainForm &f) { EXPECT_EQ(Ctl<QSpinBox>(f, "se_LatTO")->value(), 16); }},
        {"Dial-Up Options", "Disconnect Time", "2000000", [](TMainForm &f) { EXPECT_EQ(Ctl<QSpinBox>(f, "se_RasDisc")->value(), 1000000); }},
        {"Anti-Idle Options", "Method", "5", [](TMainForm &f) { EXPECT_EQ(Ctl<TRadioGroup>(f, "rg_AIMethod")->ItemIndex(), 2); }},
        {"Anti-Idle Options", "Method", "1", [](TMainForm &f) { EXPECT_EQ(Ctl<TRadioGroup>(f, "rg_AIMethod")->ItemIndex(), 1); }},
        {"Anti-Idle Options", "Method", "-7", [](TMainForm &f) { EXPECT_EQ(Ctl<TRadioGroup>(f, "rg_AIMethod")->ItemIndex(), -1); }},
        {"Traceroute Options", "Mode", "7", [](TMainForm &f) { EXPECT_EQ(Ctl<TRadioGroup>(f, "rg_TrcMode")->ItemIndex(), 1); }},
        {"Traceroute Options", "Test Packet", "0", [](TMainForm &f) { EXPECT_FALSE(Ctl<QCheckBox>(f, "cb_TrcTestPack")->isChecked()); }},
        {"Dial-Up Options", "Start AI", "2", [](TMainForm &f) { EXPECT_TRUE(Ctl<QCheckBox>(f, "cb_RasAIStrt")->isChecked()); }},
        {"Anti-Idle Options", "Frequecy", "", [](TMainForm &f) { EXPECT_EQ(Ctl<TSpinText>(f, "edt_AIFreq")->text(), "1"); }},
        // The frequency is kept as text, unchecked, until a session uses it.
        {"Anti-Idle Options", "Frequecy", "7x", [](TMainForm &f) { EXPECT_EQ(Ctl<TSpinText>(f, "edt_AIFreq")->text(), "7x"); }},
        {"Anti-Idle Options", "Frequecy", "45", [](TMainForm &f) { EXPECT_EQ(Ctl<TSpinText>(f, "edt_AIFreq")->text(), "45"); }},
        {"Dial-Up Options", "Password", "p=w d", [](TMainForm &f) { EXPECT_EQ(Ctl<QLineEdit>(f, "edt_RasPassword")->text(), "p=w d"); }},
        {"Dial-Up Options", "Connection", "3", [](TMainForm &f) { EXPECT_EQ(Ctl<QComboBox>(f, "cb_RasConnect")->currentIndex(), -1); }},
        {"General", "Stay on Top", "0", [](TMainForm &f) {
             EXPECT_FALSE(Ctl<QAction>(f, "StayOnTop1")->isChecked());
             EXPECT_FALSE(f.windowFlags().testFlag(Qt::WindowStaysOnTopHint));
         }},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(std::string(c.section) + "/" + c.key + "=" + c.value);
        testutil::ScratchDir dir;
        writeIni(dir.file("idlix2.ini"),
                 QByteArray("[") + c.section + "]\r\n" + c.key + "=" + c.value + "\r\n");
        MessageCatcher catcher;
        auto f = std::make_unique<TMainForm>();
        c.check(*f);
    }
}

TEST(Settings, OptionsDigitsCheckItems)
{
    struct Case {
        const char *value;
        bool expected[4];
    };
    const Case cases[] = {
        {"31", {false, true, false, true}},
        {"x", {false, false, false, false}},
        {"", {false, false, false, false}},
        {"0123", {true, true, true, true}},
        {"2;2;9", {false, false, true, false}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.value);
        testutil::ScratchDir dir;
        writeIni(dir.file("idlix2.ini"), QByteArray("[Anti-Idle Options]\nOptions=") + c.value + "\n");
        MessageCatcher catcher;
        TMainForm f;
        for (int i = 0; i < 4; ++i)
            EXPECT_EQ(Ctl<TCheckListBox>(f, "cb_AIOptions")->Checked(i), c.expected[i]) << "item " << i;
    }
}

TEST(Settings, LoadingLeavesItemsWhoseDigitIsMissing)
{
    testutil::ScratchDir dir;
    MessageCatcher catcher;
    TMainForm f;
    Ctl<TCheckListBox>(f, "cb_AIOptions")->SetChecked(0, true);
    Ctl<TCheckListBox>(f, "cb_AIOptions")->SetChecked(2, true);
    writeIni(dir.file("idlix2.ini"), "[Anti-Idle Options]\nOptions=\n");
    f.LoadSettings();
    EXPECT_TRUE(Ctl<TCheckListBox>(f, "cb_AIOptions")->Checked(0));
    EXPECT_TRUE(Ctl<TCheckListBox>(f, "cb_AIOptions")->Checked(2));
    writeIni(dir.file("idlix2.ini"), "[Anti-Idle Options]\nOptions=1\n");
    f.LoadSettings();
    EXPECT_TRUE(Ctl<TCheckListBox>(f, "cb_AIOptions")->Checked(0));
    EXPECT_TRUE(Ctl<TCheckListBox>(f, "cb_AIOptions")->Checked(1));
}

TEST(Settings, FirstSaveWritesEveryKeyInOrder)
{
    testutil::ScratchDir dir;
    MessageCatcher catcher;
    TMainForm f;
    Ctl<TRadioGroup>(f, "rg_AIMethod")->SetItemIndex(2);
    Ctl<TSpinText>(f, "edt_AIFreq")->setText("12");
    Ctl<QLineEdit>(f, "edt_AIHost")->setText("isp.example");
    Ctl<TCheckListBox>(f, "cb_AIOptions")->SetChecked(3, true);
    Ctl<TCheckListBox>(f, "cb_AIOptions")->SetChecked(1, true);
    Ctl<QSpinBox>(f, "se_PngBytes")->setValue(1000);
    Ctl<TRadioGroup>(f, "rg_TrcMode")->SetItemIndex(1);
    Ctl<QLineEdit>(f, "edt_RasPassword")->setText("secret");
    Ctl<QCheckBox>(f, "cb_RasDisc")->setChecked(true);
    f.SaveSettings();
    const QStringList expected{
        "[Anti-Idle Options]", "Method=2", "Frequecy=12", "Host=isp.example", "Options=13",
        "[Latency Test]", "Host=", "Time-out=5", "Interval=500",
        "[Ping Options]", "Bytes=1000", "Time-out=5",
        "[Traceroute Options]", "Bytes=56", "Time-out=5", "Test Packet=1", "Mode=1",
        "[Dial-Up Options]", "Connection=0", "Username=", "Password=secret",
        "Connect On Start=0", "Start AI=0", "Disconnect=1", "Disconnect Time=60",
        "[General]", "Stay on Top=1",
    };
    EXPECT_EQ(iniLines(readFile(dir.file("idlix2.ini"))), expected);
    EXPECT_TRUE(catcher.messages.isEmpty());
}

TEST(Settings, SavedValuesComeBackInTheNextRun)
{
    testutil::ScratchDir dir;
    MessageCatcher catcher;
    {
        TMainForm f;
        Ctl<TRadioGroup>(f, "rg_AIMethod")->SetItemIndex(1);
        Ctl<TSpinText>(f, "edt_AIFreq")->setText("30");
        Ctl<TCheckListBox>(f, "cb_AIOptions")->SetChecked(0, true);
        Ctl<QLineEdit>(f, "edt_LatHost")->setText("gw.example");
        Ctl<QSpinBox>(f, "se_LatInterval")->setValue(2500);
        Ctl<QSpinBox>(f, "se_TrcTO")->setValue(9);
        Ctl<QCheckBox>(f, "cb_TrcTestPack")->setChecked(false);
        Ctl<QLineEdit>(f, "edt_RasUserName")->setText("joe");
        Ctl<QCheckBox>(f, "cb_RasCnctOnStrt")->setChecked(false);
        Ctl<QSpinBox>(f, "se_RasDisc")->setValue(15);
        Ctl<QAction>(f, "StayOnTop1")->setChecked(false);
    }   // the window writes the settings as it goes
    TMainForm g;
    EXPECT_EQ(Ctl<TRadioGroup>(g, "rg_AIMethod")->ItemIndex(), 1);
    EXPECT_EQ(Ctl<TSpinText>(g, "edt_AIFreq")->text(), "30");
    EXPECT_TRUE(Ctl<TCheckListBox>(g, "cb_AIOptions")->Checked(0));
    EXPECT_FALSE(Ctl<TCheckListBox>(g, "cb_AIOptions")->Checked(1));
    EXPECT_EQ(Ctl<QLineEdit>(g, "edt_LatHost")->text(), "gw.example");
    EXPECT_EQ(Ctl<QSpinBox>(g, "se_LatInterval")->value(), 2500);
    EXPECT_EQ(Ctl<QSpinBox>(g, "se_TrcTO")->value(), 9);
    EXPECT_FALSE(Ctl<QCheckBox>(g, "cb_TrcTestPack")->isChecked());
    EXPECT_EQ(Ctl<QLineEdit>(g, "edt_RasUserName")->text(), "joe");
    EXPECT_EQ(Ctl<QSpinBox>(g, "se_RasDisc")->value(), 15);
    EXPECT_FALSE(Ctl<QAction>(g, "StayOnTop1")->isChecked());
}

TEST(Settings, RefusedWriteShowsTheMessage)
{
    testutil::ScratchDir dir;
    MessageCatcher catcher;
    auto f = std::make_unique<TMainForm>();
    // A program directory that does not exist cannot take the file, even
    // for root (who writes into read-only directories regardless).
    const QByteArray missing = (dir.path() + "/gone/away").toLocal8Bit();
    qputenv("IDLIX_DIR", missing);
    f->SaveSettings();
    ASSERT_EQ(catcher.messages.size(), 1);
    EXPECT_EQ(catcher.messages.at(0), "Unable to write to " + dir.path() + "/gone/away/idlix2.ini");
    f.reset();   // the exit save fails the same way, and is reported, not thrown
    EXPECT_EQ(catcher.messages.size(), 2);
    qputenv("IDLIX_DIR", dir.path().toLocal8Bit());
}

TEST(OptionPanels, OpenShowsPanelQuestionAndButtons)
{
    struct Case {
        const char *name;
        std::function<void(TMainForm &)> open;
        std::function<QWidget *(TMainForm &)> panel;
        std::function<TPictureButton *(TMainForm &)> arrow;
        std::function<QWidget *(TMainForm &)> focus;
        const char *question;
        bool hidesHistory;
    };
    const Case cases[] = {
        {"anti-idle", [](TMainForm &f) { f.img_AIArrowClick(); }, [](TMainForm &f) -> QWidget * { return Ctl<QScrollArea>(f, "sb_AI"); },
         [](TMainForm &f) { return Ctl<TPictureButton>(f, "img_AIArrow"); }, [](TMainForm &) -> QWidget * { return nullptr; },
         "Save changes to Anti-Idle Options?", true},
        {"latency", [](TMainForm &f) { Ctl<QAction>(f, "Latency1")->trigger(); }, [](TMainForm &f) -> QWidget * { return Ctl<QFrame>(f, "pnl_Latency"); },
         [](TMainForm &f) { return Ctl<TPictureButton>(f, "img_LatArrow"); }, [](TMainForm &f) -> QWidget * { return Ctl<QLineEdit>(f, "edt_LatHost"); },
         "Save changes to Latency Options?", false},
        {"ping", [](TMainForm &f) { Ctl<QAction>(f, "Ping5")->trigger(); }, [](TMainForm &f) -> QWidget * { return Ctl<QFrame>(f, "pnl_PingOptions"); },
         [](TMainForm &f) { return Ctl<TPictureButton>(f, "img_PngArrow"); }, [](TMainForm &f) -> QWidget * { return Ctl<QSpinBox>(f, "se_PngBytes"); },
         "Save changes to Ping Options?", false},
        {"traceroute", [](TMainForm &f) { Ctl<TPictureButton>(f, "img_TrcArrow")->Click(); }, [](TMainForm &f) -> QWidget * { return Ctl<QFrame>(f, "pnl_traceOptions"); },
         [](TMainForm &f) { return Ctl<TPictureButton>(f, "img_TrcArrow"); }, [](TMainForm &f) -> QWidget * { return Ctl<QSpinBox>(f, "se_TrcBytes"); },
         "Save changes to Traceroute Options?", false},
        {"dial-up", [](TMainForm &f) { Ctl<QAction>(f, "DialUpOptions1")->trigger(); }, [](TMainForm &f) -> QWidget * { return Ctl<QScrollArea>(f, "pnl_DialUp"); },
         [](TMainForm &) -> TPictureButton * { return nullptr; }, [](TMainForm &) -> QWidget * { return nullptr; },
         "Save changes to Dial-Up Options?", true},
    };
    testutil::ScratchDir dir;
    MessageCatcher catcher;
    TMainForm f;
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        f.SetStatus("Status: busy");
        c.open(f);
        EXPECT_FALSE(c.panel(f)->isHidden());
        EXPECT_EQ(Ctl<QFrame>(f, "pnl_History")->isHidden(), c.hidesHistory);
        if (TPictureButton *arrow = c.arrow(f)) {
            EXPECT_EQ(arrow->ImageIndex(), 1);
        }
        if (QWidget *focus = c.focus(f)) {
            EXPECT_EQ(f.focusWidget(), focus);
        }
        EXPECT_EQ(Ctl<QLabel>(f, "lbl_Question")->text(), c.question);
        // The whole question is readable: it ends before the Yes button.
        EXPECT_LT(Ctl<QLabel>(f, "lbl_Question")->geometry().right(), Ctl<TPictureButton>(f, "btn_Yes")->x());
        EXPECT_GE(Ctl<QLabel>(f, "lbl_Question")->width(),
                  Ctl<QLabel>(f, "lbl_Question")->fontMetrics().horizontalAdvance(c.question));
        EXPECT_LE(Ctl<QLabel>(f, "lbl_Question")->x(), 220);
        EXPECT_EQ(Ctl<QLabel>(f, "StatusLBL")->text(), "Status:");
        EXPECT_FALSE(Ctl<TPictureButton>(f, "btn_Yes")->isHidden());
        EXPECT_FALSE(Ctl<TPictureButton>(f, "btn_No")->isHidden());

        Ctl<TPictureButton>(f, "btn_No")->Click();
        EXPECT_TRUE(c.panel(f)->isHidden());
        EXPECT_FALSE(Ctl<QFrame>(f, "pnl_History")->isHidden());
        if (TPictureButton *arrow = c.arrow(f)) {
            EXPECT_EQ(arrow->ImageIndex(), 0);
        }
        EXPECT_EQ(Ctl<QLabel>(f, "lbl_Question")->text(), "");
        EXPECT_TRUE(Ctl<TPictureButton>(f, "btn_Yes")->isHidden());
        EXPECT_TRUE(Ctl<TPictureButton>(f, "btn_No")->isHidden());
    }
    EXPECT_FALSE(QFile::exists(dir.file("idlix2.ini")));   // "No" never writes
}

TEST(OptionPanels, SecondOpenerOnlyClosesTheOpenPanel)
{
    testutil::ScratchDir dir;
    MessageCatcher catcher;
    TMainForm f;
    f.img_AIArrowClick();
    Ctl<QLineEdit>(f, "edt_AIHost")->setText("unsaved.example");
    f.img_LatArrowClick();
    EXPECT_TRUE(Ctl<QScrollArea>(f, "sb_AI")->isHidden());
    EXPECT_TRUE(Ctl<QFrame>(f, "pnl_Latency")->isHidden());
    EXPECT_EQ(Ctl<TPictureButton>(f, "img_AIArrow")->ImageIndex(), 0);
    EXPECT_EQ(Ctl<TPictureButton>(f, "img_LatArrow")->ImageIndex(), 0);
    EXPECT_TRUE(Ctl<TPictureButton>(f, "btn_No")->isHidden());
    EXPECT_FALSE(Ctl<QFrame>(f, "pnl_History")->isHidden());
    EXPECT_FALSE(QFile::exists(dir.file("idlix2.ini")));
    // The next click opens it, and the reload drops the unsaved edit.
    f.img_LatArrowClick();
    EXPECT_FALSE(Ctl<QFrame>(f, "pnl_Latency")->isHidden());
    EXPECT_EQ(Ctl<QLineEdit>(f, "edt_AIHost")->text(), "");
}

TEST(OptionPanels, YesSavesNoKeepsEditsUntilExit)
{
    testutil::ScratchDir dir;
    MessageCatcher catcher;
    const QString ini = dir.file("idlix2.ini");
    {
        TMainForm f;
        f.img_PngArrowClick();
        Ctl<QSpinBox>(f, "se_PngBytes")->setValue(300);
        Ctl<TPictureButton>(f, "btn_Yes")->Click();
        EXPECT_TRUE(Ctl<QFrame>(f, "pnl_PingOptions")->isHidden());
        EXPECT_TRUE(iniLines(readFile(ini)).contains("Bytes=300"));

        f.img_AIArrowClick();
        Ctl<QLineEdit>(f, "edt_AIHost")->setText("edited.example");
        Ctl<TPictureButton>(f, "btn_No")->Click();
        EXPECT_FALSE(iniLines(readFile(ini)).contains("Host=edited.example"));
        EXPECT_EQ(Ctl<QLineEdit>(f, "edt_AIHost")->text(), "edited.example");
    }
    // Leaving the program stores what the controls hold, answered "No" or not.
    EXPECT_TRUE(iniLines(readFile(ini)).contains("Host=edited.example"));
}

TEST(Preferences, EveryTabIsInSightWhenTheDialogOpens)
{
    testutil::ScratchDir dir;
    TMainForm f;
    QStringList hidden;
    int tabs = 0;
    QTimer::singleShot(0, [&] {
        auto *d = qobject_cast<QDialog *>(QApplication::activeModalWidget());
        ASSERT_NE(d, nullptr);
        auto *bar = d->findChild<QTabWidget *>("Tabs")->tabBar();
        tabs = bar->count();
        for (int i = 0; i < bar->count(); ++i) {
            if (!bar->rect().contains(bar->tabRect(i)))
                hidden << bar->tabText(i);
        }
        d->reject();
    });
    f.MenuItem("Preferences1")->trigger();
    EXPECT_GE(tabs, 5);
    EXPECT_TRUE(hidden.isEmpty()) << hidden.join(", ").toStdString();
}

TEST(Preferences, OkSavesItsSectionsAndTellsTheWatchersCancelDoesNothing)
{
    testutil::ScratchDir dir;
    writeIni(dir.file("idlix2.ini"), "[Ping Options]\r\nBytes=100\r\n");
    // The service's word on remote write, shown on the Service tab.
    writeIni(dir.file("remotewrite.status"), "remote write: 3 samples waiting, last delivery 12:00:05\n");
    MessageCatcher catcher;
    TMainForm f;
    int told = 0;
    f.WatchPreferences([&] { ++told; });
    Ctl<QSpinBox>(f, "se_PngBytes")->setValue(200);   // an unsaved panel edit stays out of the file

    // Answers the dialog once it is open: the values to set, then OK or Cancel.
    auto answer = [](bool ok, const std::function<void(QDialog *)> &edit) {
        QTimer::singleShot(0, [ok, edit] {
            auto *d = qobject_cast<QDialog *>(QApplication::activeModalWidget());
            ASSERT_NE(d, nullptr);
            EXPECT_EQ(d->objectName(), "PreferencesDialog");
            edit(d);
            ok ? d->accept() : d->reject();
        });
    };
    answer(false, [](QDialog *d) { d->findChild<QSpinBox *>("se_PrefDownAfter")->setValue(9); });
    Ctl<QAction>(f, "Preferences1")->trigger();
    EXPECT_EQ(told, 0);
    EXPECT_EQ(f.Options().History.DownAfter, 3);
    EXPECT_FALSE(readFile(dir.file("idlix2.ini")).contains("[History]"));

    answer(true, [](QDialog *d) {
        d->findChild<QSpinBox *>("se_PrefDownAfter")->setValue(9);
        auto *family = d->findChild<QComboBox *>("cb_PrefFamily");
        family->setCurrentIndex(family->findData(6));
        d->findChild<QLineEdit *>("edt_PrefMetrics")->setText(" 127.0.0.1:9417 ");
        d->findChild<QLineEdit *>("edt_PrefRemoteWrite")->setText("https://r.example/api/v1/write ");
        d->findChild<QLineEdit *>("edt_PrefLabels")->setText("site=shop");
        EXPECT_EQ(d->findChild<QLabel *>("lbl_PrefRemoteState")->text(),
                  "Service: remote write: 3 samples waiting, last delivery 12:00:05");
        d->findChild<QCheckBox *>("cb_PrefNotify")->setChecked(false);
        auto *interval = d->findChild<QComboBox *>("cb_PrefInterval");
        interval->setCurrentIndex(interval->findData(config::TKeepAliveOptions::Measured));
        auto *skip = d->findChild<QCheckBox *>("cb_PrefSkipBusy");
        EXPECT_FALSE(skip->isChecked()) << "off unless turned on";
        skip->setChecked(true);
        auto *all = d->findChild<QCheckBox *>("cb_PrefProbeAll");
        auto *every = d->findChild<QSpinBox *>("se_PrefProbeAllInterval");
        EXPECT_FALSE(all->isChecked());
        EXPECT_FALSE(every->isEnabled()) << "the interval waits for the box";
        EXPECT_EQ(every->value(), 60);
        all->setChecked(true);
        EXPECT_TRUE(every->isEnabled());
        // The field keeps to the bounds a start accepts.
        every->setValue(2);
        EXPECT_EQ(every->value(), 5);
        every->setValue(15);
    });
    Ctl<QAction>(f, "Preferences1")->trigger();
    EXPECT_EQ(told, 1);
    const config::TOptions &o = f.Options();
    EXPECT_EQ(o.History.DownAfter, 9);
    EXPECT_EQ(o.Network.AddressFamily, config::TNetworkOptions::IPv6Only);
    EXPECT_EQ(o.Service.MetricsAddress, "127.0.0.1:9417");
    EXPECT_FALSE(o.Notify.Enabled);
    EXPECT_EQ(o.KeepAlive.IntervalFrom, config::TKeepAliveOptions::Measured);
    EXPECT_TRUE(o.KeepAlive.SkipWhenBusy);
    EXPECT_TRUE(o.ProbeAll.Enabled);
    EXPECT_EQ(o.ProbeAll.Interval, 15);
    const QStringList lines = iniLines(readFile(dir.file("idlix2.ini")));
    for (const char *want : {"DownAfter=9", "AddressFamily=ipv6", "MetricsAddress=127.0.0.1:9417", "Enabled=0",
                             "RemoteWrite=https://r.example/api/v1/write", "Labels=site=shop", "IntervalFrom=measured",
                             "SkipWhenBusy=1", "[Probe All]", "Enabled=1", "Interval=15"})
        EXPECT_TRUE(lines.contains(want)) << want;
    EXPECT_TRUE(lines.contains("Bytes=100"));
    EXPECT_TRUE(catcher.messages.isEmpty());

    // The next dialog starts from what was saved.
    answer(false, [](QDialog *d) {
        EXPECT_EQ(d->findChild<QSpinBox *>("se_PrefDownAfter")->value(), 9);
        EXPECT_EQ(d->findChild<QComboBox *>("cb_PrefFamily")->currentData().toInt(), 6);
        EXPECT_EQ(d->findChild<QComboBox *>("cb_PrefInterval")->currentData().toInt(),
                  config::TKeepAliveOptions::Measured);
        EXPECT_TRUE(d->findChild<QCheckBox *>("cb_PrefSkipBusy")->isChecked());
        EXPECT_TRUE(d->findChild<QCheckBox *>("cb_PrefProbeAll")->isChecked());
        EXPECT_EQ(d->findChild<QSpinBox *>("se_PrefProbeAllInterval")->value(), 15);
        EXPECT_TRUE(d->findChild<QSpinBox *>("se_PrefProbeAllInterval")->isEnabled());
    });
    Ctl<QAction>(f, "Preferences1")->trigger();
}

TEST(Preferences, DiagnosisValuesRefusedWithTheirReasonOrTaken)
{
    const struct {
        const char *name;
        QString anchors, url, expect;
        QString problem;           // empty: OK takes them
        QStringList anchorsTaken;
    } cases[] = {
        {"none: the default", "", "", "", "", {}},
        {"two anchors and a check page", "host.idlix.test, 10.200.3.10", " http://check.idlix.test/ok ", "ok", "",
         {"host.idlix.test", "10.200.3.10"}},
        {"four anchors", "a.test b.test c.test d.test", "", "", "At most 3 anchors (4 given).", {}},
        {"a page with no expected text", "", "http://check.idlix.test/", "",
         "Say what the check page's reply holds, or no reply could tell a portal.", {}},
        {"a malformed page", "", "http//check", "ok", "The check URL \"http//check\" is not a web address.", {}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        config::TOptions o;
        o.Diagnosis.Anchors = {"kept.test"};
        TPreferencesDialog d(o);
        EXPECT_EQ(d.edt_PrefAnchors->text(), "kept.test");
        d.edt_PrefAnchors->setText(c.anchors);
        d.edt_PrefCheckUrl->setText(c.url);
        d.edt_PrefCheckExpect->setText(c.expect);
        d.setResult(QDialog::Rejected);
        d.accept();
        EXPECT_EQ(d.lbl_PrefDiagnosisProblem->text(), c.problem);
        d.Apply(o);
        if (c.problem.isEmpty()) {
            EXPECT_EQ(d.result(), QDialog::Accepted);
            EXPECT_EQ(o.Diagnosis.Anchors, c.anchorsTaken);
            EXPECT_EQ(o.Diagnosis.CheckUrl, c.url.trimmed());
        } else {
            // Still open, on the tab that says why; nothing of it taken.
            EXPECT_EQ(d.result(), QDialog::Rejected);
            EXPECT_EQ(d.Tabs->currentWidget()->objectName(), "tab_PrefDiagnosis");
            EXPECT_EQ(o.Diagnosis.Anchors, QStringList{"kept.test"});
            EXPECT_TRUE(o.Diagnosis.CheckUrl.isEmpty());
        }
    }
}
