// The whole program telling the user about the line: "Connect on start" on a
// simulated line that drops after a second, the anti-idle session it starts
// probing web servers on loopback, and a notification server played by
// python3-dbusmock on a private session bus. The drop's reason goes with the
// outage the probes then find and into both notices; with no notification
// server and no tray, nothing is shown and nothing asks to be dismissed.
#include "app/idlix.h"
#include "antiidle/antiidlefeature.h"
#include "dialup/dialupcontrol.h"
#include "history/historykeeper.h"
#include "history/historyrecorder.h"
#include "history/historystore.h"
#include "historyview/historyfeature.h"
#include "historyview/historywindow.h"
#include "net/ras.h"
#include "notify/linenotices.h"
#include "notify/noticetext.h"
#include "session/antiidlesession.h"
#include "shell/mainform.h"
#include "desktop/msgbox.h"
#include "../support/notifyserver.h"
#include "../support/scriptserver.h"
#include "../support/testutil.h"
#include "../support/trayoverride.h"
#include "../support/ctl.h"
#include "platform/services.h"

#include <QFile>
#include <QComboBox>
#include <QLabel>
#include <QTableWidget>
#include <gtest/gtest.h>

#include <memory>

using namespace std::chrono_literals;
using testsupport::Script;
using testsupport::ScriptServer;

inline void PrintTo(const QString &s, std::ostream *os) { *os << '"' << s.toStdString() << '"'; }

namespace {

void WriteFile(const QString &path, const QByteArray &text)
{
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(text);
}

Script Page()
{
    return Script().readRequest().send("HTTP/1.0 200 OK\r\n\r\nup");
}

// The program cycling over a list whose middle refuses, dialled at start on
// a line that drops a second after it is up.
struct Program {
    testutil::ScratchDir dir;
    testutil::TrayAvailable tray{false};
    ScriptServer web{{Page(), Page(), Page()}};
    QStringList boxes;
    struct : TSessionObserver {
        QStringList *out;
        void LinkDown(const TOutage &o) override { *out << "down: " + o.Cause; }
        void LinkUp(const TOutage &o) override { *out << "up: " + o.Cause; }
    } rec;
    QStringList causes;
    std::unique_ptr<TIdlix> idlix;
    QByteArray oldSystemBus;

    Program()
    {
        const QString up = QStringLiteral("127.0.0.1:%1").arg(web.port());
        const QString refused = QStringLiteral("127.0.0.1:%1").arg(ScriptServer::unusedPort());
        WriteFile(dir.file("Servers.dat"), (QStringList{up, refused, refused, refused, up, up}.join("\r\n") + "\r\n").toLatin1());
        WriteFile(dir.file("book.ini"), "[Provider]\nStepMs=5\nDropAfter=1\n");
        WriteFile(dir.file("idlix2.ini"), "[Anti-Idle Options]\r\nMethod=0\r\nFrequecy=1\r\nOptions=0\r\n"
                                          "[Dial-Up Options]\r\nConnection=0\r\nConnect On Start=1\r\nStart AI=1\r\n");
        qputenv("IDLIX_PHONEBOOK", dir.file("book.ini").toLocal8Bit());
        // No NetworkManager: whether the line is metered stays out of it.
        oldSystemBus = qgetenv("DBUS_SYSTEM_BUS_ADDRESS");
        qputenv("DBUS_SYSTEM_BUS_ADDRESS", "unix:path=/nonexistent/idlix-test-system-bus");
        platform::Services().Message = [this](const QString &t) { boxes << t; };
        idlix = std::make_unique<TIdlix>();
        rec.out = &causes;
        Engine().AddObserver(&rec);
    }
    ~Program()
    {
        Engine().RemoveObserver(&rec);
        idlix.reset();
        platform::Services().Message = {};
        qunsetenv("IDLIX_PHONEBOOK");
        if (oldSystemBus.isEmpty())
            qunsetenv("DBUS_SYSTEM_BUS_ADDRESS");
        else
            qputenv("DBUS_SYSTEM_BUS_ADDRESS", oldSystemBus);
    }
    TAntiIdleSession &Engine() const { return idlix->AntiIdle->Engine(); }

    // Up, dropped by the line, then five ticks: three refused probes (the
    // line is down), two answered (it is back).
    void RunThroughTheDrop()
    {
        ASSERT_TRUE(testutil::waitFor([&] { return Engine().Started(); }, 5s));
        ASSERT_TRUE(testutil::waitFor(
            [&] { return Ctl<QLabel>(idlix->Form, "StatusLBL")->text() == "Status: Disconnected."; }, 5s));
        for (int i = 0; i < 5; ++i)
            Engine().Tick();
    }
};

} // namespace

