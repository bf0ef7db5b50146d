// The NetworkManager backend against python3-dbusmock's NetworkManager
// template on a private bus given as the system bus: profile order, a dial's
// progress, drop, hang-up, 602, refusal, NetworkManager leaving or missing,
// and the secret agent.
#include "dialer/dialup_nm.h"

#include "../support/testutil.h"
#include "dialrecorder.h"
#include "nmmock.h"

#include <QDBusConnectionInterface>
#include <gtest/gtest.h>

using namespace dialer;
using namespace std::chrono_literals;

namespace {

using namespace nmmock;

class NmMock : public NmMockTest {
protected:
    void TearDown() override
    {
        rec_.hangUpAll();
        NmMockTest::TearDown();
    }

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
