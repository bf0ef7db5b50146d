// The finger tool on a real window against scripted finger servers on
// loopback: the switch, the "@" check with its warning box, the outcomes of a
// query in the status line and the reply pane (a reply with markup and
// control characters shown as characters), Enter, Cancel during the lookup
// and during the query, failures that reach the error box, and a second
// Query refused while one runs.
#include "tools/fingertool.h"
#include "platform/services.h"

#include "desktop/msgbox.h"
#include "net/finger.h"
#include "net/ping.h"
#include "shell/mainform.h"
#include "widgets/picturebutton.h"
#include "../support/scriptserver.h"
#include "../support/testutil.h"
#include "../support/ctl.h"

#include <QAction>
#include <QApplication>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QTest>
#include <QTextBlock>
#include <QTextEdit>
#include <QTextFrame>
#include <QTextList>
#include <QTimer>
#include <gtest/gtest.h>

using namespace std::chrono_literals;
using testsupport::Script;
using testsupport::ScriptServer;

namespace {

class FingerTool : public ::testing::Test {
protected:
    void SetUp() override
    {
        platform::Services().Message = [this](const QString &t) { messages << t; };
        form = std::make_unique<TMainForm>();
        fng = new TFingerTool(*form);
        f = form.get();
        Ctl<TPictureButton>(f, "btn_Finger")->Click();
    }
    void TearDown() override
    {
        form.reset();
        platform::Services().Message = {};
    }
    // Sends the tool's queries to 'port' on loopback, with short ticks.
    void Aim(quint16 port, int ticks = 40, int tickMs = 1000)
    {
        fng->FingerCli->SetPortOverride(port);
        fng->FingerCli->TimeOut = ticks;
        fng->FingerCli->SetTickInterval(tickMs);
    }
    // Types 'query' and presses Query; returns once the query is over.
    void Query(const QString &query)
    {
        fng->edt_Finger->setText(query);
        fng->btn_FngYes->Click();
        ASSERT_TRUE(testutil::waitFor([&] { return fng->Step() == TFingerStep::Idle; }, 10000ms));
    }
    QString Status() const { return Ctl<QLabel>(f, "StatusLBL")->text(); }
    QString Reply() const { return fng->re_finger->toPlainText(); }

    testutil::ScratchDir dir;
    QStringList messages;
    std::unique_ptr<TMainForm> form;
    TMainForm *f = nullptr;
    TFingerTool *fng = nullptr;   // a child of the window
};

} // namespace

TEST_F(FingerTool, PanelControlsAndComponents)
{
    for (QWidget *child : {(QWidget *)fng->edt_Finger, (QWidget *)fng->re_finger,
                           (QWidget *)fng->btn_FngYes, (QWidget *)fng->btn_FngNo,
                           (QWidget *)fng->lbl_fngQuery, (QWidget *)fng->lbl_FngCancel})
        EXPECT_EQ(child->parentWidget(), Ctl<QFrame>(f, "pnl_Finger")) << child->objectName().toStdString();
    EXPECT_EQ(Ctl<QFrame>(f, "pnl_Finger")->findChild<QWidget *>("edt_Finger"), fng->edt_Finger);
    EXPECT_EQ(Ctl<QFrame>(f, "pnl_Finger")->findChild<QWidget *>("re_finger"), fng->re_finger);
    EXPECT_EQ(fng->lbl_fngQuery->text(), "Query");
    EXPECT_EQ(fng->lbl_FngCancel->text(), "Cancel");
    EXPECT_EQ(fng->edt_Finger->toolTip(), "Enter hostname to finger");
    EXPECT_TRUE(fng->re_finger->isReadOnly());
    EXPECT_FALSE(fng->re_finger->acceptRichText());
    EXPECT_EQ(fng->re_finger->lineWrapMode(), QTextEdit::NoWrap);
    EXPECT_EQ(fng->re_finger->focusPolicy() & Qt::TabFocus, 0);

    EXPECT_EQ(fng->FingerPing->objectName(), "FingerPing");
    EXPECT_EQ(fng->FingerPing->Size(), 56);
    EXPECT_EQ(fng->FingerPing->Timeout(), 10000);
    EXPECT_EQ(fng->FingerPing->TTL(), 64);
    EXPECT_EQ(f->findChild<TFinger *>("FingerCli"), fng->FingerCli);
    EXPECT_EQ(fng->FingerCli->TimeOut, 10000);
}

