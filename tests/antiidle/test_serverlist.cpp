// The server list: the file format on its own, then the panel's buttons on a
// real main window working in a scratch program directory.
#include "session/serverlistfile.h"
#include "sessionwindow.h"
#include "shell/mainform.h"
#include "widgets/picturebutton.h"
#include "desktop/msgbox.h"
#include "platform/boundedread.h"
#include "../support/testutil.h"
#include "../support/ctl.h"
#include "platform/services.h"

#include <QDir>
#include <QFileInfo>
#include <sys/stat.h>
#include <QFile>
#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QCoreApplication>
#include <QKeyEvent>
#include <gtest/gtest.h>
#include <memory>

using namespace session;

namespace {

QByteArray ReadAll(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

void WriteAll(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(bytes);
}

QStringList Entries(const QListWidget *list)
{
    QStringList out;
    for (int i = 0; i < list->count(); ++i)
        out << list->item(i)->text();
    return out;
}

void Key(QWidget *w, QEvent::Type type, int key)
{
    const QString text = type == QEvent::KeyPress ? QStringLiteral("\r") : QString();
    QKeyEvent e(type, key, Qt::NoModifier, text);
    QCoreApplication::sendEvent(w, &e);
}

} // namespace

TEST(ServerListFile, ParsesEveryLineBreakKind)
{
    const struct { QByteArray bytes; QStringList entries; } cases[] = {
        {"", {}},
        {"a", {"a"}},
        {"a\r\n", {"a"}},                       // a final break adds nothing
        {"a\r\n\r\nb\r\n", {"a", "", "b"}},     // an empty middle line is an entry
        {"a\rb\nc", {"a", "b", "c"}},           // lone CR and lone LF
        {"a\n\rb", {"a", "", "b"}},             // LF CR is two breaks
        {"\r\n", {""}},
        {"a\r\n\r\n", {"a", ""}},
        {"  spaced host  \r\n", {"  spaced host  "}}, // kept as written
        {"dup\r\ndup\r\n", {"dup", "dup"}},
        {"caf\xe9\r\n", {QStringLiteral("caf\u00e9")}}, // Windows-1252 text
    };
    for (const auto &c : cases)
        EXPECT_EQ(ParseServerList(c.bytes), c.entries) << c.bytes.toStdString();
}

TEST(ServerListFile, FormatsCrLfAndRoundTrips)
{
    const QStringList entries = {"a", "", "b", QStringLiteral("\u20ac.example")};
    const QByteArray bytes = FormatServerList(entries);
    EXPECT_EQ(bytes, QByteArray("a\r\n\r\nb\r\n\x80.example\r\n"));
    EXPECT_EQ(ParseServerList(bytes), entries);
    EXPECT_EQ(FormatServerList({}), QByteArray());
}

TEST(ServerListFile, AUtf8ListIsReadAsUtf8AndWrittenBackAsItWasRead)
{
    const struct {
        QByteArray bytes;
        QStringList entries;
        TListEncoding encoding;
    } cases[] = {
        {"m\xc3\xbcnchen.test\r\nplain.test\r\n", {QStringLiteral("m\u00fcnchen.test"), "plain.test"}, TListEncoding::Utf8},
        {"m\xfcnchen.test\r\n", {QStringLiteral("m\u00fcnchen.test")}, TListEncoding::Cp1252},
        // Not UTF-8 as a whole: every byte as Windows-1252 has it.
        {"\xc3\xbc\r\n\x95\r\n", {QStringLiteral("\u00c3\u00bc"), QStringLiteral("\u2022")}, TListEncoding::Cp1252},
        {"plain.test\r\n", {"plain.test"}, TListEncoding::Cp1252},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.bytes.toStdString());
        TListEncoding read = TListEncoding::Utf8;
        EXPECT_EQ(ParseServerList(c.bytes, &read), c.entries);
        EXPECT_EQ(read, c.encoding);
        EXPECT_EQ(FormatServerList(c.entries, read), c.bytes);
    }
    // A name Windows-1252 cannot hold is written in UTF-8 rather than lost.
    const QStringList wide = {"plain.test", QStringLiteral("\u65e5\u672c.test")};
    EXPECT_EQ(ParseServerList(FormatServerList(wide)), wide);
}

