// Dials that fail on the real dialers' paths, as the window shows them:
// NetworkManager (python3-dbusmock's, on a private bus) refusing or failing
// an activation, and pppd (its stand-in script) ending with its exit codes.
// The status line ends on the failure with its code and text, the line is
// idle and Connect is there for the next try.
#include "dialtest.h"

#include "../dialer/nmmock.h"

#include <QAction>
#include <QComboBox>
#include <QDir>
#include <QTemporaryDir>
#include "testpaths.h"

using namespace std::chrono_literals;
using dialtest::BookPath;
using dialtest::Window;

namespace {

const QByteArray Settings = "[Dial-Up Options]\r\nUsername=alice\r\nPassword=pw-42\r\n";
const QString Attempt = QStringLiteral("Status: Attemping to connect to %1...");
const QString Authenticating = QStringLiteral("Status: Authenticating username/password...");

// What the window must show once the dial is over.
void ExpectFailureShown(Window &w, const QStringList &statuses)
{
    ASSERT_TRUE(w.WaitEvent("DialError", 10s)) << w.events.join(',').toStdString();
    testutil::pump(100ms);
    EXPECT_EQ(w.statuses, statuses);
    EXPECT_EQ(w.events.count("DialError"), 1);
    EXPECT_FALSE(w.events.contains("Connect"));
    EXPECT_EQ(w.ctl->RAS1->LineState(), TRasLineState::Idle);
    EXPECT_TRUE(w.ctl->Connect1->isEnabled());
    EXPECT_TRUE(w.ctl->Disconnect1->isEnabled());
    for (const QString &s : w.statuses)
        EXPECT_FALSE(s.contains("pw-42")) << s.toStdString();
}

class NmDialFailures : public nmmock::NmMockTest {};

} // namespace

TEST_F(NmDialFailures, RefusalsAndFailedActivationsAreShown)
{
    struct Case {
        const char *name;
        const char *refusal;   // NetworkManager refuses the activation with this
        bool needsAuth;        // the device asks for the secrets first
        uint reason;           // else the activation ends for this reason
        QString failure;
    };
    const Case cases[] = {
        {"Refused", "Not authorized to control networking.", false, 0,
         "Status: Dial-up failed: 752 NetworkManager refused the request: Not authorized to "
         "control networking."},
        {"LoginFailed", nullptr, true, 10,
         "Status: Dial-up failed: 691 The user name or password was refused."},
        {"ConnectTimeout", nullptr, false, 6,
         "Status: Dial-up failed: 753 NetworkManager could not bring the connection up: "
         "connect-timeout"},
    };
    // A profile for each case: the mock keeps every activation it made, and a
    // profile still listed as active would be taken for a line already up.
    for (const Case &c : cases)
        addProfile(c.name, "gsm");
    int connection = 0;
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        hook("Refuse", {c.refusal ? c.refusal : ""});
        Window w(BookPath{}, Settings + "Connection=" + QByteArray::number(connection++) + "\r\n");
        ASSERT_EQ(w.form->findChild<QComboBox *>("cb_RasConnect")->currentText(), c.name);
        w.Run(w.ctl->Connect1);
        QStringList statuses = {"", Attempt.arg(c.name)};
        if (!c.refusal) {
            // The activation is under way once the backend has read its device.
            ASSERT_TRUE(testutil::waitFor([&] {
                dialer::DialStatus st;
                return dialer::DialGetStatus(w.ctl->RAS1->ConnHandle(), st) == 0
                       && st.deviceName == "ttyUSB2";
            }, 5s));
            if (c.needsAuth) {
                device(60);
                ASSERT_TRUE(w.WaitEvent("Authenticate"));
                statuses << Authenticating;
            }
            QVariant actives;
            ASSERT_EQ(dialer::NmProperty(nmmock::kNmObj, nmmock::kNm, "ActiveConnections", actives), 0);
            const auto paths = qdbus_cast<QList<QDBusObjectPath>>(actives);
            ASSERT_FALSE(paths.isEmpty());
            active(paths.last().path(), 4, c.reason);
        }
        statuses << c.failure;
        ExpectFailureShown(w, statuses);
    }
}

TEST(PppdDialFailures, ExitCodesAreShown)
{
    struct Case {
        const char *scenario;
        QString failure;
    };
    const Case cases[] = {
        {"authfail", "Status: Dial-up failed: 691 The user name or password was refused."},
        {"noanswer",
         "Status: Dial-up failed: 651 The modem did not connect (no answer, busy or no carrier)."},
        {"nokernel", "Status: Dial-up failed: 630 This system's kernel has no PPP support."},
    };
    QTemporaryDir peers, log;
    qputenv("IDLIX_PPPD", IDLIX_SOURCE_DIR "/tests/dialer/pppd_standin.sh");
    qputenv("PPPD_STANDIN_LOG", log.path().toLocal8Bit());
    for (const Case &c : cases) {
        SCOPED_TRACE(c.scenario);
        // One peer file per case: the window dials the first entry.
        for (const QString &old : QDir(peers.path()).entryList(QDir::Files))
            QFile::remove(peers.filePath(old));
        dialtest::WriteFile(peers.filePath(c.scenario),
                            QByteArray("# standin: ") + c.scenario + "\n/dev/ttyUSB0\n115200\n");
        Window w(BookPath{peers.path()}, Settings);
        ASSERT_EQ(w.form->findChild<QComboBox *>("cb_RasConnect")->currentText(), c.scenario);
        w.Run(w.ctl->Connect1);
        ASSERT_TRUE(w.WaitEvent("DialError", 10s)) << w.events.join(',').toStdString();
        // The stand-in reports progress before it ends; the last word is the failure.
        EXPECT_EQ(w.statuses.mid(0, 2), (QStringList{"", Attempt.arg(c.scenario)}));
        EXPECT_EQ(w.statuses.last(), c.failure);
        EXPECT_EQ(w.ctl->RAS1->LineState(), TRasLineState::Idle);
        EXPECT_TRUE(w.ctl->Connect1->isEnabled());
    }
    qunsetenv("IDLIX_PPPD");
    qunsetenv("PPPD_STANDIN_LOG");
}
