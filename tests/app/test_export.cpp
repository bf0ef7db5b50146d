// idlix --export as a process: the same bytes as the history's export under
// a locale whose decimal point is a comma, to a file or standard output,
// while the program runs and writes its history, and clear refusals (exit
// 64) of command lines it cannot understand.
#include "history/historyexport.h"
#include "history/historystore.h"
#include "../support/childprogram.h"
#include "../support/commalocale.h"
#include "../support/testutil.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <gtest/gtest.h>

using namespace history;
using testutil::programEnvironment;
using testutil::programPath;

namespace {

constexpr TUs kSec = 1000000;
constexpr TUs kT0 = 1714550400LL * kSec;   // 2024-05-01T08:00:00Z

struct TRun {
    int code = -1;
    QByteArray out, err;
};

TRun Idlix(const QStringList &args, QProcessEnvironment env)
{
    QProcess p;
    p.setProcessEnvironment(env);
    p.start(programPath(), args);
    TRun r;
    if (!p.waitForFinished(20000)) {
        p.kill();
        p.waitForFinished();
        return r;
    }
    r.code = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    r.out = p.readAllStandardOutput();
    r.err = p.readAllStandardError();
    return r;
}

void Fill(const QString &path, TUs base = kT0)
{
    THistoryStore store;
    ASSERT_TRUE(store.Open(path));
    const qint64 s = store.BeginSession(base, 60000, 1, false);
    for (int i = 0; i < 10; ++i) {
        TProbeRow p;
        p.At = base + i * 60 * kSec + 123000;
        p.Host = "host.test";
        p.Address = "10.200.3.10";
        p.Kind = session::TProbeKind::Echo;
        p.Outcome = i == 4 ? TProbeOutcome::Timeout : TProbeOutcome::Ok;
        p.Ms = i == 4 ? -1 : 10 + i;
        p.BytesSent = 84;
        p.BytesReceived = i == 4 ? 0 : 84;
        store.AddProbe(p, s);
    }
    TOutageRow o;
    o.Start = base + 240 * kSec;
    o.End = base + 492 * kSec + 310000;
    o.DurationMs = 252310;
    o.ProbesLost = 4;
    o.FirstOutcome = TProbeOutcome::Timeout;
    o.Hosts = "host.test";
    o.EndedBy = "up";
    store.CloseOutage(store.OpenOutage(o, s), o);
    store.EndSession(s, base + 600 * kSec);
}

QByteArray Expected(const QString &path, TExportKind kind, TExportFormat format, const TRange &range = {0, 1LL << 62})
{
    THistoryStore store;
    EXPECT_TRUE(store.Open(path, THistoryStore::TMode::Read));
    QByteArray all;
    ExportHistory(store, kind, format, range, [&](const QByteArray &p) { all += p; return true; });
    return all;
}

class ExportCommand : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!QFile::exists(programPath()))
            GTEST_SKIP() << "program not built at " << programPath().toStdString();
        QDir().mkpath(dir.file("run"));
        QFile::setPermissions(dir.file("run"), QFileDevice::ReadOwner | QFileDevice::WriteOwner
                                                   | QFileDevice::ExeOwner);
        env = programEnvironment(dir);
    }
    testutil::ScratchDir dir;
    QProcessEnvironment env;
};

} // namespace

