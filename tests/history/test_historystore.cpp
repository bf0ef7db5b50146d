// The history file: what is written reads back, a damaged file is set aside
// and never emptied, what a killed writer left open is closed at its last
// moment, old days are pruned, and a reader sees the writer's records while
// it writes.
#include "historytest.h"

#include "../support/testutil.h"

#include <QDir>
#include <QFile>
#include <gtest/gtest.h>
#include <sqlite3.h>

using namespace history;
using historytest::Sql;
using historytest::CsvLines;
using historytest::Probe;

namespace {

constexpr TUs kSec = 1000000;
constexpr TUs kT0 = 1714550400LL * kSec;   // 2024-05-01T08:00:00Z


class HistoryStore : public ::testing::Test {
protected:
    QString path() const { return dir.file("history.db"); }
    testutil::ScratchDir dir;
};

} // namespace

TEST_F(HistoryStore, WhatIsWrittenReadsBack)
{
    THistoryStore store;
    ASSERT_TRUE(store.Open(path())) << store.Problem().toStdString();
    EXPECT_EQ(THistoryStore::DefaultPath(), path());
    int changed = 0;
    QObject::connect(&store, &THistoryStore::Changed, [&] { ++changed; });

    const qint64 session = store.BeginSession(kT0, 60000, 1, false);
    ASSERT_GT(session, 0);
    ASSERT_TRUE(store.AddProbe(Probe(kT0 + 1 * kSec, "a.test", 12), session));
    // Two results in the same microsecond both keep their row.
    ASSERT_TRUE(store.AddProbe(Probe(kT0 + 2 * kSec, "b.test", -1), session));
    ASSERT_TRUE(store.AddProbe(Probe(kT0 + 2 * kSec, "a.test", 7), session));
    TProbeRow http = Probe(kT0 + 3 * kSec, "web, \"quoted\"", 250);
    http.Kind = session::TProbeKind::HttpGet;
    http.BytesSent = 64;
    http.BytesReceived = 1331;
    ASSERT_TRUE(store.AddProbe(http, session));
    TOutageRow outage;
    outage.Start = kT0 + 2 * kSec;
    outage.ProbesLost = 3;
    outage.FirstOutcome = TProbeOutcome::Timeout;
    outage.FirstReason = "Request timed out";
    outage.Hosts = "b.test";
    const qint64 o = store.OpenOutage(outage, session);
    ASSERT_GT(o, 0);
    outage.End = kT0 + 200 * kSec;
    outage.DurationMs = 198000;
    outage.ProbesLost = 4;
    outage.Hosts = "b.test a.test";
    outage.EndedBy = "up";
    store.CloseOutage(o, outage);
    store.CloseGap(store.OpenGap(session, kT0 + 300 * kSec, kSuspended), kT0 + 360 * kSec);
    store.EndSession(session, kT0 + 400 * kSec);
    EXPECT_EQ(changed, 10);
    EXPECT_TRUE(store.Problem().isEmpty());

    EXPECT_EQ(CsvLines(store, TExportKind::Probes), (QStringList{
        "2024-05-01T08:00:01.000Z,a.test,127.0.0.1,echo,ok,12.000,84,84,",
        "2024-05-01T08:00:02.000Z,b.test,127.0.0.1,echo,timeout,,84,0,Request timed out",
        "2024-05-01T08:00:02.000Z,a.test,127.0.0.1,echo,ok,7.000,84,84,",
        "2024-05-01T08:00:03.000Z,\"web, \"\"quoted\"\"\",127.0.0.1,http,ok,250.000,64,1331,",
    }));
    EXPECT_EQ(CsvLines(store, TExportKind::Outages), (QStringList{
        "2024-05-01T08:00:02.000Z,2024-05-01T08:03:20.000Z,198.000,4,timeout,Request timed out,"
        "b.test a.test,,up,,"}));
    const std::vector<TSpanRow> sessions = store.Sessions({kT0, kT0 + 1000 * kSec});
    ASSERT_EQ(sessions.size(), 1u);
    EXPECT_EQ(sessions[0].End, kT0 + 400 * kSec);
    const std::vector<TSpanRow> gaps = store.Gaps({kT0, kT0 + 1000 * kSec});
    ASSERT_EQ(gaps.size(), 1u);
    EXPECT_EQ(gaps[0].Kind, kSuspended);
    EXPECT_EQ(gaps[0].End, kT0 + 360 * kSec);
    EXPECT_EQ(store.FirstProbe(), kT0 + 1 * kSec);
    EXPECT_EQ(store.LastProbe(), kT0 + 3 * kSec);
    // Ranges are [from, to): the probe at 'to' belongs to the next range.
    EXPECT_EQ(CsvLines(store, TExportKind::Probes, {kT0 + 2 * kSec, kT0 + 3 * kSec}).size(), 2);

    // Bytes per local day: all four probes fall on one day here.
    const std::vector<TDayBytes> days = store.BytesPerDay({kT0, kT0 + 1000 * kSec});
    ASSERT_EQ(days.size(), 1u);
    EXPECT_EQ(days[0].Probes, 4);
    EXPECT_EQ(days[0].Sent, 84 * 3 + 64);
    EXPECT_EQ(days[0].Received, 84 * 2 + 1331);
}

