// Notices of the line's state from a real session: HTTP probes to web
// servers on loopback and to a port that refuses, a notification server
// played by python3-dbusmock on a private session bus. One notice when the
// line goes down, one when it is back (taking the first one's place), none
// for the probes between; the action that opens the history; the setting
// that switches them off; no server: the fallback, no error and no hang.
#include "notify/linenotices.h"

#include "config/options.h"
#include "session/antiidlesession.h"
#include "../session/recorder.h"
#include "../support/notifyserver.h"
#include "../support/scriptserver.h"
#include "../support/testutil.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QFile>
#include <gtest/gtest.h>

using namespace std::chrono_literals;
using testsupport::NotifyServer;
using testsupport::Script;
using testsupport::ScriptServer;

inline void PrintTo(const QString &s, std::ostream *os) { *os << '"' << s.toStdString() << '"'; }

namespace {

Script Page()
{
    return Script().readRequest().send("HTTP/1.0 200 OK\r\n\r\nup");
}

// A session cycling over a list whose middle refuses: up, then four refused
// probes (down after the third), then up twice (back after the second).
class LineNotices : public ::testing::Test {
protected:
    void SetUp() override
    {
        const QString skip = testsupport::MockBus::SkipReason();
        if (!skip.isEmpty())
            GTEST_SKIP() << skip.toStdString();
        const QString up = QStringLiteral("127.0.0.1:%1").arg(web.port());
        refused = QStringLiteral("127.0.0.1:%1").arg(ScriptServer::unusedPort());
        QFile list(dir.file("Servers.dat"));
        ASSERT_TRUE(list.open(QIODevice::WriteOnly));
        list.write((QStringList{up, refused, refused, refused, refused, up, up}.join("\r\n") + "\r\n").toLatin1());
        list.close();
        options.AntiIdle.Method = config::TAntiIdleOptions::HttpGets;
        options.AntiIdle.Options[config::TAntiIdleOptions::CycleServerList] = true;
        engine = std::make_unique<TAntiIdleSession>(options);
        notices = std::make_unique<TLineNotices>(options);
        notices->Fallback = [this](const QString &summary, const QString &body) {
            fallback << summary + " | " + body;
            return true;
        };
        engine->AddObserver(&rec);
        engine->AddObserver(notices.get());
    }
    void TearDown() override
    {
        if (engine) {
            engine->RemoveObserver(notices.get());
            engine->RemoveObserver(&rec);
        }
    }

    // The whole cycle: seven probes, one per tick.
    void RunCycle()
    {
        ASSERT_TRUE(engine->Start());
        for (int i = 0; i < 6; ++i)
            engine->Tick();
        engine->Stop();
    }
    QStringList LinkEvents() const
    {
        QStringList out;
        for (const QString &e : rec.events)
            if (e.startsWith("link"))
                out << e;
        return out;
    }

    testutil::ScratchDir dir;
    ScriptServer web{{Page(), Page(), Page(), Page(), Page(), Page()}};
    QString refused;
    config::TOptions options;
    sessiontest::TRecorder rec;
    std::unique_ptr<TAntiIdleSession> engine;
    std::unique_ptr<TLineNotices> notices;
    QStringList fallback;
};

} // namespace

TEST_F(LineNotices, OneNoticeWhenTheLineGoesAndOneWhenItIsBack)
{
    NotifyServer server;
    ASSERT_TRUE(server.Start());
    int opened = 0;
    notices->OnShowHistory = [&] { ++opened; };
    RunCycle();
    ASSERT_EQ(LinkEvents(), (QStringList{"link down, 3 lost", "link up, 4 lost, hosts " + refused + "," +
                                         engine->Servers().At(0)}));
    ASSERT_TRUE(testutil::waitFor([&] { return server.Notices().size() >= 2; }, 10s));
    testutil::pump(300ms);
    const auto seen = server.Notices();
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_TRUE(fallback.isEmpty());

    const testsupport::SeenNotice &lost = seen[0];
    EXPECT_EQ(lost.AppName, "Idlix");
    EXPECT_EQ(lost.Icon, "idlix");
    EXPECT_EQ(lost.Summary, "Connection lost");
    EXPECT_TRUE(lost.Body.startsWith("3 probes failed since ")) << lost.Body.toStdString();
    EXPECT_EQ(lost.ReplacesId, 0u);
    EXPECT_EQ(lost.Hints.value("category").toString(), "network.disconnected");
    EXPECT_EQ(lost.Hints.value("desktop-entry").toString(), "com.brisvane.Idlix");
    EXPECT_EQ(lost.Actions, (QStringList{"default", "Show History", "history", "Show History"}));

    const testsupport::SeenNotice &back = seen[1];
    EXPECT_TRUE(back.Summary.startsWith("Connection back after ")) << back.Summary.toStdString();
    EXPECT_TRUE(back.Summary.endsWith(" s")) << back.Summary.toStdString();
    EXPECT_TRUE(back.Body.endsWith(", 4 probes lost.")) << back.Body.toStdString();
    EXPECT_EQ(back.Hints.value("category").toString(), "network.connected");
    EXPECT_EQ(back.Hints.value("desktop-entry").toString(), "com.brisvane.Idlix");
    EXPECT_EQ(back.Icon, "idlix");
    // The back notice takes the lost one's place.
    ASSERT_NE(notices->LineNoticeId(), 0u);
    EXPECT_EQ(back.ReplacesId, notices->LineNoticeId());

    // Both the click on the notice and its button open the history.
    server.Click(notices->LineNoticeId(), QStringLiteral("default"));
    server.Click(notices->LineNoticeId(), QStringLiteral("history"));
    server.Click(notices->LineNoticeId(), QStringLiteral("something-else"));
    ASSERT_TRUE(testutil::waitFor([&] { return opened == 2; }, 5s));
    testutil::pump(200ms);
    EXPECT_EQ(opened, 2);
}

