// `idlix --reflector` and `idlix --find-idle-timer` as processes of the
// service's program: what they refuse and with which status, and one whole
// measurement on loopback with the reflector under systemd's protocol.
#include "service/serviceargs.h"
#include "../support/notifylistener.h"
#include "../support/testutil.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <gtest/gtest.h>

#include <csignal>

using testsupport::NotifyListener;

namespace {

QString Program()
{
    return QFileInfo(QCoreApplication::applicationDirPath() + "/../idlix-headless").absoluteFilePath();
}

struct Outcome {
    int code = -1;
    QString out;
};

Outcome RunCommand(const QStringList &args, const QProcessEnvironment &env, int timeoutMs = 20000)
{
    QProcess p;
    p.setProcessEnvironment(env);
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(Program(), args);
    Outcome o;
    if (p.waitForStarted(5000) && p.waitForFinished(timeoutMs) && p.exitStatus() == QProcess::NormalExit)
        o.code = p.exitCode();
    else
        p.kill();
    o.out = QString::fromUtf8(p.readAll());
    return o;
}

QProcessEnvironment Environment(const testutil::ScratchDir &dir, const QByteArray &ini)
{
    QFile f(dir.file("idlix2.ini"));
    f.open(QIODevice::WriteOnly);
    f.write(ini);
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("IDLIX_DIR", dir.path());
    for (const char *name : {"NOTIFY_SOCKET", "JOURNAL_STREAM", "DISPLAY", "WAYLAND_DISPLAY"})
        env.remove(name);
    return env;
}

const QByteArray kKeyed = "[Reflector]\r\nKey=a key of twenty characters\r\n";

} // namespace

TEST(IdleTimerCommands, RefusalsAndTheirStatuses)
{
    testutil::ScratchDir dir;
    struct Row {
        QByteArray ini;
        QStringList args;
        int code;
        const char *says;
    } rows[] = {
        {"", {"--reflector"}, service::kExitConfig, "no key: set [Reflector] Key="},
        {"[Reflector]\r\nKey=short\r\n", {"--reflector"}, service::kExitConfig, "too short"},
        {kKeyed, {"--reflector", "300.1.2.3"}, service::kExitConfig, "not an IPv4 or IPv6 address"},
        {kKeyed, {"--reflector", "127.0.0.1:70000"}, service::kExitConfig, "1 to 65535"},
        {kKeyed, {"--reflector", "--nonsense"}, service::kExitUsage, "unknown option '--nonsense'"},
        {kKeyed, {"--reflector", "--max", "9"}, service::kExitUsage, "'--max' is an option of idlix --find-idle-timer"},
        {kKeyed, {"--find-idle-timer"}, service::kExitUsage, "needs what to measure: udp, tcp or line"},
        {kKeyed, {"--find-idle-timer", "udp", "tcp"}, service::kExitUsage, "unexpected argument 'tcp'"},
        {kKeyed, {"--find-idle-timer", "icmp"}, service::kExitUsage, "'icmp': udp, tcp or line"},
        {kKeyed, {"--find-idle-timer", "udp", "--max", "0"}, service::kExitUsage, "--max '0'"},
        {kKeyed, {"--find-idle-timer", "udp", "--max"}, service::kExitUsage, "missing value for option '--max'"},
        {kKeyed, {"--find-idle-timer", "--help"}, 0, "Usage: idlix --find-idle-timer udp|tcp|line"},
        {kKeyed, {"--reflector", "--help"}, 0, "nft add rule inet filter input udp dport 27184 accept"},
        {kKeyed, {"--find-idle-timer", "udp"}, service::kExitConfig, "no reflector"},
        {"", {"--find-idle-timer", "tcp", "--reflector", "127.0.0.1"}, service::kExitConfig, "no key"},
    };
    for (const Row &r : rows) {
        SCOPED_TRACE(r.args.join(' ').toStdString());
        const Outcome o = RunCommand(r.args, Environment(dir, r.ini));
        EXPECT_EQ(o.code, r.code) << o.out.toStdString();
        EXPECT_TRUE(o.out.contains(r.says)) << o.out.toStdString();
    }
}