TEST_F(ExportCommand, TheSameBytesUnderACommaLocale)
{
    ASSERT_NO_FATAL_FAILURE(Fill(dir.file("history.db")));
    testsupport::CommaLocale comma;
    if (!comma.reason().empty())
        GTEST_SKIP() << comma.reason();
    {
        // The locale is one the C library takes, with a comma for a point.
        testsupport::CommaLocale::Use use(comma);
        ASSERT_TRUE(use.ok());
    }
    env.insert("LOCPATH", comma.path());
    env.insert("LC_ALL", testsupport::CommaLocale::kName);
    env.insert("LANG", testsupport::CommaLocale::kName);

    struct Case {
        QStringList args;
        TExportKind kind;
        TExportFormat format;
        TRange range;
    };
    const std::vector<Case> cases = {
        {{"probes", "p.csv"}, TExportKind::Probes, TExportFormat::Csv, {0, 1LL << 62}},
        {{"outages", "o.csv"}, TExportKind::Outages, TExportFormat::Csv, {0, 1LL << 62}},
        {{"outages", "o.ndjson", "--format", "ndjson"}, TExportKind::Outages, TExportFormat::Ndjson, {0, 1LL << 62}},
        {{"probes", "r.ndjson", "--from", "2024-05-01T08:03:00Z", "--to", "2024-05-01T10:06:00+02:00", "--format",
          "ndjson"},
         TExportKind::Probes, TExportFormat::Ndjson, {kT0 + 180 * kSec, kT0 + 360 * kSec}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.args.join(' ').toStdString());
        QStringList args = c.args;
        args[1] = dir.file(args[1]);
        const TRun r = Idlix(QStringList{"--export"} + args, env);
        ASSERT_EQ(r.code, 0) << r.err.toStdString();
        EXPECT_TRUE(r.out.isEmpty());
        const QByteArray want = Expected(dir.file("history.db"), c.kind, c.format, c.range);
        EXPECT_EQ(testutil::readFile(args[1]), want);
    }
    EXPECT_TRUE(testutil::readFile(dir.file("o.csv")).contains(",252.310,4,timeout,"));
    EXPECT_EQ(testutil::readFile(dir.file("r.ndjson")).count('\n'), 3);

    // "-" writes to standard output.
    const TRun out = Idlix({"--export", "probes", "-"}, env);
    ASSERT_EQ(out.code, 0) << out.err.toStdString();
    EXPECT_EQ(out.out, Expected(dir.file("history.db"), TExportKind::Probes, TExportFormat::Csv));
    EXPECT_TRUE(out.out.contains("2024-05-01T08:05:00.123Z,host.test,10.200.3.10,echo,ok,15.000,84,84,\r\n"));
}

TEST_F(ExportCommand, WorksWhileTheProgramRunsAndWritesItsHistory)
{
    // Within the days the program keeps: it prunes older ones as it starts.
    ASSERT_NO_FATAL_FAILURE(Fill(dir.file("history.db"), (QDateTime::currentSecsSinceEpoch() - 3600) * kSec));
    QProcess program;
    program.setProcessEnvironment(env);
    program.start(programPath(), {});
    ASSERT_TRUE(program.waitForStarted(5000));
    // The running program holds its lock (and so its history) once its
    // runtime folder has something in it.
    ASSERT_TRUE(testutil::waitFor([&] {
        return !QDir(dir.file("run")).isEmpty(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden);
    }, std::chrono::milliseconds(10000)));
    testutil::pump(std::chrono::milliseconds(300));
    EXPECT_TRUE(QFile::exists(dir.file("history.db-wal"))) << "the program has the history open";

    const TRun r = Idlix({"--export", "probes", dir.file("p.csv")}, env);
    EXPECT_EQ(r.code, 0) << r.err.toStdString();
    EXPECT_EQ(testutil::readFile(dir.file("p.csv")).count('\n'), 11);
    EXPECT_EQ(program.state(), QProcess::Running);
    program.terminate();
    program.waitForFinished(10000);
}

