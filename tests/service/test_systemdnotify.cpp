// systemd's notification protocol against real datagram listeners: a socket
// by path and one in the abstract namespace, the watchdog's time and whose
// it is, and the messages of a service's life in order.
// RUN_SERIAL: the watchdog's rate is counted.
#include "platform/notifysocket.h"
#include "service/systemdnotifier.h"
#include "../support/qtprint.h"
#include "../support/testutil.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTimer>
#include <gtest/gtest.h>

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

using namespace std::chrono_literals;

namespace {

// A datagram listener as systemd opens one: bound to a path or, for a name
// starting with '@', in the abstract namespace.
class Listener {
public:
    explicit Listener(const QByteArray &address) : address_(address)
    {
        fd_ = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
        sockaddr_un sa = {};
        sa.sun_family = AF_UNIX;
        memcpy(sa.sun_path, address.constData(), size_t(address.size()));
        socklen_t len = socklen_t(offsetof(sockaddr_un, sun_path) + size_t(address.size()));
        if (address.startsWith('@'))
            sa.sun_path[0] = '\0';
        else
            ++len;
        ok_ = ::bind(fd_, reinterpret_cast<sockaddr *>(&sa), len) == 0;
    }
    ~Listener() { ::close(fd_); }
    bool ok() const { return ok_; }

    // The datagrams that came, oldest first.
    QList<QByteArray> Take()
    {
        QList<QByteArray> got;
        char buf[4096];
        for (;;) {
            const ssize_t n = ::recv(fd_, buf, sizeof buf, 0);
            if (n < 0)
                return got;
            got << QByteArray(buf, int(n));
        }
    }

private:
    QByteArray address_;
    int fd_ = -1;
    bool ok_ = false;
};

// Sets the variables for one notifier and puts the old ones back.
class Environment {
public:
    Environment(const QByteArray &socket, const QByteArray &usec, const QByteArray &pid)
    {
        Set("NOTIFY_SOCKET", socket);
        Set("WATCHDOG_USEC", usec);
        Set("WATCHDOG_PID", pid);
    }
    ~Environment()
    {
        for (const auto &[name, value] : saved_) {
            if (value.isNull())
                qunsetenv(name);
            else
                qputenv(name, value);
        }
    }

private:
    void Set(const char *name, const QByteArray &value)
    {
        saved_.push_back({name, qEnvironmentVariableIsSet(name) ? qgetenv(name) : QByteArray()});
        if (value.isNull())
            qunsetenv(name);
        else
            qputenv(name, value);
    }
    std::vector<std::pair<const char *, QByteArray>> saved_;
};

} // namespace

TEST(SystemdNotify, TheWatchdogIsOnlyForTheProcessSystemdWatches)
{
    const struct {
        const char *name;
        QByteArray usec, pid;
        qint64 expected;
    } cases[] = {
        {"unset", "", "", 0},
        {"for anyone", "30000000", "", 30000000},
        {"for this process", "2000000", "4242", 2000000},
        {"for another process", "2000000", "4243", 0},
        {"a pid that is no number", "2000000", "42x", 0},
        {"zero is off", "0", "", 0},
        {"negative is off", "-5", "", 0},
        {"not a number", "30s", "", 0},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(service::WatchdogUsec(c.usec, c.pid, 4242), c.expected);
    }
}

TEST(SystemdNotify, DatagramsReachAPathAndAnAbstractName)
{
    testutil::ScratchDir dir;
    const QByteArray path = QFile::encodeName(dir.file("notify"));
    const QByteArray abstract = "@idlix-test-" + QByteArray::number(QCoreApplication::applicationPid());
    for (const QByteArray &address : {path, abstract}) {
        SCOPED_TRACE(address.toStdString());
        Listener listener(address);
        ASSERT_TRUE(listener.ok());
        platform::TNotifySocket socket(address);
        ASSERT_TRUE(socket.Valid()) << socket.Error().toStdString();
        EXPECT_TRUE(socket.Send("READY=1\nSTATUS=up"));
        EXPECT_TRUE(socket.Send("WATCHDOG=1"));
        EXPECT_EQ(listener.Take(), (QList<QByteArray>{"READY=1\nSTATUS=up", "WATCHDOG=1"}));
    }
    // Nobody listening: the send fails and says why; nothing else happens.
    platform::TNotifySocket gone(path + "-missing");
    QString error;
    EXPECT_FALSE(gone.Send("READY=1", &error));
    EXPECT_FALSE(error.isEmpty());
}

TEST(SystemdNotify, AddressesThatCannotBeUsed)
{
    const struct {
        const char *name;
        QByteArray address;
        bool valid, error;
    } cases[] = {
        {"not started by systemd", "", false, false},
        {"a relative path", "run/notify", false, true},
        {"a vsock address", "vsock:2:1234", false, true},
        {"longer than a socket address holds", "/" + QByteArray(200, 'x'), false, true},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        platform::TNotifySocket socket(c.address);
        EXPECT_EQ(socket.Valid(), c.valid);
        EXPECT_EQ(!socket.Error().isEmpty(), c.error) << socket.Error().toStdString();
        EXPECT_FALSE(socket.Send("READY=1"));
    }
}

