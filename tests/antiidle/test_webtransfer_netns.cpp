// Web transfers of the real window on the test network: probes of a real
// nginx on a test host by name, a name the test name server does not know,
// "Alternate" sessions that mix echoes and HTTP GETs, and the server list
// download from the maker's web server, whose name the test name server
// points at the nginx host. Root only.
#include "session/probechoice.h"
#include "widgets/reportgrid.h"
#include "session/webtransfer.h"
#include "shell/mainform.h"
#include "widgets/optioncontrols.h"
#include "widgets/picturebutton.h"
#include "net/httpcli.h"
#include "desktop/msgbox.h"
#include "sessionwindow.h"
#include "../support/netfixture.h"
#include "../support/testutil.h"
#include "../support/ctl.h"

#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QTemporaryDir>
#include <QTextEdit>
#include <QTimer>
#include <gtest/gtest.h>

#include <memory>

using namespace std::chrono_literals;
using testnet::TestNet;

inline void PrintTo(const QString &s, std::ostream *os) { *os << '"' << s.toStdString() << '"'; }

namespace {

constexpr char kIndex[] = "<html><body>keep-alive page</body></html>\n";
constexpr char kList[] = "ns1.example.net\r\n10.0.0.1\r\n\r\nlast.example.org\r\n";

void WriteFile(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly)) << path.toStdString();
    f.write(bytes);
}

QByteArray ReadFile(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

class WebNet : public testnet::WebNetTest, protected antiidletest::SessionWindow {
protected:
    static void SetUpTestSuite()
    {
        SetUpWeb({{"index.html", kIndex}, {"servers20.dat", kList}});
        named = net && net->ok() && net->addName(testnet::kHost, session::MakerWebHost);
    }
    void SetUp() override
    {
        WebNetTest::SetUp();
        if (!Ready())
            return;
        ASSERT_TRUE(named) << "the maker's name could not be added to the test name server";
        // The window's sockets and lookups live in the client host: create it there.
        OpenWindow(session::pmHttpGets);
    }
    void TearDown() override
    {
        CloseWindow();
        scope.reset();
    }
    QStringList Entries() const
    {
        QStringList out;
        for (int i = 0; i < serverList->ListBox1->count(); ++i)
            out << serverList->ListBox1->item(i)->text();
        return out;
    }
    QString Status() const { return Ctl<QLabel>(form, "StatusLBL")->text(); }

    testutil::ScratchDir dir;

    static inline bool named = false;
};

} // namespace

TEST_F(WebNet, ProbesOfNginxAndOfAnUnknownName)
{
    Probe("host.idlix.test");
    const int n = int(qstrlen(kIndex));
    EXPECT_EQ(Status(), QStringLiteral("Status: Received %1 bytes from host.idlix.test in %2ms")
                            .arg(n).arg(Inside(ai).HttpElapsed()));
    EXPECT_EQ(ReadFile(dir.file("temp.dat")), QByteArray(kIndex));
    EXPECT_EQ(ai->Stats().Successes(), 1);

    Probe("nosuch.idlix.test");
    EXPECT_EQ(Status(), "Status: Transfer from nosuch.idlix.test failed. "
                        "can't resolve hostname to IP address");
    EXPECT_EQ(History().last(), "• Transfer from nosuch.idlix.test failed. "
                                "can't resolve hostname to IP address");
    EXPECT_EQ(ai->Stats().Successes(), 1);
    EXPECT_EQ(ai->Stats().Failures(), 1);
    EXPECT_EQ(report->ReportGrid->Cells(2, 1), "1");
    EXPECT_EQ(webClient->HttpRequestCount, 2);
    // The body of the last successful probe was replaced by the failed one's (none).
    EXPECT_EQ(ReadFile(dir.file("temp.dat")), QByteArray());
}

