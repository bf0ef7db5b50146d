// The program as a process asked to stop by a signal: it ends as Exit does,
// with status 0, and the settings file is written at the way out; when it
// cannot be written, or a message box stands, it ends all the same.
#include "../support/childprogram.h"
#include "../support/testutil.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <gtest/gtest.h>

#include <csignal>
#include <cstring>
#include <functional>
#include <sys/mount.h>

using namespace std::chrono_literals;

namespace {

using testutil::programEnvironment;
using testutil::programPath;

// The settings file's lines without blanks and line ends.
QStringList iniLines(const QString &path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    QStringList lines;
    for (const QByteArray &line : f.readAll().split('\n')) {
        const QString l = QString::fromLatin1(line).trimmed();
        if (!l.isEmpty())
            lines << l;
    }
    return lines;
}

} // namespace

TEST(QuitSignals, EachSignalEndsTheProgramAsExitDoes)
{
    if (!QFile::exists(programPath()))
        GTEST_SKIP() << "program not built at " << programPath().toStdString();
    struct Case {
        const char *name;
        int signo;
        QByteArray seed;   // settings file before the start; empty: none
        QString host;      // anti-idle host expected in the file afterwards
    };
    const Case cases[] = {
        {"SIGTERM, first run", SIGTERM, {}, ""},
        {"SIGINT, first run", SIGINT, {}, ""},
        {"SIGHUP, saved host kept", SIGHUP,
         "[Anti-Idle Options]\r\nHost=kept.example\r\n", "kept.example"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        testutil::ScratchDir dir;
        ASSERT_TRUE(QDir().mkpath(dir.file("run")));
        QFile::setPermissions(dir.file("run"), QFileDevice::ReadOwner |
                                                   QFileDevice::WriteOwner |
                                                   QFileDevice::ExeOwner);
        const QString ini = dir.file("idlix2.ini");
        if (!c.seed.isEmpty()) {
            QFile f(ini);
            ASSERT_TRUE(f.open(QIODevice::WriteOnly));
            f.write(c.seed);
        }

        QProcess program;
        program.setProcessEnvironment(programEnvironment(dir));
        program.start(programPath(), {});
        ASSERT_TRUE(program.waitForStarted(5000));
        // Running once the lock appears in the runtime directory; then let the
        // window come up.
        ASSERT_TRUE(testutil::waitFor(
            [&] {
                return !QDir(dir.file("run")).isEmpty(QDir::AllEntries | QDir::NoDotAndDotDot |
                                                      QDir::Hidden);
            },
            10s));
        testutil::pump(1000ms);
        ASSERT_EQ(program.state(), QProcess::Running);
        if (c.seed.isEmpty()) {
            EXPECT_FALSE(QFile::exists(ini));   // written only on the way out
        }

        QElapsedTimer t;
        t.start();
        ASSERT_EQ(::kill(program.processId(), c.signo), 0);
        const bool ended = program.waitForFinished(5000);
        if (!ended) {
            program.kill();
            program.waitForFinished(2000);
        }
        ASSERT_TRUE(ended) << "still running 5 s after the signal";
        EXPECT_LT(t.elapsed(), 5000);
        EXPECT_EQ(program.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(program.exitCode(), 0);

        const QStringList expected{
            "[Anti-Idle Options]", "Host=" + c.host, "Method=0", "Frequecy=1", "Options=",
            "[Latency Test]", "Host=", "Time-out=5", "Interval=500",
            "[Ping Options]", "Bytes=56", "Time-out=5",
            "[Traceroute Options]", "Bytes=56", "Time-out=5", "Test Packet=1", "Mode=0",
            "[Dial-Up Options]", "Connection=0", "Username=", "Password=",
            "Connect On Start=0", "Start AI=0", "Disconnect=0", "Disconnect Time=60",
            "[General]", "Stay on Top=1",
        };
        QStringList want = expected;
        if (c.seed.isEmpty()) {
            // A first save lays the keys out in table order.
            want.move(1, 3);
        }
        EXPECT_EQ(iniLines(ini), want);
    }
}

TEST(QuitSignals, NothingOnTheWayHoldsTheProgram)
{
    if (!QFile::exists(programPath()))
        GTEST_SKIP() << "program not built at " << programPath().toStdString();
    struct Case {
        const char *name;
        // Fills the data folder; false when the case cannot be set up here.
        std::function<bool(const QString &data)> setUp;
        QString error;   // on the error stream after the end ("%1": the data folder)
    };
    const Case cases[] = {
        {"a read-only data folder: the settings cannot be written",
         [](const QString &data) {
             if (!testutil::isRoot())
                 return QFile::setPermissions(data, QFileDevice::ReadOwner | QFileDevice::ExeOwner);
             // Root writes anywhere: a file system mounted read-only stops it.
             return ::mount("tmpfs", QFile::encodeName(data).constData(), "tmpfs", MS_RDONLY,
                            "size=64k") == 0;
         },
         "idlix: Unable to write to %1/idlix2.ini"},
        {"a message box of the start-up stands",
         [](const QString &data) {
             // A cycling session started at once with no server to visit
             // stops on an error box before the window's loop runs.
             testutil::writeFile(data + "/idlix2.ini",
                                 "[Anti-Idle Options]\r\nMethod=1\r\nOptions=0\r\n"
                                 "[Dial-Up Options]\r\nConnection=0\r\nConnect On Start=1\r\n"
                                 "Start AI=1\r\n");
             testutil::writeFile(data + "/book.ini", "[Line]\r\nDialResult=602\r\n");
             return true;
         },
         ""},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        testutil::ScratchDir dir;
        ASSERT_TRUE(QDir().mkpath(dir.file("run")));
        QFile::setPermissions(dir.file("run"), QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                                   QFileDevice::ExeOwner);
        const QString data = dir.file("data");
        ASSERT_TRUE(QDir().mkpath(data));
        ASSERT_TRUE(c.setUp(data)) << std::strerror(errno);

        QProcess program;
        QProcessEnvironment env = programEnvironment(dir);
        env.insert("IDLIX_DIR", data);
        env.insert("IDLIX_PHONEBOOK", data + "/book.ini");
        program.setProcessEnvironment(env);
        program.start(programPath(), {});
        ASSERT_TRUE(program.waitForStarted(5000));
        ASSERT_TRUE(testutil::waitFor(
            [&] {
                return !QDir(dir.file("run")).isEmpty(QDir::AllEntries | QDir::NoDotAndDotDot |
                                                      QDir::Hidden);
            },
            10s));
        testutil::pump(1000ms);
        ASSERT_EQ(program.state(), QProcess::Running);

        QElapsedTimer t;
        t.start();
        ASSERT_EQ(::kill(program.processId(), SIGTERM), 0);
        const bool ended = program.waitForFinished(2000);
        if (!ended) {
            program.kill();
            program.waitForFinished(2000);
        }
        if (testutil::isRoot())
            ::umount2(QFile::encodeName(data).constData(), MNT_DETACH);
        QFile::setPermissions(data, QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                        QFileDevice::ExeOwner);
        ASSERT_TRUE(ended) << "still running 2 s after SIGTERM";
        EXPECT_EQ(program.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(program.exitCode(), 0);
        const QString errors = QString::fromUtf8(program.readAllStandardError());
        if (!c.error.isEmpty()) {
            EXPECT_TRUE(errors.contains(c.error.arg(data))) << errors.toStdString();
        }
    }
}