TEST_F(FingerTool, SwitchShowsThePanelAndClearsItWhenTurnedOff)
{
    EXPECT_FALSE(Ctl<QLabel>(f, "img_FngGreen")->isHidden());
    EXPECT_TRUE(Ctl<QLabel>(f, "img_FngRed")->isHidden());
    EXPECT_EQ(Ctl<TPictureButton>(f, "btn_Finger")->ImageIndex(), 1);
    EXPECT_FALSE(Ctl<QFrame>(f, "pnl_Finger")->isHidden());
    EXPECT_FALSE(Ctl<QLabel>(f, "img_Bg2")->isHidden());
    EXPECT_TRUE(fng->Running());

    // Off by the menu item (Ctrl+F), with and without another wide panel that
    // needs the backdrop, and on again.
    for (bool servers : {false, true}) {
        // The server list stands on the backdrop as well.
        TBackdropHold other(*f);
        other.Set(servers);
        Ctl<QFrame>(f, "pnl_Servers")->setVisible(servers);
        fng->edt_Finger->setText("jdoe@example.com");
        fng->re_finger->setPlainText("old reply");
        f->SetStatus("Status: busy");
        Ctl<QAction>(f, "Finger1")->trigger();
        EXPECT_FALSE(fng->Running());
        EXPECT_TRUE(Ctl<QFrame>(f, "pnl_Finger")->isHidden());
        EXPECT_EQ(Ctl<QLabel>(f, "img_Bg2")->isHidden(), !servers);
        EXPECT_FALSE(Ctl<QLabel>(f, "img_FngRed")->isHidden());
        EXPECT_TRUE(Ctl<QLabel>(f, "img_FngGreen")->isHidden());
        EXPECT_EQ(Ctl<TPictureButton>(f, "btn_Finger")->ImageIndex(), 0);
        EXPECT_EQ(Status(), "Status:");
        EXPECT_TRUE(fng->edt_Finger->text().isEmpty());
        EXPECT_TRUE(Reply().isEmpty());
        Ctl<QAction>(f, "Finger1")->trigger();
        EXPECT_FALSE(Ctl<QFrame>(f, "pnl_Finger")->isHidden());
        other.Set(false);
    }
    EXPECT_EQ(Ctl<QAction>(f, "Finger1")->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_F));
}

TEST_F(FingerTool, QueryWithoutAtShowsTheWarningAndStartsNothing)
{
    ScriptServer server({Script().send("never asked\r\n")});
    Aim(server.port());
    for (const char *typed : {"jdoe", "127.0.0.1", ""}) {
        messages.clear();
        fng->re_finger->setPlainText("old reply");
        f->SetStatus("Status: before");
        fng->edt_Finger->setText(typed);
        fng->btn_FngYes->Click();
        EXPECT_EQ(messages, QStringList{TFingerTool::AddressWarning()}) << typed;
        EXPECT_TRUE(Reply().isEmpty()) << typed;
        EXPECT_EQ(Status(), "Status: before") << typed;
        EXPECT_EQ(fng->Step(), TFingerStep::Idle);
    }
    testutil::pump(100ms);
    EXPECT_EQ(server.connections(), 0);
    EXPECT_EQ(TFingerTool::AddressWarning(),
              "Invalid address!\n\nThe address must in the form of:\njdoe@example.com");
}

TEST_F(FingerTool, WarningIsAWarningBoxCaptionedWarning)
{
    // The real box this time.
    platform::Services().Message = {};
    fng->edt_Finger->setText("no address here");
    const testutil::SeenBox box = testutil::readModalBox([&] { fng->btn_FngYes->Click(); });
    ASSERT_TRUE(box.shown);
    EXPECT_EQ(box.title, "Warning");
    EXPECT_EQ(box.text, TFingerTool::AddressWarning());
    EXPECT_EQ(box.icon, int(QMessageBox::Warning));
    EXPECT_EQ(box.buttons, 1);
    EXPECT_EQ(fng->Step(), TFingerStep::Idle);
}