TEST(IdleTimerCommands, AMeasurementOnLoopbackEndsWithItsVerdict)
{
    testutil::ScratchDir dir;
    QProcessEnvironment env = Environment(dir, kKeyed);
    NotifyListener notify(QFile::encodeName(dir.file("notify")));
    ASSERT_TRUE(notify.ok());
    QProcessEnvironment reflectorEnv = env;
    reflectorEnv.insert("NOTIFY_SOCKET", dir.file("notify"));
    QProcess reflector;
    reflector.setProcessEnvironment(reflectorEnv);
    reflector.setProcessChannelMode(QProcess::MergedChannels);
    reflector.start(Program(), {"--reflector", "127.0.0.1:27991"});
    // A bound on a hang, not a measure: a start on a busy machine may take seconds.
    ASSERT_TRUE(notify.WaitFor([](const QByteArray &m) { return m.contains("READY=1"); }, 30000))
        << reflector.readAll().toStdString();

    env.insert("IDLIX_FINDER_FIRST", "1");
    const Outcome o = RunCommand({"--find-idle-timer", "udp", "--reflector", "127.0.0.1:27991", "--max", "2"}, env);
    EXPECT_EQ(o.code, 0) << o.out.toStdString();
    const QStringList lines = o.out.trimmed().split('\n');
    EXPECT_TRUE(lines.last().startsWith("udp idle timer: at least 2 s (alive after 2 s;")) << o.out.toStdString();
    EXPECT_TRUE(lines.first().startsWith("Measuring the udp idle timer against 127.0.0.1 port 27991"));

    // Another key: nothing measured, the reason on the last line, status 1.
    testutil::ScratchDir other;
    QProcessEnvironment wrong = Environment(other, "[Reflector]\r\nKey=another key of twenty\r\n");
    wrong.insert("IDLIX_FINDER_FIRST", "1");
    const Outcome refused = RunCommand({"--find-idle-timer", "udp", "--reflector", "127.0.0.1:27991", "--max", "2"}, wrong);
    EXPECT_EQ(refused.code, 1);
    EXPECT_TRUE(refused.out.trimmed().split('\n').last().startsWith("udp idle timer: not measured (the reflector"))
        << refused.out.toStdString();

    ::kill(pid_t(reflector.processId()), SIGTERM);
    ASSERT_TRUE(reflector.waitForFinished(5000));
    EXPECT_EQ(reflector.exitCode(), 0);
    EXPECT_TRUE(notify.WaitFor([](const QByteArray &m) { return m.contains("STOPPING=1"); }, 1000));
    const QString log = QString::fromUtf8(reflector.readAll());
    EXPECT_TRUE(log.contains("Reflector on 127.0.0.1, UDP and TCP port 27991")) << log.toStdString();
    EXPECT_TRUE(log.contains("not signed with this key")) << log.toStdString();
}

TEST(IdleTimerCommands, TheSimulatedLineDropsAfterItsIdleTimeout)
{
    testutil::ScratchDir dir;
    QFile book(dir.file("lines.ini"));
    ASSERT_TRUE(book.open(QIODevice::WriteOnly));
    book.write("[Idle2]\nStepMs=10\nIdleTimeout=2\n[Idle5]\nStepMs=10\nIdleTimeout=5\n[Refused]\nDialResult=691\n");
    book.close();
    const struct {
        const char *entry;   // the settings' Connection= picks it
        QStringList max;
        int code;
        const char *last;
    } rows[] = {
        {"0", {}, 0, "line idle timer: 2 s (alive after "},
        {"1", {"--max", "1"}, 0, "line idle timer: at least 1 s (alive after 1 s;"},
        {"2", {}, 1, "line idle timer: not measured (the line could not be dialled: "},
    };
    for (const auto &r : rows) {
        SCOPED_TRACE(r.entry);
        QProcessEnvironment env = Environment(dir, QByteArray("[Dial-Up Options]\r\nConnection=") + r.entry + "\r\n");
        env.insert("IDLIX_PHONEBOOK", dir.file("lines.ini"));
        const Outcome o = RunCommand(QStringList{"--find-idle-timer", "line"} + r.max, env);
        EXPECT_EQ(o.code, r.code) << o.out.toStdString();
        EXPECT_TRUE(o.out.trimmed().split('\n').last().startsWith(r.last)) << o.out.toStdString();
    }
}
