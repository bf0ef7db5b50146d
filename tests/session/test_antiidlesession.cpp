// The anti-idle session without a window: whole sessions through the engine
// with a recording observer, against real echoes to loopback and real web
// servers on it. This binary links no Qt Widgets.
#include "recorder.h"

#include "config/options.h"
#include "platform/cp1252.h"
#include "platform/icmpecho.h"
#include "session/webclient.h"
#include "../support/scriptserver.h"
#include "../support/qtprint.h"
#include "../support/sessionaccess.h"
#include "../support/testutil.h"

#include <QFile>
#include <QLoggingCategory>
#include <QRegularExpression>
#include <QTimer>
#include <gtest/gtest.h>

using sessiontest::TRecorder;
using testsupport::Script;
using testsupport::ScriptServer;

namespace {

// Replaces each run of digits after "in " (a round trip or transfer time) by N.
QStringList MaskTimes(QStringList lines)
{
    static const QRegularExpression ms(QStringLiteral(" in \\d+ ?ms"));
    for (QString &l : lines)
        l.replace(ms, QStringLiteral(" in N ms"));
    return lines;
}

class SessionEngine : public ::testing::Test {
protected:
    void SetUp() override
    {
        options.AntiIdle.Frequency = QStringLiteral("1");
        engine = std::make_unique<TAntiIdleSession>(options);
        engine->AddObserver(&rec);
    }
    void TearDown() override
    {
        engine->RemoveObserver(&rec);
        engine.reset();
    }

    testutil::ScratchDir dir;
    config::TOptions options;
    TRecorder rec;
    std::unique_ptr<TAntiIdleSession> engine;
};

} // namespace

TEST_F(SessionEngine, ThreeEchoesToOneHost)
{
    QString hint;
    if (!platform::IcmpAvailable(&hint))
        GTEST_SKIP() << "ICMP echoes are not allowed here: " << hint.toStdString();
    options.AntiIdle.Method = config::TAntiIdleOptions::IcmpPings;
    options.AntiIdle.Host = QStringLiteral("127.0.0.1");

    ASSERT_TRUE(engine->Start());
    EXPECT_TRUE(Inside(engine).Timer3->isActive());
    EXPECT_EQ(Inside(engine).Timer3->interval(), 60000);
    engine->Tick();
    engine->Tick();
    engine->Stop();

    const QStringList probe = {
        "line Sending 56 bytes to 127.0.0.1",
        "line 127.0.0.1 pinged in N msecs",
        "result echo 127.0.0.1 ok row 1",
    };
    QStringList want = {"starting method=1 cycle=0", "stats every 60000 ms over 127.0.0.1",
                        "line Pinging 127.0.0.1", "sent echo 127.0.0.1 opening"};
    want << probe << "scheduled" << "started";
    for (int i = 0; i < 2; ++i)
        want << "sent echo 127.0.0.1" << probe;
    want << "unwatched" << "stopped 3/3 failed 0";
    EXPECT_EQ(MaskTimes(rec.events), want);
    EXPECT_TRUE(rec.messages.isEmpty());

    ASSERT_EQ(rec.results.size(), 3u);
    for (const TProbeResult &r : rec.results) {
        EXPECT_TRUE(r.Success());
        EXPECT_GE(r.Ms, 0);
        // Timed to the microsecond by the kernel's stamp; the texts' whole
        // milliseconds are the same time rounded.
        EXPECT_GT(r.Us, 0);
        EXPECT_EQ(r.Ms, int((r.Us + 500) / 1000)) << r.Us << " us";
        EXPECT_EQ(r.Address, "127.0.0.1");
        // 56 data bytes, 8 of ICMP and 20 of IPv4 header each way.
        EXPECT_EQ(r.BytesSent, 84);
        EXPECT_EQ(r.BytesReceived, 84);
        EXPECT_TRUE(r.At.WallUtc.isValid());
        EXPECT_EQ(r.At.WallUtc.timeSpec(), Qt::UTC);
    }
    EXPECT_LT(rec.results[0].At.MonoNs, rec.results[2].At.MonoNs);
    // The status line of each echo: what is sent, then how it went.
    EXPECT_EQ(rec.statuses.first(), "Status: Pinging 127.0.0.1");
    EXPECT_EQ(rec.statuses.count("Status: Sending 56 bytes to 127.0.0.1"), 3);

    // The session ended with every line in the log: nothing is lost to a
    // session shorter than the log's batch.
    const QByteArray log = testutil::readFile(dir.file("AI_Log.txt"));
    const QStringList logLines = MaskTimes(platform::FromCp1252(log).split("\r\n", Qt::SkipEmptyParts));
    ASSERT_EQ(logLines.size(), 7) << log.toStdString();
    EXPECT_TRUE(log.startsWith("\x95 Pinging 127.0.0.1\r\n\x95 Sending 56 bytes to 127.0.0.1\r\n"));
    EXPECT_EQ(logLines[2], "• 127.0.0.1 pinged in N msecs");
    EXPECT_TRUE(log.endsWith("msecs\r\n"));
    EXPECT_TRUE(engine->Log().Pending().isEmpty());
}