TEST_F(LineNotices, NoHistoryActionWithoutAHistoryToOpen)
{
    NotifyServer server;
    ASSERT_TRUE(server.Start());
    RunCycle();
    ASSERT_TRUE(testutil::waitFor([&] { return server.Notices().size() >= 2; }, 10s));
    for (const auto &n : server.Notices())
        EXPECT_TRUE(n.Actions.isEmpty()) << n.Summary.toStdString();
}

TEST_F(LineNotices, SwitchedOffNothingIsShown)
{
    NotifyServer server;
    ASSERT_TRUE(server.Start());
    options.Notify.Enabled = false;
    RunCycle();
    ASSERT_EQ(LinkEvents().size(), 2);
    testutil::pump(500ms);
    EXPECT_TRUE(server.Notices().empty());
    EXPECT_TRUE(fallback.isEmpty());
}

TEST_F(LineNotices, WithoutAServerTheFallbackShowsThemWithoutAnError)
{
    for (const bool busThere : {true, false}) {
        SCOPED_TRACE(busThere ? "a bus with nobody serving notices" : "no bus at all");
        testsupport::MockBus bus(testsupport::MockBus::Kind::Session);
        if (busThere)
            ASSERT_TRUE(bus.Start());
        else
            qputenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/idlix-test-bus");
        fallback.clear();
        QElapsedTimer t;
        t.start();
        RunCycle();
        ASSERT_TRUE(testutil::waitFor([&] { return fallback.size() == 2; }, 10s));
        // Nobody owns the name, or there is no bus: answered at once, no time-out waited for.
        EXPECT_LT(t.elapsed(), bus::TNotificationClient::kCallTimeoutMs);
        EXPECT_TRUE(fallback[0].startsWith("Connection lost | 3 probes failed since ")) << fallback[0].toStdString();
        EXPECT_TRUE(fallback[1].startsWith("Connection back after ")) << fallback[1].toStdString();
        EXPECT_EQ(notices->LineNoticeId(), 0u);
        // Nothing for the user to dismiss: no message of the session's.
        EXPECT_TRUE(rec.messages.isEmpty());
    }
}

TEST_F(LineNotices, AStuckServerHoldsNothingUp)
{
    NotifyServer server;
    ASSERT_TRUE(server.Start());
    ASSERT_TRUE(server.AddMethod(QStringLiteral("GetCapabilities"), QString(), QStringLiteral("as"),
                                 QStringLiteral("import time\ntime.sleep(5)\nret = ['body']")));
    notices->Client().CallTimeoutMs = 300;
    QElapsedTimer t;
    t.start();
    RunCycle();
    // The session's probes did not wait for the server.
    EXPECT_LT(t.elapsed(), 3000);
    ASSERT_TRUE(testutil::waitFor([&] { return fallback.size() == 2; }, 10s));
}

