// The pppd backend against a stand-in pppd (pppd_standin.sh) that prints
// pppd's log lines and exits with pppd's codes: progress, outcome, the
// command line and the password handed over on its descriptor.
#include "dialer/dialup.h"
#include "platform/boundedread.h"
#include "platform/services.h"

#include "../support/testutil.h"
#include "dialrecorder.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>
#include "testpaths.h"

using namespace platform;
using namespace dialer;
using namespace std::chrono_literals;

namespace {

const char kStandIn[] = IDLIX_SOURCE_DIR "/tests/dialer/pppd_standin.sh";

class PppdDial : public ::testing::Test {
protected:
    void SetUp() override
    {
        qputenv("IDLIX_PPPD", kStandIn);
        qputenv("PPPD_STANDIN_LOG", log_.path().toLocal8Bit());
        for (const char *s : {"connect", "authfail", "modemhangup", "nokernel", "locked", "noanswer"})
            peer(s, QStringLiteral("# standin: %1\n/dev/ttyUSB0\n115200\nnoauth\n").arg(s));
    }
    void TearDown() override
    {
        rec_.hangUpAll();
        qunsetenv("IDLIX_PPPD");
    }
    void peer(const QString &name, const QString &text)
    {
        QFile f(peers_.filePath(name));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(text.toUtf8());
    }
    int dial(const QString &entry, DialHandle &h, const QString &user = {}, const QString &pw = {},
             QString *notice = nullptr)
    {
        return rec_.dial(peers_.path(), entry, h, user, pw, notice);
    }
    QByteArray logged(const char *name) const
    {
        QFile f(log_.filePath(name));
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
    }
    bool ended() const { return !rec_.notes.empty() && (rec_.notes.back().error != 0 || rec_.notes.back().state == kDialDisconnected); }

    QTemporaryDir peers_, log_;
    DialRecorder rec_;
};

using Notes = std::vector<std::pair<unsigned, int>>;

} // namespace

TEST_F(PppdDial, ListsPeerFiles)
{
    peer(".hidden", "x");
    peer("backup~", "x");
    QStringList names;
    ASSERT_EQ(DialEnumEntries(peers_.path(), names), 0);
    EXPECT_EQ(names, (QStringList{"authfail", "connect", "locked", "modemhangup", "noanswer", "nokernel"}));

    // A FIFO or a folder among them is no peer file.
    ASSERT_EQ(::mkfifo(QFile::encodeName(peers_.filePath("fifo")).constData(), 0600), 0);
    ASSERT_TRUE(QDir(peers_.path()).mkdir("folder"));
    ASSERT_EQ(DialEnumEntries(peers_.path(), names), 0);
    EXPECT_EQ(names.size(), 6);
    DialHandle h = 0;
    EXPECT_EQ(dial("fifo", h), kDialErrEntryNotFound);
}

TEST_F(PppdDial, AFolderOfTooManyPeerFilesIsListedInPart)
{
    QStringList notices;
    platform::Services().Notice = [&](const QString &n) { notices << n; };
    for (int i = 0; i < 10010; ++i) {
        QFile f(peers_.filePath(QStringLiteral("isp%1").arg(i, 5, 10, QLatin1Char('0'))));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    }
    QStringList names;
    ASSERT_EQ(DialEnumEntries(peers_.path(), names), 0);
    EXPECT_EQ(names.size(), 10000);
    QStringList sorted = names;
    sorted.sort();
    EXPECT_EQ(names, sorted);
    EXPECT_EQ(notices, QStringList{peers_.path() + ": only the first 10000 peer files were listed."});
    platform::Services().Notice = {};
}

