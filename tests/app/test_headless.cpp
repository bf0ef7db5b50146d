// `idlix --headless` as a process: no display and no windowing library, the
// session of idlix2.ini from the start, systemd's protocol over a real
// datagram socket, its lines on standard error in either form, a clean end
// on SIGTERM and SIGINT, and every setting that cannot work refused with its
// reason and exit status.
#include "history/historystore.h"
#include "platform/icmpecho.h"
#include "platform/cp1252.h"
#include "platform/resolver.h"
#include "service/metricsserver.h"
#include "../support/childprogram.h"
#include "../support/notifylistener.h"
#include "../support/qtprint.h"
#include "../support/testutil.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <gtest/gtest.h>

#include <csignal>
#include <limits>
#include <fcntl.h>
#include <sched.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <linux/capability.h>

using testsupport::NotifyListener;

namespace {

void WriteFile(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(bytes);
}

const QByteArray kEchoToLoopback = "[Anti-Idle Options]\r\nMethod=1\r\nFrequecy=1\r\nHost=127.0.0.1\r\n";

// The program's environment with no display at all: a window, or Qt's GUI
// platform, could not even start.
QProcessEnvironment HeadlessEnvironment(const testutil::ScratchDir &dir)
{
    QProcessEnvironment env = testutil::programEnvironment(dir);
    env.remove("DISPLAY");
    env.remove("WAYLAND_DISPLAY");
    env.insert("QT_QPA_PLATFORM", "xcb");
    for (const char *name : {"NOTIFY_SOCKET", "WATCHDOG_USEC", "WATCHDOG_PID", "JOURNAL_STREAM"})
        env.remove(name);
    return env;
}

struct Finished {
    int code = -1;
    QString err;
};

Finished RunProgram(const QStringList &args, const QProcessEnvironment &env, int timeoutMs = 15000)
{
    QProcess p;
    p.setProcessEnvironment(env);
    p.start(testutil::programPath(), args);
    Finished f;
    if (!p.waitForStarted(5000) || !p.waitForFinished(timeoutMs)) {
        p.kill();
        p.waitForFinished(2000);
        f.err = "did not finish";
        return f;
    }
    f.code = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    f.err = QString::fromUtf8(p.readAllStandardError()) + QString::fromUtf8(p.readAllStandardOutput());
    return f;
}

QStringList Lines(const QString &text)
{
    return text.split('\n', Qt::SkipEmptyParts);
}

// The lines of the session log, without the bullet.
QStringList LogLines(const QString &path)
{
    QStringList lines;
    for (const QString &l : platform::FromCp1252(testutil::readFile(path)).split("\r\n", Qt::SkipEmptyParts))
        lines << l.mid(2);
    return lines;
}

bool SkipWithoutEchoes(std::string *why)
{
    QString hint;
    if (platform::IcmpAvailable(&hint))
        return false;
    *why = "ICMP echoes are not allowed here: " + hint.toStdString();
    return true;
}

} // namespace

