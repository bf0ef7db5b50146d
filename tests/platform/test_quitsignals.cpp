// Quit signals on a program whose way out hangs: the first signal is handed
// to the program (and does not end it by itself), a second one ends it at
// once by that signal, whichever of SIGTERM, SIGINT and SIGHUP comes.
#include <QProcess>
#include <gtest/gtest.h>

#include <csignal>

TEST(QuitSignals, ASecondSignalEndsAProgramStuckOnItsWayOut)
{
    struct Row {
        const char *name;
        int first, second;
    } rows[] = {
        {"SIGTERM twice", SIGTERM, SIGTERM},
        {"SIGINT, then SIGTERM", SIGINT, SIGTERM},
        {"SIGHUP, then SIGINT", SIGHUP, SIGINT},
    };
    for (const Row &r : rows) {
        SCOPED_TRACE(r.name);
        QProcess p;
        p.start(IDLIX_QUITSIGNALS_PROBE, {});
        ASSERT_TRUE(p.waitForReadyRead(5000));
        ASSERT_EQ(p.readLine().trimmed(), "ready");

        ASSERT_EQ(::kill(p.processId(), r.first), 0);
        ASSERT_TRUE(p.waitForReadyRead(5000)) << "the first signal was not delivered";
        EXPECT_EQ(p.readLine().trimmed(), "quit " + QByteArray::number(r.first));
        // Taken by the program, which now hangs on its way out.
        EXPECT_FALSE(p.waitForFinished(300));

        ASSERT_EQ(::kill(p.processId(), r.second), 0);
        const bool ended = p.waitForFinished(2000);
        if (!ended)
            p.kill();
        ASSERT_TRUE(ended) << "still running 2 s after the second signal";
        EXPECT_EQ(p.exitStatus(), QProcess::CrashExit);
        EXPECT_EQ(p.exitCode(), r.second);
    }
}