TEST_F(PppdDial, ConnectsAndHangsUpWithThePasswordOnItsDescriptor)
{
    if (!testutil::isRoot())
        GTEST_SKIP() << "only root may hand pppd the passwordfd plugin on its command line";
    const QString password = QStringLiteral("s3cr\u00e9t pass");
    DialHandle h = 0;
    QString notice = "stale";
    ASSERT_EQ(dial("connect", h, "alice", password, &notice), 0);
    EXPECT_TRUE(notice.isEmpty());
    ASSERT_TRUE(testutil::waitFor([&] { return !rec_.notes.empty() && rec_.notes.back().state == kDialConnected; }, 10s));
    EXPECT_EQ(rec_.pairs(), (Notes{{0, 0}, {1, 0}, {3, 0}, {4, 0}, {5, 0}, {14, 0}, {8192, 0}}));

    const QString args = QString::fromUtf8(logged("args"));
    EXPECT_EQ(args, QStringLiteral("file\n%1\nnodetach\nuser\nalice\nplugin\npasswordfd.so\npasswordfd\n3\n")
                        .arg(QDir(peers_.path()).filePath("connect")));
    EXPECT_FALSE(args.contains(password));
    EXPECT_EQ(logged("password"), password.toUtf8());

    ExpectDialStatus(h, kDialConnected, "/dev/ttyUSB0", "modem");

    // Hang-up ends pppd (SIGTERM) and returns once it has gone.
    ASSERT_EQ(DialHangUp(h), 0);
    rec_.held.clear();
    EXPECT_NE(logged("terminated"), QByteArray("<missing>"));
    const size_t seen = rec_.notes.size();
    testutil::pump(100ms);
    EXPECT_EQ(rec_.notes.size(), seen) << "pppd's exit after a hang-up must not be reported";
}

TEST_F(PppdDial, APeerFileThatLoadsThePluginTakesOnlyTheDescriptor)
{
    peer("withplugin", "# standin: connect\nplugin passwordfd.so\n");
    DialHandle h = 0;
    ASSERT_EQ(dial("withplugin", h, "", "pw"), 0);
    ASSERT_TRUE(testutil::waitFor([&] { return !rec_.notes.empty() && rec_.notes.back().state == kDialConnected; }, 10s));
    EXPECT_EQ(logged("args"), QDir(peers_.path()).filePath("withplugin").toUtf8().prepend("file\n")
                                  + "\nnodetach\npasswordfd\n3\n");
    EXPECT_EQ(logged("password"), "pw");
}

TEST_F(PppdDial, ExitCodesBecomeErrors)
{
    struct Row {
        const char *entry;
        Notes want;
        int statusError;
    } rows[] = {
        {"authfail", {{0, 0}, {1, 0}, {3, 0}, {4, 0}, {5, 0}, {5, kDialErrAuthFailure}}, kDialErrAuthFailure},
        {"nokernel", {{0, 0}, {0, kDialErrNoKernelSupport}}, kDialErrNoKernelSupport},
        {"locked", {{0, 0}, {0, kDialErrPortLocked}}, kDialErrPortLocked},
        {"noanswer", {{0, 0}, {0, kDialErrConnectScript}}, kDialErrConnectScript},
        // Up, then the modem hangs up: the line is reported disconnected.
        {"modemhangup", {{0, 0}, {1, 0}, {3, 0}, {4, 0}, {5, 0}, {14, 0}, {8192, 0}, {8193, 0}},
         kDialErrRemoteDisconnection},
    };
    for (const Row &r : rows) {
        rec_.notes.clear();
        DialHandle h = 0;
        ASSERT_EQ(dial(r.entry, h), 0) << r.entry;
        ASSERT_TRUE(testutil::waitFor([&] { return ended(); }, 10s)) << r.entry;
        EXPECT_EQ(rec_.pairs(), r.want) << r.entry;
        DialStatus st;
        ASSERT_EQ(DialGetStatus(h, st), 0);
        EXPECT_EQ(st.error, r.statusError) << r.entry;
        EXPECT_FALSE(DialErrorText(st.error).isEmpty());
        EXPECT_EQ(logged("args"), QDir(peers_.path()).filePath(r.entry).toUtf8().prepend("file\n")
                                      + "\nnodetach\n") << r.entry;
    }
}

TEST_F(PppdDial, RefusesWhatCannotStart)
{
    DialHandle h = 0, h2 = 0;
    ASSERT_EQ(dial("connect", h), 0);
    // The entry's pppd still runs.
    EXPECT_EQ(dial("connect", h2), kDialErrPortAlreadyOpen);
    EXPECT_EQ(dial("no-such-peer", h2), kDialErrEntryNotFound);
    EXPECT_EQ(dial("../connect", h2), kDialErrEntryNotFound);
    qputenv("IDLIX_PPPD", "/nonexistent/pppd");
    EXPECT_EQ(dial("authfail", h2), kDialErrDialerMissing);
    EXPECT_EQ(h2, 0u);
}
