// The HTTP GET probe and the list download on the real window against
// scripted TCP servers on loopback: the texts and the measured time of a
// probe, failures of every kind, the client's replacement after a hundred
// requests, the watchdog, and transfers that come while one is running.
// The probe's stopwatch and the pieces of a paced reply are timed: CTest runs
// these cases alone (RUN_SERIAL).
// The probe's host carries the scripted server's port ("127.0.0.1:port"),
// which the client takes from the bare host text like any other.
#include "session/probechoice.h"
#include "widgets/reportgrid.h"
#include "session/webtransfer.h"
#include "shell/mainform.h"
#include "widgets/optioncontrols.h"
#include "widgets/picturebutton.h"
#include "components/supertimer.h"
#include "net/httpcli.h"
#include "desktop/msgbox.h"
#include "sessionwindow.h"
#include "../support/scriptserver.h"
#include "../support/testutil.h"
#include "../support/ctl.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPointer>
#include <QTextEdit>
#include <QTimer>
#include <gtest/gtest.h>

#include <memory>
#include <unistd.h>

using namespace std::chrono_literals;
using testsupport::Script;
using testsupport::ScriptServer;

inline void PrintTo(const QString &s, std::ostream *os) { *os << '"' << s.toStdString() << '"'; }

namespace {

QByteArray Page(const QByteArray &status, const QByteArray &body)
{
    return "HTTP/1.0 " + status + "\r\nContent-Type: text/plain\r\n\r\n" + body;
}

class WebTransfer : public ::testing::Test, protected antiidletest::SessionWindow {
protected:
    void SetUp() override
    {
        OpenWindow(session::pmHttpGets);
    }
    void TearDown() override
    {
        CloseWindow();
    }
    QString Status() const { return Ctl<QLabel>(form, "StatusLBL")->text(); }
    QString Cell(int col) const { return report->ReportGrid->Cells(col, 1); }
    QByteArray TempDat() const
    {
        QFile f(dir.file("temp.dat"));
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
    }
    static QString Local(const ScriptServer &s) { return QStringLiteral("127.0.0.1:%1").arg(s.port()); }

    testutil::ScratchDir dir;
};

} // namespace

TEST_F(WebTransfer, ClientAsTheWindowCreatesIt)
{
    THttpCli *c = webClient->HttpCli1;
    ASSERT_NE(c, nullptr);
    EXPECT_EQ(c->objectName(), "HttpCli1");
    EXPECT_EQ(c->ProxyPort, "80");
    EXPECT_TRUE(c->NoCache);
    EXPECT_FALSE(c->MultiThreaded());
    EXPECT_TRUE(c->Agent.isEmpty());
    EXPECT_EQ(c->ContentTypePost, "application/x-www-form-urlencoded");
    for (bool set : {bool(c->OnDocBegin), bool(c->OnDocData), bool(c->OnDocEnd),
                     bool(c->OnRequestDone)})
        EXPECT_TRUE(set);
}