TEST(SystemdNotify, ReadyWatchdogAtHalfTheTimeThenStopping)
{
    testutil::ScratchDir dir;
    const QByteArray path = QFile::encodeName(dir.file("notify"));
    Listener listener(path);
    ASSERT_TRUE(listener.ok());
    std::unique_ptr<service::TSystemdNotifier> notifier;
    {
        Environment env(path, "400000", QByteArray::number(QCoreApplication::applicationPid()));
        notifier = std::make_unique<service::TSystemdNotifier>();
        // Taken out, so that nothing the service starts speaks for it.
        EXPECT_FALSE(qEnvironmentVariableIsSet("NOTIFY_SOCKET"));
        EXPECT_FALSE(qEnvironmentVariableIsSet("WATCHDOG_USEC"));
        EXPECT_FALSE(qEnvironmentVariableIsSet("WATCHDOG_PID"));
    }
    ASSERT_TRUE(notifier->Enabled());
    EXPECT_EQ(notifier->WatchdogIntervalMs(), 200);
    EXPECT_EQ(notifier->WatchdogTimer->objectName(), "WatchdogTimer");
    // No watchdog before the service is ready: systemd starts it then too.
    testutil::pump(300ms);
    EXPECT_TRUE(listener.Take().isEmpty());

    QElapsedTimer clock;
    clock.start();
    notifier->Ready("1 of 1 probes answered\nline up");
    EXPECT_EQ(listener.Take(), (QList<QByteArray>{"READY=1\nSTATUS=1 of 1 probes answered line up"}));
    testutil::pump(1100ms);
    notifier->Status("2 of 2");
    const qint64 elapsed = clock.elapsed();
    const QList<QByteArray> running = listener.Take();
    ASSERT_FALSE(running.isEmpty());
    EXPECT_EQ(running.back(), "STATUS=2 of 2");
    // One every 200 ms of the time that passed; a loaded machine may be one late.
    EXPECT_LE(running.count("WATCHDOG=1"), elapsed / 200);
    EXPECT_GE(running.count("WATCHDOG=1"), elapsed / 200 - 1);
    EXPECT_EQ(running.size(), running.count("WATCHDOG=1") + 1);

    notifier->Stopping("Stopping (SIGTERM)");
    testutil::pump(500ms);
    EXPECT_EQ(listener.Take(), (QList<QByteArray>{"STOPPING=1\nSTATUS=Stopping (SIGTERM)"}));
}

TEST(SystemdNotify, WithoutASocketNothingIsSentAndNoWatchdogRuns)
{
    for (const QByteArray &pid : {QByteArray(), QByteArray("1")}) {
        Environment env(QByteArray(), "400000", pid);
        service::TSystemdNotifier notifier;
        EXPECT_FALSE(notifier.Enabled());
        notifier.Ready("x");
        EXPECT_FALSE(notifier.WatchdogTimer->isActive());
    }
    // A watchdog meant for another process is not ours to feed.
    testutil::ScratchDir dir;
    const QByteArray path = QFile::encodeName(dir.file("notify"));
    Listener listener(path);
    Environment env(path, "400000", "1");
    service::TSystemdNotifier notifier;
    EXPECT_EQ(notifier.WatchdogIntervalMs(), 0);
    notifier.Ready("x");
    EXPECT_FALSE(notifier.WatchdogTimer->isActive());
    EXPECT_EQ(listener.Take(), (QList<QByteArray>{"READY=1\nSTATUS=x"}));
}

TEST(SystemdNotify, AManagerThatStopsReadingNeverStopsTheService)
{
    testutil::ScratchDir dir;
    const QByteArray path = QFile::encodeName(dir.file("notify"));
    Listener stalled(path);
    ASSERT_TRUE(stalled.ok());
    qputenv("NOTIFY_SOCKET", path);
    service::TSystemdNotifier notifier;
    QStringList errors;
    notifier.OnError = [&](const QString &text) { errors << text; };
    // Far more than the socket's queue holds, none of it read.
    QElapsedTimer took;
    took.start();
    for (int i = 0; i < 5000; ++i)
        notifier.Status(QStringLiteral("%1 of %1 probes answered").arg(i));
    EXPECT_LT(took.elapsed(), 2000);
    // One warning for the whole run of dropped messages.
    ASSERT_EQ(errors.size(), 1) << errors.join('\n').toStdString();
    EXPECT_TRUE(errors[0].contains("full")) << errors[0].toStdString();
    // Once the manager reads again, messages reach it.
    EXPECT_FALSE(stalled.Take().isEmpty());
    notifier.Status(QStringLiteral("after"));
    EXPECT_EQ(stalled.Take(), (QList<QByteArray>{"STATUS=after"}));
}