TEST_F(FingerTool, OutcomesOfAQuery)
{
    const QByteArray markup = "<b>bold</b> <img src=\"x.png\"> <a href=\"http://example.com/\">link</a>";
    const struct Row {
        const char *name;
        QString query;
        Script script;
        bool refused;           // nobody listens
        QByteArray request;     // the bytes the server must have received
        QString reply;          // what re_finger shows
        QString status;
    } rows[] = {
        {"entry", "jdoe@127.0.0.1", Script().readBytes(6).send("Login: jdoe\r\nName: J. Doe\r\n"),
         false, "jdoe\r\n", "Login: jdoe\nName: J. Doe",
         " Status: Successfully fingered jdoe@127.0.0.1"},
        {"user list", "@127.1", Script().readBytes(2).send("No one logged on.\n"), false, "\r\n",
         "No one logged on.", " Status: Successfully fingered @127.1"},
        {"closed without data", "nobody@127.0.0.1", Script().readBytes(8).close(), false,
         "nobody\r\n", "", " Status: Server returned no data for user."},
        // Shown as they came, but nothing to read.
        {"only blank lines", "jdoe@127.0.0.1", Script().readBytes(6).send("\r\n \t\r\n"), false,
         "jdoe\r\n", "\n \t", " Status: Server returned no data for user."},
        {"refused", "jdoe@127.0.0.1", Script(), true, "", "",
         " Status: Server returned no data for user."},
        // Markup arrives as characters, controls as visible placeholders, tab kept.
        {"markup and controls", "jdoe@127.0.0.1",
         Script().readBytes(6).send(markup + "\r\n\x1b[2J\x07" "a\tb\r\n"), false, "jdoe\r\n",
         QString::fromUtf8(markup) + QStringLiteral("\n\u241b[2J\u2407a\tb"),
         " Status: Successfully fingered jdoe@127.0.0.1"},
        // Not UTF-8: read as Windows-1252.
        {"latin", "jdoe@127.0.0.1", Script().readBytes(6).send("Ren\xe9 \x80\r\n"), false,
         "jdoe\r\n", QStringLiteral("Ren\u00e9 \u20ac"),
         " Status: Successfully fingered jdoe@127.0.0.1"},
    };
    for (const Row &r : rows) {
        SCOPED_TRACE(r.name);
        std::unique_ptr<ScriptServer> server;
        if (r.refused)
            Aim(ScriptServer::unusedPort());
        else {
            server = std::make_unique<ScriptServer>(std::vector<Script>{r.script});
            Aim(server->port());
        }
        fng->re_finger->setPlainText("left from before");
        Query(r.query);
        EXPECT_TRUE(messages.isEmpty()) << messages.join('|').toStdString();
        EXPECT_EQ(Reply(), r.reply);
        EXPECT_EQ(Status(), r.status);
        if (server) {
            EXPECT_EQ(server->received(0), r.request);
        }
    }
}

TEST_F(FingerTool, ReplyMarkupIsNeverFormattedOrLinked)
{
    ScriptServer server({Script().readBytes(6).send(
        "<html><b>bold</b><i>it</i><img src=\"file:///etc/passwd\">"
        "<a href=\"http://example.com/\">link</a><h1>big</h1></html>\r\n"
        "<table><tr><td>cell</td></tr></table>\r\n")});
    Aim(server.port());
    Query("jdoe@127.0.0.1");
    ASSERT_EQ(fng->re_finger->document()->blockCount(), 2);
    EXPECT_TRUE(Reply().startsWith("<html><b>bold</b><i>it</i><img src="));
    // Every character carries the pane's plain format: no weight, no
    // slant, no anchor, no image, no table.
    for (QTextBlock b = fng->re_finger->document()->begin(); b.isValid(); b = b.next()) {
        EXPECT_EQ(b.textList(), nullptr);
        for (auto it = b.begin(); !it.atEnd(); ++it) {
            const QTextCharFormat cf = it.fragment().charFormat();
            EXPECT_FALSE(cf.isAnchor());
            EXPECT_FALSE(cf.isImageFormat());
            EXPECT_FALSE(cf.fontItalic());
            EXPECT_LE(cf.fontWeight(), int(QFont::Normal));
        }
    }
    EXPECT_EQ(fng->re_finger->document()->rootFrame()->childFrames().size(), 0);
    EXPECT_FALSE(fng->re_finger->toHtml().contains("<img"));
    EXPECT_FALSE(fng->re_finger->toHtml().contains("<a "));
}