TEST_F(WebTransfer, ProbeOfAFivebytePageBehindADelay)
{
    constexpr int kDelay = 120;
    ScriptServer server({Script().readRequest().pause(kDelay).send(Page("200 OK", "hello"))});
    const QString host = Local(server);
    QFile old(dir.file("temp.dat"));
    ASSERT_TRUE(old.open(QIODevice::WriteOnly));
    old.write("an older and much longer document");
    old.close();

    // The status texts of the client's events, in order, as they go by.
    QStringList seen;
    QTimer sampler;
    QObject::connect(&sampler, &QTimer::timeout, [&] {
        if (seen.isEmpty() || seen.last() != Status())
            seen << Status();
    });
    sampler.start(1);

    QElapsedTimer wall;
    wall.start();
    Probe(host);
    const qint64 wallMs = wall.elapsed();
    sampler.stop();

    EXPECT_EQ(server.received(0), QByteArray("GET / HTTP/1.0\r\nHost: 127.0.0.1\r\n"
                                             "Pragma: no-cache\r\n\r\n"));
    const int ms = Inside(ai).HttpElapsed();
    RecordProperty("HttpElapsed", ms);
    RecordProperty("WallMs", int(wallMs));
    // The stopwatch runs on the monotonic clock from before the request goes
    // out until the reply has been read: the server's pause lies wholly
    // inside it, and it lies wholly inside the probe. However busy the
    // machine, nothing else can move it.
    EXPECT_GE(ms, kDelay) << "stopwatch shorter than the server's delay";
    EXPECT_LE(ms, wallMs) << "stopwatch longer than the probe";
    EXPECT_EQ(Status(), QStringLiteral("Status: Received 5 bytes from %1 in %2ms").arg(host).arg(ms));
    EXPECT_EQ(History(), (QStringList{"• Connecting to " + host,
                                      QStringLiteral("• Received 5 bytes from %1 in %2ms")
                                          .arg(host).arg(ms)}));
    EXPECT_TRUE(seen.contains("Status: Connecting to " + host)) << seen.join(" | ").toStdString();
    EXPECT_EQ(TempDat(), "hello");
    EXPECT_EQ(form->Graph().ResponseHistory[0], ms / 40);
    EXPECT_EQ(ai->Stats().Successes(), 1);
    EXPECT_EQ(ai->Stats().Failures(), 0);
    EXPECT_EQ(Cell(1), "1");
    EXPECT_EQ(Cell(4), QString::number(ms));
    EXPECT_EQ(webClient->HttpRequestCount, 1);
    EXPECT_TRUE(Ctl<QLabel>(form, "PingLight")->isHidden());
    EXPECT_FALSE(Inside(ai).HTTPTimer->Enabled());
    EXPECT_EQ(webClient->HttpCli1->ReceiveStream, nullptr);
    EXPECT_FALSE(webClient->HttpTransferActive);

    // The stopwatch stays still between probes.
    testutil::pump(30ms);
    EXPECT_EQ(Inside(ai).HttpElapsed(), ms);
}

// The probe's time stays exact when the machine has no time to spare: with
// both cores spinning, and when the GUI thread is held up inside the
// transfer for longer than the server's delay (as a blocking step of another
// handler run from the loop can hold it). Meanwhile the stopwatch's ticks
// reach the window: the count grows while the transfer runs.
TEST_F(WebTransfer, ProbeTimeIsExactUnderLoad)
{
    constexpr int kDelay = 500;
    constexpr int kStallMs = 600;
    enum class Load { BusyCores, GuiStalls };
    for (Load load : {Load::BusyCores, Load::GuiStalls}) {
        SCOPED_TRACE(load == Load::BusyCores ? "both cores busy" : "GUI thread stalls");
        ScriptServer server({Script().readRequest().pause(kDelay).send(Page("200 OK", "hello"))});
        std::unique_ptr<testutil::BusyCores> busy;
        if (load == Load::BusyCores)
            busy = std::make_unique<testutil::BusyCores>(2);
        int countDuring = -1;
        QTimer::singleShot(250, [&] {
            countDuring = Inside(ai).HttpElapsed();
            if (load == Load::GuiStalls)
                usleep(kStallMs * 1000);
        });
        const int good = ai->Stats().Successes();
        QElapsedTimer wall;
        wall.start();
        Probe(Local(server));
        const qint64 wallMs = wall.elapsed();
        busy.reset();
        const int ms = Inside(ai).HttpElapsed();
        ASSERT_EQ(ai->Stats().Successes(), good + 1);
        // The server's pause, and the stall, lie wholly inside the transfer.
        EXPECT_GE(ms, load == Load::GuiStalls ? kStallMs : kDelay) << "ticks lost";
        EXPECT_LE(ms, wallMs) << "stopwatch longer than the probe";
        EXPECT_GT(countDuring, 0) << "no tick reached the window during the transfer";
        EXPECT_LT(countDuring, ms);
        EXPECT_TRUE(History().last().endsWith(QStringLiteral(" in %1ms").arg(ms)))
            << History().last().toStdString();
    }
}

TEST_F(WebTransfer, EventTextsOfTheClient)
{
    // Body in two pieces, so OnDocData reports a running count.
    ScriptServer server({Script().readRequest().send(Page("200 OK", "abc")).pause(40).send("defg")});
    QStringList texts;
    auto watch = [&] { texts << Status(); };
    THttpCli *c = webClient->HttpCli1;
    auto docBegin = c->OnDocBegin, docEnd = c->OnDocEnd;
    auto docData = c->OnDocData;
    auto done = c->OnRequestDone;
    c->OnDocBegin = [&](THttpCli *s) { docBegin(s); watch(); };
    c->OnDocData = [&](THttpCli *s, const char *b, int n) { docData(s, b, n); watch(); };
    c->OnDocEnd = [&](THttpCli *s) { docEnd(s); watch(); };
    c->OnRequestDone = [&](THttpCli *s, THttpRequest r, quint16 e) { done(s, r, e); watch(); };
    Probe(Local(server));
    EXPECT_EQ(texts, (QStringList{"Status: Receiving file...", "Status: Received 3 bytes...",
                                  "Status: Received 7 bytes...", "Status: Update finished.",
                                  "Status: Update finished."}));
    EXPECT_EQ(TempDat(), "abcdefg");
}