TEST_F(SessionEngine, CycleOverAListWithARefusingWebServer)
{
    ScriptServer first({Script().readRequest().send("HTTP/1.0 200 OK\r\n\r\nhello")});
    ScriptServer last({Script().readRequest().send("HTTP/1.0 200 OK\r\n\r\nbye")});
    const QString a = QStringLiteral("127.0.0.1:%1").arg(first.port());
    const QString refused = QStringLiteral("127.0.0.1:%1").arg(ScriptServer::unusedPort());
    const QString c = QStringLiteral("127.0.0.1:%1").arg(last.port());
    QFile list(dir.file("Servers.dat"));
    ASSERT_TRUE(list.open(QIODevice::WriteOnly));
    list.write((a + "\r\n" + refused + "\r\n" + c + "\r\n").toLatin1());
    list.close();
    options.AntiIdle.Method = config::TAntiIdleOptions::HttpGets;
    options.AntiIdle.Options[config::TAntiIdleOptions::CycleServerList] = true;

    ASSERT_TRUE(engine->Start());
    EXPECT_EQ(engine->Servers().Entries(), (QStringList{a, refused, c}));
    engine->Tick();
    engine->Tick();
    // The fourth tick comes back to the first server, which no longer listens.
    engine->Stop();

    const QStringList want = {
        "starting method=0 cycle=1",
        QStringLiteral("stats every 60000 ms over %1,%2,%3").arg(a, refused, c),
        "cycle",
        "server 0 " + a, "sent http " + a, "line Connecting to " + a,
        "line Received 5 bytes from " + a + " in N ms", "result http " + a + " ok row 1",
        "scheduled", "started",
        "server 1 " + refused, "sent http " + refused, "line Connecting to " + refused,
        "line Transfer from " + refused + " failed. Connection refused (Error #10061)",
        "result http " + refused + " refused row 2",
        "server 2 " + c, "sent http " + c, "line Connecting to " + c,
        "line Received 3 bytes from " + c + " in N ms", "result http " + c + " ok row 3",
        "unwatched", "stopped 2/3 failed 1",
    };
    EXPECT_EQ(MaskTimes(rec.events), want);

    const TSessionStats &stats = engine->Stats();
    ASSERT_EQ(stats.Rows().size(), 3u);
    EXPECT_EQ(stats.Rows()[0].Successes, 1);
    EXPECT_EQ(stats.Rows()[1].Failures, 1);
    EXPECT_EQ(stats.Rows()[2].Successes, 1);
    ASSERT_EQ(rec.results.size(), 3u);
    EXPECT_EQ(rec.results[1].Ms, -1);
    EXPECT_EQ(rec.results[1].Reason, "Connection refused (Error #10061)");
    // The bytes of each transfer are those on the wire, headers included,
    // as the servers counted them; a refused connection moved none.
    struct WireCase {
        size_t result;
        const ScriptServer *server;
    };
    for (const WireCase &w : {WireCase{0, &first}, WireCase{2, &last}}) {
        SCOPED_TRACE(w.result);
        const TProbeResult &r = rec.results[w.result];
        EXPECT_EQ(r.Address, "127.0.0.1");
        EXPECT_EQ(r.BytesSent, w.server->received(0).size());
        EXPECT_EQ(r.BytesReceived, w.server->sent(0));
    }
    EXPECT_EQ(rec.results[2].BytesReceived, qint64(sizeof "HTTP/1.0 200 OK\r\n\r\nbye" - 1));
    EXPECT_EQ(rec.results[1].BytesSent, 0);
    EXPECT_EQ(rec.results[1].BytesReceived, 0);
    // The transfers' own progress went to the status line too.
    EXPECT_TRUE(rec.statuses.contains("Status: Contacting " + a + "..."));
    EXPECT_TRUE(rec.statuses.contains("Status: Received 3 bytes..."));
}