TEST_F(HistoryStore, SkippedProbesCountAsSavedNotAsSent)
{
    THistoryStore store;
    ASSERT_TRUE(store.Open(path())) << store.Problem().toStdString();
    const qint64 session = store.BeginSession(kT0, 60000, 1, false);
    ASSERT_TRUE(store.AddProbe(Probe(kT0 + 1 * kSec, "a.test", 12), session));
    TProbeRow skipped = Probe(kT0 + 2 * kSec, "a.test", -1);
    skipped.Outcome = TProbeOutcome::Skipped;
    skipped.BytesReceived = 84;   // what the probe would have cost
    for (int i = 0; i < 3; ++i) {
        skipped.At = kT0 + (2 + i) * kSec;
        ASSERT_TRUE(store.AddProbe(skipped, session));
    }
    const std::vector<TDayBytes> days = store.BytesPerDay({kT0, kT0 + 1000 * kSec});
    ASSERT_EQ(days.size(), 1u);
    EXPECT_EQ(days[0].Probes, 1);
    EXPECT_EQ(days[0].Sent, 84);
    EXPECT_EQ(days[0].Received, 84);
    EXPECT_EQ(days[0].Skipped, 3);
    EXPECT_EQ(days[0].Saved, 3 * (84 + 84));
    // The outcome reads back as itself.
    EXPECT_TRUE(CsvLines(store, TExportKind::Probes).last().contains(",skipped,"));
}

TEST_F(HistoryStore, ADamagedFileIsSetAsideNeverEmptied)
{
    // Each damage: what the file holds before the program opens it.
    struct Case {
        const char *name;
        std::function<void(const QString &)> damage;
    };
    const std::vector<Case> cases = {
        {"no database at all",
         [](const QString &p) {
             QFile f(p);
             ASSERT_TRUE(f.open(QIODevice::WriteOnly));
             f.write(QByteArray("these are somebody's notes, not a history\n").repeated(200));
         }},
        {"a page overwritten",
         [this](const QString &p) {
             {
                 THistoryStore store;
                 ASSERT_TRUE(store.Open(p));
                 THistoryStore::TBatch batch(store);
                 const qint64 s = store.BeginSession(kT0, 60000, 1, false);
                 for (int i = 0; i < 2000; ++i)
                     store.AddProbe(Probe(kT0 + i * 60 * kSec, QStringLiteral("host%1.test").arg(i % 7), i % 90), s);
             }
             QFile f(p);
             ASSERT_TRUE(f.open(QIODevice::ReadWrite));
             ASSERT_GT(f.size(), 8 * 4096);
             f.seek(5 * 4096);
             f.write(QByteArray(4096, '\x5a'));
         }},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        QDir(dir.path()).removeRecursively();
        QDir().mkpath(dir.path());
        ASSERT_NO_FATAL_FAILURE(c.damage(path()));
        const QByteArray before = testutil::readFile(path());

        // A reader (the export) reports it and changes nothing.
        {
            THistoryStore reader;
            EXPECT_FALSE(reader.Open(path(), THistoryStore::TMode::Read));
            EXPECT_FALSE(reader.Problem().isEmpty());
        }
        EXPECT_EQ(testutil::readFile(path()), before);

        // The program sets it aside, says where, and starts a new history.
        THistoryStore store;
        ASSERT_TRUE(store.Open(path())) << store.Problem().toStdString();
        ASSERT_EQ(store.Notices().size(), 1);
        const QStringList aside = QDir(dir.path()).entryList({"history.db.damaged-*"}, QDir::Files);
        ASSERT_EQ(aside.size(), 1) << aside.join(' ').toStdString();
        EXPECT_TRUE(store.Notices()[0].contains(dir.file(aside[0]))) << store.Notices()[0].toStdString();
        EXPECT_TRUE(store.Notices()[0].contains("damaged"));
        EXPECT_EQ(testutil::readFile(dir.file(aside[0])), before);
        EXPECT_FALSE(store.FirstProbe().has_value());
        EXPECT_TRUE(store.AddProbe(Probe(kT0, "after.test", 5), store.BeginSession(kT0, 60000, 1, false)));
        EXPECT_EQ(CsvLines(store, TExportKind::Probes).size(), 1);
    }
}