TEST_F(WebTransfer, ProbeFailuresAndOddReplies)
{
    struct Case {
        const char *name;
        std::vector<Script> scripts;
        bool refused;           // no server on the port at all
        bool success;
        QString reasonPrefix;   // after "failed. ", or the size for a success
    };
    std::vector<Case> cases;
    cases.push_back({"404", {Script().readRequest().send("HTTP/1.0 404 Not Found\r\n\r\ngone")},
                     false, false, "Not Found"});
    cases.push_back({"500 over HTTP/1.1",
                     {Script().readRequest().send("HTTP/1.1 500 Internal Server Error\r\n\r\n")},
                     false, false, "Internal Server Error"});
    cases.push_back({"refused", {}, true, false, "Connection refused (Error #10061)"});
    // Replies that end before they are whole are failures, never a success.
    cases.push_back({"closed at once", {Script().readRequest().close()}, false, false,
                     "connection closed before the end of the reply header"});
    cases.push_back({"closed mid-header",
                     {Script().readRequest().send("HTTP/1.0 200 OK\r\nContent-Ty").close()},
                     false, false, "connection closed before the end of the reply header"});
    cases.push_back({"body short of its length",
                     {Script().readRequest().send("HTTP/1.0 200 OK\r\nContent-Length: 9\r\n\r\nabcd")},
                     false, false, "connection closed before the end of the document (4 of 9 bytes)"});
    cases.push_back({"endless header",
                     {Script().readRequest().send("HTTP/1.0 200 OK\r\n").flood("X-Pad: 0123456789\r\n")},
                     false, false, "response header too large"});
    cases.push_back({"302 without location",
                     {Script().readRequest().send("HTTP/1.0 302 Found\r\n\r\nmoved")},
                     false, true, "5"});
    for (Case &c : cases) {
        SCOPED_TRACE(c.name);
        form = std::make_unique<TMainForm>();
        Attach(*form);
        Ctl<TRadioGroup>(form, "rg_AIMethod")->SetItemIndex(session::pmHttpGets);
        Ctl<TSpinText>(form, "edt_AIFreq")->setText("1");
        std::unique_ptr<ScriptServer> server;
        QString host;
        if (c.refused) {
            host = QStringLiteral("127.0.0.1:%1").arg(ScriptServer::unusedPort());
        } else {
            server = std::make_unique<ScriptServer>(c.scripts);
            host = Local(*server);
        }
        Probe(host);
        if (c.success) {
            EXPECT_EQ(Status(), QStringLiteral("Status: Received %1 bytes from %2 in %3ms")
                                    .arg(c.reasonPrefix, host).arg(Inside(ai).HttpElapsed()));
            EXPECT_EQ(ai->Stats().Successes(), 1);
            EXPECT_EQ(ai->Stats().Failures(), 0);
        } else {
            const QString text = "Transfer from " + host + " failed. ";
            EXPECT_TRUE(Status().startsWith("Status: " + text + c.reasonPrefix)) << Status().toStdString();
            EXPECT_EQ(History().last(), "• " + Status().mid(8));
            EXPECT_EQ(ai->Stats().Successes(), 0);
            EXPECT_EQ(ai->Stats().Failures(), 1);
            EXPECT_EQ(Cell(2), "1");   // the report's "Failed" column
            EXPECT_EQ(form->Graph().ResponseHistory[0], 0);
        }
        EXPECT_TRUE(Ctl<QLabel>(form, "PingLight")->isHidden());
        EXPECT_FALSE(Inside(ai).HTTPTimer->Enabled());
        EXPECT_EQ(webClient->HttpCli1->State(), httpReady);
        EXPECT_EQ(webClient->HttpRequestCount, 1);
    }
}

