// The sleep watcher against python3-dbusmock's logind on a private bus
// given as the system bus: the delay lock taken and given back, the session
// paused while asleep (no probe goes out, none counts) and the time
// recorded as "suspended"; without a bus it watches nothing and holds
// nothing up.
#include "historytest.h"

#include "config/options.h"
#include "history/historyrecorder.h"
#include "history/sleepwatcher.h"
#include "session/antiidlesession.h"
#include "../support/scriptserver.h"
#include "../support/testutil.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusArgument>
#include <QDBusMessage>
#include <QDBusReply>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace history;
using namespace std::chrono_literals;
using testsupport::Script;
using testsupport::ScriptServer;

namespace {

const QString kLogin1 = "org.freedesktop.login1";
const QString kPath = "/org/freedesktop/login1";
const QString kDriverName = "sleep-test-driver";

QString Python()
{
    return QFileInfo::exists("/usr/bin/python3") ? QStringLiteral("/usr/bin/python3") : QStringLiteral("python3");
}

class LogindMock : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (QProcess::execute(Python(), {"-c", "import dbusmock"}) != 0)
            GTEST_SKIP() << "python3-dbusmock is not installed (scripts/deps.sh installs it)";
        bus_.setProgram("dbus-daemon");
        bus_.setArguments({"--session", "--nofork", "--print-address=1",
                           "--address=unix:path=" + busDir_.filePath("bus")});
        bus_.start();
        ASSERT_TRUE(bus_.waitForReadyRead(5000)) << "dbus-daemon did not start";
        address_ = QString::fromUtf8(bus_.readLine()).trimmed();
        qputenv("DBUS_SYSTEM_BUS_ADDRESS", address_.toUtf8());
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("DBUS_SYSTEM_BUS_ADDRESS", address_);
        mock_.setProcessEnvironment(env);
        mock_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        mock_.setStandardOutputFile(QProcess::nullDevice());
        mock_.start(Python(), {"-m", "dbusmock", "--system", "--template", "logind"});
        QDBusConnection::disconnectFromBus(kDriverName);
        driver_ = std::make_unique<QDBusConnection>(QDBusConnection::connectToBus(address_, kDriverName));
        ASSERT_TRUE(driver_->isConnected());
        ASSERT_TRUE(testutil::waitFor([&] { return Owned(); }, 10s)) << "the logind mock did not come up";
    }
    void TearDown() override
    {
        mock_.kill();
        mock_.waitForFinished(3000);
        bus_.kill();
        bus_.waitForFinished(3000);
        qunsetenv("DBUS_SYSTEM_BUS_ADDRESS");
    }
    bool Owned()
    {
        QDBusReply<bool> r = driver_->interface()->isServiceRegistered(kLogin1);
        return r.isValid() && r.value();
    }
    void Sleep(bool start)
    {
        QDBusMessage m = QDBusMessage::createMethodCall(kLogin1, kPath, "org.freedesktop.DBus.Mock", "EmitSignal");
        m << "org.freedesktop.login1.Manager" << "PrepareForSleep" << "b" << QVariantList{start};
        const QDBusMessage r = driver_->call(m, QDBus::Block, 5000);
        ASSERT_NE(r.type(), QDBusMessage::ErrorMessage) << r.errorMessage().toStdString();
    }
    // The inhibitors logind holds now: "what who mode" each.
    QStringList Inhibitors()
    {
        QDBusMessage m = QDBusMessage::createMethodCall(kLogin1, kPath, "org.freedesktop.login1.Manager",
                                                        "ListInhibitors");
        const QDBusMessage r = driver_->call(m, QDBus::Block, 5000);
        QStringList out;
        if (r.type() != QDBusMessage::ReplyMessage)
            return {"error " + r.errorMessage()};
        const QDBusArgument arg = r.arguments().value(0).value<QDBusArgument>();
        arg.beginArray();
        while (!arg.atEnd()) {
            QString what, who, why, mode;
            uint uid, pid;
            arg.beginStructure();
            arg >> what >> who >> why >> mode >> uid >> pid;
            arg.endStructure();
            out << what + " " + who + " " + mode;
        }
        arg.endArray();
        return out;
    }

    testutil::ScratchDir dir;
    QTemporaryDir busDir_;
    QProcess bus_, mock_;
    QString address_;
    std::unique_ptr<QDBusConnection> driver_;
};

} // namespace