TEST_F(HistoryStore, WhatAKilledWriterLeftOpenEndsAtItsLastMoment)
{
    {
        THistoryStore store;
        ASSERT_TRUE(store.Open(path()));
        const qint64 s = store.BeginSession(kT0, 60000, 1, false);
        store.AddProbe(Probe(kT0 + 60 * kSec, "a.test", 9), s);
        TOutageRow o;
        o.Start = kT0 + 120 * kSec;
        o.ProbesLost = 3;
        store.OpenOutage(o, s);
        for (int i = 2; i <= 5; ++i)
            store.AddProbe(Probe(kT0 + i * 60 * kSec, "a.test", -1), s);
        store.OpenGap(s, kT0 + 290 * kSec, "paused (metered)");
        // The process dies here: nothing is ended.
    }
    // A second session owned by a process that still runs (pid 1 on this boot).
    Sql(path(), "INSERT INTO sessions(start, interval_ms, method, cycle, owner) VALUES(1, 60000, 1, 0, "
                "(SELECT substr(owner, 1, instr(owner, ':')) || '1' FROM sessions WHERE id = 1))");

    THistoryStore store;
    ASSERT_TRUE(store.Open(path()));
    const std::vector<TSpanRow> sessions = store.Sessions({0, 1LL << 62});
    ASSERT_EQ(sessions.size(), 2u);
    EXPECT_FALSE(sessions[0].End.has_value()) << "a live writer's session is left alone";
    EXPECT_EQ(sessions[1].End, kT0 + 300 * kSec) << "ends at its last probe";
    const std::vector<TSpanRow> gaps = store.Gaps({0, 1LL << 62});
    ASSERT_EQ(gaps.size(), 1u);
    EXPECT_EQ(gaps[0].End, kT0 + 300 * kSec);
    EXPECT_EQ(CsvLines(store, TExportKind::Outages), (QStringList{
        "2024-05-01T08:02:00.000Z,2024-05-01T08:05:00.000Z,180.000,4,failed,,,,not monitored,,"}));
}

TEST_F(HistoryStore, DaysPastTheKeptOnesArePruned)
{
    THistoryStore store;
    ASSERT_TRUE(store.Open(path()));
    const TUs day = kUsPerDay;
    {
        THistoryStore::TBatch batch(store);
        for (int d = 0; d < 10; ++d) {
            const qint64 s = store.BeginSession(kT0 + d * day, 60000, 1, false);
            for (int i = 0; i < 3; ++i)
                store.AddProbe(Probe(kT0 + d * day + i * 60 * kSec, QStringLiteral("d%1.test").arg(d), 5), s);
            TOutageRow o;
            o.Start = kT0 + d * day + 10 * kSec;
            o.End = o.Start + 30 * kSec;
            store.CloseOutage(store.OpenOutage(o, s), o);
            store.EndSession(s, kT0 + d * day + 3600 * kSec);
        }
    }
    EXPECT_EQ(store.Prune(kT0 + 7 * day), 21);
    EXPECT_EQ(store.FirstProbe(), kT0 + 7 * day);
    EXPECT_EQ(CsvLines(store, TExportKind::Outages).size(), 3);
    EXPECT_EQ(store.Sessions({0, 1LL << 62}).size(), 3u);
    // Probes to a host that comes back after its days were pruned are still named.
    EXPECT_TRUE(store.AddProbe(Probe(kT0 + 11 * day, "d0.test", 4), 0));
    EXPECT_TRUE(CsvLines(store, TExportKind::Probes).last().contains(",d0.test,"));
}