TEST_F(WebTransfer, ProbeFileThatCannotBeCreated)
{
    ScriptServer server({Script().readRequest().send(Page("200 OK", "hello"))});
    // A program directory that does not exist: temp.dat cannot be opened.
    qputenv("IDLIX_DIR", dir.file("no/such/dir").toUtf8());
    Probe(Local(server));
    EXPECT_EQ(Status(), "Status: Transfer from " + Local(server) + " failed. Cannot create file "
                            + dir.file("no/such/dir/temp.dat"));
    EXPECT_EQ(ai->Stats().Failures(), 1);
    EXPECT_EQ(server.connections(), 0) << "nothing is sent without a file";
    EXPECT_FALSE(webClient->HttpTransferActive);
}

TEST_F(WebTransfer, ClientReplacedAtExactlyOneHundredRequests)
{
    constexpr int kLifetime = session::HttpClientLifetime;
    std::vector<Script> scripts(kLifetime + 3, Script().readRequest().send(Page("200 OK", "x")));
    ScriptServer server(scripts);
    const QString host = Local(server);
    QPointer<THttpCli> first = webClient->HttpCli1;
    for (int i = 1; i <= kLifetime; ++i) {
        Probe(host);
        ASSERT_EQ(webClient->HttpRequestCount, i);
        ASSERT_EQ(webClient->HttpCli1, first.data()) << "replaced early, at request " << i;
    }
    // The 101st probe: a fresh client, the count starts again, and it works
    // like the old one: handlers (texts and the count) and proxy included.
    first->Proxy = "127.0.0.1";
    first->ProxyPort = QString::number(server.port());
    Probe("probe.example");
    EXPECT_TRUE(first.isNull()) << "the old client is destroyed";
    ASSERT_NE(webClient->HttpCli1, nullptr);
    EXPECT_EQ(webClient->HttpRequestCount, 1);
    EXPECT_EQ(webClient->HttpCli1->Proxy, "127.0.0.1");
    EXPECT_EQ(webClient->HttpCli1->ProxyPort, QString::number(server.port()));
    EXPECT_TRUE(webClient->HttpCli1->NoCache);
    EXPECT_EQ(webClient->HttpCli1->objectName(), "HttpCli1");
    EXPECT_EQ(server.received(kLifetime), QByteArray("GET http://probe.example HTTP/1.0\r\n"
                                                     "Host: probe.example\r\n"
                                                     "Pragma: no-cache\r\n\r\n"));
    EXPECT_EQ(Status(), QStringLiteral("Status: Received 1 bytes from probe.example in %1ms")
                            .arg(Inside(ai).HttpElapsed()));
    EXPECT_EQ(ai->Stats().Successes(), kLifetime + 1);

    // A request between probes (as a list download would make) takes the
    // count from 100 to 101: the next probe keeps the client.
    webClient->HttpRequestCount = kLifetime;
    QPointer<THttpCli> second = webClient->HttpCli1;
    second->Proxy.clear();
    second->URL = host;
    second->Get();
    EXPECT_EQ(webClient->HttpRequestCount, kLifetime + 1);
    Probe(host);
    EXPECT_EQ(webClient->HttpCli1, second.data());
    EXPECT_EQ(webClient->HttpRequestCount, kLifetime + 2);
}

TEST_F(WebTransfer, WatchdogEndsAServerThatNeverFinishes)
{
    // Header and part of the body, then the server stalls with the line open.
    ScriptServer server({Script().readRequest().send(Page("200 OK", "part")).pause(2500)});
    ScriptServer next({Script().readRequest().send(Page("200 OK", "whole"))});
    const QString host = Local(server);
    webClient->HttpWatchdogMs = 300;
    QElapsedTimer wall;
    wall.start();
    Probe(host);
    const qint64 took = wall.elapsed();
    EXPECT_GE(took, 300);
    EXPECT_LT(took, 1500) << "the probe did not end at its watchdog";
    EXPECT_EQ(Status(), "Status: Transfer from " + host
                            + " failed. no complete reply within 300 ms, transfer aborted");
    EXPECT_EQ(ai->Stats().Failures(), 1);
    EXPECT_EQ(Cell(2), "1");
    EXPECT_EQ(webClient->HttpCli1->State(), httpReady);
    EXPECT_FALSE(webClient->HttpTransferActive);
    EXPECT_FALSE(Inside(ai).HTTPTimer->Enabled());

    // The next probe goes out normally on the same client.
    Probe(Local(next));
    EXPECT_TRUE(Status().startsWith("Status: Received 5 bytes from " + Local(next)))
        << Status().toStdString();
    EXPECT_EQ(TempDat(), "whole");
    EXPECT_EQ(ai->Stats().Successes(), 1);
}