TEST_F(FingerTool, LongReplyEndsWithTheCutLine)
{
    QByteArray big;
    while (big.size() < 20000)
        big += "0123456789012345678901234567890123456789\r\n";
    ScriptServer server({Script().readBytes(6).send(big).pause(200)});
    Aim(server.port());
    Query("jdoe@127.0.0.1");
    const QStringList lines = Reply().split('\n');
    EXPECT_EQ(lines.last(), QString::fromLatin1(kFingerCutLine));
    // 16384 bytes of 42-byte lines: 390 whole lines and a part.
    EXPECT_EQ(lines.size(), 390 + 1 + 1);
    EXPECT_TRUE(fng->FingerCli->ReplyCut());
    EXPECT_EQ(Status(), " Status: Successfully fingered jdoe@127.0.0.1");
}

TEST_F(FingerTool, EnterInTheFieldPressesAndQueriesLikeTheButton)
{
    ScriptServer server({Script().readBytes(6).send("Login: jdoe\r\n")});
    Aim(server.port());
    fng->edt_Finger->setText("jdoe@127.0.0.1");
    int reachedField = 0;
    QObject::connect(fng->edt_Finger, &QLineEdit::returnPressed, [&] { ++reachedField; });
    const QPoint button = fng->btn_FngYes->pos(), caption = fng->lbl_fngQuery->pos();
    QTest::keyPress(fng->edt_Finger, Qt::Key_Return);
    EXPECT_EQ(fng->btn_FngYes->pos(), button + QPoint(1, 1));
    EXPECT_EQ(fng->lbl_fngQuery->pos(), caption + QPoint(1, 1));
    EXPECT_EQ(fng->Step(), TFingerStep::Idle);   // a dotted host runs inside the key press
    EXPECT_EQ(Reply(), "Login: jdoe");
    EXPECT_EQ(Status(), " Status: Successfully fingered jdoe@127.0.0.1");
    QTest::keyRelease(fng->edt_Finger, Qt::Key_Return);
    EXPECT_EQ(fng->btn_FngYes->pos(), button);
    EXPECT_EQ(fng->lbl_fngQuery->pos(), caption);
    // The key is used up before the field itself sees it.
    EXPECT_EQ(reachedField, 0);
}

TEST_F(FingerTool, FailuresOfTheQueryGoToTheErrorBox)
{
    // Each server sends a first line and then stays silent; the query ends by
    // its countdown, by Cancel, or by a reset.
    enum Ending { CountDown, CancelButton, Reset };
    const struct {
        Ending ending;
        Script script;
        QString message;
    } rows[] = {
        {CountDown, Script().readBytes(6).send("Login: jdoe\r\n").pause(1500), "Timed Out."},
        {CancelButton, Script().readBytes(6).send("Login: jdoe\r\n").pause(1500),
         "Operation has been canceled."},
        {Reset, Script().readBytes(6).send("Login: jdoe\r\n").pause(100).reset(),
         "WinSock Error No. 10054"},
    };
    for (const auto &r : rows) {
        SCOPED_TRACE(r.message.toStdString());
        messages.clear();
        ScriptServer server({r.script});
        Aim(server.port(), 5, 100);
        if (r.ending == CancelButton)
            QTimer::singleShot(300, [&] {
                QTest::mouseClick(fng->lbl_FngCancel, Qt::LeftButton);
            });
        Query("jdoe@127.0.0.1");
        EXPECT_EQ(messages, QStringList{r.message});
        // The query never finished: nothing shown, the status as it started.
        EXPECT_TRUE(Reply().isEmpty());
        EXPECT_EQ(Status(), "Status: Query started...");
    }
}

