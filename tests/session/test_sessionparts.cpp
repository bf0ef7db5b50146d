// The session's statistics, its log batches and its server list, each on
// its own.
#include "session/serverhosts.h"
#include "session/sessionlog.h"
#include "session/sessionstats.h"
#include "../support/qtprint.h"
#include "../support/testutil.h"

#include <QDir>
#include <QFile>
#include <gtest/gtest.h>

namespace {

} // namespace

TEST(SessionStats, CountsPerTickAndPerRow)
{
    // Each step: operation, row, then the expected totals and row 1..2 cells.
    enum Op { Attempt, Tick, Success, Failure, Lookup };
    const struct {
        Op op;
        int row, ms;
        int attempts, successes, failures;
        bool counted;
        qint64 s1, f1, t1, s2, f2;
    } steps[] = {
        {Attempt, 0, 0, 1, 0, 0, false, 0, 0, 0, 0, 0},
        {Success, 1, 100, 1, 1, 0, false, 1, 0, 100, 0, 0},
        {Tick, 0, 0, 1, 1, 0, false, 1, 0, 100, 0, 0},
        {Attempt, 0, 0, 2, 1, 0, false, 1, 0, 100, 0, 0},
        {Lookup, 2, 0, 2, 1, 1, true, 1, 0, 100, 0, 1},
        {Lookup, 2, 0, 2, 1, 1, true, 1, 0, 100, 0, 1},      // same tick: not again
        {Tick, 0, 0, 2, 1, 1, false, 1, 0, 100, 0, 1},
        {Failure, 1, 0, 2, 1, 2, true, 1, 1, 100, 0, 1},
        {Lookup, 1, 0, 2, 1, 2, true, 1, 1, 100, 0, 1},      // after a failure in the tick
        {Success, 7, 50, 2, 2, 2, true, 1, 1, 100, 0, 1},    // no such row: totals only
        {Failure, 0, 0, 2, 2, 3, true, 1, 1, 100, 0, 1},
    };
    TSessionStats stats;
    stats.Start({"a.test", "b.test"});
    EXPECT_TRUE(stats.Active());
    for (size_t i = 0; i < std::size(steps); ++i) {
        const auto &s = steps[i];
        SCOPED_TRACE(i);
        switch (s.op) {
        case Attempt: stats.CountAttempt(); break;
        case Tick: stats.NewTick(); break;
        case Success: stats.RecordSuccess(s.row, s.ms); break;
        case Failure: stats.RecordFailure(s.row); break;
        case Lookup: stats.RecordLookupFailure(s.row); break;
        }
        EXPECT_EQ(stats.Attempts(), s.attempts);
        EXPECT_EQ(stats.Successes(), s.successes);
        EXPECT_EQ(stats.Failures(), s.failures);
        EXPECT_EQ(stats.FailureCounted(), s.counted);
        EXPECT_EQ(stats.Rows()[0].Successes, s.s1);
        EXPECT_EQ(stats.Rows()[0].Failures, s.f1);
        EXPECT_EQ(stats.Rows()[0].TimeSum, s.t1);
        EXPECT_EQ(stats.Rows()[1].Successes, s.s2);
        EXPECT_EQ(stats.Rows()[1].Failures, s.f2);
    }
    ASSERT_TRUE(stats.Summary(1).has_value());
    EXPECT_EQ(stats.Summary(1)->Percent, "50 %");
    EXPECT_EQ(stats.Summary(1)->Average, "50");
    EXPECT_EQ(stats.Summary(2)->Percent, "0 %");
    EXPECT_FALSE(stats.Summary(3).has_value());
    EXPECT_FALSE(stats.Summary(0).has_value());

    // The end keeps the attempts and the rows for the report.
    stats.End();
    EXPECT_FALSE(stats.Active());
    EXPECT_EQ(stats.Successes(), 0);
    EXPECT_EQ(stats.Failures(), 0);
    EXPECT_EQ(stats.Attempts(), 2);
    EXPECT_EQ(stats.Rows()[0].Successes, 1);
    stats.Start({"c.test"});
    EXPECT_EQ(stats.Attempts(), 0);
    ASSERT_EQ(stats.Rows().size(), 1u);
    EXPECT_EQ(stats.Rows()[0].Host, "c.test");
}