TEST_F(WebTransfer, WatchdogLimits)
{
    // The limit follows the probe interval so that a stalled probe always
    // ends before the next tick is due.
    const std::pair<int, int> limits[] = {
        {0, 60000},        // interval unknown
        {60000, 50000},    // one minute: ten seconds to spare
        {70000, 60000},
        {3600000, 60000},  // an hour: the plain 60 s
        {8000, 4000},      // shorter than the margin: half the interval
        {1000, 1000},      // never below a second
    };
    for (auto [interval, limit] : limits)
        EXPECT_EQ(session::ProbeTransferLimit(interval), limit) << interval;
    Inside(ai).Timer3->setInterval(60000);
    EXPECT_EQ(ai->HttpWatchdogLimit(true), 50000);
    EXPECT_EQ(ai->HttpWatchdogLimit(false), 60000);
    webClient->HttpWatchdogMs = 250;
    EXPECT_EQ(ai->HttpWatchdogLimit(true), 250);
    EXPECT_EQ(session::TimeoutReason(60000), "no complete reply within 60 s, transfer aborted");
}

TEST_F(WebTransfer, TransfersThatComeDuringARunningOneAreSkipped)
{
    ScriptServer server({Script().readRequest().pause(300).send(Page("200 OK", "first"))});
    const QString host = Local(server);
    QString statusDuringUpdate;
    int countsDuringProbe = -1;
    // A tick and an "Update  List" click handled inside the running Get.
    QTimer::singleShot(100, [&] {
        Inside(ai).State.CurrentHost = "127.0.0.2:1";
        Inside(ai).SendProbe();
        countsDuringProbe = ai->Stats().Successes() + ai->Stats().Failures();
    });
    QTimer::singleShot(150, [&] {
        serverList->btn_SrvUpdate->Click();
        statusDuringUpdate = Status();
    });
    Probe(host);
    EXPECT_EQ(countsDuringProbe, 0);
    EXPECT_EQ(statusDuringUpdate, "Status: Update skipped, another transfer is still running.");
    EXPECT_EQ(server.connections(), 1);
    EXPECT_EQ(TempDat(), "first");
    const QStringList h = History();
    ASSERT_EQ(h.size(), 3) << h.join(" | ").toStdString();
    EXPECT_EQ(h[1], "• HTTP GET to 127.0.0.2:1 skipped: the previous transfer still runs");
    // The result names the running probe's host, not the skipped tick's.
    EXPECT_TRUE(h[2].startsWith("• Received 5 bytes from " + host + " in ")) << h[2].toStdString();
    EXPECT_EQ(ai->Stats().Successes(), 1);
    EXPECT_EQ(ai->Stats().Failures(), 0);
}

TEST_F(WebTransfer, CyclingSessionRecordsEachProbeInItsServersRow)
{
    ScriptServer a({Script().readRequest().send(Page("200 OK", "A"))});
    ScriptServer b({Script().readRequest().send("HTTP/1.0 404 Not Found\r\n\r\n")});
    QFile list(dir.file("Servers.dat"));
    ASSERT_TRUE(list.open(QIODevice::WriteOnly));
    list.write((Local(a) + "\r\n" + Local(b) + "\r\n").toLatin1());
    list.close();
    Ctl<TCheckListBox>(form, "cb_AIOptions")->SetChecked(0, true);
    Ctl<TPictureButton>(form, "btn_AntiIdle")->Click();   // the first probe of a cycling session is sent at once
    ai->Tick();
    ASSERT_EQ(report->ReportGrid->RowCount(), 3);
    EXPECT_EQ(report->ReportGrid->Cells(1, 1), "1");
    EXPECT_EQ(report->ReportGrid->Cells(2, 1), "0");
    EXPECT_EQ(report->ReportGrid->Cells(1, 2), "0");
    EXPECT_EQ(report->ReportGrid->Cells(2, 2), "1");
    EXPECT_EQ(Status(), "Status: Transfer from " + Local(b) + " failed. Not Found");
    Ctl<TPictureButton>(form, "btn_AntiIdle")->Click();
}

