// The window's dial-up control over a simulated line: every path of a dial
// with its events and status texts in order (failures with their code and
// text), the menu items' enabling, the entry list and stored entry, "Connect
// on start" with a line already up, Reset, a dial while the line is up, and
// the password kept out of sight.
#include "dialtest.h"
#include "../support/ctl.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QTextEdit>
#include <QTimer>

#include <functional>
#include <sys/stat.h>

using namespace std::chrono_literals;
using dialtest::Window;

namespace {

const QString Password = QStringLiteral("pw-Secret-42");
const QStringList Progress = {"AboutToOpenPort", "PortOpened", "AboutToConnDev", "DevConnected",
                              "AllDevsConnected"};

QByteArray Settings(const QByteArray &dialUp)
{
    return "[Dial-Up Options]\r\nConnection=0\r\nUsername=alice\r\nPassword=" +
           Password.toUtf8() + "\r\n" + dialUp;
}

struct LineCase {
    const char *name;
    QByteArray book;
    // What the user does once the dial has reached 'settle' (an event name).
    const char *settle;
    QAction *TDialUpControl::*then;
    QStringList events;
    QStringList statuses;
    bool connect1, disconnect1;
    TRasLineState line;
};

void PrintTo(const LineCase &c, std::ostream *os) { *os << c.name; }

class DialPaths : public ::testing::TestWithParam<LineCase> {};

} // namespace

TEST_P(DialPaths, EventsAndStatusTextsInOrder)
{
    const LineCase &c = GetParam();
    Window w(c.book, Settings({}));
    ASSERT_EQ(Ctl<QComboBox>(w.form, "cb_RasConnect")->currentText(), "Provider");
    w.Run(w.ctl->Connect1);
    ASSERT_TRUE(w.WaitEvent(c.settle)) << w.events.join(',').toStdString();
    if (c.then) {
        w.Run(w.ctl->*(c.then));
    }
    // Whatever is still coming (a failure, a drop) has had its time.
    testutil::pump(300ms);
    EXPECT_EQ(w.events, c.events);
    EXPECT_EQ(w.statuses, c.statuses);
    EXPECT_EQ(w.ctl->Connect1->isEnabled(), c.connect1);
    EXPECT_EQ(w.ctl->Disconnect1->isEnabled(), c.disconnect1);
    EXPECT_EQ(w.ctl->RAS1->LineState(), c.line);
    if (c.events.contains("DialError")) {
        EXPECT_EQ(w.ctl->RAS1->LastResult(), 691);
    }
    // The dial carried the panel's credentials, and the password was never
    // shown: not on the status line, not in the history pane, not in a box.
    EXPECT_EQ(w.ctl->RAS1->UserName(), "alice");
    for (const QString &s : w.statuses)
        EXPECT_FALSE(s.contains(Password)) << s.toStdString();
    EXPECT_FALSE(Ctl<QTextEdit>(w.form, "re_History")->toPlainText().contains(Password));
    EXPECT_TRUE(w.messages.isEmpty()) << w.messages.join('|').toStdString();
}

const QString Attempt = QStringLiteral("Status: Attemping to connect to Provider...");
const QString Refused = QStringLiteral("Status: Dial-up failed: 691 The user name or password was refused.");
const QStringList ConnectedStatuses = {"", Attempt, "Status: Authenticating username/password...",
                                       "Status: Username/password authenticated.",
                                       "Status: Connected to Provider."};