TEST_F(SessionEngine, StartsThatFailSayWhyAndSendNothing)
{
    const struct {
        const char *name;
        bool cycle;
        const char *frequency;
        const char *host;
        bool ok;
        const char *message;
    } cases[] = {
        {"cycling, no list", true, "1", "", false, "List index out of bounds (0)"},
        {"cycling, bad frequency", true, "x", "", false, "'x' is not a valid integer value"},
        {"single, no host", false, "1", "", false, NoHostText},
        {"single, bad frequency", false, "x", "127.0.0.1", false, "'x' is not a valid integer value"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        rec = TRecorder();
        options.AntiIdle.Options[config::TAntiIdleOptions::CycleServerList] = c.cycle;
        options.AntiIdle.Frequency = QString::fromLatin1(c.frequency);
        options.AntiIdle.Host = QString::fromLatin1(c.host);
        EXPECT_EQ(engine->Start(), c.ok);
        EXPECT_TRUE(engine->Started());
        EXPECT_FALSE(Inside(engine).Timer3->isActive());
        EXPECT_TRUE(rec.sent.empty());
        EXPECT_EQ(rec.messages, c.message ? QStringList{c.message} : QStringList());
        EXPECT_EQ(rec.events.contains("started"), c.ok);
        engine->Stop();
        EXPECT_FALSE(engine->Started());
    }
}

namespace {

QStringList stateLines;   // the session's lines of idlix.state

void KeepStateLine(QtMsgType, const QMessageLogContext &context, const QString &text)
{
    if (QLatin1String(context.category) == QLatin1String("idlix.state") && text.startsWith("session "))
        stateLines << text;
}

} // namespace

TEST_F(SessionEngine, PhasesChangeInOnePlaceAndAreTracedOnlyWhenAsked)
{
    stateLines.clear();
    const QtMessageHandler previous = qInstallMessageHandler(KeepStateLine);
    EXPECT_FALSE(engine->Start());   // no host
    EXPECT_EQ(engine->Phase(), TSessionPhase::Starting);
    engine->Stop();
    EXPECT_EQ(engine->Phase(), TSessionPhase::Idle);
    EXPECT_TRUE(stateLines.isEmpty()) << stateLines.join('|').toStdString();

    QLoggingCategory::setFilterRules(QStringLiteral("idlix.state=true"));
    options.AntiIdle.Host = QStringLiteral("127.0.0.1");
    EXPECT_TRUE(engine->Start());
    engine->Pause(QStringLiteral("suspended"));
    EXPECT_EQ(engine->Phase(), TSessionPhase::Paused);
    engine->Pause(QStringLiteral("paused (metered)"));
    engine->Resume(QStringLiteral("suspended"));
    EXPECT_EQ(engine->Phase(), TSessionPhase::Paused);   // one reason is left
    engine->Resume(QStringLiteral("paused (metered)"));
    engine->Stop();
    QLoggingCategory::setFilterRules(QString());
    qInstallMessageHandler(previous);
    EXPECT_EQ(stateLines, (QStringList{
        "session AntiIdleSession: idle -> starting", "session AntiIdleSession: starting -> running",
        "session AntiIdleSession: running -> paused", "session AntiIdleSession: paused -> running",
        "session AntiIdleSession: running -> stopping", "session AntiIdleSession: stopping -> idle"}));
}

TEST_F(SessionEngine, ObserversComeAndGoBetweenEvents)
{
    // An observer that removes itself (and a second one) on the first event it
    // sees: neither hears anything more, and the session runs on.
    struct Leaver : TRecorder {
        TAntiIdleSession *engine = nullptr;
        TSessionObserver *other = nullptr;
        void HistoryLine(const QString &text) override
        {
            TRecorder::HistoryLine(text);
            engine->RemoveObserver(this);
            engine->RemoveObserver(other);
        }
    };
    TRecorder second;
    Leaver leaver;
    leaver.engine = engine.get();
    leaver.other = &second;
    engine->AddObserver(&leaver);
    engine->AddObserver(&second);
    engine->AddObserver(&second);   // once is enough
    engine->AddHistoryLine(QStringLiteral("first"));
    engine->AddHistoryLine(QStringLiteral("second"));
    EXPECT_EQ(leaver.events, QStringList{"line first"});
    EXPECT_TRUE(second.events.isEmpty());
    EXPECT_EQ(rec.events, (QStringList{"line first", "line second"}));
    EXPECT_EQ(engine->Log().Pending(), (QStringList{"\u2022 first", "\u2022 second"}));
}

TEST_F(SessionEngine, TheLineGoesDownAndComesBackAndPausesAreGaps)
{
    ScriptServer good({Script().readRequest().send("HTTP/1.0 200 OK\r\n\r\nup"),
                       Script().readRequest().send("HTTP/1.0 200 OK\r\n\r\nup"),
                       Script().readRequest().send("HTTP/1.0 200 OK\r\n\r\nup")});
    const QString up = QStringLiteral("127.0.0.1:%1").arg(good.port());
    const QString down = QStringLiteral("127.0.0.1:%1").arg(ScriptServer::unusedPort());
    QFile list(dir.file("Servers.dat"));
    ASSERT_TRUE(list.open(QIODevice::WriteOnly));
    list.write((QStringList{down, down, down, up, up, up}.join("\r\n") + "\r\n").toLatin1());
    list.close();
    options.AntiIdle.Method = config::TAntiIdleOptions::HttpGets;
    options.AntiIdle.Options[config::TAntiIdleOptions::CycleServerList] = true;
    options.History.DownAfter = 2;
    options.History.UpAfter = 2;
    // The line's states as they change, each before its own notice.
    struct States : TSessionObserver {
        QStringList *events;
        explicit States(QStringList *e) : events(e) {}
        void LinkState(TLinkMonitor::TLink link, const TStamp &at) override
        {
            EXPECT_TRUE(at.WallUtc.isValid());
            *events << (link == TLinkMonitor::TLink::Up     ? QStringLiteral("state up")
                        : link == TLinkMonitor::TLink::Down ? QStringLiteral("state down")
                                                            : QStringLiteral("state unknown"));
        }
    } states(&rec.events);
    engine->AddObserver(&states);

    ASSERT_TRUE(engine->Start());
    for (int i = 0; i < 4; ++i)
        engine->Tick();
    engine->Pause("paused (metered)");
    engine->Pause("suspended");
    engine->Tick();            // paused: nothing goes out
    engine->Resume("paused (metered)");
    engine->Tick();            // still asleep
    engine->Resume("suspended");
    engine->Tick();
    engine->Stop();

    QStringList links;
    for (const QString &e : rec.events) {
        if (e.startsWith("link") || e.startsWith("unwatched") || e.startsWith("paused") || e == "resumed"
            || e.startsWith("result") || e.startsWith("state"))
            links << e;
    }
    EXPECT_EQ(links, (QStringList{
        "result http " + down + " refused row 1",
        "result http " + down + " refused row 2",
        "state down",
        "link down, 2 lost",
        "result http " + down + " refused row 3",
        "result http " + up + " ok row 4",
        "result http " + up + " ok row 5",
        "state up",
        "link up, 3 lost, hosts " + down + "," + up,
        "paused paused (metered)",
        "state unknown",
        "unwatched",
        "paused suspended",
        "resumed",
        "result http " + up + " ok row 6",
        "state up",
        "state unknown",
        "unwatched",
    }));
    engine->RemoveObserver(&states);
    EXPECT_EQ(engine->Stats().Attempts(), 6);
    EXPECT_EQ(engine->Link().Link(), TLinkMonitor::TLink::Unknown);
}

TEST_F(SessionEngine, TheProgramEndingMidSessionLosesNoLine)
{
    // Lines that wait for the next batch when the program ends (the engine
    // goes with the window, or the service stops) are written on the way out.
    ASSERT_FALSE(engine->Start());  // no host: the session sends nothing
    engine->AddHistoryLine(QStringLiteral("one"));
    engine->AddHistoryLine(QStringLiteral("two"));
    Inside(engine).LogTimerTimer();        // far below a batch: nothing written yet
    EXPECT_FALSE(QFile::exists(dir.file("AI_Log.txt")));
    engine->RemoveObserver(&rec);
    engine.reset();
    EXPECT_EQ(testutil::readFile(dir.file("AI_Log.txt")), "\x95 one\r\n\x95 two\r\n");
    engine = std::make_unique<TAntiIdleSession>(options);   // for TearDown
}