TEST_F(LogindMock, ProbesPauseWhileTheMachineSleepsAndTheTimeIsSuspended)
{
    std::vector<Script> scripts(3, Script().readRequest().send("HTTP/1.0 200 OK\r\n\r\nup"));
    ScriptServer web(scripts);
    QFile list(dir.file("Servers.dat"));
    ASSERT_TRUE(list.open(QIODevice::WriteOnly));
    list.write(QStringLiteral("127.0.0.1:%1\r\n").arg(web.port()).toLatin1());
    list.close();
    config::TOptions options;
    options.AntiIdle.Method = config::TAntiIdleOptions::HttpGets;
    options.AntiIdle.Options[config::TAntiIdleOptions::CycleServerList] = true;
    TAntiIdleSession engine(options);
    THistoryStore store;
    ASSERT_TRUE(store.Open(THistoryStore::DefaultPath()));
    THistoryRecorder recorder(engine, store);
    TSleepWatcher watcher(engine);
    ASSERT_TRUE(watcher.Watching());
    ASSERT_TRUE(testutil::waitFor([&] { return watcher.HoldsDelayLock(); }, 5s));
    EXPECT_EQ(Inhibitors(), QStringList{"sleep Idlix delay"});

    ASSERT_TRUE(engine.Start());                   // probe 1
    ASSERT_NO_FATAL_FAILURE(Sleep(true));
    ASSERT_TRUE(testutil::waitFor([&] { return engine.Paused(); }, 5s));
    EXPECT_TRUE(watcher.Asleep());
    // The lock is given back once the probes are paused, so logind goes on.
    EXPECT_TRUE(testutil::waitFor([&] { return Inhibitors().isEmpty(); }, 5s)) << Inhibitors().join(';').toStdString();
    engine.Tick();                           // asleep: nothing goes out
    engine.Tick();
    EXPECT_EQ(web.connections(), 1);

    ASSERT_NO_FATAL_FAILURE(Sleep(false));
    ASSERT_TRUE(testutil::waitFor([&] { return !engine.Paused(); }, 5s));
    EXPECT_TRUE(testutil::waitFor([&] { return watcher.HoldsDelayLock(); }, 5s));
    EXPECT_EQ(Inhibitors(), QStringList{"sleep Idlix delay"});
    engine.Tick();                           // probe 2
    engine.Stop();

    EXPECT_EQ(web.connections(), 2);
    EXPECT_EQ(historytest::CsvLines(store, TExportKind::Probes).size(), 2);
    const std::vector<TSpanRow> gaps = store.Gaps({0, 1LL << 62});
    ASSERT_EQ(gaps.size(), 1u);
    EXPECT_EQ(gaps[0].Kind, "suspended");
    ASSERT_TRUE(gaps[0].End.has_value());
    EXPECT_GE(*gaps[0].End, gaps[0].Start);
    EXPECT_TRUE(store.Outages({0, 1LL << 62}).empty());
}

TEST_F(LogindMock, ALogindGoneWhileAsleepLeavesNoSessionPausedForGood)
{
    config::TOptions options;
    options.AntiIdle.Host = QStringLiteral("127.0.0.1");
    TAntiIdleSession engine(options);
    TSleepWatcher watcher(engine);
    ASSERT_TRUE(watcher.Watching());
    ASSERT_TRUE(testutil::waitFor([&] { return watcher.HoldsDelayLock(); }, 5s));
    ASSERT_NO_FATAL_FAILURE(Sleep(true));
    ASSERT_TRUE(testutil::waitFor([&] { return engine.Paused(); }, 5s));

    // logind ends while the machine sleeps: the pause ends with it.
    mock_.kill();
    mock_.waitForFinished(3000);
    EXPECT_TRUE(testutil::waitFor([&] { return !engine.Paused(); }, 5s));
    EXPECT_FALSE(watcher.Asleep());

    // A logind that comes back is watched as before, its lock taken again.
    mock_.start(Python(), {"-m", "dbusmock", "--system", "--template", "logind"});
    ASSERT_TRUE(testutil::waitFor([&] { return Owned(); }, 10s));
    EXPECT_TRUE(testutil::waitFor([&] { return watcher.HoldsDelayLock(); }, 5s));
    ASSERT_NO_FATAL_FAILURE(Sleep(true));
    EXPECT_TRUE(testutil::waitFor([&] { return engine.Paused(); }, 5s));
    ASSERT_NO_FATAL_FAILURE(Sleep(false));
    EXPECT_TRUE(testutil::waitFor([&] { return !engine.Paused(); }, 5s));
}

TEST(SleepWatcher, WithoutASystemBusItWatchesNothingAndWaitsForNothing)
{
    testutil::ScratchDir dir;
    qputenv("DBUS_SYSTEM_BUS_ADDRESS", "unix:path=" + QFile::encodeName(dir.file("no-bus-here")));
    config::TOptions options;
    TAntiIdleSession engine(options);
    QElapsedTimer t;
    t.start();
    TSleepWatcher watcher(engine);
    EXPECT_LT(t.elapsed(), 2000);
    EXPECT_FALSE(watcher.Watching());
    EXPECT_FALSE(watcher.HoldsDelayLock());
    EXPECT_FALSE(engine.Paused());
    qunsetenv("DBUS_SYSTEM_BUS_ADDRESS");
}