INSTANTIATE_TEST_SUITE_P(
    SimulatedLine, DialPaths,
    ::testing::Values(
        LineCase{"Connects", "[Provider]\nStepMs=5\n", "Connect", nullptr,
                 Progress + QStringList{"Authenticate", "Authenticated", "Connect"},
                 ConnectedStatuses, false, true, TRasLineState::Connected},
        LineCase{"PreparesForRedial", "[Provider]\nStepMs=5\nSteps=0,1,2,3,4,5,14,15,8192\n",
                 "Connect", nullptr,
                 Progress + QStringList{"Authenticate", "Authenticated", "PrepareforCallback",
                                        "Connect"},
                 {"", Attempt, "Status: Authenticating username/password...",
                  "Status: Username/password authenticated.", "Status: Preparing for redial...",
                  "Status: Connected to Provider."},
                 false, true, TRasLineState::Connected},
        // Authentication fails with the state that starts it: the failure
        // with its code and text replaces the attempt, the line is idle again
        // and Connect stays usable.
        LineCase{"AuthenticationFails", "[Provider]\nStepMs=5\nFailAt=5\nFailCode=691\n",
                 "DialError", nullptr, Progress + QStringList{"DialError"},
                 {"", Attempt, Refused}, true, true, TRasLineState::Idle},
        // The provider takes the credentials, then refuses them.
        LineCase{"PasswordRefused", "[Provider]\nStepMs=5\nUser=alice\nPassword=other\n",
                 "DialError", nullptr, Progress + QStringList{"Authenticate", "DialError"},
                 {"", Attempt, "Status: Authenticating username/password...", Refused}, true,
                 true, TRasLineState::Idle},
        LineCase{"DroppedByTheLine", "[Provider]\nStepMs=5\nDropAfter=1\n", "Disconnect",
                 nullptr, Progress + QStringList{"Authenticate", "Authenticated", "Connect",
                                                 "Disconnect"},
                 ConnectedStatuses + QStringList{"Status: Disconnected."}, true, false,
                 TRasLineState::Dropped},
        LineCase{"HungUp", "[Provider]\nStepMs=5\n", "Connect", &TDialUpControl::Disconnect1,
                 Progress + QStringList{"Authenticate", "Authenticated", "Connect", "Disconnect"},
                 ConnectedStatuses + QStringList{"Status: Disconnecting from Provider...",
                                                 "Status: Disconnected."},
                 true, false, TRasLineState::Idle},
        LineCase{"ResetWhileConnected", "[Provider]\nStepMs=5\n", "Connect",
                 &TDialUpControl::Reset1,
                 Progress + QStringList{"Authenticate", "Authenticated", "Connect", "Disconnect"},
                 ConnectedStatuses + QStringList{"Status: Disconnected."}, true, false,
                 TRasLineState::Idle}),
    [](const auto &info) { return std::string(info.param.name); });

TEST(DialUpControl, MenuItemsStartEnabledAndDialUpOptionsAreAvailable)
{
    Window w("[Provider]\n");
    for (QAction *item : {w.ctl->Connect1, w.ctl->Disconnect1, w.ctl->Reset1,
                          Ctl<QAction>(w.form, "DialUpOptions1")})
        EXPECT_TRUE(item->isEnabled()) << item->objectName().toStdString();
    EXPECT_TRUE(Ctl<QComboBox>(w.form, "cb_RasConnect")->isEnabled());
    EXPECT_EQ(w.ctl->RAS1->objectName(), "RAS1");
    EXPECT_EQ(w.ctl->RasTimer->objectName(), "RasTimer");
    EXPECT_FALSE(w.ctl->RasTimer->isActive());
    EXPECT_EQ(w.form->findChild<TRAS *>("RAS1"), w.ctl->RAS1);
    EXPECT_EQ(w.Status(), "");
}

TEST(DialUpControl, EntryListShowsTheFirstTwentyOfTwentyFive)
{
    QByteArray book;
    QStringList first20;
    for (int i = 1; i <= 25; ++i) {
        const QString name = QStringLiteral("Entry %1").arg(i, 2, 10, QChar('0'));
        book += "[" + name.toUtf8() + "]\n";
        if (i <= 20)
            first20 << name;
    }
    Window w(book);
    QStringList listed;
    for (int i = 0; i < Ctl<QComboBox>(w.form, "cb_RasConnect")->count(); ++i)
        listed << Ctl<QComboBox>(w.form, "cb_RasConnect")->itemText(i);
    EXPECT_EQ(listed, first20);
}

TEST(DialUpControl, StoredConnectionSelectsItsEntry)
{
    const QByteArray book = "[First]\n[Second]\n[Third]\n";
    struct {
        QByteArray connection;
        int index;
        QString text;
    } const cases[] = {{"2", 2, "Third"}, {"0", 0, "First"}, {"3", -1, ""}, {"-1", -1, ""}};
    for (const auto &c : cases) {
        Window w(book, "[Dial-Up Options]\nConnection=" + c.connection + "\n");
        EXPECT_EQ(Ctl<QComboBox>(w.form, "cb_RasConnect")->currentIndex(), c.index) << c.connection.data();
        EXPECT_EQ(Ctl<QComboBox>(w.form, "cb_RasConnect")->currentText(), c.text);
        // Saved back as stored: an entry the list lacks stays the user's choice.
        w.form->SaveSettings();
        QFile f(w.dir.file("idlix2.ini"));
        ASSERT_TRUE(f.open(QIODevice::ReadOnly));
        EXPECT_TRUE(f.readAll().contains("Connection=" + c.connection + "\n")) << c.connection.data();
    }
}