TEST_F(HistoryStore, AReaderSeesTheWritersRecordsWhileItWrites)
{
    THistoryStore writer;
    ASSERT_TRUE(writer.Open(path()));
    const qint64 s = writer.BeginSession(kT0, 60000, 1, false);
    THistoryStore reader;
    ASSERT_TRUE(reader.Open(path(), THistoryStore::TMode::Read)) << reader.Problem().toStdString();
    for (int i = 0; i < 5; ++i) {
        ASSERT_TRUE(writer.AddProbe(Probe(kT0 + i * kSec, "a.test", i), s));
        EXPECT_EQ(CsvLines(reader, TExportKind::Probes).size(), i + 1);
    }
    // The reader never wrote: a missing file is reported, not made.
    THistoryStore none;
    EXPECT_FALSE(none.Open(dir.file("none.db"), THistoryStore::TMode::Read));
    EXPECT_FALSE(QFile::exists(dir.file("none.db")));
    EXPECT_TRUE(none.Problem().contains("no connection history")) << none.Problem().toStdString();
}

TEST_F(HistoryStore, AFileOfAnEarlierLayoutGainsTheMicrosecondsWhenWritten)
{
    // What the file held before round trips were kept to the microsecond,
    // and a file whose upgrade stopped after the column, before the version.
    struct Case {
        const char *what;
        const char *sql;
        const char *readBack;  // the old probe's ms as exported before the upgrade
    } cases[] = {
        {"version 2, no column",
         "DROP TRIGGER probes_summed; DROP TABLE hours; DROP TABLE days;"
         " ALTER TABLE probes DROP COLUMN us; PRAGMA user_version=2",
         "12.000"},
        {"version 1, no column, no idle timers",
         "DROP TRIGGER probes_summed; DROP TABLE hours; DROP TABLE days;"
         " ALTER TABLE probes DROP COLUMN us; DROP TABLE idle_timers; PRAGMA user_version=1",
         "12.000"},
        {"version 2, column already there", "PRAGMA user_version=2", "12.345"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        QFile::remove(path());
        {
            THistoryStore store;
            ASSERT_TRUE(store.Open(path())) << store.Problem().toStdString();
            TProbeRow old = Probe(kT0, "a.test", 12);
            old.Us = 12345;
            ASSERT_TRUE(store.AddProbe(old, 0));
        }
        Sql(path(), c.sql);
        {
            // Read as it is: still ours, changed in nothing.
            THistoryStore reader;
            ASSERT_TRUE(reader.Open(path(), THistoryStore::TMode::Read)) << reader.Problem().toStdString();
            const QStringList lines = CsvLines(reader, TExportKind::Probes);
            ASSERT_EQ(lines.size(), 1);
            EXPECT_TRUE(lines[0].contains(QStringLiteral(",ok,%1,").arg(c.readBack))) << lines[0].toStdString();
        }
        THistoryStore store;
        ASSERT_TRUE(store.Open(path())) << store.Problem().toStdString();
        TProbeRow fresh = Probe(kT0 + kSec, "a.test", 0);
        fresh.Us = 87;
        ASSERT_TRUE(store.AddProbe(fresh, 0));
        const QStringList lines = CsvLines(store, TExportKind::Probes);
        ASSERT_EQ(lines.size(), 2);
        EXPECT_TRUE(lines[0].contains(QStringLiteral(",ok,%1,").arg(c.readBack))) << lines[0].toStdString();
        EXPECT_TRUE(lines[1].contains(",ok,0.087,")) << lines[1].toStdString();
    }
}

TEST_F(HistoryStore, AFileOfAnEarlierLayoutGainsTheDiagnosisWhenWritten)
{
    const char *const dropped = "ALTER TABLE outages DROP COLUMN verdict; ALTER TABLE outages DROP COLUMN evidence;"
                                " ALTER TABLE outages DROP COLUMN route;";
    struct Case {
        const char *what;
        std::string sql;
    } cases[] = {
        {"version 3, no columns", std::string(dropped) + " PRAGMA user_version=3"},
        {"version 3, only the verdict added before the write stopped",
         "ALTER TABLE outages DROP COLUMN evidence; ALTER TABLE outages DROP COLUMN route; PRAGMA user_version=3"},
        {"version 3, columns already there", "PRAGMA user_version=3"},
    };
    TOutageRow old;
    old.Start = kT0;
    old.End = kT0 + 60 * kSec;
    old.DurationMs = 60000;
    old.ProbesLost = 2;
    old.Hosts = "a.test";
    old.EndedBy = "up";
    const QString oldLine = "2024-05-01T08:00:00.000Z,2024-05-01T08:01:00.000Z,60.000,2,failed,,a.test,,up,,";
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        QFile::remove(path());
        {
            THistoryStore store;
            ASSERT_TRUE(store.Open(path())) << store.Problem().toStdString();
            store.CloseOutage(store.OpenOutage(old, 0), old);
        }
        Sql(path(), c.sql.c_str());
        {
            // Read as it is: still ours, its outage without a diagnosis.
            THistoryStore reader;
            ASSERT_TRUE(reader.Open(path(), THistoryStore::TMode::Read)) << reader.Problem().toStdString();
            EXPECT_EQ(CsvLines(reader, TExportKind::Outages), QStringList{oldLine});
        }
        THistoryStore store;
        ASSERT_TRUE(store.Open(path())) << store.Problem().toStdString();
        TOutageRow fresh = old;
        fresh.Start = kT0 + 120 * kSec;
        fresh.End.reset();
        const qint64 id = store.OpenOutage(fresh, 0);
        store.SetOutageVerdict(id, "gateway", "The router 10.0.0.1 does not answer (no echo in 1 s).");
        store.SetOutageRoute(id, "[]");
        const std::vector<TOutageRow> rows = store.Outages({0, 1LL << 62});
        ASSERT_EQ(rows.size(), 2u);
        EXPECT_EQ(rows[0].Verdict, "");
        EXPECT_EQ(rows[1].Verdict, "gateway");
        EXPECT_EQ(rows[1].Evidence, "The router 10.0.0.1 does not answer (no echo in 1 s).");
        EXPECT_EQ(rows[1].Route, "[]");
    }
}