TEST_F(WebTransfer, SessionStartCopiesTheProxyFields)
{
    Ctl<QLineEdit>(form, "edt_PxyServer")->setText("proxy.example");
    Ctl<QLineEdit>(form, "edt_PxyPort")->setText("3128");
    Ctl<QLineEdit>(form, "edt_PxyUser")->setText("me");
    Ctl<QLineEdit>(form, "edt_PxyPass")->setText("secret");
    Ctl<QLineEdit>(form, "edt_AIHost")->clear();   // nothing is sent; the session still starts
    Ctl<TPictureButton>(form, "btn_AntiIdle")->Click();
    EXPECT_EQ(webClient->HttpCli1->Proxy, "proxy.example");
    EXPECT_EQ(webClient->HttpCli1->ProxyPort, "3128");
    EXPECT_EQ(webClient->HttpCli1->ProxyUsername, "me");
    EXPECT_EQ(webClient->HttpCli1->ProxyPassword, "secret");
    Ctl<TPictureButton>(form, "btn_AntiIdle")->Click();
}

TEST_F(WebTransfer, ListFileThatCannotBeCreatedSendsNothing)
{
    ai->Servers().Replace({"kept.example"});
    qputenv("IDLIX_DIR", dir.file("no/such/dir").toUtf8());
    form->SetStatus("Status:");
    serverList->btn_SrvUpdate->Click();
    EXPECT_EQ(messages, QStringList{"Cannot create file " + dir.file("no/such/dir/Servers.dat")});
    EXPECT_EQ(Status(), "Status:");
    EXPECT_EQ(webClient->HttpCli1->State(), httpReady);
    EXPECT_EQ(webClient->HttpRequestCount, 0);
    ASSERT_EQ(serverList->ListBox1->count(), 1);
    EXPECT_EQ(serverList->ListBox1->item(0)->text(), "kept.example");
}

TEST_F(WebTransfer, ListDownloadThroughAProxyReplacesOnlyOnAWholeDocument)
{
    // The proxy fields of the options reach the download, so a scripted
    // proxy on loopback stands in for the maker's server.
    const QByteArray oldList = "old.one\r\nold.two\r\n";
    struct Case {
        const char *name;
        Script script;
        QString status;           // "" = the success text
        bool replaced;
    };
    const QByteArray list = "a.example\r\n\r\nb.example\r\n";
    const Case cases[] = {
        {"whole list", Script().readRequest().send(Page("200 OK", list)), "", true},
        {"missing", Script().readRequest().send("HTTP/1.0 404 Not Found\r\n\r\n"),
         "Status: Update failed. 404 Not Found", false},
        {"closed at once", Script().readRequest().close(),
         "Status: Update failed. 404 connection closed before the end of the reply header", false},
        {"closed mid-header", Script().readRequest().send("HTTP/1.0 200 OK\r\nConte").close(),
         "Status: Update failed. 404 connection closed before the end of the reply header", false},
        {"short of its length",
         Script().readRequest().send("HTTP/1.0 200 OK\r\nContent-Length: 40\r\n\r\n" + list),
         "Status: Update failed. 404 connection closed before the end of the document (24 of 40 bytes)",
         false},
        {"unknown version", Script().readRequest().send("HTTP/2 200 OK\r\n\r\n" + list),
         "Status: Update failed. the reply carried no HTTP/1.x status line", false},
        {"redirect nowhere", Script().readRequest().send("HTTP/1.0 302 Found\r\n\r\n"),
         "Status: Update failed. 302 Found", false},
        {"stalled", Script().readRequest().send(Page("200 OK", "half.exa")).pause(1500),
         "Status: Update failed. no complete reply within 250 ms, transfer aborted", false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        QFile f(dir.file("Servers.dat"));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(oldList);
        f.close();
        serverList->ServerList1Click();
        serverList->edt_SrvHost->setText("added.in.memory");
        serverList->btn_SrvAddClick();
        ScriptServer proxy({c.script});
        Ctl<QLineEdit>(form, "edt_PxyServer")->setText("127.0.0.1");
        Ctl<QLineEdit>(form, "edt_PxyPort")->setText(QString::number(proxy.port()));
        Ctl<QLineEdit>(form, "edt_PxyUser")->setText("user");
        Ctl<QLineEdit>(form, "edt_PxyPass")->setText("pw");
        webClient->HttpWatchdogMs = 250;
        const int requests = webClient->HttpRequestCount;

        serverList->btn_SrvUpdate->Click();

        EXPECT_EQ(proxy.received(0), QByteArray("GET http://www.brisvane.com/servers20.dat HTTP/1.0\r\n"
                                                "Host: www.brisvane.com\r\n"
                                                "Pragma: no-cache\r\n"
                                                "Proxy-Authorization: Basic dXNlcjpwdw==\r\n\r\n"));
        QStringList entries;
        for (int i = 0; i < serverList->ListBox1->count(); ++i)
            entries << serverList->ListBox1->item(i)->text();
        QFile now(dir.file("Servers.dat"));
        ASSERT_TRUE(now.open(QIODevice::ReadOnly));
        if (c.replaced) {
            EXPECT_EQ(Status(), QStringLiteral("Status: Received %1 bytes.").arg(list.size()));
            EXPECT_EQ(entries, (QStringList{"a.example", "", "b.example"}));
            EXPECT_EQ(now.readAll(), list);
        } else {
            EXPECT_EQ(Status(), c.status);
            EXPECT_EQ(entries, (QStringList{"old.one", "old.two", "added.in.memory"}));
            EXPECT_EQ(now.readAll(), oldList);
        }
        // No temporary file is left beside the list.
        EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files), QStringList{"Servers.dat"});
        EXPECT_EQ(webClient->HttpRequestCount, requests + 1);
        EXPECT_FALSE(webClient->HttpTransferActive);
        EXPECT_TRUE(messages.isEmpty()) << messages.join(" | ").toStdString();
    }
}

