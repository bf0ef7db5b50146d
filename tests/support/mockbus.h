// A private D-Bus message bus for the tests of the program's bus clients,
// with one of python3-dbusmock's templates on it playing the service (the
// notification server, NetworkManager). While the object lives, the
// program takes the private bus for the session or the system bus.
#pragma once

#include "testutil.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <chrono>
#include <optional>

namespace testsupport {

class MockBus {
public:
    enum class Kind { Session, System };

    explicit MockBus(Kind kind) : kind_(kind), hadOld_(qEnvironmentVariableIsSet(EnvName())), old_(qgetenv(EnvName())) {}
    ~MockBus()
    {
        StopService();
        if (daemon_.state() != QProcess::NotRunning) {
            daemon_.kill();
            daemon_.waitForFinished(3000);
        }
        QDBusConnection::disconnectFromBus(DriverName());
        if (hadOld_)
            qputenv(EnvName(), old_);
        else
            qunsetenv(EnvName());
    }
    MockBus(const MockBus &) = delete;
    MockBus &operator=(const MockBus &) = delete;

    // Why these tests cannot run here (empty when they can).
    static QString SkipReason()
    {
        if (QStandardPaths::findExecutable(QStringLiteral("dbus-daemon")).isEmpty())
            return QStringLiteral("dbus-daemon is not installed (scripts/deps.sh installs it)");
        if (QProcess::execute(Python(), {QStringLiteral("-c"), QStringLiteral("import dbusmock")}) != 0)
            return QStringLiteral("python3-dbusmock is not installed (scripts/deps.sh installs it)");
        return {};
    }

    // Starts the bus and points the program at it; false when it did not start.
    bool Start()
    {
        daemon_.setProgram(QStringLiteral("dbus-daemon"));
        daemon_.setArguments({QStringLiteral("--session"), QStringLiteral("--nofork"), QStringLiteral("--print-address=1"),
                              QStringLiteral("--address=unix:path=") + dir_.filePath(QStringLiteral("bus"))});
        daemon_.start();
        if (!daemon_.waitForReadyRead(5000))
            return false;
        address_ = QString::fromUtf8(daemon_.readLine()).trimmed();
        qputenv(EnvName(), address_.toUtf8());
        QDBusConnection::disconnectFromBus(DriverName());
        driver_ = QDBusConnection::connectToBus(address_, DriverName());
        return driver_.isConnected();
    }

    // Starts a dbusmock template ("notification_daemon", "networkmanager")
    // with its JSON parameters, and waits until it owns 'service'.
    bool StartService(const QString &name, const QString &service, const QString &parameters = {})
    {
        QStringList args = {QStringLiteral("-m"), QStringLiteral("dbusmock"),
                            kind_ == Kind::System ? QStringLiteral("--system") : QStringLiteral("--session"),
                            QStringLiteral("--template"), name};
        if (!parameters.isEmpty())
            args << QStringLiteral("-p") << parameters;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QString::fromLatin1(EnvName()), address_);
        mock_.setProcessEnvironment(env);
        mock_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        mock_.setStandardOutputFile(QProcess::nullDevice());
        mock_.start(Python(), args);
        return testutil::waitFor([&] { return driver_.interface()->isServiceRegistered(service); },
                                 std::chrono::seconds(10));
    }
    // Ends the service (its bus name goes away).
    void StopService()
    {
        if (mock_.state() == QProcess::NotRunning)
            return;
        mock_.kill();
        mock_.waitForFinished(3000);
    }

    // A call to the mock from the test's own connection, with the event
    // loop running meanwhile (the program under test may be called back).
    QDBusMessage Call(const QString &service, const QString &path, const QString &iface, const QString &method,
                      const QVariantList &args = {})
    {
        QDBusMessage m = QDBusMessage::createMethodCall(service, path, iface, method);
        m.setArguments(args);
        return driver_.call(m, QDBus::BlockWithGui, 5000);
    }

    const QString &Address() const { return address_; }

private:
    static QString Python()
    {
        // The system's interpreter, where the distribution's dbusmock lives.
        return QFileInfo::exists(QStringLiteral("/usr/bin/python3")) ? QStringLiteral("/usr/bin/python3")
                                                                     : QStringLiteral("python3");
    }
    const char *EnvName() const
    {
        return kind_ == Kind::System ? "DBUS_SYSTEM_BUS_ADDRESS" : "DBUS_SESSION_BUS_ADDRESS";
    }
    QString DriverName() const
    {
        return kind_ == Kind::System ? QStringLiteral("test-system-driver") : QStringLiteral("test-session-driver");
    }

    Kind kind_;
    bool hadOld_;
    QByteArray old_;
    QTemporaryDir dir_;
    QProcess daemon_, mock_;
    QString address_;
    QDBusConnection driver_{QString()};
};

} // namespace testsupport

namespace testsupport {

// NetworkManager played by python3-dbusmock's template on a private system
// bus, for whether the connection is metered.
class MeteredNetworkManager {
public:
    static constexpr char kService[] = "org.freedesktop.NetworkManager";
    static constexpr char kPath[] = "/org/freedesktop/NetworkManager";

    // Starts the bus and NetworkManager, whose Metered reads 'state' (the
    // template itself has no such property: an older NetworkManager).
    bool Start(std::optional<uint> state = std::nullopt)
    {
        if (!bus.Start() || !bus.StartService(QStringLiteral("networkmanager"), QLatin1String(kService)))
            return false;
        if (!state)
            return true;
        added_ = true;
        return Mock(QStringLiteral("AddProperty"), {QLatin1String(kService), QStringLiteral("Metered"), Value(*state)});
    }
    // Metered changes to 'state', announced as NetworkManager does.
    bool SetMetered(uint state)
    {
        if (!added_ && !Mock(QStringLiteral("AddProperty"), {QLatin1String(kService), QStringLiteral("Metered"), Value(state)}))
            return false;
        added_ = true;
        return Mock(QStringLiteral("SetProperty"),
                    {QLatin1String(kPath), QLatin1String(kService), QStringLiteral("Metered"), Value(state)});
    }

    MockBus bus{MockBus::Kind::System};

private:
    static QVariant Value(uint state) { return QVariant::fromValue(QDBusVariant(QVariant::fromValue(state))); }
    bool Mock(const QString &method, const QVariantList &args)
    {
        return bus.Call(QLatin1String(kService), QLatin1String(kPath), QStringLiteral("org.freedesktop.DBus.Mock"),
                        method, args)
                   .type() == QDBusMessage::ReplyMessage;
    }
    bool added_ = false;
};

} // namespace testsupport
