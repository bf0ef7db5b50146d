// NetworkManager played by python3-dbusmock's template on a private bus that
// this process takes as its system bus, for the tests of the dial-up service
// and of the window's dial-up control: a modem device "wwan0" (port ttyUSB2),
// an ActivateConnection that starts in "activating" and that the test moves
// on (device() and active()), and the test's own methods on the manager
// (hook(): SetAgent, Refuse, Seen, SettingsCalls, AgentCalls).
#pragma once

#include "dialer/dialup_nm.h"

#include "../support/testutil.h"

#include <QDBusMetaType>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <memory>

namespace nmmock {

using namespace dialer;
using namespace std::chrono_literals;

inline const QString kMockIface = "org.freedesktop.DBus.Mock";
inline const QString kNm = "org.freedesktop.NetworkManager";
inline const QString kNmObj = "/org/freedesktop/NetworkManager";
inline const QString kDevice = kNmObj + "/Devices/wwan0";
inline const QString kActive = kNm + ".Connection.Active";
inline const QString kDriver = "nm-test-driver";

// The mock's ActivateConnection, replaced so that an activation starts in
// "activating" on the modem device and the test moves it on. When told the
// agent's bus name, it asks that agent for secrets as NetworkManager would;
// when told to refuse, it answers with a policy error.
inline constexpr char kActivate[] = R"PY(
acs = self.Get('org.freedesktop.NetworkManager', 'ActiveConnections')
n = 0
while dbus.ObjectPath('/org/freedesktop/NetworkManager/ActiveConnection/%d' % n) in acs:
    n += 1
if getattr(self, 'refuse', ''):
    raise dbus.exceptions.DBusException(self.refuse, name='org.freedesktop.NetworkManager.PermissionDenied')
if getattr(self, 'agent', ''):
    s = self.connection.call_blocking(self.agent, '/org/freedesktop/NetworkManager/SecretAgent',
        'org.freedesktop.NetworkManager.SecretAgent', 'GetSecrets', 'a{sa{sv}}osasu',
        [objects[args[0]].settings, args[0], 'gsm', [], dbus.UInt32(1)])
    self.seen = ';'.join('%s.%s=%s' % (k, kk, vv) for k, d in s.items() for kk, vv in sorted(d.items()))
path = self.AddActiveConnection([], args[0], '/', str(n), dbus.UInt32(1))
self.SetProperty(path, 'org.freedesktop.NetworkManager.Connection.Active', 'Devices',
                 dbus.Array([dbus.ObjectPath('/org/freedesktop/NetworkManager/Devices/wwan0')], signature='o'))
ret = path
)PY";

inline constexpr char kSetup[] = R"PY(
self.AddObject('/org/freedesktop/NetworkManager/AgentManager', 'org.freedesktop.NetworkManager.AgentManager',
               {}, [('Register', 's', '', ''), ('Unregister', '', '', '')])
)PY";

inline QString python()
{
    return QFileInfo::exists("/usr/bin/python3") ? QStringLiteral("/usr/bin/python3") : QStringLiteral("python3");
}

