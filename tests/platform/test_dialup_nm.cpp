// The NetworkManager backend against python3-dbusmock's NetworkManager
// template on a private bus given as the system bus: profile order, a dial's
// progress, drop, hang-up, 602, refusal, NetworkManager leaving or missing,
// and the secret agent.
#include "platform/dialup_nm.h"

#include "../support/testutil.h"
#include "dialrecorder.h"

#include <QDBusConnectionInterface>
#include <QDBusMetaType>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace platform;
using namespace std::chrono_literals;

namespace {

const QString kMockIface = "org.freedesktop.DBus.Mock";
const QString kNm = "org.freedesktop.NetworkManager";
const QString kNmObj = "/org/freedesktop/NetworkManager";
const QString kDevice = kNmObj + "/Devices/wwan0";
const QString kActive = kNm + ".Connection.Active";
const QString kDriver = "nm-test-driver";

// The mock's ActivateConnection, replaced so that an activation starts in
// "activating" on the modem device and the test moves it on. When told the
// agent's bus name, it asks that agent for secrets as NetworkManager would;
// when told to refuse, it answers with a policy error.
const char kActivate[] = R"PY(
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

const char kSetup[] = R"PY(
self.AddObject('/org/freedesktop/NetworkManager/AgentManager', 'org.freedesktop.NetworkManager.AgentManager',
               {}, [('Register', 's', '', ''), ('Unregister', '', '', '')])
)PY";

QString python()
{
    return QFileInfo::exists("/usr/bin/python3") ? QStringLiteral("/usr/bin/python3") : QStringLiteral("python3");
}

class NmMock : public ::testing::Test {
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
        rec_.hangUpAll();
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

    int dial(const QString &entry, DialHandle &h, const QString &user = {}, const QString &pw = {},
             QString *notice = nullptr)
    {
        return rec_.dial(QString(), entry, h, user, pw, notice);
    }
    // The backend has the activation's answer and listens to its signals: it
    // reads the device's name right after subscribing, and a bus connection's
    // messages are handled in order.
    bool subscribed(DialHandle h)
    {
        return testutil::waitFor([&] {
            DialStatus st;
            return DialGetStatus(h, st) == 0 && st.deviceName == "ttyUSB2";
        }, 5s);
    }
    bool reached(unsigned state, int error = 0)
    {
        return testutil::waitFor([&] {
            return !rec_.notes.empty() && rec_.notes.back().state == state && rec_.notes.back().error == error;
        }, 5s);
    }

    QTemporaryDir dir_;
    QProcess bus_, mock_;
    QString address_;
    std::unique_ptr<QDBusConnection> driver_;
    DialRecorder rec_;
};

using Notes = std::vector<std::pair<unsigned, int>>;

} // namespace

TEST_F(NmMock, ListsDialUpLikeProfilesFirst)
{
    for (auto [id, type] : {std::pair{"Office LAN", "802-3-ethernet"}, {"Home WiFi", "802-11-wireless"},
                            {"Tunnel", "wireguard"}, {"Mobile", "gsm"}, {"Work VPN", "vpn"},
                            {"DSL", "pppoe"}, {"Phone", "bluetooth"}, {"EVDO", "cdma"}})
        addProfile(id, type);
    QStringList names;
    ASSERT_EQ(DialEnumEntries(QString(), names), 0);
    EXPECT_EQ(names, (QStringList{"Mobile", "EVDO", "DSL", "Phone", "Work VPN", "Tunnel",
                                  "Office LAN", "Home WiFi"}));
}

TEST_F(NmMock, ADialFindsItsProfileWithoutListingThemAllAgain)
{
    addProfile("Mobile", "gsm");
    addProfile("Office LAN", "802-3-ethernet");
    QStringList names;
    call(kNmObj + "/Settings", kMockIface, "ClearCalls");
    ASSERT_EQ(DialEnumEntries(QString(), names), 0);
    EXPECT_EQ(hook("SettingsCalls").toStdString(), "ListConnections");

    // The listed profile is dialed as it was found.
    call(kNmObj + "/Settings", kMockIface, "ClearCalls");
    DialHandle h = 0;
    ASSERT_EQ(dial("Mobile", h), 0);
    EXPECT_EQ(hook("SettingsCalls").toStdString(), "");
    rec_.hangUpAll();

    // One added since is found by a new listing; a name nobody has is not.
    addProfile("Later", "gsm");
    call(kNmObj + "/Settings", kMockIface, "ClearCalls");
    ASSERT_EQ(dial("Later", h), 0);
    EXPECT_EQ(hook("SettingsCalls").toStdString(), "ListConnections");
    EXPECT_EQ(dial("Nobody", h), kDialErrEntryNotFound);
}

TEST_F(NmMock, DialsThroughTheDeviceStatesAndHangsUp)
{
    addProfile("Mobile", "gsm");
    DialHandle h = 0;
    ASSERT_EQ(dial("Mobile", h), 0);
    ASSERT_TRUE(testutil::waitFor([&] { return rec_.notes.size() == 1; }, 5s));
    ASSERT_TRUE(subscribed(h));
    for (uint s : {40u, 50u, 60u, 70u, 100u})
        device(s);
    active(activePath(), 2, 1);
    ASSERT_TRUE(reached(kDialConnected));
    EXPECT_EQ(rec_.pairs(), (Notes{{0, 0}, {1, 0}, {3, 0}, {5, 0}, {14, 0}, {8192, 0}}));
    ExpectDialStatus(h, kDialConnected, "ttyUSB2", "gsm");

    ASSERT_EQ(DialHangUp(h), 0);
    rec_.held.clear();
    QVariant v;
    ASSERT_EQ(NmProperty(kNmObj, kNm, "ActiveConnections", v), 0);
    EXPECT_TRUE(qdbus_cast<QList<QDBusObjectPath>>(v).isEmpty()) << "DeactivateConnection was not called";
}