TEST_F(HistoryStore, TheEndOfAnOutageKeepsTheDiagnosisFoundWhileItRan)
{
    THistoryStore store;
    ASSERT_TRUE(store.Open(path()));
    TOutageRow row;
    row.Start = kT0;
    row.ProbesLost = 3;
    const qint64 id = store.OpenOutage(row, 0);
    store.SetOutageVerdict(id, "target", "192.0.2.1 does not answer; 192.0.2.2 does (3.0 ms).");
    store.SetOutageRoute(id, "[{\"hop\":1}]");
    row.End = kT0 + 10 * kSec;
    row.EndedBy = "up";
    store.CloseOutage(id, row);              // an end that brings no diagnosis
    std::vector<TOutageRow> rows = store.Outages({0, 1LL << 62});
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].Verdict, "target");
    EXPECT_EQ(rows[0].Route, "[{\"hop\":1}]");
    row.Verdict = "link";                    // one that does replaces it
    row.Evidence = "The interface eth0 is switched off.";
    store.CloseOutage(id, row);
    rows = store.Outages({0, 1LL << 62});
    EXPECT_EQ(rows[0].Verdict, "link");
    EXPECT_EQ(rows[0].Evidence, "The interface eth0 is switched off.");
    EXPECT_EQ(rows[0].Route, "[{\"hop\":1}]");
}