TEST(DialUpControl, ConnectOnStartWithTheLineAlreadyUp)
{
    // Start AI on and off: the anti-idle switch is clicked only when asked.
    for (const bool startAI : {true, false}) {
        Window w("[Provider]\nDialResult=602\n",
                 Settings("Connect On Start=1\r\nStart AI=" + QByteArray(startAI ? "1" : "0") +
                          "\r\n"));
        EXPECT_EQ(w.ctl->RAS1->LastResult(), 602);
        EXPECT_EQ(w.Status(), "Status: Connection already established.");
        EXPECT_FALSE(w.ctl->Connect1->isEnabled());
        EXPECT_FALSE(w.ctl->Disconnect1->isEnabled());
        EXPECT_EQ(w.clicks, startAI ? QStringList{"AntiIdle"} : QStringList{});
        EXPECT_EQ(w.Running(), startAI ? QStringList{"AntiIdle"} : QStringList{});
        // Nothing more comes from a dial that never started.
        testutil::pump(100ms);
        EXPECT_TRUE(w.events.isEmpty());
        // Reset is the way out: nothing was dialed, so both items come back.
        w.Run(w.ctl->Reset1);
        EXPECT_TRUE(w.ctl->Connect1->isEnabled());
        EXPECT_TRUE(w.ctl->Disconnect1->isEnabled());
        EXPECT_TRUE(w.events.isEmpty());
    }
}

TEST(DialUpControl, ConnectOnStartDialsAndStartsAntiIdleOnConnect)
{
    Window w("[Provider]\nStepMs=5\n", Settings("Connect On Start=1\r\nStart AI=1\r\n"));
    EXPECT_EQ(w.Status(), "Status: Attemping to connect to Provider...");
    // Nothing runs before the line is up.
    EXPECT_TRUE(w.clicks.isEmpty());
    ASSERT_TRUE(w.WaitEvent("Connect"));
    EXPECT_EQ(w.Status(), "Status: Connected to Provider.");
    EXPECT_EQ(w.clicks, QStringList{"AntiIdle"});
    EXPECT_EQ(w.Running(), QStringList{"AntiIdle"});
}

TEST(DialUpControl, StartAntiIdleOnConnectLeavesARunningSessionRunning)
{
    Window w("[Provider]\nStepMs=5\n", Settings("Start AI=1\r\n"));
    w.SetRunning({TToolId::AntiIdle});
    w.Run(w.ctl->Connect1);
    ASSERT_TRUE(w.WaitEvent("Connect"));
    EXPECT_TRUE(w.clicks.isEmpty());
    EXPECT_EQ(w.Running(), QStringList{"AntiIdle"});
}

TEST(DialUpControl, ResetBeforeAnyDialEnablesBoth)
{
    Window w("[Provider]\n");
    w.ctl->Connect1->setEnabled(false);
    w.ctl->Disconnect1->setEnabled(false);
    w.Run(w.ctl->Reset1);
    EXPECT_TRUE(w.ctl->Connect1->isEnabled());
    EXPECT_TRUE(w.ctl->Disconnect1->isEnabled());
    // No dial, so no hang-up and no status.
    EXPECT_TRUE(w.events.isEmpty());
    EXPECT_EQ(w.Status(), "");
}

TEST(DialUpControl, DisconnectWithNoConnectionStillEndsDisconnected)
{
    Window w("[Provider]\n");
    w.Run(w.ctl->Disconnect1);
    EXPECT_EQ(w.statuses, (QStringList{"", "Status: Disconnecting from ...",
                                       "Status: Disconnected."}));
    EXPECT_TRUE(w.ctl->Connect1->isEnabled());
    EXPECT_FALSE(w.ctl->Disconnect1->isEnabled());
}

TEST(DialUpControl, DialWhileUpHangsUpQuietlyFirst)
{
    Window w("[Provider]\nStepMs=5\n", Settings({}));
    w.Run(w.ctl->Connect1);
    ASSERT_TRUE(w.WaitEvent("Connect"));
    const unsigned first = w.ctl->RAS1->ConnHandle();
    w.events.clear();
    w.statuses.clear();
    // Connect1 is disabled while connected; its handler is what a dial runs.
    w.ctl->Connect1Click();
    w.Seen();
    ASSERT_TRUE(w.WaitEvent("Connect"));
    EXPECT_NE(w.ctl->RAS1->ConnHandle(), first);
    EXPECT_EQ(w.events, Progress + QStringList({"Authenticate", "Authenticated", "Connect"}));
    EXPECT_FALSE(w.statuses.contains("Status: Disconnected."));
    EXPECT_EQ(w.statuses.last(), "Status: Connected to Provider.");
}

