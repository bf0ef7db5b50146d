// The history under faults: another program's file, a statement that keeps
// the file open, a lock held and a disk full while records come, a second
// writer on the same folder, a clock far ahead and an export onto the file.
#include "historytest.h"

#include "config/options.h"
#include "history/historykeeper.h"
#include "session/antiidlesession.h"
#include "../support/testutil.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <cerrno>
#include <chrono>
#include <functional>
#include <sys/mount.h>

using namespace history;
using historytest::CsvLines;
using historytest::Probe;
using namespace std::chrono_literals;

namespace {

constexpr TUs kSec = 1000000;
constexpr TUs kT0 = 1714550400LL * kSec;   // 2024-05-01T08:00:00Z

// A connection of another program to the file.
struct Other {
    explicit Other(const QString &path) { sqlite3_open(QFile::encodeName(path).constData(), &db); }
    ~Other() { sqlite3_close(db); }
    int Exec(const char *sql) { return sqlite3_exec(db, sql, nullptr, nullptr, nullptr); }
    sqlite3 *db = nullptr;
};

class HistoryFaults : public ::testing::Test {
protected:
    QString path() const { return dir.file("history.db"); }
    testutil::ScratchDir dir;
    config::TOptions options;
};

} // namespace

TEST_F(HistoryFaults, AnotherProgramsFileIsLeftAsItIs)
{
    const struct {
        const char *name;
        const char *sql;
    } cases[] = {
        {"probes of other columns", "CREATE TABLE probes(t INTEGER PRIMARY KEY, host TEXT, ok INTEGER)"},
        {"targets of other columns", "CREATE TABLE targets(id INTEGER PRIMARY KEY, name TEXT)"},
        {"tables of its own only", "CREATE TABLE notes(id INTEGER PRIMARY KEY, text TEXT)"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        QFile::remove(path());
        ASSERT_EQ(Other(path()).Exec(c.sql), SQLITE_OK);
        const QByteArray before = testutil::readFile(path());
        for (const auto mode : {THistoryStore::TMode::Write, THistoryStore::TMode::Read}) {
            THistoryStore store;
            EXPECT_FALSE(store.Open(path(), mode));
            EXPECT_TRUE(store.Problem().contains(path()) && store.Problem().contains("left as it is"))
                << store.Problem().toStdString();
            // Writing to it and reading from it is refused, not a crash.
            EXPECT_FALSE(store.AddProbe(Probe(kT0, "a.test", 5), store.BeginSession(kT0, 60000, 1, false)));
            EXPECT_FALSE(store.ReadProbes({0, 1LL << 62}, [](const TProbeRow &) { return true; }));
        }
        EXPECT_EQ(testutil::readFile(path()), before);
        EXPECT_FALSE(QFileInfo::exists(path() + "-wal"));
    }

    // An empty file: nothing to export, and the program makes its history in it.
    QFile::remove(path());
    ASSERT_TRUE(QFile(path()).open(QIODevice::WriteOnly));
    THistoryStore reader;
    EXPECT_FALSE(reader.Open(path(), THistoryStore::TMode::Read));
    EXPECT_TRUE(reader.Problem().contains("no records")) << reader.Problem().toStdString();
    EXPECT_EQ(QFileInfo(path()).size(), 0);
    THistoryStore writer;
    ASSERT_TRUE(writer.Open(path())) << writer.Problem().toStdString();
    EXPECT_TRUE(writer.AddProbe(Probe(kT0, "a.test", 5)));
}

TEST_F(HistoryFaults, TheWriteAheadLogStaysBoundedOverALongSession)
{
    // The targets exist already: the session finds them rather than adds them.
    {
        THistoryStore store;
        ASSERT_TRUE(store.Open(path()));
        for (int h = 0; h < 3; ++h)
            ASSERT_TRUE(store.AddProbe(Probe(kT0 + h, QStringLiteral("h%1.test").arg(h), 5)));
    }
    THistoryStore store;
    ASSERT_TRUE(store.Open(path()));
    const qint64 session = store.BeginSession(kT0 + kSec, 1000, 1, true);
    qint64 largest = 0;
    for (int i = 0; i < 10000; ++i) {
        ASSERT_TRUE(store.AddProbe(Probe(kT0 + (i + 2) * kSec, QStringLiteral("h%1.test").arg(i % 3), i % 90),
                                   session));
        if (i % 500 == 499) {
            largest = std::max(largest, QFileInfo(path() + "-wal").size());
            // The History window reads while the session writes.
            EXPECT_TRUE(store.LastProbe().has_value());
        }
    }
    std::printf("-wal after 10,000 probes: %lld bytes (largest %lld)\n",
                qlonglong(QFileInfo(path() + "-wal").size()), qlonglong(largest));
    EXPECT_LT(largest, 6LL << 20);
    EXPECT_EQ(CsvLines(store, TExportKind::Probes).size(), 10003);
}

// Records that meet a file that refuses them for a while (another program's
// lock held past the busy time-out, a full disk) wait, in order, and are all
// written once the file takes them; the keeper says so once each way.
TEST_F(HistoryFaults, RecordsWaitWhileTheFileRefusesThemAndAreWrittenInOrder)
{
    const bool root = ::geteuid() == 0;
    struct Case {
        const char *name;
        std::function<bool(const QString &folder)> block;   // false: cannot be tried here
        std::function<void(const QString &folder)> unblock;
    };
    std::unique_ptr<Other> holder;
    const Case cases[] = {
        {"a lock held by another program",
         [&](const QString &folder) {
             holder = std::make_unique<Other>(folder + "/history.db");
             return holder->Exec("BEGIN IMMEDIATE") == SQLITE_OK;
         },
         [&](const QString &) {
             EXPECT_EQ(holder->Exec("COMMIT"), SQLITE_OK);
             holder.reset();
         }},
        {"a full disk",
         [](const QString &folder) {
             QFile filler(folder + "/filler");
             if (!filler.open(QIODevice::WriteOnly))
                 return false;
             const QByteArray block(4096, 'x');
             while (filler.write(block) == block.size() && filler.flush()) {
             }
             return true;
         },
         [](const QString &folder) { QFile::remove(folder + "/filler"); }},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        // The full disk is a small file system of its own.
        const QString folder = dir.file(c.name[2] == 'f' ? "full" : "locked");
        ASSERT_TRUE(QDir().mkpath(folder));
        const bool tmpfs = c.name[2] == 'f';
        if (tmpfs && (!root || ::mount("tmpfs", QFile::encodeName(folder).constData(), "tmpfs", 0, "size=512k") != 0)) {
            std::printf("skipped %s: no tmpfs can be mounted here\n", c.name);
            continue;
        }
        {
            TAntiIdleSession engine(options);
            THistoryKeeper keeper(engine, options, nullptr, folder + "/history.db");
            THistoryStore &store = keeper.Store();
            store.RetryMs = 50;
            QStringList said;
            QObject::connect(&keeper, &THistoryKeeper::Said,
                             [&](const QString &text, bool warning) { said << (warning ? "! " : "") + text; });
            ASSERT_TRUE(store.IsOpen()) << store.Problem().toStdString();
            ASSERT_TRUE(c.block(folder));

            const auto start = std::chrono::steady_clock::now();
            const qint64 session = store.BeginSession(kT0, 60000, 1, false);
            for (int i = 0; i < 20; ++i)
                EXPECT_TRUE(store.AddProbe(Probe(kT0 + i * kSec, QStringLiteral("h%1.test").arg(i % 2), i), session));
            store.EndSession(session, kT0 + 30 * kSec);
            // Only the first refused write waits for the lock; the rest are kept at once.
            EXPECT_LT(std::chrono::steady_clock::now() - start, 3s);
            EXPECT_GT(store.Waiting(), 0);
            EXPECT_TRUE(store.Problem().contains("records wait to be written")) << store.Problem().toStdString();
            testutil::pump(300ms);   // tries again, still refused
            EXPECT_GT(store.Waiting(), 0);

            c.unblock(folder);
            EXPECT_TRUE(testutil::waitFor([&] { return store.Waiting() == 0; }, 5s));
            EXPECT_TRUE(store.Problem().isEmpty()) << store.Problem().toStdString();
            const QStringList probes = CsvLines(store, TExportKind::Probes);
            ASSERT_EQ(probes.size(), 20);
            for (int i = 0; i < 20; ++i)
                EXPECT_TRUE(probes[i].contains(QStringLiteral("h%1.test").arg(i % 2))) << probes[i].toStdString();
            const std::vector<TSpanRow> sessions = store.Sessions({0, 1LL << 62});
            ASSERT_EQ(sessions.size(), 1u);
            EXPECT_EQ(sessions[0].End, std::optional<TUs>(kT0 + 30 * kSec));
            ASSERT_EQ(said.size(), 2) << said.join('\n').toStdString();
            EXPECT_TRUE(said[0].startsWith("! Cannot write the connection history")) << said[0].toStdString();
            EXPECT_TRUE(said[1].contains("written again, every record kept")) << said[1].toStdString();
        }
        if (tmpfs)
            ::umount2(QFile::encodeName(folder).constData(), MNT_DETACH);
    }
}

TEST_F(HistoryFaults, OneWriterPerDataFolder)
{
    TAntiIdleSession engine(options);
    auto first = std::make_unique<THistoryKeeper>(engine, options, nullptr, path(), "the service");
    ASSERT_TRUE(first->Writer().isEmpty());
    ASSERT_TRUE(first->Store().AddProbe(Probe(kT0, "first.test", 5)));

    // The second reads what the first writes, writes nothing, and says who writes.
    {
        THistoryKeeper second(engine, options, nullptr, path());
        EXPECT_EQ(second.Writer(), QStringLiteral("the service, process %1").arg(QCoreApplication::applicationPid()));
        ASSERT_EQ(second.Store().Notices().size(), 1);
        EXPECT_TRUE(second.Store().Notices()[0].contains("read-only")) << second.Store().Notices()[0].toStdString();
        EXPECT_FALSE(second.Store().AddProbe(Probe(kT0 + kSec, "second.test", 5)));
        ASSERT_TRUE(first->Store().AddProbe(Probe(kT0 + 2 * kSec, "first.test", 5)));
        EXPECT_EQ(CsvLines(second.Store(), TExportKind::Probes).size(), 2);
    }
    // Once the first has gone, the next one writes.
    first.reset();
    THistoryKeeper next(engine, options, nullptr, path());
    EXPECT_TRUE(next.Writer().isEmpty() && next.Store().AddProbe(Probe(kT0 + 3 * kSec, "next.test", 5)));
}

TEST_F(HistoryFaults, AClockFarAheadOrBehindNeverEmptiesTheHistory)
{
    constexpr TUs kDay = 24 * 3600 * kSec;
    const struct {
        const char *name;
        TUs clock;        // from the newest probe
        int keepDays;
        int kept;
        bool told;
    } cases[] = {
        {"on time", 0, 30, 1000, false},
        {"400 days ahead", 400 * kDay, 30, 1000, false},
        {"400 days ahead, three days kept", 400 * kDay, 3, 433, false},
        {"two days behind", -2 * kDay, 3, 721, true},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        QFile::remove(path());
        options.History.KeepDays = c.keepDays;
        TAntiIdleSession engine(options);
        THistoryKeeper keeper(engine, options, nullptr, path());
        QStringList said;
        QObject::connect(&keeper, &THistoryKeeper::Said, [&](const QString &text, bool) { said << text; });
        // A probe every ten minutes for a week, the newest at kT0.
        {
            THistoryStore::TBatch batch(keeper.Store());
            for (int i = 0; i < 1000; ++i)
                keeper.Store().AddProbe(Probe(kT0 - i * 600 * kSec, "a.test", 5));
        }
        keeper.Prune(kT0 + c.clock);
        EXPECT_EQ(CsvLines(keeper.Store(), TExportKind::Probes).size(), c.kept);
        EXPECT_EQ(said.size(), c.told ? 1 : 0) << said.join('\n').toStdString();
        if (c.told) {
            EXPECT_TRUE(said[0].contains("behind the newest record")) << said[0].toStdString();
        }
    }
}

TEST_F(HistoryFaults, AnExportOntoTheHistoryItselfIsRefused)
{
    THistoryStore store;
    ASSERT_TRUE(store.Open(path()));
    ASSERT_TRUE(store.AddProbe(Probe(kT0, "a.test", 5)));
    ASSERT_TRUE(QFile::link(path(), dir.file("link.db")));
    for (const QString &target : {path(), path() + "-wal", path() + "-shm", dir.file("link.db")}) {
        SCOPED_TRACE(target.toStdString());
        QString error;
        EXPECT_FALSE(ExportToFile(store, TExportKind::Probes, TExportFormat::Csv, {0, 1LL << 62}, target, &error));
        EXPECT_TRUE(error.contains("connection history") && error.contains(path())) << error.toStdString();
    }
    THistoryStore reader;
    ASSERT_TRUE(reader.Open(path(), THistoryStore::TMode::Read)) << reader.Problem().toStdString();
    EXPECT_EQ(CsvLines(reader, TExportKind::Probes).size(), 1);
    // Another file of the folder is written as ever.
    EXPECT_TRUE(ExportToFile(store, TExportKind::Probes, TExportFormat::Csv, {0, 1LL << 62}, dir.file("out.csv")));
}

TEST_F(HistoryFaults, ADamagedHistoryBehindALinkIsSetAsideAndTheLinkKept)
{
    ASSERT_TRUE(QDir().mkpath(dir.file("real")));
    const QString file = dir.file("real/kept.db");
    QFile damaged(file);
    ASSERT_TRUE(damaged.open(QIODevice::WriteOnly));
    damaged.write(QByteArray(8192, '\x5a'));
    damaged.close();
    ASSERT_TRUE(QFile::link(file, path()));

    THistoryStore store;
    ASSERT_TRUE(store.Open(path())) << store.Problem().toStdString();
    EXPECT_TRUE(QFileInfo(path()).isSymLink());
    EXPECT_EQ(QDir(dir.file("real")).entryList({"kept.db.damaged-*"}, QDir::Files).size(), 1);
    ASSERT_TRUE(store.AddProbe(Probe(kT0, "after.test", 5)));
    EXPECT_GT(QFileInfo(file).size(), 0);
    EXPECT_EQ(store.Notices().size(), 1);
    EXPECT_FALSE(store.Notices().value(0).contains('\n'));
}