TEST(SessionLog, BatchesWhileRunningAndEverythingAtTheEnd)
{
    testutil::ScratchDir dir;
    const QString path = dir.file("AI_Log.txt");
    TSessionLog log(path);
    QString error;
    for (int i = 1; i <= 200; ++i)
        log.Add(QStringLiteral("\u2022 line %1").arg(i));
    EXPECT_EQ(log.FlushIfDue(&error), TSessionLog::TFlush::Nothing);
    EXPECT_FALSE(QFile::exists(path));
    log.Add(QStringLiteral("\u2022 caf\u00e9"));
    EXPECT_EQ(log.FlushIfDue(&error), TSessionLog::TFlush::Written);
    EXPECT_TRUE(log.Pending().isEmpty());
    EXPECT_EQ(testutil::readFile(path).count("\r\n"), 201);
    EXPECT_TRUE(testutil::readFile(path).endsWith("\x95 caf\xe9\r\n"));

    // A few lines at the end of the session go out all the same.
    log.Add(QStringLiteral("\u2022 last"));
    EXPECT_EQ(log.FlushIfDue(&error), TSessionLog::TFlush::Nothing);
    EXPECT_EQ(log.FlushAll(&error), TSessionLog::TFlush::Written);
    EXPECT_TRUE(testutil::readFile(path).endsWith("\x95 caf\xe9\r\n\x95 last\r\n"));
    EXPECT_EQ(log.FlushAll(&error), TSessionLog::TFlush::Nothing);

    // The next session starts the file anew; forgotten lines never reach it.
    log.Add(QStringLiteral("\u2022 stale"));
    log.Forget();
    EXPECT_TRUE(log.Remove(&error));
    EXPECT_FALSE(QFile::exists(path));
    EXPECT_EQ(log.FlushAll(&error), TSessionLog::TFlush::Nothing);
    EXPECT_FALSE(QFile::exists(path));
}

TEST(SessionLog, AFailedWriteKeepsTheLinesForTheNextTry)
{
    testutil::ScratchDir dir;
    const QString path = dir.file("AI_Log.txt");
    ASSERT_TRUE(QDir(dir.path()).mkdir("AI_Log.txt"));   // a folder in the way
    TSessionLog log(path);
    log.Add(QStringLiteral("\u2022 kept"));
    QString error;
    EXPECT_EQ(log.FlushAll(&error), TSessionLog::TFlush::Failed);
    EXPECT_EQ(error, "Cannot create file " + path);
    EXPECT_EQ(log.Pending(), QStringList{"\u2022 kept"});
    ASSERT_TRUE(QDir(dir.path()).rmdir("AI_Log.txt"));
    EXPECT_EQ(log.FlushAll(&error), TSessionLog::TFlush::Written);
    EXPECT_EQ(testutil::readFile(path), "\x95 kept\r\n");
}

TEST(ServerHosts, LoadReplaceAndTheResetNotice)
{
    testutil::ScratchDir dir;
    const QString path = dir.file("Servers.dat");
    TServerHosts hosts;
    int resets = 0;
    hosts.OnReset = [&] { ++resets; };
    hosts.Append("kept.test");
    // No file: nothing changes and nobody is told.
    EXPECT_FALSE(hosts.Load(path));
    EXPECT_EQ(hosts.Entries(), QStringList{"kept.test"});
    EXPECT_EQ(resets, 0);

    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("a.test\r\n\r\nb.test\n");
    f.close();
    EXPECT_TRUE(hosts.Load(path));
    EXPECT_EQ(hosts.Entries(), (QStringList{"a.test", "", "b.test"}));
    EXPECT_EQ(resets, 1);
    EXPECT_EQ(hosts.At(2), "b.test");
    EXPECT_EQ(hosts.At(3), QString());

    hosts.RemoveAt(1);
    hosts.RemoveAt(9);   // no such entry: nothing happens
    hosts.Append("c.test");
    EXPECT_EQ(resets, 1);
    ASSERT_TRUE(hosts.Save(path));
    QFile back(path);
    ASSERT_TRUE(back.open(QIODevice::ReadOnly));
    EXPECT_EQ(back.readAll(), "a.test\r\nb.test\r\nc.test\r\n");
    hosts.Replace({});
    EXPECT_EQ(hosts.Count(), 0);
    EXPECT_EQ(resets, 2);
}