TEST_F(WebNet, AlternateSessionsMixEchoesAndGets)
{
    Ctl<TRadioGroup>(form, "rg_AIMethod")->SetItemIndex(session::pmAlternate);
    Ctl<QLineEdit>(form, "edt_AIHost")->setText("host.idlix.test");
    Inside(ai).State.AlternateToggle = false;
    // Kinds of the probes as the history shows them: E echo, H HTTP GET.
    auto kinds = [this] {
        QString k;
        for (const QString &line : History()) {
            if (line.startsWith("• Sending "))
                k += 'E';
            else if (line.startsWith("• Connecting to "))
                k += 'H';
        }
        return k;
    };
    auto done = [this](int echoes, int gets) {
        return testutil::waitFor(
            [&] {
                const QStringList h = History();
                return h.filter(" pinged in ").size() + h.filter("• Error pinging").size() == echoes
                    && h.filter("• Received ").size() + h.filter("• Transfer from").size() == gets;
            },
            8000ms);
    };

    Ctl<TPictureButton>(form, "btn_AntiIdle")->Click();            // the start's own echo
    ASSERT_TRUE(done(1, 0)) << History().join(" | ").toStdString();
    ai->Tick();                    // echo
    ASSERT_TRUE(done(2, 0)) << History().join(" | ").toStdString();
    ai->Tick();                    // HTTP GET
    ASSERT_TRUE(done(2, 1)) << History().join(" | ").toStdString();
    ai->Tick();                    // echo
    ASSERT_TRUE(done(3, 1)) << History().join(" | ").toStdString();
    EXPECT_EQ(kinds(), "EEHE");
    EXPECT_EQ(ai->Stats().Successes(), 4);
    EXPECT_EQ(ReadFile(dir.file("temp.dat")), QByteArray(kIndex));
    Ctl<TPictureButton>(form, "btn_AntiIdle")->Click();

    // The next session goes on where the toggle was: start echo, then GET.
    Ctl<TPictureButton>(form, "btn_AntiIdle")->Click();
    ASSERT_TRUE(done(1, 0)) << History().join(" | ").toStdString();
    ai->Tick();
    ASSERT_TRUE(done(1, 1)) << History().join(" | ").toStdString();
    EXPECT_EQ(kinds(), "EH");
    Ctl<TPictureButton>(form, "btn_AntiIdle")->Click();
}

TEST_F(WebNet, ListDownloadReplacesTheEntries)
{
    WriteFile(dir.file("Servers.dat"), "old.one\r\nold.two\r\n");
    serverList->ServerList1Click();
    ASSERT_EQ(Entries(), (QStringList{"old.one", "old.two"}));

    serverList->btn_SrvUpdate->Click();
    EXPECT_EQ(Status(), QStringLiteral("Status: Received %1 bytes.").arg(qstrlen(kList)));
    EXPECT_EQ(Entries(), (QStringList{"ns1.example.net", "10.0.0.1", "", "last.example.org"}));
    EXPECT_EQ(ReadFile(dir.file("Servers.dat")), QByteArray(kList));
    EXPECT_EQ(webClient->HttpRequestCount, 1);
    EXPECT_EQ(webClient->HttpCli1->RequestPath(), "/servers20.dat");
    // Nothing but the list is left in the program's directory.
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files), QStringList{"Servers.dat"});
    EXPECT_TRUE(messages.isEmpty()) << messages.join(" | ").toStdString();
}

TEST_F(WebNet, FailedDownloadKeepsTheList)
{
    WriteFile(dir.file("Servers.dat"), "old.one\r\nold.two\r\n");
    serverList->ServerList1Click();
    serverList->edt_SrvHost->setText("added.not.saved");
    serverList->btn_SrvAddClick();
    const QStringList before = Entries();

    const QString hidden = www->filePath("servers20.dat.away");
    ASSERT_TRUE(QFile::rename(www->filePath("servers20.dat"), hidden));
    serverList->btn_SrvUpdate->Click();
    ASSERT_TRUE(QFile::rename(hidden, www->filePath("servers20.dat")));

    EXPECT_EQ(Status(), "Status: Update failed. 404 Not Found");
    EXPECT_EQ(Entries(), before);
    EXPECT_EQ(ReadFile(dir.file("Servers.dat")), QByteArray("old.one\r\nold.two\r\n"));
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files), QStringList{"Servers.dat"});
    EXPECT_EQ(webClient->HttpCli1->State(), httpReady);

    // The same click with the document back in place succeeds.
    serverList->btn_SrvUpdate->Click();
    EXPECT_EQ(Entries(), (QStringList{"ns1.example.net", "10.0.0.1", "", "last.example.org"}));
}