TEST_F(ExportCommand, CommandLinesItCannotUnderstandAndFilesItCannotWrite)
{
    struct Case {
        QStringList args;
        int code;
        const char *says;
    };
    const std::vector<Case> noHistory = {
        {{"probes", "x.csv"}, 1, "no connection history"},
    };
    for (const Case &c : noHistory) {
        const TRun r = Idlix(QStringList{"--export"} + c.args, env);
        EXPECT_EQ(r.code, c.code);
        EXPECT_TRUE(r.err.contains(c.says)) << r.err.toStdString();
    }
    ASSERT_NO_FATAL_FAILURE(Fill(dir.file("history.db")));
    const std::vector<Case> cases = {
        {{}, 64, "needs what to export and a file"},
        {{"probes"}, 64, "needs what to export and a file"},
        {{"pings", "x.csv"}, 64, "nothing to export called pings"},
        {{"probes", "x.csv", "--from", "last tuesday"}, 64, "not a time: last tuesday"},
        {{"probes", "x.csv", "--format", "xml"}, 64, "unknown format: xml"},
        {{"probes", "x.csv", "--from", "2024-05-02", "--to", "2024-05-01"}, 64, "--to must come after --from"},
        {{"probes", "x.csv", "--colour"}, 64, "unknown option '--colour'"},
        {{"probes", "x.csv", "--to"}, 64, "missing value for option '--to'"},
        {{"probes", "x.csv", "y.csv"}, 64, "unexpected argument '"},
        {{"probes", "no/such/folder/x.csv"}, 1, "Cannot create"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.args.join(' ').toStdString());
        QStringList args = c.args;
        for (QString &a : args) {
            if (a.endsWith(".csv"))
                a = dir.file(a);
        }
        const TRun r = Idlix(QStringList{"--export"} + args, env);
        EXPECT_EQ(r.code, c.code) << r.err.toStdString();
        EXPECT_TRUE(r.err.contains(c.says)) << r.err.toStdString();
        EXPECT_TRUE(r.out.isEmpty());
    }
    EXPECT_FALSE(QFile::exists(dir.file("x.csv")));
    EXPECT_TRUE(QDir(dir.path()).entryList({"*.tmp"}, QDir::Files).isEmpty());
}

// idlix --report takes the export's times and statuses, and writes its PDF
// with neither a display nor a platform chosen for it.
TEST_F(ExportCommand, ReportWithoutADisplayAndItsRefusals)
{
    ASSERT_NO_FATAL_FAILURE(Fill(dir.file("history.db")));
    env.remove("QT_QPA_PLATFORM");
    env.remove("DISPLAY");
    env.remove("WAYLAND_DISPLAY");
    env.insert("TZ", "UTC");
    env.insert("LC_ALL", "C");
    struct Case {
        QStringList args;
        int code;
        const char *says;
    };
    const std::vector<Case> cases = {
        {{}, 64, "missing value for option '--report'"},
        {{"r.txt"}, 64, "must end in .pdf or .html"},
        {{"r.pdf", "--from", "last tuesday"}, 64, "not a time: last tuesday"},
        {{"r.pdf", "--from", "2024-05-02", "--to", "2024-05-01"}, 64, "--to must come after --from"},
        {{"r.pdf", "--format", "csv"}, 64, "'--format' is an option of idlix --export"},
        {{"no/such/folder/r.html"}, 1, "Cannot write"},
        {{"r.pdf", "--from", "2024-05-01T08:00:00Z", "--to", "2024-05-01 10:30"}, 0, ""},
        {{"r.html", "--to", "2024-05-02"}, 0, ""},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.args.join(' ').toStdString());
        QStringList args = c.args;
        if (!args.isEmpty() && !args[0].startsWith('-'))
            args[0] = dir.file(args[0]);
        const TRun r = Idlix(QStringList{"--report"} + args, env);
        EXPECT_EQ(r.code, c.code) << r.err.toStdString();
        EXPECT_TRUE(r.err.contains(c.says)) << r.err.toStdString();
    }
    // The outage of 252.31 s, its four lost probes, each file in its kind.
    EXPECT_TRUE(testutil::readFile(dir.file("r.pdf")).startsWith("%PDF-"));
    const QByteArray html = testutil::readFile(dir.file("r.html"));
    EXPECT_TRUE(html.startsWith("<!DOCTYPE html>"));
    for (const char *text : {"<td>1 May 2024 08:04:00</td>", "<td class=\"n\">4 min 12 s</td>", "<td class=\"n\">4</td>"})
        EXPECT_TRUE(html.contains(text)) << text;
}
