// Whole sessions of the engine written into the history by the recorder:
// against web servers on loopback that answer, refuse or vanish, with
// pauses, an outage ended by the session's end, and the keeper going away
// while a session runs.
#include "historytest.h"

#include "config/options.h"
#include "history/historykeeper.h"
#include "history/historyrecorder.h"
#include "history/rfc3339.h"
#include "session/antiidlesession.h"
#include "../session/recorder.h"
#include "../support/scriptserver.h"
#include "../support/testutil.h"

#include <QDateTime>
#include <QFile>
#include <gtest/gtest.h>

using namespace history;
using testsupport::Script;
using testsupport::ScriptServer;

namespace {

QStringList Columns(const QString &line, std::initializer_list<int> which)
{
    const QStringList all = line.split(',');
    QStringList out;
    for (int i : which)
        out << all.value(i);
    return out;
}

class HistoryRecorder : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(store.Open(THistoryStore::DefaultPath())) << store.Problem().toStdString();
        options.AntiIdle.Frequency = QStringLiteral("1");
        options.AntiIdle.Method = config::TAntiIdleOptions::HttpGets;
        options.AntiIdle.Options[config::TAntiIdleOptions::CycleServerList] = true;
        options.History.DownAfter = 2;
        options.History.UpAfter = 2;
        engine = std::make_unique<TAntiIdleSession>(options);
        engine->AddObserver(&events);
    }
    void TearDown() override
    {
        if (engine)
            engine->RemoveObserver(&events);
    }
    void WriteList(const QStringList &hosts)
    {
        QFile list(dir.file("Servers.dat"));
        ASSERT_TRUE(list.open(QIODevice::WriteOnly));
        list.write((hosts.join("\r\n") + "\r\n").toLatin1());
    }
    TUs Now() const { return QDateTime::currentMSecsSinceEpoch() * kUsPerMs; }

    testutil::ScratchDir dir;
    config::TOptions options;
    THistoryStore store;
    sessiontest::TRecorder events;
    std::unique_ptr<TAntiIdleSession> engine;
};

} // namespace

TEST_F(HistoryRecorder, ASessionWithAnOutageAndAPause)
{
    const QByteArray ok = "HTTP/1.0 200 OK\r\nContent-Length: 2\r\n\r\nup";
    ScriptServer good(std::vector<Script>(4, Script().readRequest().send(ok)));
    const QString up = QStringLiteral("127.0.0.1:%1").arg(good.port());
    const QString down = QStringLiteral("127.0.0.1:%1").arg(ScriptServer::unusedPort());
    ASSERT_NO_FATAL_FAILURE(WriteList({up, down, down, down, up, up, up}));
    THistoryRecorder recorder(*engine, store);

    const TUs before = Now();
    ASSERT_TRUE(engine->Start());
    EXPECT_GT(recorder.SessionId(), 0);
    for (int i = 0; i < 5; ++i)
        engine->Tick();
    engine->Pause("paused (metered)");
    engine->Tick();                      // nothing goes out
    engine->Resume("paused (metered)");
    engine->Tick();                      // back to the first server
    engine->Stop();
    const TUs after = Now();
    EXPECT_EQ(recorder.SessionId(), 0);

    // Every probe, with its time, address, outcome and bytes on the wire.
    const QStringList probes = historytest::CsvLines(store, TExportKind::Probes);
    ASSERT_EQ(probes.size(), 7) << probes.join('\n').toStdString();
    const QStringList outcomes = {"ok", "refused", "refused", "refused", "ok", "ok", "ok"};
    for (int i = 0; i < probes.size(); ++i) {
        SCOPED_TRACE(probes[i].toStdString());
        const QStringList c = probes[i].split(',');
        EXPECT_EQ(c[1], i == 0 || i >= 4 ? up : down);
        EXPECT_EQ(c[3], "http");
        EXPECT_EQ(c[4], outcomes[i]);
        if (outcomes[i] == "ok") {
            EXPECT_EQ(c[2], "127.0.0.1");
            EXPECT_FALSE(c[5].isEmpty());
            EXPECT_EQ(c[7], QString::number(ok.size()));
            EXPECT_GT(c[6].toInt(), 20) << "the request's bytes";
        } else {
            EXPECT_EQ(c[5], "") << "a lost probe has no time";
            EXPECT_EQ(c[6], "0");
            EXPECT_EQ(c[8], "Connection refused (Error #10061)");
        }
    }

    // One outage, from the first refused probe to the first answer of the
    // two that brought the line back.
    const std::vector<TOutageRow> outages = store.Outages({0, 1LL << 62});
    ASSERT_EQ(outages.size(), 1u);
    const QStringList times = [&] {
        QStringList t;
        for (const QString &p : probes)
            t << p.section(',', 0, 0);
        return t;
    }();
    const QStringList o = Columns(historytest::CsvLines(store, TExportKind::Outages)[0], {0, 1, 3, 4, 6, 8});
    EXPECT_EQ(o, (QStringList{times[1], times[4], "3", "refused", down + " " + up, "up"}));
    // Its length comes from the monotonic clock: the wall clock's whole
    // milliseconds may differ by one.
    EXPECT_NEAR(double(outages[0].DurationMs), double(*outages[0].End - outages[0].Start) / 1000, 2.0);

    // The session's span covers the whole run; the pause is a gap in it.
    const std::vector<TSpanRow> sessions = store.Sessions({0, 1LL << 62});
    ASSERT_EQ(sessions.size(), 1u);
    EXPECT_GE(sessions[0].Start, before - 1000);
    ASSERT_TRUE(sessions[0].End.has_value());
    EXPECT_LE(*sessions[0].End, after);
    const std::vector<TSpanRow> gaps = store.Gaps({0, 1LL << 62});
    ASSERT_EQ(gaps.size(), 1u);
    EXPECT_EQ(gaps[0].Kind, "paused (metered)");
    ASSERT_TRUE(gaps[0].End.has_value());
    // Between the sixth probe and the seventh (times of one format compare as text).
    EXPECT_GE(Rfc3339(gaps[0].Start), times[5]);
    EXPECT_LE(Rfc3339(*gaps[0].End), times[6]);
}

