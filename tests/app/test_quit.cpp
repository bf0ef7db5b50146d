// The program as a process asked to stop by a signal: it ends as Exit does,
// with status 0, and the settings file is written at the way out.
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
