// `idlix --headless` when its data folder or its peers misbehave: another
// program's history.db, a second service on the same folder, a folder it
// cannot write, and SIGTERM while a server sends nothing.
#include "../support/childprogram.h"
#include "../support/notifylistener.h"
#include "../support/testutil.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <csignal>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <unistd.h>

using testsupport::NotifyListener;

namespace {

void WriteFile(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(bytes);
}

QProcessEnvironment Environment(const testutil::ScratchDir &dir, const QString &notify = QString())
{
    QProcessEnvironment env = testutil::programEnvironment(dir);
    for (const char *name : {"DISPLAY", "WAYLAND_DISPLAY", "WATCHDOG_USEC", "WATCHDOG_PID", "JOURNAL_STREAM"})
        env.remove(name);
    env.insert("NOTIFY_SOCKET", notify);
    return env;
}

bool IsReady(const QByteArray &m)
{
    return m.startsWith("READY=1\n");
}

// A server that takes connections and never answers.
struct Silent {
    Silent()
    {
        sockaddr_in sa{AF_INET, 0, {htonl(INADDR_LOOPBACK)}, {}};
        socklen_t len = sizeof sa;
        ::bind(fd, reinterpret_cast<sockaddr *>(&sa), len);
        ::listen(fd, 4);
        ::getsockname(fd, reinterpret_cast<sockaddr *>(&sa), &len);
        port = ntohs(sa.sin_port);
    }
    ~Silent() { ::close(fd); }
    // A connection waits to be accepted (a listener's tcpi_unacked counts them).
    bool Connected(int ms) const
    {
        tcp_info info{};
        for (socklen_t len = sizeof info; ms > 0; ms -= 20, ::usleep(20000)) {
            if (::getsockopt(fd, IPPROTO_TCP, TCP_INFO, &info, &len) == 0 && info.tcpi_unacked > 0)
                return true;
        }
        return false;
    }
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    int port = 0;
};

} // namespace

TEST(HeadlessFaults, AnotherProgramsHistoryASecondServiceAndSigtermDuringATransfer)
{
    testutil::ScratchDir dir;
    WriteFile(dir.file("idlix2.ini"), "[Anti-Idle Options]\r\nMethod=0\r\nOptions=0\r\nFrequecy=1\r\n");
    Silent server;
    WriteFile(dir.file("Servers.dat"), QByteArray("127.0.0.1:") + QByteArray::number(server.port) + "\r\n");
    {
        sqlite3 *db = nullptr;
        ASSERT_EQ(sqlite3_open(QFile::encodeName(dir.file("history.db")).constData(), &db), SQLITE_OK);
        ASSERT_EQ(sqlite3_exec(db, "CREATE TABLE probes(t INTEGER, host TEXT)", nullptr, nullptr, nullptr), SQLITE_OK);
        sqlite3_close(db);
    }
    const QByteArray before = testutil::readFile(dir.file("history.db"));
    NotifyListener systemd(QFile::encodeName(dir.file("notify")));
    ASSERT_TRUE(systemd.ok());
    QProcess p;
    p.setProcessEnvironment(Environment(dir, dir.file("notify")));
    p.start(testutil::programPath(), {"--headless"});
    ASSERT_TRUE(p.waitForStarted(5000));
    // Ready as soon as the session is under way, though its first probe,
    // a transfer from a server that never answers, runs on.
    QElapsedTimer clock;
    clock.start();
    ASSERT_TRUE(systemd.WaitFor(IsReady, 5000)) << p.readAllStandardError().toStdString();
    const qint64 ready = clock.elapsed();
    EXPECT_TRUE(server.Connected(5000));

    // A second service on the folder does not run beside it, and says who writes.
    QProcess second;
    second.setProcessEnvironment(Environment(dir));
    second.start(testutil::programPath(), {"--headless"});
    ASSERT_TRUE(second.waitForFinished(10000));
    const QString refused = QString::fromUtf8(second.readAllStandardError());
    EXPECT_EQ(second.exitCode(), 75) << refused.toStdString();
    EXPECT_TRUE(refused.contains(QStringLiteral("Another Idlix (the service, process %1)").arg(p.processId())))
        << refused.toStdString();

    // SIGTERM ends the transfer and the service at once.
    clock.restart();
    ::kill(pid_t(p.processId()), SIGTERM);
    ASSERT_TRUE(p.waitForFinished(5000));
    const qint64 stop = clock.elapsed();
    std::printf("ready %lld ms after start; SIGTERM during a transfer: exited after %lld ms\n", ready, stop);
    EXPECT_LT(stop, 1500);
    EXPECT_EQ(p.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(p.exitCode(), 0);
    const QString err = QString::fromUtf8(p.readAllStandardError());
    EXPECT_EQ(err.count("left as it is"), 1) << err.toStdString();
    // The transfer cut short is no failed probe.
    EXPECT_FALSE(err.contains("Transfer from")) << err.toStdString();
    EXPECT_TRUE(err.contains("0 of 1 probe answered, 0 failed")) << err.toStdString();
    EXPECT_EQ(testutil::readFile(dir.file("history.db")), before);
}

TEST(HeadlessFaults, AFolderItCannotWriteStopsItWithStatus78)
{
    if (!testutil::isRoot())
        GTEST_SKIP() << "needs root: the folder is a read-only mount";
    testutil::ScratchDir dir;
    const QString folder = dir.file("ro");
    ASSERT_TRUE(QDir().mkpath(folder));
    WriteFile(folder + "/idlix2.ini", "[Anti-Idle Options]\r\nMethod=1\r\nFrequecy=1\r\nHost=127.0.0.1\r\n");
    const QByteArray at = QFile::encodeName(folder);
    ASSERT_EQ(::mount(at.constData(), at.constData(), nullptr, MS_BIND, nullptr), 0);
    ASSERT_EQ(::mount(nullptr, at.constData(), nullptr, MS_REMOUNT | MS_BIND | MS_RDONLY, nullptr), 0);
    QProcess p;
    p.setProcessEnvironment(Environment(dir));
    p.start(testutil::programPath(), {"--headless", "--config", folder});
    const bool finished = p.waitForFinished(10000);
    ::umount2(at.constData(), MNT_DETACH);
    ASSERT_TRUE(finished);
    const QString err = QString::fromUtf8(p.readAllStandardError());
    EXPECT_EQ(p.exitCode(), 78) << err.toStdString();
    EXPECT_TRUE(err.contains(folder + "/history.db") && err.contains("Read-only")) << err.toStdString();
}