TEST(LineNoticesProgram, TheDropsReasonIsInTheOutageAndInBothNotices)
{
    const QString skip = testsupport::MockBus::SkipReason();
    if (!skip.isEmpty())
        GTEST_SKIP() << skip.toStdString();
    testsupport::NotifyServer server;
    ASSERT_TRUE(server.Start());
    Program p;
    p.RunThroughTheDrop();

    // The outage as the session hands it to every observer (the history
    // stores it from there).
    EXPECT_EQ(p.causes, (QStringList{"down: the modem hung up", "up: the modem hung up"}));
    ASSERT_TRUE(testutil::waitFor([&] { return server.Notices().size() >= 2; }, 10s));
    testutil::pump(300ms);
    const auto seen = server.Notices();
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[0].Summary, "Connection lost");
    EXPECT_TRUE(seen[0].Body.startsWith("The modem hung up.\n3 probes failed since ")) << seen[0].Body.toStdString();
    EXPECT_TRUE(seen[1].Summary.startsWith("Connection back after ")) << seen[1].Summary.toStdString();
    EXPECT_TRUE(seen[1].Body.startsWith("The modem hung up.\nDown from ")) << seen[1].Body.toStdString();
    EXPECT_EQ(seen[1].ReplacesId, p.idlix->Notices->LineNoticeId());
    EXPECT_TRUE(p.boxes.isEmpty()) << p.boxes.join(" / ").toStdString();

    // The history keeps the outage with the line's reason, and the notice's
    // action opens the History window on it.
    const std::vector<history::TOutageRow> outages = p.idlix->History->Store().Outages({0, 1LL << 62});
    ASSERT_EQ(outages.size(), 1u);
    EXPECT_EQ(outages[0].Cause, "the modem hung up");
    EXPECT_EQ(outages[0].Reason(), "the modem hung up");
    EXPECT_EQ(outages[0].ProbesLost, 3);
    EXPECT_EQ(outages[0].EndedBy, "up");
    ASSERT_TRUE(seen[1].Actions.contains("history")) << seen[1].Actions.join(',').toStdString();
    EXPECT_EQ(p.idlix->HistoryView->Window(), nullptr);
    server.Click(p.idlix->Notices->LineNoticeId(), "history");
    ASSERT_TRUE(testutil::waitFor([&] {
        return p.idlix->HistoryView->Window() && p.idlix->HistoryView->Window()->isVisible();
    }, 5s));
    EXPECT_EQ(p.idlix->HistoryView->Window()->tbl_HistOutages->rowCount(), 1);
}

TEST(LineNoticesProgram, NoServerAndNoTrayShowNothingAndAskNothing)
{
    const QString skip = testsupport::MockBus::SkipReason();
    if (!skip.isEmpty())
        GTEST_SKIP() << skip.toStdString();
    testsupport::MockBus bus(testsupport::MockBus::Kind::Session);
    ASSERT_TRUE(bus.Start());   // a desktop bus, nobody serving notices on it
    Program p;
    testutil::Ticker ticker;
    p.RunThroughTheDrop();
    testutil::pump(500ms);
    EXPECT_EQ(p.Engine().Link().Link(), TLinkMonitor::TLink::Up);
    EXPECT_EQ(p.idlix->Notices->LineNoticeId(), 0u);
    EXPECT_TRUE(p.boxes.isEmpty()) << p.boxes.join(" / ").toStdString();
    // The window went on: its timers ran throughout.
    EXPECT_GE(ticker.ticks, 10);
}

TEST(OutageLength, TheNoticeAndTheHistoryWindowTellTheSameLength)
{
    // Lengths a half second either side of where a truncating view would
    // tell another length; each outage goes the way the program sends it:
    // the notice from the session's outage, the History window from the row
    // the recorder writes of it.
    const struct {
        qint64 ms;
        const char *text;
    } cases[] = {
        {59600, "1 min"}, {59400, "59 s"}, {119500, "2 min"}, {119499, "1 min 59 s"},
        {3599500, "1 h"}, {3599499, "59 min 59 s"}, {90061600, "1 d 1 h"},
    };
    testutil::ScratchDir dir;
    config::TOptions options;
    const TStamp start = {QDateTime::currentDateTimeUtc().addSecs(-2 * 86400), 5000000000LL};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.ms);
        TOutage o;
        o.Start = start;
        o.End = {start.WallUtc.addMSecs(c.ms), start.MonoNs + c.ms * 1000000};
        o.ProbesLost = 3;
        const QString notice = notify::BackText(o).Summary;
        EXPECT_EQ(notice, QStringLiteral("Connection back after ") + c.text);

        history::THistoryStore store;
        ASSERT_TRUE(store.Open(dir.file(QStringLiteral("history-%1.db").arg(c.ms))));
        const qint64 session = store.BeginSession(history::ToUs(start) - 60000000, 60000, 1, false);
        TOutage open = o;
        open.End = {};
        store.CloseOutage(store.OpenOutage(history::OutageRow(open), session), history::OutageRow(o));
        store.EndSession(session, history::ToUs(o.End) + 60000000);
        historyview::THistoryWindow w(store, options);
        w.show();
        w.cb_HistRange->setCurrentText("Everything");
        ASSERT_EQ(w.cb_HistRange->currentText(), "Everything");
        ASSERT_EQ(w.tbl_HistOutages->rowCount(), 1);
        const QString shown = w.tbl_HistOutages->item(0, 2)->text();
        EXPECT_EQ(QStringLiteral("Connection back after ") + shown, notice);
    }
}