TEST(ServerListFile, RandomBytesNeverLoseALineBreakOrText)
{
    // Whatever a file holds, parsing keeps every byte that is not a line
    // break, and formatting the result parses back to the same entries.
    quint32 seed = 12345;
    auto next = [&seed] { seed = seed * 1103515245u + 12345u; return seed >> 16; };
    const char alphabet[] = {'a', 'b', '\r', '\n', ' ', '\x95', '\0'};
    for (int round = 0; round < 3000; ++round) {
        QByteArray bytes;
        const int len = int(next() % 24);
        for (int i = 0; i < len; ++i)
            bytes += alphabet[next() % sizeof(alphabet)];
        const QStringList entries = ParseServerList(bytes);
        QByteArray kept = bytes;
        kept.replace("\r", "").replace("\n", "");
        EXPECT_EQ(FormatServerList(entries).replace("\r\n", ""), kept) << round;
        EXPECT_EQ(ParseServerList(FormatServerList(entries)), entries) << round;
    }
}

TEST(ServerListFile, MissingFileReadsNothingAndUnwritablePathFails)
{
    testutil::ScratchDir dir;
    QStringList entries = {"untouched"};
    EXPECT_FALSE(ReadServerListFile(dir.file("Servers.dat"), entries));
    EXPECT_EQ(entries, QStringList{"untouched"});
    EXPECT_EQ(ServerListPath(), dir.file("Servers.dat"));

    // A directory in the file's place cannot be replaced by the list.
    ASSERT_TRUE(QDir(dir.path()).mkdir("Servers.dat"));
    EXPECT_FALSE(WriteServerListFile(dir.file("Servers.dat"), {"a"}));
    EXPECT_FALSE(ReadServerListFile(dir.file("Servers.dat"), entries));
}

TEST(ServerListFile, HostileFilesAreReadWithinLimitsAndTold)
{
    testutil::ScratchDir dir;
    QStringList notices;
    platform::Services().Notice = [&](const QString &n) { notices << n; };
    const QString path = dir.file("Servers.dat");
    const QByteArray host253(253, 'h');
    // A hundred thousand servers are kept whole (slow to show, but sound);
    // the limit is one more.
    QByteArray tooMany;
    for (int i = 0; i < 100001; ++i)
        tooMany += "s" + QByteArray::number(i) + ".example\r\n";
    const QString longRule = ": 1 line longer than a host name can be (253 characters) was skipped";
    struct Row {
        const char *name;
        QByteArray bytes;          // empty: a FIFO
        bool read;
        int entries;
        QString first, last;       // first and last entry read
        QString notice;            // after the path
    } rows[] = {
        {"a host name of 253 characters", "a\r\n" + host253 + "\r\n", true, 2, "a",
         QString(host253), ""},
        {"one character more is no host name",
         "a\r\n" + host253 + "x\r\n<b>srv</b>\r\n", true, 2, "a", "<b>srv</b>",
         longRule + " (line 2)."},
        {"one line of 20 MB", QByteArray(20 * 1000 * 1000, 'a'), true, 0, "", "", longRule + " (line 1)."},
        {"a hundred thousand and one servers", tooMany, true, 100000, "s0.example",
         "s99999.example", ": Only the first 100000 lines were read; the rest was skipped."},
        {"a FIFO nobody writes to", "", false, 0, "", "", " is a FIFO, not a file; it was not read."},
    };
    for (const Row &r : rows) {
        SCOPED_TRACE(r.name);
        QFile::remove(path);
        notices.clear();
        if (r.bytes.isEmpty())
            ASSERT_EQ(::mkfifo(QFile::encodeName(path).constData(), 0600), 0);
        else
            WriteAll(path, r.bytes);
        QStringList entries;
        EXPECT_EQ(ReadServerListFile(path, entries), r.read);
        ASSERT_EQ(entries.size(), r.entries);
        if (!entries.isEmpty()) {
            EXPECT_EQ(entries.first(), r.first);
            EXPECT_EQ(entries.last(), r.last);
        }
        EXPECT_EQ(notices, r.notice.isEmpty() ? QStringList() : QStringList{path + r.notice});
    }
    platform::Services().Notice = {};
}

TEST(ServerListFile, ALinkedListIsWrittenThroughTheLink)
{
    testutil::ScratchDir dir;
    ASSERT_TRUE(QDir(dir.path()).mkdir("lists"));
    WriteAll(dir.file("lists/mine.dat"), "old\r\n");
    ASSERT_TRUE(QFile::link("lists/mine.dat", dir.file("Servers.dat")));
    ASSERT_TRUE(WriteServerListFile(dir.file("Servers.dat"), {"a", "b"}));
    EXPECT_TRUE(QFileInfo(dir.file("Servers.dat")).isSymLink());
    EXPECT_EQ(ReadAll(dir.file("lists/mine.dat")), QByteArray("a\r\nb\r\n"));
}