TEST_F(LineNotices, ADiagnosisTakesTheLostNoticesPlaceOncePerVerdict)
{
    NotifyServer server;
    ASSERT_TRUE(server.Start());
    TOutage outage;
    outage.Start = {QDateTime::currentDateTimeUtc(), 1};
    outage.ProbesLost = 3;
    notices->LinkDown(outage);
    ASSERT_TRUE(testutil::waitFor([&] { return notices->LineNoticeId() != 0; }, 10s));
    const uint lostId = notices->LineNoticeId();

    // What the session tells as the checks come: the verdict, the same again
    // (re-checked while down), another one, then a check once it is back.
    diagnosis::TDiagnosisResult result;
    const struct {
        const char *verdict, *evidence;
        bool down;
    } told[] = {
        {"unknown", "The interface eth0 is up (IPv4 via 10.0.0.1); no server was reached over the line to check "
                    "past it.", true},
        {"provider", "The router 10.0.0.1 answers in 0.9 ms; nothing past it does (hop 2 silent).", true},
        {"provider", "The router 10.0.0.1 answers in 1.4 ms; nothing past it does (hop 2 silent).", true},
        {"gateway", "The router 10.0.0.1 does not answer (no echo in 1 s).", true},
        {"unknown", "Everything answers now: The router 10.0.0.1 answers in 0.8 ms.", false},
    };
    for (const auto &t : told) {
        outage.Verdict = t.verdict;
        outage.Evidence = t.evidence;
        notices->Diagnosed(result, t.down ? std::optional<TOutage>(outage) : std::nullopt);
    }
    ASSERT_TRUE(testutil::waitFor([&] { return server.Notices().size() >= 3; }, 10s));
    testutil::pump(300ms);
    const auto seen = server.Notices();
    ASSERT_EQ(seen.size(), 3u);
    EXPECT_EQ(seen[1].Summary, "Connection lost: your provider's network");
    EXPECT_TRUE(seen[1].Body.startsWith("The router 10.0.0.1 answers in 0.9 ms; nothing past it does (hop 2 silent).\n"
                                        "3 probes failed since "))
        << seen[1].Body.toStdString();
    EXPECT_EQ(seen[1].ReplacesId, lostId);
    EXPECT_EQ(seen[2].Summary, "Connection lost: your router");
    EXPECT_EQ(seen[2].ReplacesId, notices->LineNoticeId());
    EXPECT_EQ(seen[2].Hints.value("category").toString(), "network.disconnected");
}

TEST_F(LineNotices, APortalsNoticeOpensItsLoginPageAndNothingElse)
{
    NotifyServer server;
    ASSERT_TRUE(server.Start());
    const QString login = QStringLiteral("http://portal.idlix.test/login?from=quiet.idlix.test");
    const struct {
        const char *name;
        diagnosis::TVerdict verdict;
        QString url;       // the diagnosis' login page
        bool opener;       // the program can open pages
        bool offered;      // the notice offers to open one
    } cases[] = {
        {"a portal's redirect", diagnosis::TVerdict::Portal, login, true, true},
        {"NetworkManager's word: no page known", diagnosis::TVerdict::Portal, QString(), true, false},
        {"no way to open a page", diagnosis::TVerdict::Portal, login, false, false},
        // A page told beside another verdict is not a portal's.
        {"the provider", diagnosis::TVerdict::Provider, login, true, false},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        const std::size_t before = server.Notices().size();
        TLineNotices portalNotices(options);
        QStringList opened;
        if (c.opener)
            portalNotices.OnOpenPortal = [&opened](const QString &url) { opened << url; };
        TOutage outage;
        outage.Start = {QDateTime::currentDateTimeUtc(), 1};
        outage.ProbesLost = 3;
        outage.Verdict = diagnosis::VerdictName(c.verdict);
        outage.Evidence = QStringLiteral("A login page answers for quiet.idlix.test: %1 (HTTP 302).").arg(login);
        diagnosis::TDiagnosisResult result;
        result.Verdict = c.verdict;
        result.PortalUrl = c.url;
        portalNotices.Diagnosed(result, outage);
        ASSERT_TRUE(testutil::waitFor([&] { return portalNotices.LineNoticeId() != 0; }, 10s));
        ASSERT_EQ(server.Notices().size(), before + 1);
        const QStringList actions = server.Notices()[before].Actions;
        EXPECT_EQ(actions.contains("portal"), c.offered) << actions.join(',').toStdString();
        if (c.offered) {
            EXPECT_EQ(actions.mid(actions.indexOf("portal"), 2), (QStringList{"portal", "Open Login Page"}));
        }

        // The click asks for exactly the page the diagnosis found, once; a
        // click on a notice that offered nothing opens nothing.
        server.Click(portalNotices.LineNoticeId(), QStringLiteral("portal"));
        server.Click(portalNotices.LineNoticeId() + 1000, QStringLiteral("portal"));
        testutil::pump(300ms);
        EXPECT_EQ(opened, c.offered ? QStringList{login} : QStringList{});

        // The line back: its notice offers no login page, and a late click
        // on the portal's action opens nothing.
        opened.clear();
        const uint portalId = portalNotices.LineNoticeId();
        portalNotices.LinkUp(outage);
        ASSERT_TRUE(testutil::waitFor([&] { return server.Notices().size() == before + 2; }, 10s));
        EXPECT_FALSE(server.Notices()[before + 1].Actions.contains("portal"));
        server.Click(portalId, QStringLiteral("portal"));
        testutil::pump(300ms);
        EXPECT_TRUE(opened.isEmpty());
    }
}