// Starts the bus and the mock before each case (skipping when dbusmock is not
// installed) and ends both after it.
class NmMockTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (QProcess::execute(python(), {"-c", "import dbusmock"}) != 0)
            GTEST_SKIP() << "python3-dbusmock is not installed (scripts/deps.sh installs it)";
        bus_.setProgram("dbus-daemon");
        bus_.setArguments({"--session", "--nofork", "--print-address=1",
                           "--address=unix:path=" + dir_.filePath("bus")});
        bus_.start();
        ASSERT_TRUE(bus_.waitForReadyRead(5000)) << "dbus-daemon did not start";
        address_ = QString::fromUtf8(bus_.readLine()).trimmed();
        qputenv("DBUS_SYSTEM_BUS_ADDRESS", address_.toUtf8());
        ASSERT_NO_FATAL_FAILURE(startMock());
        QDBusConnection::disconnectFromBus(kDriver);
        driver_ = std::make_unique<QDBusConnection>(QDBusConnection::connectToBus(address_, kDriver));
        ASSERT_TRUE(driver_->isConnected());
        NmBus();  // registers the settings type
        ASSERT_EQ(nm("AddMethod", {"", "ActivateConnection", "ooo", "o", kActivate}).type(),
                  QDBusMessage::ReplyMessage);
        nm("AddMethod", {"", "Setup", "", "", kSetup});
        nm("AddMethod", {"", "SetAgent", "s", "", "self.agent = args[0]"});
        nm("AddMethod", {"", "Refuse", "s", "", "self.refuse = args[0]"});
        nm("AddMethod", {"", "Seen", "", "s", "ret = getattr(self, 'seen', '')"});
        nm("AddMethod", {"", "SettingsCalls", "", "s",
                         "ret = ','.join(c[1] for c in objects['/org/freedesktop/NetworkManager/Settings'].call_log)"});
        nm("AddMethod", {"", "AgentCalls", "", "s",
                         "ret = ','.join(c[1] for c in objects['/org/freedesktop/NetworkManager/AgentManager'].call_log)"});
        call(kNmObj, kNm, "Setup");
        call(kNmObj, kMockIface, "AddEthernetDevice", {"wwan0", "ttyUSB2", 30u});
    }

    void TearDown() override
    {
        mock_.kill();
        mock_.waitForFinished(3000);
        bus_.kill();
        bus_.waitForFinished(3000);
        qunsetenv("DBUS_SYSTEM_BUS_ADDRESS");
    }

    void startMock()
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("DBUS_SYSTEM_BUS_ADDRESS", address_);
        mock_.setProcessEnvironment(env);
        mock_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        mock_.setStandardOutputFile(QProcess::nullDevice());
        mock_.start(python(), {"-m", "dbusmock", "--system", "--template", "networkmanager"});
        ASSERT_TRUE(testutil::waitFor([] { return NmAvailable(); }, 10s)) << "the mock did not come up";
    }

    QDBusMessage call(const QString &path, const QString &iface, const QString &method,
                      const QVariantList &args = {})
    {
        QDBusMessage m = QDBusMessage::createMethodCall(kNm, path, iface, method);
        m.setArguments(args);
        // The event loop runs meanwhile, so the secret agent can answer the mock.
        QDBusMessage r = driver_->call(m, QDBus::BlockWithGui, 5000);
        EXPECT_NE(r.type(), QDBusMessage::ErrorMessage) << method.toStdString() << ": "
                                                        << r.errorMessage().toStdString();
        return r;
    }
    QDBusMessage nm(const QString &method, const QVariantList &args)
    {
        return call(kNmObj, kMockIface, method, args);
    }
    // The test's own methods, added to the manager's interface.
    QString hook(const QString &method, const QVariantList &args = {})
    {
        return call(kNmObj, kNm, method, args).arguments().value(0).toString();
    }
    QString addProfile(const QString &id, const QString &type)
    {
        NmSettings s{{"connection", {{"id", id}, {"type", type}}}};
        QDBusMessage r = call(kNmObj + "/Settings", kNm + ".Settings", "AddConnection",
                              {QVariant::fromValue(s)});
        return r.arguments().value(0).value<QDBusObjectPath>().path();
    }
    // Moves the device on, as NetworkManager announces it.
    void device(uint state)
    {
        call(kDevice, kMockIface, "EmitSignal",
             {kNm + ".Device", "StateChanged", "uuu", QVariantList{state, 30u, 0u}});
    }
    void active(const QString &path, uint state, uint reason)
    {
        call(path, kMockIface, "EmitSignal", {kActive, "StateChanged", "uu", QVariantList{state, reason}});
    }
    QString activePath() const { return kNmObj + "/ActiveConnection/0"; }

    QTemporaryDir dir_;
    QProcess bus_, mock_;
    QString address_;
    std::unique_ptr<QDBusConnection> driver_;
};

} // namespace nmmock