class ServerPanel : public ::testing::Test, public antiidletest::AntiIdleParts {
protected:
    void SetUp() override
    {
        platform::Services().Message = [this](const QString &m) { messages << m; };
    }
    void TearDown() override
    {
        form.reset();
        platform::Services().Message = {};
    }
    void MakeForm()
    {
        form = std::make_unique<TMainForm>();
        Attach(*form);
    }
    void Select(int i) { serverList->ListBox1->setCurrentRow(i); }
    void Add(const QString &host)
    {
        serverList->edt_SrvHost->setText(host);
        serverList->btn_SrvAdd->Click();
    }

    testutil::ScratchDir dir;
    std::unique_ptr<TMainForm> form;
    QStringList messages;
};

TEST_F(ServerPanel, FileWithEmptyMiddleLineIsLoadedAndWrittenBack)
{
    WriteAll(dir.file("Servers.dat"), "a\r\n\r\nb");
    MakeForm();
    // The window reads the list when it is created.
    EXPECT_EQ(Entries(serverList->ListBox1), (QStringList{"a", "", "b"}));
    serverList->ServerList1Click();
    EXPECT_FALSE(Ctl<QFrame>(form, "pnl_Servers")->isHidden());
    EXPECT_FALSE(Ctl<QLabel>(form, "img_Bg2")->isHidden());
    serverList->btn_SrvClose->Click();
    EXPECT_TRUE(Ctl<QFrame>(form, "pnl_Servers")->isHidden());
    EXPECT_TRUE(Ctl<QLabel>(form, "img_Bg2")->isHidden());
    EXPECT_EQ(ReadAll(dir.file("Servers.dat")), QByteArray("a\r\n\r\nb\r\n"));
    EXPECT_TRUE(messages.isEmpty());
}

TEST_F(ServerPanel, AJunkLineIsLeftOutAndGoneOnceTheListIsWritten)
{
    // A list download whose body was no list, with the hosts after it.
    WriteAll(dir.file("Servers.dat"), QByteArray(1000 * 1000, '<') + "\r\nkept.example\r\n");
    QStringList notices;
    platform::Services().Notice = [&](const QString &n) { notices << n; };
    MakeForm();
    serverList->ServerList1Click();   // read again: told once all the same
    EXPECT_EQ(Entries(serverList->ListBox1), QStringList{"kept.example"});
    EXPECT_EQ(notices.size(), 1);
    serverList->btn_SrvClose->Click();
    EXPECT_EQ(ReadAll(dir.file("Servers.dat")), QByteArray("kept.example\r\n"));
    EXPECT_TRUE(messages.isEmpty());
    platform::Services().Notice = {};
}

TEST_F(ServerPanel, OpeningWithoutFileShowsEmptyListAndCreatesNoFile)
{
    MakeForm();
    ai->Servers().Replace({"stale"});
    serverList->ServerList1Click();
    EXPECT_EQ(serverList->ListBox1->count(), 0);
    EXPECT_FALSE(QFile::exists(dir.file("Servers.dat")));
    // Nor is a file of another spelling read or written.
    EXPECT_FALSE(QFile::exists(dir.file("servers.dat")));
}

TEST_F(ServerPanel, AddIgnoresEmptyTextKeepsDuplicatesAndWritesNothing)
{
    MakeForm();
    serverList->ServerList1Click();
    Add("");
    EXPECT_EQ(serverList->ListBox1->count(), 0);
    Add("host.test");
    Add("host.test");
    EXPECT_EQ(Entries(serverList->ListBox1), (QStringList{"host.test", "host.test"}));
    EXPECT_TRUE(serverList->edt_SrvHost->text().isEmpty());
    EXPECT_FALSE(QFile::exists(dir.file("Servers.dat")));
}