TEST_F(FingerTool, CancelDuringTheLookupEndsAsUnknownHost)
{
    ScriptServer server({Script().readBytes(6).send("Login: jdoe\r\n")});
    Aim(server.port());
    // A name goes through the resolver's worker: the lookup is pending until
    // its completion comes back through the event loop.
    fng->edt_Finger->setText("jdoe@localhost");
    QTest::mouseClick(fng->lbl_fngQuery, Qt::LeftButton);
    ASSERT_TRUE(fng->FingerPing->LookupPending());
    EXPECT_EQ(fng->Step(), TFingerStep::LookingUp);
    EXPECT_EQ(Status(), "Status: Query started...");
    QTest::mouseClick(fng->btn_FngNo, Qt::LeftButton);
    EXPECT_FALSE(fng->FingerPing->LookupPending());
    EXPECT_EQ(fng->Step(), TFingerStep::Idle);
    EXPECT_EQ(Status(), "Status: Unknown Host localhost");
    testutil::pump(300ms);
    EXPECT_EQ(server.connections(), 0);
    EXPECT_TRUE(Reply().isEmpty());
    EXPECT_TRUE(messages.isEmpty());

    // Cancel with nothing under way does nothing; left alone the same query
    // goes through.
    fng->btn_FngNo->Click();
    EXPECT_EQ(Status(), "Status: Unknown Host localhost");
    Query("jdoe@localhost");
    EXPECT_EQ(Reply(), "Login: jdoe");
    EXPECT_EQ(Status(), " Status: Successfully fingered jdoe@localhost");
}

TEST_F(FingerTool, TheQueryTypedIsTheQueryRunAndASecondOneIsRefused)
{
    // While the server waits, the user edits the field, presses Query and
    // Enter, and switches the tool off: the query under way is the one typed
    // at its start, no second connection is made, and the query is not
    // cancelled by the switch.
    ScriptServer server({Script().readBytes(6).pause(600).send("Login: jdoe\r\n")});
    Aim(server.port());
    QTimer::singleShot(200, [&] {
        fng->edt_Finger->setText("other@127.0.0.2");
        fng->btn_FngYes->Click();
        QTest::keyClick(fng->edt_Finger, Qt::Key_Return);
        Ctl<TPictureButton>(f, "btn_Finger")->Click();
    });
    Query("jdoe@127.0.0.1");
    EXPECT_EQ(server.connections(), 1);
    EXPECT_EQ(server.received(0), "jdoe\r\n");
    EXPECT_TRUE(messages.isEmpty()) << messages.join('|').toStdString();
    EXPECT_EQ(fng->FingerCli->Query(), "jdoe@127.0.0.1");
    EXPECT_EQ(Reply(), "Login: jdoe");
    EXPECT_EQ(Status(), " Status: Successfully fingered jdoe@127.0.0.1");
}

TEST_F(FingerTool, QueriesTheClientCannotSendAreRefusedBeforeTheLookup)
{
    ScriptServer server({Script().send("never asked\r\n")});
    Aim(server.port());
    const QString longUser = QString(300, QChar('u')) + "@127.0.0.1";
    const QString farAt = QString(260, QChar('u')) + "@127.0.0.1";
    for (const QString &query : {longUser, farAt}) {
        messages.clear();
        f->SetStatus("Status: before");
        fng->edt_Finger->setText(query);
        fng->btn_FngYes->Click();
        ASSERT_EQ(messages.size(), 1);
        EXPECT_TRUE(messages[0].startsWith("Invalid query string format.") ||
                    messages[0].startsWith("User name too long."))
            << messages[0].toStdString();
        EXPECT_EQ(Status(), "Status: before");
        EXPECT_EQ(fng->Step(), TFingerStep::Idle);
    }
    testutil::pump(100ms);
    EXPECT_EQ(server.connections(), 0);
}