TEST(Headless, RunsWithoutADisplayTellsSystemdAndEndsCleanlyOnSigterm)
{
    std::string why;
    if (SkipWithoutEchoes(&why))
        GTEST_SKIP() << why;
    testutil::ScratchDir dir;
    ASSERT_TRUE(QDir().mkpath(dir.file("run")));
    WriteFile(dir.file("idlix2.ini"), kEchoToLoopback);
    NotifyListener systemd(QFile::encodeName(dir.file("notify")));
    ASSERT_TRUE(systemd.ok());

    QProcessEnvironment env = HeadlessEnvironment(dir);
    env.insert("NOTIFY_SOCKET", dir.file("notify"));
    env.insert("WATCHDOG_USEC", "400000");   // WATCHDOG=1 every 200 ms
    QProcess p;
    p.setProcessEnvironment(env);
    p.start(testutil::programPath(), {"--headless"});
    ASSERT_TRUE(p.waitForStarted(5000));

    ASSERT_TRUE(systemd.WaitFor([](const QByteArray &m) { return m.startsWith("READY=1\n"); }, 5000))
        << p.readAllStandardError().toStdString();
    // The process that answers is the service itself, with no windowing
    // library loaded: the same process id systemd started.
    const QString pid = QString::number(p.processId());
    EXPECT_TRUE(QFileInfo("/proc/" + pid + "/exe").symLinkTarget().endsWith("/idlix-headless"));
    const QByteArray maps = testutil::readFile("/proc/" + pid + "/maps");
    ASSERT_FALSE(maps.isEmpty());
    // (Qt D-Bus is there: the history pauses the session while the machine sleeps.)
    for (const char *library : {"libQt6Gui", "libQt6Widgets", "libQt6Network", "libX11"})
        EXPECT_FALSE(maps.contains(library)) << library;

    // After the opening echo: its status.
    ASSERT_TRUE(systemd.WaitFor(
        [](const QByteArray &m) {
            return m.startsWith("STATUS=1 of 1 probes answered, line up; last: 127.0.0.1 pinged in ");
        },
        3000));
    // The watchdog at half its time, from READY on.
    testutil::pump(std::chrono::milliseconds(1000));
    const qint64 ready = [&] {
        for (const auto &m : systemd.Messages())
            if (m.text.startsWith("READY=1"))
                return m.ms;
        return qint64(-1);
    }();
    const qint64 last = systemd.Messages().back().ms;
    const int watchdogs = systemd.Count("WATCHDOG=1");
    EXPECT_GE(watchdogs, (last - ready) / 200 - 1);
    EXPECT_LE(watchdogs, (last - ready) / 200 + 1);
    EXPECT_GE(watchdogs, 3);

    ::kill(pid_t(p.processId()), SIGTERM);
    ASSERT_TRUE(p.waitForFinished(5000));
    EXPECT_EQ(p.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(p.exitCode(), 0);
    EXPECT_TRUE(systemd.WaitFor([](const QByteArray &m) { return m == "STOPPING=1\nSTATUS=Stopping (SIGTERM)"; }, 1000));
    // The watchdog stopped with it.
    EXPECT_EQ(systemd.Messages().back().text, "STOPPING=1\nSTATUS=Stopping (SIGTERM)");

    // Every event on standard error, each line with its UTC time.
    const QStringList err = Lines(QString::fromUtf8(p.readAllStandardError()));
    static const QRegularExpression stamped(R"(^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}Z \S)");
    for (const QString &line : err)
        EXPECT_TRUE(stamped.match(line).hasMatch()) << line.toStdString();
    QStringList texts;
    for (const QString &line : err)
        texts << line.mid(25);
    ASSERT_EQ(texts.size(), 6) << err.join('\n').toStdString();
    EXPECT_EQ(texts[0], "Session started: ICMP Pings every 1 minute to 127.0.0.1");
    EXPECT_EQ(texts[1], "Pinging 127.0.0.1");
    EXPECT_EQ(texts[2], "Sending 56 bytes to 127.0.0.1");
    EXPECT_TRUE(texts[3].startsWith("127.0.0.1 pinged in "));
    EXPECT_EQ(texts[4], "Stopping (SIGTERM)");
    EXPECT_EQ(texts[5], "Session ended: 1 of 1 probe answered, 0 failed");
    // The session log holds the same history, written at the end.
    EXPECT_EQ(LogLines(dir.file("AI_Log.txt")), texts.mid(1, 3));
    // The connection history holds the run: one session, ended, and its probe.
    history::THistoryStore store;
    ASSERT_TRUE(store.Open(dir.file("history.db"), history::THistoryStore::TMode::Read))
        << store.Problem().toStdString();
    const history::TRange all{0, std::numeric_limits<history::TUs>::max()};
    const std::vector<history::TSpanRow> sessions = store.Sessions(all);
    ASSERT_EQ(sessions.size(), 1u);
    EXPECT_TRUE(sessions[0].End.has_value());
    std::vector<history::TProbeRow> probes;
    store.ReadProbes(all, [&](const history::TProbeRow &row) {
        probes.push_back(row);
        return true;
    });
    ASSERT_EQ(probes.size(), 1u);
    EXPECT_EQ(probes[0].Host, "127.0.0.1");
    EXPECT_TRUE(probes[0].Ok());
    EXPECT_GE(probes[0].Ms, 0);
    // The settings are read, never written.
    EXPECT_EQ(testutil::readFile(dir.file("idlix2.ini")), kEchoToLoopback);
    // Neither the window's instance guard nor a display was touched.
    EXPECT_TRUE(QDir(dir.file("run")).isEmpty(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden));
}

TEST(Headless, UnderTheJournalEachLineCarriesItsPriorityAndNoTime)
{
    std::string why;
    if (SkipWithoutEchoes(&why))
        GTEST_SKIP() << why;
    testutil::ScratchDir dir;
    WriteFile(dir.file("idlix2.ini"), kEchoToLoopback);
    // The stream systemd would connect: here a file, named the same way.
    const QString stream = dir.file("journal");
    WriteFile(stream, "");
    struct stat st = {};
    ASSERT_EQ(::stat(QFile::encodeName(stream).constData(), &st), 0);
    QProcessEnvironment env = HeadlessEnvironment(dir);
    env.insert("JOURNAL_STREAM", QStringLiteral("%1:%2").arg(qulonglong(st.st_dev)).arg(qulonglong(st.st_ino)));

    QProcess p;
    p.setProcessEnvironment(env);
    p.setStandardErrorFile(stream, QIODevice::Append);
    p.start(testutil::programPath(), {"--headless", "--config", dir.path()});
    ASSERT_TRUE(p.waitForStarted(5000));
    ASSERT_TRUE(testutil::waitFor([&] { return testutil::readFile(stream).contains(" pinged in "); },
                                  std::chrono::milliseconds(5000)));
    ::kill(pid_t(p.processId()), SIGINT);
    ASSERT_TRUE(p.waitForFinished(5000));
    EXPECT_EQ(p.exitCode(), 0);
    const QStringList lines = Lines(QString::fromUtf8(testutil::readFile(stream)));
    ASSERT_EQ(lines.size(), 6) << lines.join('\n').toStdString();
    const QStringList want = {"<5>Session started: ICMP Pings every 1 minute to 127.0.0.1",
                              "<6>Pinging 127.0.0.1", "<6>Sending 56 bytes to 127.0.0.1"};
    EXPECT_EQ(lines.mid(0, 3), want);
    EXPECT_TRUE(lines[3].startsWith("<6>127.0.0.1 pinged in "));
    EXPECT_EQ(lines[4], "<5>Stopping (SIGINT)");
    EXPECT_EQ(lines[5], "<5>Session ended: 1 of 1 probe answered, 0 failed");
}

TEST(Headless, WhatCannotRunSaysWhyAndExitsWithItsStatus)
{
    // A port that is taken, for the case that may clear by itself.
    service::TMetricsServer taken;
    service::TListenAddress at;
    at.Address = platform::IpAddress::V4(platform::InetAddr("127.0.0.1"));
    ASSERT_TRUE(taken.Listen(at));
    const QString takenAddress = taken.Address().Text();

    const QByteArray echo = kEchoToLoopback;
    const struct {
        const char *name;
        QByteArray ini;         // null: no settings file; "DIR": a folder in its place
        QByteArray servers;     // null: no server list
        QStringList args;
        int code;
        const char *says;
    } cases[] = {
        {"no settings file", QByteArray(), QByteArray(), {}, 78, "no host to probe"},
        {"no host", "[Anti-Idle Options]\r\nMethod=1\r\n", QByteArray(), {}, 78, "no host to probe"},
        {"a frequency that is no number", "[Anti-Idle Options]\r\nHost=127.0.0.1\r\nFrequecy=abc\r\n", QByteArray(),
         {}, 78, "'abc' is not a valid integer value"},
        {"cycling over an empty list", "[Anti-Idle Options]\r\nOptions=0\r\n", "", {}, 78, "is empty"},
        {"cycling without a list", "[Anti-Idle Options]\r\nOptions=0\r\n", QByteArray(), {}, 78, "cannot be read"},
        {"settings that cannot be read", "DIR", QByteArray(), {}, 78, "cannot read the settings"},
        {"a metrics address in the settings that is none", echo + "[Service]\r\nMetricsAddress=here\r\n",
         QByteArray(), {}, 78, "metrics address 'here'"},
        {"a metrics address on the command line that is none", echo, QByteArray(), {"--metrics", "1.2.3"}, 78,
         "metrics address '1.2.3'"},
        {"an address this machine does not have", echo, QByteArray(), {"--metrics", "192.0.2.1:9417"}, 78,
         "Cannot serve metrics at 192.0.2.1:9417"},
        {"a remote-write URL that is none", echo, QByteArray(), {"--remote-write", "prom:9090"}, 78,
         "'prom:9090' is not an http:// or https:// URL"},
        {"remote-write labels that are none", echo + "[Service]\r\nRemoteWrite=http://127.0.0.1:9/w\r\nLabels=a b\r\n",
         QByteArray(), {}, 78, "'a b' is not a label"},
        {"a remote-write token that cannot be read", echo + "[Service]\r\nRemoteWrite=http://127.0.0.1:9/w\r\n"
         "RemoteWriteAuth=bearer /nonexistent/token\r\n", QByteArray(), {}, 78, "Cannot read the remote-write token"},
        {"a port in use", echo, QByteArray(), {"--metrics", takenAddress}, 1, "Cannot serve metrics"},
        {"a configuration folder that is not there", echo, QByteArray(), {"--config", "/nonexistent/idlix"}, 78,
         "/nonexistent/idlix does not exist"},
        {"an unknown option", echo, QByteArray(), {"--bogus"}, 64, "unknown option '--bogus'"},
        {"an option without its value", echo, QByteArray(), {"--config"}, 64, "missing value for option '--config'"},
        {"a stray argument", echo, QByteArray(), {"now"}, 64, "unexpected argument 'now'"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        testutil::ScratchDir dir;
        if (c.ini == "DIR")
            ASSERT_TRUE(QDir().mkdir(dir.file("idlix2.ini")));
        else if (!c.ini.isNull())
            WriteFile(dir.file("idlix2.ini"), c.ini);
        if (!c.servers.isNull())
            WriteFile(dir.file("Servers.dat"), c.servers);
        const Finished f = RunProgram(QStringList{"--headless"} + c.args, HeadlessEnvironment(dir));
        EXPECT_EQ(f.code, c.code) << f.err.toStdString();
        EXPECT_TRUE(f.err.contains(c.says)) << f.err.toStdString();
        // Refused before anything ran: no session, no log.
        EXPECT_FALSE(QFile::exists(dir.file("AI_Log.txt")));
    }
}

// -4 and -6 on the program's own command line: an echo to an IPv4 address
// goes out unless IPv6 is the one family of the run.
TEST(Headless, OneAddressFamilyForTheRun)
{
    std::string why;
    if (SkipWithoutEchoes(&why))
        GTEST_SKIP() << why;
    for (const auto &[option, says] : {std::pair{"-4", " pinged in "}, std::pair{"-6", "Unknown Host 127.0.0.1"}}) {
        testutil::ScratchDir dir;
        WriteFile(dir.file("idlix2.ini"), kEchoToLoopback);
        QProcess p;
        p.setProcessEnvironment(HeadlessEnvironment(dir));
        p.setStandardErrorFile(dir.file("err"));
        p.start(testutil::programPath(), {"--headless", option});
        ASSERT_TRUE(p.waitForStarted(5000));
        const bool said = testutil::waitFor([&] { return testutil::readFile(dir.file("err")).contains(says); },
                                            std::chrono::milliseconds(8000));
        ::kill(pid_t(p.processId()), SIGINT);
        EXPECT_TRUE(p.waitForFinished(5000) && p.exitCode() == 0 && said)
            << option << ": " << testutil::readFile(dir.file("err")).toStdString();
    }
}

TEST(Headless, HelpAndVersionWithoutADisplay)
{
    testutil::ScratchDir dir;
    const Finished help = RunProgram({"--headless", "--help"}, HeadlessEnvironment(dir));
    EXPECT_EQ(help.code, 0);
    EXPECT_TRUE(help.err.startsWith("Usage: idlix --headless [--config DIR] [--metrics ADDRESS] [--remote-write URL]\n"));
    const Finished version = RunProgram({"--version", "--headless"}, HeadlessEnvironment(dir));
    EXPECT_EQ(version.code, 0);
    EXPECT_EQ(version.err, "Idlix 2.0\n");
}

TEST(Headless, EchoesThatTheSystemRefusesExit77WithTheWayToAllowThem)
{
    if (!testutil::isRoot())
        GTEST_SKIP() << "needs root: the service runs in a network namespace of its own without CAP_NET_RAW";
    testutil::ScratchDir dir;
    WriteFile(dir.file("idlix2.ini"), kEchoToLoopback);
    const QByteArray program = QFile::encodeName(testutil::programPath());
    const QByteArray config = QFile::encodeName(dir.path());
    const QByteArray errPath = QFile::encodeName(dir.file("stderr"));
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        // A namespace whose ping_group_range admits nobody, and no raw
        // sockets, for this process and whatever it runs.
        if (unshare(CLONE_NEWNET) != 0 || prctl(PR_CAPBSET_DROP, CAP_NET_RAW, 0, 0, 0) != 0)
            _exit(120);
        const int err = ::open(errPath.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (err < 0 || dup2(err, 2) < 0)
            _exit(121);
        ::unsetenv("DISPLAY");
        ::unsetenv("JOURNAL_STREAM");
        execl(program.constData(), program.constData(), "--headless", "--config", config.constData(),
              static_cast<char *>(nullptr));
        _exit(122);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    const QByteArray err = testutil::readFile(dir.file("stderr"));
    EXPECT_EQ(WEXITSTATUS(status), 77) << err.toStdString();
    EXPECT_TRUE(err.contains("net.ipv4.ping_group_range")) << err.toStdString();
    EXPECT_TRUE(err.contains("CAP_NET_RAW")) << err.toStdString();
    EXPECT_EQ(Lines(QString::fromUtf8(err)).size(), 1);
}