TEST_F(NmMock, ALineDroppedByNetworkManagerIsDisconnected)
{
    addProfile("DSL", "pppoe");
    DialHandle h = 0;
    ASSERT_EQ(dial("DSL", h), 0);
    ASSERT_TRUE(subscribed(h));
    active(activePath(), 2, 1);
    ASSERT_TRUE(reached(kDialConnected));
    active(activePath(), 4, 3);  // device-disconnected
    ASSERT_TRUE(reached(kDialDisconnected));
    DialStatus st;
    ASSERT_EQ(DialGetStatus(h, st), 0);
    EXPECT_EQ(st.error, kDialErrRemoteDisconnection);
}

TEST_F(NmMock, AnActiveProfileAnswers602AndARefusalCarriesItsText)
{
    const QString path = addProfile("Mobile", "gsm");
    addProfile("Other", "gsm");
    call(kNmObj, kMockIface, "AddActiveConnection",
         {QStringList{}, path, "/", "up", 2u});
    DialHandle h = 0;
    EXPECT_EQ(dial("Mobile", h), kDialErrPortAlreadyOpen);
    EXPECT_EQ(dial("Nobody", h), kDialErrEntryNotFound);
    hook("Refuse", {"Not authorized to control networking."});
    ASSERT_EQ(dial("Other", h), 0);
    ASSERT_TRUE(reached(kDialOpenPort, kDialErrBusError));
    EXPECT_EQ(DialErrorText(kDialErrBusError),
              "NetworkManager refused the request: Not authorized to control networking.");
}

TEST_F(NmMock, NetworkManagerLeavingMidDialEndsIt)
{
    addProfile("Mobile", "gsm");
    DialHandle h = 0;
    ASSERT_EQ(dial("Mobile", h), 0);
    ASSERT_TRUE(subscribed(h));
    device(40);
    ASSERT_TRUE(reached(kDialPortOpened));
    mock_.terminate();
    ASSERT_TRUE(reached(kDialPortOpened, kDialErrManagerGone));
    // With NetworkManager gone the empty phone book is pppd's peers again.
    QStringList nmNames, peerNames;
    EXPECT_FALSE(NmAvailable());
    const int peersRc = PppdEnumEntries(kSystemPeersDir, peerNames);
    EXPECT_EQ(DialEnumEntries(QString(), nmNames), QFileInfo(kSystemPeersDir).isDir() ? peersRc
                                                                                     : kDialErrCannotOpenPhoneBook);
    EXPECT_EQ(nmNames, peerNames);
    // Hanging up a line whose manager is gone returns at once.
    EXPECT_EQ(DialHangUp(h), 0);
    rec_.held.clear();
}

TEST_F(NmMock, AMissingBusFallsBackToPppd)
{
    qputenv("DBUS_SYSTEM_BUS_ADDRESS", "unix:path=" + dir_.filePath("no-bus").toUtf8());
    mock_.kill();
    bus_.kill();
    bus_.waitForFinished(3000);
    EXPECT_FALSE(NmAvailable());
    QStringList names;
    const int rc = DialEnumEntries(QString(), names);
    EXPECT_TRUE(rc == 0 || rc == kDialErrCannotOpenPhoneBook);
    std::vector<NmProfile> profiles;
    EXPECT_EQ(NmListProfiles(profiles), kDialErrBusMissing);
}

TEST_F(NmMock, TheSecretAgentAnswersOnlyNetworkManager)
{
    addProfile("Mobile", "gsm");
    hook("SetAgent", {NmBus().baseService()});
    DialHandle h = 0;
    ASSERT_EQ(dial("Mobile", h, "alice", "pa55word"), 0);
    ASSERT_TRUE(testutil::waitFor([&] { return !hook("Seen").isEmpty(); }, 5s))
        << DialErrorText(kDialErrBusError).toStdString();
    EXPECT_EQ(hook("Seen"), "gsm.password=pa55word;gsm.username=alice");
    EXPECT_EQ(hook("AgentCalls"), "Register");

    // Another program on the bus asking for the same secrets is refused.
    QDBusMessage ask = QDBusMessage::createMethodCall(NmBus().baseService(), kNmAgentPath,
                                                      kNm + ".SecretAgent", "GetSecrets");
    const QString conn = kNmObj + "/Settings/0";
    ask.setArguments({QVariant::fromValue(NmSettings{}), QVariant::fromValue(QDBusObjectPath(conn)),
                      "gsm", QStringList{}, 1u});
    QDBusPendingCall pending = driver_->asyncCall(ask, 5000);
    ASSERT_TRUE(testutil::waitFor([&] { return pending.isFinished(); }, 6s));
    EXPECT_EQ(pending.error().name(), kNm + ".SecretAgent.PermissionDenied");

    // Once the line is up, the agent goes.
    ASSERT_TRUE(subscribed(h));
    active(activePath(), 2, 1);
    ASSERT_TRUE(reached(kDialConnected));
    ASSERT_TRUE(testutil::waitFor([&] {
        return hook("AgentCalls") == "Register,Unregister";
    }, 5s));
}
