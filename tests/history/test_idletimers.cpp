// Idle-timer measurements in the history file: they read back newest first,
// and a file of the first layout gains their table when it is next written,
// its probes untouched, while a reader of such a file simply finds none.
#include "historytest.h"
#include "../support/testutil.h"

#include <QFile>
#include <gtest/gtest.h>
#include <sqlite3.h>

using namespace history;

namespace {

int UserVersion(const QString &path)
{
    sqlite3 *db = nullptr;
    sqlite3_open_v2(QFile::encodeName(path).constData(), &db, SQLITE_OPEN_READONLY, nullptr);
    sqlite3_stmt *st = nullptr;
    sqlite3_prepare_v2(db, "PRAGMA user_version", -1, &st, nullptr);
    const int v = sqlite3_step(st) == SQLITE_ROW ? sqlite3_column_int(st, 0) : -1;
    sqlite3_finalize(st);
    sqlite3_close(db);
    return v;
}

TIdleTimerRow Row(TUs at, const char *kind, int seconds)
{
    return {at, kind, "gateway 10.0.0.1 (02:00:00:00:00:01) via eth0", "found", seconds, seconds - 1, seconds + 1,
            "15+ 30- 20+ 25-", 1116, 62000};
}

} // namespace

TEST(HistoryIdleTimers, ReadBackNewestFirst)
{
    testutil::ScratchDir dir;
    THistoryStore store;
    ASSERT_TRUE(store.Open(dir.file("history.db")));
    ASSERT_TRUE(store.AddIdleTimer(Row(1000, "udp", 30)));
    ASSERT_TRUE(store.AddIdleTimer(Row(2000, "tcp", 300)));
    const std::vector<TIdleTimerRow> rows = store.IdleTimers();
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0].Kind, "tcp");
    EXPECT_EQ(rows[0].Seconds, 300);
    EXPECT_EQ(rows[1].At, 1000);
    EXPECT_EQ(rows[1].Network, "gateway 10.0.0.1 (02:00:00:00:00:01) via eth0");
    EXPECT_EQ(rows[1].Trials, "15+ 30- 20+ 25-");
    EXPECT_EQ(rows[1].Gone, 31);
    EXPECT_EQ(store.IdleTimers(1).size(), 1u);
    EXPECT_EQ(UserVersion(dir.file("history.db")), 5);
}

TEST(HistoryIdleTimers, AFirstLayoutFileGainsTheTableAdditively)
{
    testutil::ScratchDir dir;
    const QString path = dir.file("history.db");
    {
        THistoryStore store;
        ASSERT_TRUE(store.Open(path));
        store.AddProbe(historytest::Probe(5000000, "host.example", 12));
    }
    // As the first layout left it.
    {
        sqlite3 *db = nullptr;
        ASSERT_EQ(sqlite3_open(QFile::encodeName(path).constData(), &db), SQLITE_OK);
        EXPECT_EQ(sqlite3_exec(db, "DROP TABLE idle_timers; PRAGMA user_version=1", nullptr, nullptr, nullptr), SQLITE_OK);
        sqlite3_close(db);
    }
    {
        THistoryStore reader;
        ASSERT_TRUE(reader.Open(path, THistoryStore::TMode::Read)) << reader.Problem().toStdString();
        EXPECT_TRUE(reader.IdleTimers().empty());
        EXPECT_EQ(UserVersion(path), 1);
    }
    THistoryStore store;
    ASSERT_TRUE(store.Open(path)) << store.Problem().toStdString();
    EXPECT_EQ(UserVersion(path), 5);
    EXPECT_TRUE(store.AddIdleTimer(Row(7000, "udp", 120)));
    EXPECT_EQ(store.IdleTimers().size(), 1u);
    EXPECT_EQ(store.LastProbe(), 5000000);
}