TEST_F(HistoryRecorder, AnOutageStillOpenEndsWithTheSessionAsNotMonitored)
{
    const QString down = QStringLiteral("127.0.0.1:%1").arg(ScriptServer::unusedPort());
    ASSERT_NO_FATAL_FAILURE(WriteList({down}));
    THistoryRecorder recorder(*engine, store);
    ASSERT_TRUE(engine->Start());
    engine->Tick();
    engine->Tick();
    engine->Stop();
    const QStringList o = historytest::CsvLines(store, TExportKind::Outages);
    ASSERT_EQ(o.size(), 1);
    EXPECT_EQ(Columns(o[0], {3, 4, 8}), (QStringList{"3", "refused", "not monitored"}));
    EXPECT_EQ(store.Sessions({0, 1LL << 62}).size(), 1u);
}

TEST_F(HistoryRecorder, AStartThatSendsNothingIsNoSession)
{
    // Without a host and without the list the switch shows on, but nothing
    // watches the line: no session is written.
    options.AntiIdle.Options[config::TAntiIdleOptions::CycleServerList] = false;
    options.AntiIdle.Host.clear();
    THistoryRecorder recorder(*engine, store);
    engine->Start();
    engine->Stop();
    EXPECT_TRUE(store.Sessions({0, 1LL << 62}).empty());
}

TEST_F(HistoryRecorder, TheKeeperEndsARunningSessionWhenTheProgramGoes)
{
    ScriptServer good({Script().readRequest().send("HTTP/1.0 200 OK\r\n\r\nup")});
    ASSERT_NO_FATAL_FAILURE(WriteList({QStringLiteral("127.0.0.1:%1").arg(good.port())}));
    store.Close();
    options.History.KeepDays = 30;
    {
        // A probe 40 days old goes at the keeper's first prune (31 days
        // before the newest one).
        THistoryStore old;
        ASSERT_TRUE(old.Open(THistoryStore::DefaultPath()));
        old.AddProbe(historytest::Probe(Now() - 40 * kUsPerDay, "old.test", 3), 0);
        old.AddProbe(historytest::Probe(Now() - kUsPerDay, "recent.test", 3), 0);
    }
    auto keeper = std::make_unique<THistoryKeeper>(*engine, options);
    ASSERT_TRUE(keeper->Store().IsOpen());
    EXPECT_GT(keeper->Store().FirstProbe().value_or(0), Now() - 2 * kUsPerDay);
    ASSERT_TRUE(engine->Start());
    const TUs beforeExit = Now();
    keeper.reset();          // the program ends with the session running

    THistoryStore after;
    ASSERT_TRUE(after.Open(THistoryStore::DefaultPath(), THistoryStore::TMode::Read));
    const std::vector<TSpanRow> sessions = after.Sessions({0, 1LL << 62});
    ASSERT_EQ(sessions.size(), 1u);
    ASSERT_TRUE(sessions[0].End.has_value());
    EXPECT_GE(*sessions[0].End, beforeExit);
    EXPECT_EQ(historytest::CsvLines(after, TExportKind::Probes).size(), 2);
    engine->Stop();
}
