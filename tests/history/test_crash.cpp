// A session program killed with SIGKILL while its line is down, then
// started again: every probe it had written is still there byte for byte,
// its session and open outage end at its last recorded moment, the time it
// was gone is not monitored, and the export reads it all while the new
// process writes.
#include "historytest.h"

#include "history/historycalc.h"
#include "history/rangefigures.h"
#include "../support/scriptserver.h"
#include "../support/testutil.h"

#include <QFile>
#include <QProcess>
#include <gtest/gtest.h>

using namespace history;
using namespace std::chrono_literals;
using testsupport::Script;
using testsupport::ScriptServer;

namespace {

void WriteList(const QString &path, quint16 port)
{
    QFile list(path);
    ASSERT_TRUE(list.open(QIODevice::WriteOnly));
    list.write(QStringLiteral("127.0.0.1:%1\r\n").arg(port).toLatin1());
}

void StartChild(QProcess &child)
{
    child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    child.start(QStringLiteral(HISTORY_CHILD), {"40"});
    ASSERT_TRUE(child.waitForReadyRead(10000)) << "the session program did not start";
    ASSERT_EQ(child.readLine().trimmed(), "running");
}

// What the export says now, read beside the writer.
struct TSeen {
    QStringList probes, outages;
    std::vector<TOutageRow> outageRows;
};
TSeen Read(const QString &path)
{
    THistoryStore reader;
    if (!reader.Open(path, THistoryStore::TMode::Read))
        return {};
    return {historytest::CsvLines(reader, TExportKind::Probes), historytest::CsvLines(reader, TExportKind::Outages),
            reader.Outages({0, 1LL << 62})};
}

} // namespace

TEST(HistoryCrash, KilledDuringAnOutageThenStartedAgain)
{
    testutil::ScratchDir dir;
    const QString db = THistoryStore::DefaultPath();
    const QByteArray ok = "HTTP/1.0 200 OK\r\n\r\nup";
    // Four answers, then the server closes every connection unanswered.
    ScriptServer first(std::vector<Script>(4, Script().readRequest().send(ok)));
    ASSERT_NO_FATAL_FAILURE(WriteList(dir.file("Servers.dat"), first.port()));

    QProcess child;
    ASSERT_NO_FATAL_FAILURE(StartChild(child));
    TSeen before;
    ASSERT_TRUE(testutil::waitFor([&] {
        before = Read(db);
        return before.probes.size() >= 9 && before.outageRows.size() == 1 && !before.outageRows[0].End;
    }, 20s)) << before.probes.join('\n').toStdString();
    child.kill();
    ASSERT_TRUE(child.waitForFinished(5000));
    ASSERT_EQ(child.exitStatus(), QProcess::CrashExit);

    // Nothing written before the kill is lost or changed; at most the probe
    // that was being written when the reader looked came after.
    const TSeen killed = Read(db);
    ASSERT_GE(killed.probes.size(), before.probes.size());
    EXPECT_LE(killed.probes.size(), before.probes.size() + 2);
    EXPECT_EQ(killed.probes.mid(0, before.probes.size()), before.probes);
    EXPECT_EQ(killed.outages.size(), 1);

    // Started again, with a server that answers.
    ScriptServer second(std::vector<Script>(50, Script().readRequest().send(ok)));
    ASSERT_NO_FATAL_FAILURE(WriteList(dir.file("Servers.dat"), second.port()));
    ASSERT_NO_FATAL_FAILURE(StartChild(child));
    TSeen now;
    ASSERT_TRUE(testutil::waitFor([&] {
        now = Read(db);
        return now.probes.size() >= killed.probes.size() + 3;
    }, 20s));
    child.kill();
    child.waitForFinished(5000);

    EXPECT_EQ(now.probes.mid(0, killed.probes.size()), killed.probes);
    for (const QString &p : now.probes.mid(0, 4) + now.probes.mid(killed.probes.size()))
        EXPECT_EQ(p.section(',', 4, 4), "ok") << p.toStdString();
    for (const QString &p : killed.probes.mid(4))
        EXPECT_NE(p.section(',', 4, 4), "ok") << p.toStdString();

    // The outage open at the kill ended at the killed program's last probe,
    // with every probe it lost, unseen how it ended.
    ASSERT_EQ(now.outageRows.size(), 1u);
    const TOutageRow &o = now.outageRows[0];
    const QString lastKilled = killed.probes.last().section(',', 0, 0);
    EXPECT_EQ(now.outages[0].section(',', 1, 1), lastKilled);
    EXPECT_EQ(now.outages[0].section(',', 8, 8), "not monitored");
    EXPECT_EQ(now.outages[0].section(',', 0, 0), killed.probes[4].section(',', 0, 0));
    EXPECT_EQ(o.ProbesLost, killed.probes.size() - 4);

    // The hour summaries say what the probes say, the kill notwithstanding.
    {
        THistoryStore store;
        ASSERT_TRUE(store.Open(db, THistoryStore::TMode::Read));
        const TRange all{0, 1LL << 52};
        TRangeFigures probes, hours;
        ASSERT_TRUE(ReadRangeFigures(store, all, store.Gaps(all), 1LL << 52, 1 << 30, probes));
        ASSERT_TRUE(ReadRangeFigures(store, all, store.Gaps(all), 1LL << 52, 1, hours));
        ASSERT_TRUE(hours.FromHours);
        EXPECT_EQ(hours.Probes, probes.Probes);
        EXPECT_EQ(hours.Bytes, probes.Bytes);
        ASSERT_EQ(hours.Targets.size(), probes.Targets.size());
        for (size_t i = 0; i < probes.Targets.size(); ++i) {
            EXPECT_EQ(hours.Targets[i].Probes, probes.Targets[i].Probes);
            EXPECT_EQ(hours.Targets[i].Lost, probes.Targets[i].Lost);
            EXPECT_EQ(hours.Targets[i].MaxUs, probes.Targets[i].MaxUs);
        }
    }

    // Two sessions, the first ended at its last probe; between them the
    // program was not running: not monitored.
    THistoryStore reader;
    ASSERT_TRUE(reader.Open(db, THistoryStore::TMode::Read));
    const std::vector<TSpanRow> sessions = reader.Sessions({0, 1LL << 62});
    ASSERT_EQ(sessions.size(), 2u);
    ASSERT_TRUE(sessions[0].End.has_value());
    EXPECT_EQ(*sessions[0].End, *o.End);
    const TRange whole{sessions[0].Start, sessions[1].Start + 1};
    const std::vector<TGap> gaps = Gaps(whole, sessions, reader.Gaps(whole), sessions[1].Start + 1);
    ASSERT_EQ(gaps.size(), 1u);
    EXPECT_EQ(gaps[0].Kind, kNotMonitored);
    EXPECT_EQ(gaps[0].Span.From, *sessions[0].End);
    EXPECT_EQ(gaps[0].Span.To, sessions[1].Start);
}