TEST(DialUpControl, DialThatCannotStartSaysWhy)
{
    struct Case {
        const char *name;
        QByteArray book;
        QByteArray ini;
        // Done to the phone book once the window has listed its entries.
        std::function<void(const QString &book)> then;
        QString status;
    };
    const auto makeFifo = [](const QString &book) {
        // Not a file that can be read as a whole: a named pipe in its place.
        QFile::remove(book);
        ASSERT_EQ(mkfifo(QFile::encodeName(book).constData(), 0600), 0);
    };
    const Case cases[] = {
        // The stored entry is gone from the book.
        {"StoredEntryGone", "[Provider]\n", "[Dial-Up Options]\nConnection=5\n", nullptr,
         "Status: Dial-up failed: 623 The phone-book entry does not exist."},
        {"EntryWithBadValues", "[Provider]\nStepMs=soon\n", Settings({}), nullptr,
         "Status: Dial-up failed: 625 The phone-book entry holds a value that cannot be read."},
        {"PhoneBookRemoved", "[Provider]\n", Settings({}), [](const QString &b) { QFile::remove(b); },
         "Status: Dial-up failed: 621 The phone book cannot be opened."},
        {"PhoneBookUnreadable", "[Provider]\n", Settings({}), makeFifo,
         "Status: Dial-up failed: 621 The phone book cannot be opened."},
        // A code the service has no text for.
        {"UnknownCode", "[Provider]\nDialResult=676\n", Settings({}), nullptr,
         "Status: Dial-up failed: 676 Status Unknown"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        Window w(c.book, c.ini);
        if (c.then)
            c.then(w.dir.file("book.ini"));
        w.Run(w.ctl->Connect1);
        testutil::pump(100ms);
        EXPECT_EQ(w.statuses, (QStringList{"", c.status}));
        EXPECT_EQ(w.ctl->RAS1->LastResult(), c.status.section(' ', 3, 3).toInt());
        EXPECT_TRUE(w.ctl->Connect1->isEnabled());
        EXPECT_TRUE(w.ctl->Disconnect1->isEnabled());
        EXPECT_EQ(w.ctl->RAS1->LineState(), TRasLineState::Idle);
        EXPECT_TRUE(w.events.isEmpty());
        EXPECT_TRUE(w.messages.isEmpty());
    }
}

TEST(DialUpControl, ConnectOnStartThatFailsSaysWhy)
{
    Window w("[Provider]\nStepMs=5\nFailAt=2\nFailCode=651\n",
             Settings("Connect On Start=1\r\nStart AI=1\r\n"));
    ASSERT_TRUE(w.WaitEvent("DialError"));
    EXPECT_EQ(w.statuses, (QStringList{"Status: Attemping to connect to Provider...",
                                       "Status: Dial-up failed: 651 The modem did not connect "
                                       "(no answer, busy or no carrier)."}));
    // Nothing was started for a line that never came up.
    EXPECT_TRUE(w.clicks.isEmpty());
    EXPECT_TRUE(w.ctl->Connect1->isEnabled());
    // Connect tries again.
    w.events.clear();
    w.Run(w.ctl->Connect1);
    ASSERT_TRUE(w.WaitEvent("DialError"));
    EXPECT_EQ(w.events, (QStringList{"AboutToOpenPort", "PortOpened", "DialError"}));
}

TEST(DialUpControl, ConnectWhenTheLineIsAlreadyUpSaysSo)
{
    Window w("[Provider]\nDialResult=602\n", Settings("Start AI=1\r\n"));
    w.Run(w.ctl->Connect1);
    EXPECT_EQ(w.Status(), "Status: Connection already established.");
    EXPECT_FALSE(w.ctl->Connect1->isEnabled());
    EXPECT_FALSE(w.ctl->Disconnect1->isEnabled());
    EXPECT_EQ(w.clicks, QStringList{"AntiIdle"});
}

TEST(DialUpControl, AnEntryNamedWithTagsIsShownAsNamed)
{
    // The names come from the phone book, which anyone may have written.
    Window w("[<b>Demo</b>]\nStepMs=50\n", Settings({}));
    ASSERT_EQ(Ctl<QComboBox>(w.form, "cb_RasConnect")->currentText(), "<b>Demo</b>");
    w.Run(w.ctl->Connect1);
    EXPECT_EQ(w.Status(), "Status: Attemping to connect to <b>Demo</b>...");
    EXPECT_TRUE(testutil::showsLiterally(Ctl<QLabel>(w.form, "StatusLBL")));
    ASSERT_TRUE(w.WaitEvent("Connect"));
    EXPECT_EQ(w.Status(), "Status: Connected to <b>Demo</b>.");
    EXPECT_TRUE(testutil::showsLiterally(Ctl<QLabel>(w.form, "StatusLBL")));
}