TEST_F(ServerPanel, EnterInHostFieldAddsAndPressesTheButton)
{
    MakeForm();
    serverList->ServerList1Click();
    serverList->edt_SrvHost->setText("typed.test");
    const QPoint at = serverList->btn_SrvAdd->pos();
    Key(serverList->edt_SrvHost, QEvent::KeyPress, Qt::Key_Return);
    EXPECT_EQ(serverList->btn_SrvAdd->pos(), at + QPoint(1, 1));
    Key(serverList->edt_SrvHost, QEvent::KeyRelease, Qt::Key_Return);
    EXPECT_EQ(serverList->btn_SrvAdd->pos(), at);
    EXPECT_EQ(Entries(serverList->ListBox1), QStringList{"typed.test"});
    // Enter on an empty field adds nothing.
    Key(serverList->edt_SrvHost, QEvent::KeyPress, Qt::Key_Return);
    Key(serverList->edt_SrvHost, QEvent::KeyRelease, Qt::Key_Return);
    EXPECT_EQ(serverList->ListBox1->count(), 1);
}

TEST_F(ServerPanel, EditMovesTheEntryToTheEnd)
{
    WriteAll(dir.file("Servers.dat"), "a\r\nb\r\nc\r\n");
    MakeForm();
    serverList->ServerList1Click();
    serverList->btn_SrvEdit->Click(); // nothing selected: nothing happens
    EXPECT_TRUE(serverList->ListBox1->isEnabled());
    EXPECT_EQ(serverList->ListBox1->count(), 3);

    Select(1);
    serverList->btn_SrvEdit->Click();
    EXPECT_FALSE(serverList->ListBox1->isEnabled());
    EXPECT_EQ(serverList->edt_SrvHost->text(), "b");
    EXPECT_EQ(Entries(serverList->ListBox1), (QStringList{"a", "c"}));
    serverList->edt_SrvHost->setText("b2");
    serverList->btn_SrvAdd->Click();
    EXPECT_TRUE(serverList->ListBox1->isEnabled());
    EXPECT_EQ(Entries(serverList->ListBox1), (QStringList{"a", "c", "b2"}));
    // Edits stay in memory until the file is written.
    EXPECT_EQ(ReadAll(dir.file("Servers.dat")), QByteArray("a\r\nb\r\nc\r\n"));
}

TEST_F(ServerPanel, DeleteWritesAtOnceAndSelectsTheFollowingEntry)
{
    WriteAll(dir.file("Servers.dat"), "a\r\nb\r\nc\r\n");
    MakeForm();
    serverList->ServerList1Click();

    Select(0);
    serverList->btn_SrvDelete->Click();
    EXPECT_EQ(Entries(serverList->ListBox1), (QStringList{"b", "c"}));
    EXPECT_EQ(ReadAll(dir.file("Servers.dat")), QByteArray("b\r\nc\r\n"));
    EXPECT_EQ(serverList->SelectedServer(), 0); // the new first entry

    Select(1);
    serverList->btn_SrvDelete->Click(); // the last entry
    EXPECT_EQ(Entries(serverList->ListBox1), QStringList{"b"});
    EXPECT_EQ(serverList->SelectedServer(), -1);
    EXPECT_EQ(ReadAll(dir.file("Servers.dat")), QByteArray("b\r\n"));

    serverList->btn_SrvDelete->Click(); // no selection: nothing
    EXPECT_EQ(serverList->ListBox1->count(), 1);
}

TEST_F(ServerPanel, UnwritableFileShowsMessageAndKeepsTheList)
{
    MakeForm();
    serverList->ServerList1Click();
    Add("kept.test");
    ASSERT_TRUE(QDir(dir.path()).mkdir("Servers.dat"));
    serverList->btn_SrvClose->Click();
    ASSERT_EQ(messages.size(), 1);
    EXPECT_EQ(messages[0], "Cannot create file " + dir.file("Servers.dat"));
    // The close stopped there: the panel stays open with the list intact.
    EXPECT_FALSE(Ctl<QFrame>(form, "pnl_Servers")->isHidden());
    EXPECT_EQ(Entries(serverList->ListBox1), QStringList{"kept.test"});

    Select(0);
    serverList->btn_SrvDelete->Click();
    EXPECT_EQ(messages.size(), 2);
    EXPECT_EQ(serverList->ListBox1->count(), 0);
}

TEST_F(ServerPanel, CloseKeepsTheBackdropForTheReport)
{
    MakeForm();
    serverList->ServerList1Click();
    report->ShowReport();   // the report stands on the backdrop too
    serverList->btn_SrvClose->Click();
    EXPECT_TRUE(Ctl<QFrame>(form, "pnl_Servers")->isHidden());
    EXPECT_FALSE(Ctl<QLabel>(form, "img_Bg2")->isHidden());
}