TEST_F(WebTransfer, EndlessBodiesStopAtTheirLimits)
{
    const QByteArray flood(256 * 1024, 'z');
    // The probe: temp.dat never holds more than the limit, and the probe fails.
    {
        ScriptServer server({Script().readRequest().send(Page("200 OK", "")).flood(flood)});
        const QString host = Local(server);
        webClient->HttpWatchdogMs = 30000;
        Probe(host);
        EXPECT_EQ(Status(), "Status: Transfer from " + host
                                + QStringLiteral(" failed. document larger than the limit of %1 bytes")
                                      .arg(session::ProbeBodyLimit));
        EXPECT_EQ(History().last(), "• " + Status().mid(8));
        EXPECT_EQ(ai->Stats().Failures(), 1);
        EXPECT_EQ(ai->Stats().Successes(), 0);
        const qint64 kept = QFileInfo(dir.file("temp.dat")).size();
        EXPECT_LE(kept, session::ProbeBodyLimit);
        EXPECT_GT(kept, session::ProbeBodyLimit - flood.size());
        EXPECT_FALSE(webClient->HttpWatchdogFired);
        EXPECT_FALSE(Inside(ai).HTTPTimer->Enabled());
    }
    // The list download: the list on disk and on the panel stay as they were.
    {
        const QByteArray oldList = "old.one\r\nold.two\r\n";
        QFile f(dir.file("Servers.dat"));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(oldList);
        f.close();
        serverList->ServerList1Click();
        ScriptServer proxy({Script().readRequest().send(Page("200 OK", "new.one\r\n")).flood(flood)});
        Ctl<QLineEdit>(form, "edt_PxyServer")->setText("127.0.0.1");
        Ctl<QLineEdit>(form, "edt_PxyPort")->setText(QString::number(proxy.port()));
        serverList->btn_SrvUpdate->Click();
        EXPECT_EQ(Status(), QStringLiteral("Status: Update failed. 404 document larger than the limit of %1 bytes")
                                .arg(session::ServerListBodyLimit));
        QFile now(dir.file("Servers.dat"));
        ASSERT_TRUE(now.open(QIODevice::ReadOnly));
        EXPECT_EQ(now.readAll(), oldList);
        ASSERT_EQ(serverList->ListBox1->count(), 2);
        EXPECT_EQ(serverList->ListBox1->item(0)->text(), "old.one");
        EXPECT_FALSE(QDir(dir.path()).entryList(QDir::Files).join(' ').contains("Servers.dat."))
            << "no temporary file is left beside the list";
        EXPECT_TRUE(messages.isEmpty()) << messages.join(" | ").toStdString();
    }
}
