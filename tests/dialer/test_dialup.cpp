// The dial-up service: its pure pieces (pppd's arguments, log lines and exit
// codes, the simulated phone book) and the simulated line through the
// service's calls.
#include "dialer/dialup_backend.h"
#include "platform/boundedread.h"
#include "platform/services.h"

#include "../support/testutil.h"
#include "dialrecorder.h"

#include <QFile>
#include <QTemporaryDir>
#include <functional>
#include <sys/stat.h>
#include <QEventLoop>
#include <QTimer>
#include <gtest/gtest.h>
#include <set>

using namespace platform;
using namespace dialer;
using namespace std::chrono_literals;

namespace {

// A simulated phone book in a scratch directory, and a receiver that keeps
// every notification.
class SimBook : public ::testing::Test {
protected:
    void write(const QByteArray &text)
    {
        QFile f(book());
        ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(text);
    }
    QString book() const { return dir_.filePath("book.ini"); }

    int dial(const QString &entry, DialHandle &h, const QString &user = {}, const QString &pw = {})
    {
        return rec_.dial(book(), entry, h, user, pw);
    }

    QTemporaryDir dir_;
    DialRecorder rec_;
    std::vector<DialNote> &notes_ = rec_.notes;
};

} // namespace

TEST(PppdPure, Arguments)
{
    struct Row {
        const char *name;
        bool systemDir;
        QString user;
        int fd;
        bool inPeer, mayLoad;
        QStringList want;
    } rows[] = {
        {"system peers, nothing else", true, "", -1, false, true,
         {"call", "isp", "nodetach"}},
        {"other directory", false, "", -1, false, true, {"file", "/pb/isp", "nodetach"}},
        {"user and password as root", true, "alice", 3, false, true,
         {"call", "isp", "nodetach", "user", "alice", "plugin", "passwordfd.so", "passwordfd", "3"}},
        {"plugin already in the peer file", true, "alice", 3, true, false,
         {"call", "isp", "nodetach", "user", "alice", "passwordfd", "3"}},
        {"no way to hand the password over", true, "alice", 3, false, false,
         {"call", "isp", "nodetach", "user", "alice"}},
        {"password without user name", false, "", 3, false, true,
         {"file", "/pb/isp", "nodetach", "plugin", "passwordfd.so", "passwordfd", "3"}},
    };
    for (const Row &r : rows)
        EXPECT_EQ(PppdArguments("/pb", r.systemDir, "isp", r.user, r.fd, r.inPeer, r.mayLoad), r.want)
            << r.name;
}

TEST(PppdPure, LogLines)
{
    struct Row {
        const char *line;
        std::optional<unsigned> state;
        const char *device, *type;
    } rows[] = {
        {"Serial connection established.", kDialDeviceConnected, "", ""},
        {"Connected to 00:11:22:33:44:55 via interface eth0", kDialDeviceConnected, "eth0", "pppoe"},
        {"PPP session is 4711", kDialDeviceConnected, "", ""},
        {"Using interface ppp0", kDialAllDevicesConnected, "", ""},
        {"Connect: ppp0 <--> /dev/ttyUSB0", kDialAllDevicesConnected, "/dev/ttyUSB0", "modem"},
        {"Mar  3 10:00:01 pppd[42]: Connect: ppp1 <--> eth1", kDialAllDevicesConnected, "eth1", "pppoe"},
        {"sent [PAP AuthReq id=0x1 user=\"a\" password=<hidden>]", kDialAuthenticate, "", ""},
        {"rcvd [CHAP Challenge id=0x1 <...>, name = \"isp\"]", kDialAuthenticate, "", ""},
        {"CHAP authentication succeeded", kDialAuthenticated, "", ""},
        {"PAP authentication succeeded\r", kDialAuthenticated, "", ""},
        {"local  IP address 10.0.0.2", kDialConnected, "", ""},
        {"local  LL address fe80::1", kDialConnected, "", ""},
        {"remote IP address 10.0.0.1", std::nullopt, "", ""},
        {"PAP authentication failed", std::nullopt, "", ""},
        {"Connect script failed", std::nullopt, "", ""},
        {"Connect time 3.2 minutes.", std::nullopt, "", ""},
        {"Connection terminated.", std::nullopt, "", ""},
        {"", std::nullopt, "", ""},
        {"\xff\xfe garbage \x01", std::nullopt, "", ""},
    };
    for (const Row &r : rows) {
        const PppdLineInfo info = PppdParseLine(r.line);
        EXPECT_EQ(info.state, r.state) << r.line;
        EXPECT_EQ(info.deviceName, QString(r.device)) << r.line;
        EXPECT_EQ(info.deviceType, QString(r.type)) << r.line;
    }
}

TEST(PppdPure, ExitCodesHaveDistinctTexts)
{
    EXPECT_EQ(PppdExitError(0), 0);
    EXPECT_EQ(PppdExitError(4), kDialErrNoKernelSupport);
    EXPECT_EQ(PppdExitError(6), kDialErrPortLocked);
    EXPECT_EQ(PppdExitError(8), kDialErrConnectScript);
    EXPECT_EQ(PppdExitError(16), kDialErrRemoteDisconnection);
    EXPECT_EQ(PppdExitError(19), kDialErrAuthFailure);
    EXPECT_EQ(PppdExitError(20), kDialErrUnknown);
    EXPECT_EQ(PppdExitError(-1), kDialErrUnknown);
    // Every failure pppd can report has its own code and a text of its own.
    std::set<int> codes;
    std::set<QString> texts;
    for (int status = 1; status <= 19; ++status) {
        const int code = PppdExitError(status);
        codes.insert(code);
        texts.insert(DialErrorText(code));
        EXPECT_FALSE(DialErrorText(code).isEmpty()) << status;
    }
    EXPECT_EQ(codes.size(), 19u);
    EXPECT_EQ(texts.size(), 19u);
    EXPECT_TRUE(DialErrorText(0).isEmpty());
    EXPECT_TRUE(DialErrorText(12345).isEmpty());
}

TEST(SimPure, ParsesEntries)
{
    const QByteArray text = "[Plain]\n"
                            "[Custom]\nSteps = 0, 5 ,8192\nStepMs=20\nFailAt=5\nFailCode=650\n"
                            "User=bob\nPassword=s3cret\nDropAfter=2\nDeviceType=isdn\n"
                            "DeviceName=ISDN card\nDialResult=602\n"
                            "[BadStep]\nSteps=0,x,8192\n"
                            "[BadMs]\nStepMs=-4\n"
                            "[TooLong]\nStepMs=600000\n";
    SimEntry e;
    ASSERT_EQ(SimParseEntry(text, "plain", e), 0);
    const SimEntry def;
    EXPECT_EQ(e.steps, (std::vector<unsigned>{0, 1, 2, 3, 4, 5, 14, 8192}));
    EXPECT_EQ(e.stepMs, 300);
    EXPECT_EQ(e.dialResult, 0);
    EXPECT_FALSE(e.failAt.has_value());
    EXPECT_EQ(e.failCode, 691);
    EXPECT_EQ(e.dropAfter, 0);
    EXPECT_EQ(e.deviceType, "modem");
    EXPECT_EQ(e.deviceName, "Simulated modem");

    ASSERT_EQ(SimParseEntry(text, "Custom", e), 0);
    EXPECT_EQ(e.steps, (std::vector<unsigned>{0, 5, 8192}));
    EXPECT_EQ(e.stepMs, 20);
    EXPECT_EQ(e.failAt, 5u);
    EXPECT_EQ(e.failCode, 650);
    EXPECT_EQ(e.user, "bob");
    EXPECT_EQ(e.password, "s3cret");
    EXPECT_EQ(e.dropAfter, 2);
    EXPECT_EQ(e.dialResult, 602);
    EXPECT_EQ(e.deviceType, "isdn");
    EXPECT_EQ(e.deviceName, "ISDN card");

    struct Row { const char *entry; int want; } rows[] = {
        {"BadStep", kDialErrCorruptPhoneBook}, {"BadMs", kDialErrCorruptPhoneBook},
        {"TooLong", kDialErrCorruptPhoneBook}, {"Missing", kDialErrEntryNotFound},
        {"", kDialErrEntryNotFound},
    };
    for (const Row &r : rows)
        EXPECT_EQ(SimParseEntry(text, r.entry, e), r.want) << r.entry;
}

TEST_F(SimBook, ConnectsThroughEveryStateInOrder)
{
    write("[Line]\nStepMs=10\nDeviceName=Test modem\n");
    DialHandle h = 0;
    ASSERT_EQ(dial("Line", h), 0);
    ASSERT_NE(h, 0u);
    ASSERT_TRUE(testutil::waitFor([&] { return notes_.size() == 8; }, 5s));
    std::vector<DialNote> want;
    for (unsigned s : {0u, 1u, 2u, 3u, 4u, 5u, 14u, 8192u})
        want.push_back({h, s, 0});
    EXPECT_EQ(notes_, want);
    ExpectDialStatus(h, kDialConnected, "Test modem", "modem");
}

TEST_F(SimBook, RefusesASecondDialOfALiveEntryAndForgetsHungUpLines)
{
    write("[Line]\nStepMs=10\n[Busy]\nDialResult=602\n");
    DialHandle h = 0, h2 = 0;
    ASSERT_EQ(dial("Line", h), 0);
    EXPECT_EQ(dial("Line", h2), kDialErrPortAlreadyOpen);
    EXPECT_EQ(h2, 0u);
    EXPECT_EQ(dial("Busy", h2), kDialErrPortAlreadyOpen);
    EXPECT_EQ(dial("Nobody", h2), kDialErrEntryNotFound);

    ASSERT_EQ(DialHangUp(h), 0);
    testutil::pump(150ms);
    EXPECT_TRUE(notes_.empty() || notes_.back().state < kDialConnected);
    const size_t seen = notes_.size();
    testutil::pump(100ms);
    EXPECT_EQ(notes_.size(), seen) << "a hung-up line went on reporting";
    DialStatus st;
    EXPECT_EQ(DialGetStatus(h, st), kDialErrInvalidHandle);
    EXPECT_EQ(DialHangUp(h), kDialErrInvalidHandle);
    // The entry can be dialed again once the line is let go of.
    ASSERT_EQ(dial("Line", h2), 0);
    EXPECT_NE(h2, h);
}

TEST_F(SimBook, DropsAndFailsWithTheirCodes)
{
    write("[Drop]\nSteps=0,8192\nStepMs=10\nDropAfter=1\n"
          "[Fail]\nSteps=0,1,2,3\nStepMs=10\nFailAt=2\nFailCode=678\n"
          "[Auth]\nStepMs=5\nUser=bob\nPassword=pw\n");
    DialHandle drop = 0, fail = 0, auth = 0, authOk = 0;
    ASSERT_EQ(dial("Drop", drop), 0);
    ASSERT_EQ(dial("Fail", fail), 0);
    ASSERT_EQ(dial("Auth", auth, "bob", "wrong"), 0);
    ASSERT_TRUE(testutil::waitFor([&] {
        return std::count_if(notes_.begin(), notes_.end(), [&](const DialNote &n) {
                   return n.handle == drop && n.state == kDialDisconnected;
               }) == 1;
    }, 5s));
    auto of = [&](DialHandle h) {
        std::vector<std::pair<unsigned, int>> v;
        for (const DialNote &n : notes_)
            if (n.handle == h)
                v.emplace_back(n.state, n.error);
        return v;
    };
    using V = std::vector<std::pair<unsigned, int>>;
    EXPECT_EQ(of(drop), (V{{0, 0}, {8192, 0}, {8193, 0}}));
    EXPECT_EQ(of(fail), (V{{0, 0}, {1, 0}, {1, 678}}));
    EXPECT_EQ(of(auth), (V{{0, 0}, {1, 0}, {2, 0}, {3, 0}, {4, 0}, {5, 0}, {5, 691}}));
    DialStatus st;
    ASSERT_EQ(DialGetStatus(drop, st), 0);
    EXPECT_EQ(st.state, kDialDisconnected);
    EXPECT_EQ(st.error, kDialErrRemoteDisconnection);
    ASSERT_EQ(DialGetStatus(auth, st), 0);
    EXPECT_EQ(st.state, kDialAuthenticate);
    EXPECT_EQ(st.error, kDialErrAuthFailure);
    // A failed or dropped line no longer blocks its entry.
    ASSERT_EQ(dial("Auth", authOk, "bob", "pw"), 0);
    ASSERT_TRUE(testutil::waitFor([&] { return !of(authOk).empty() && of(authOk).back().first == kDialConnected; }, 5s));
    EXPECT_EQ(of(authOk).back().second, 0);
}

TEST_F(SimBook, IdleTimeoutDropsALineTheProgramLeftSilent)
{
    write("[Idle]\nSteps=0,8192\nStepMs=10\nIdleTimeout=1\n");
    DialHandle h = 0;
    ASSERT_EQ(dial("Idle", h), 0);
    auto state = [&] {
        DialStatus st;
        return DialGetStatus(h, st) == 0 ? std::make_pair(st.state, st.error) : std::make_pair(0u, -1);
    };
    ASSERT_TRUE(testutil::waitFor([&] { return state().first == kDialConnected; }, 5s));
    // Probes every 0.4 s keep it up well past its second...
    for (int i = 0; i < 6; ++i) {
        QEventLoop wait;
        QTimer::singleShot(400, &wait, &QEventLoop::quit);
        wait.exec();
        DialNoteTraffic();
        ASSERT_EQ(state().first, kDialConnected) << "after " << (i + 1) * 400 << " ms";
    }
    // ...and without them it drops as idle (628).
    ASSERT_TRUE(testutil::waitFor([&] { return state().first == kDialDisconnected; }, 3s));
    EXPECT_EQ(state().second, kDialErrIdleTimeout);
}

TEST_F(SimBook, ListsEveryEntryInOrder)
{
    QByteArray text = "; a comment\n";
    QStringList want;
    for (int i = 1; i <= 25; ++i) {
        text += "[Entry " + QByteArray::number(i) + "]\nStepMs=1\n";
        want << QStringLiteral("Entry %1").arg(i);
    }
    write(text);
    QStringList names;
    ASSERT_EQ(DialEnumEntries(book(), names), 0);
    EXPECT_EQ(names, want);
    EXPECT_EQ(DialEnumEntries(dir_.filePath("nothing-here"), names), kDialErrCannotOpenPhoneBook);
    EXPECT_TRUE(names.isEmpty());
}

TEST_F(SimBook, AHugeBookIsListedInOrderAndItsLastEntryDialed)
{
    // About 130,000 sections in 1 MiB: listed whole, and a dial finds its
    // entry without listing them again.
    QByteArray text;
    QStringList want;
    for (int i = 0; i < 130000; ++i) {
        text += "[" + QByteArray::number(0x10000 + i, 16) + "]\n";
        want << QString::number(0x10000 + i, 16);
    }
    text += "StepMs=1\n";
    ASSERT_LE(text.size(), 1024 * 1024);
    write(text);
    QStringList names;
    ASSERT_EQ(DialEnumEntries(book(), names), 0);
    EXPECT_EQ(names, want);
    DialHandle h = 0;
    ASSERT_EQ(dial(want.last(), h), 0);
    ASSERT_TRUE(testutil::waitFor([&] { return !notes_.empty() && notes_.back().state == kDialConnected; }, 5s));
}

TEST_F(SimBook, WhatIsNoBookIsRefusedAtOnceWithANotice)
{
    QStringList notices;
    platform::Services().Notice = [&](const QString &n) { notices << n; };
    struct Row {
        const char *name;
        std::function<QString()> make;   // the phone book's path
        int listed;                      // rc of listing
        QStringList names;
        QString notice;                  // the one notice expected, if any
    } rows[] = {
        {"a FIFO without a writer",
         [&] {
             const QString p = dir_.filePath("fifo.ini");
             ::mkfifo(QFile::encodeName(p).constData(), 0600);
             return p;
         },
         kDialErrCannotOpenPhoneBook, {}, dir_.filePath("fifo.ini") + " is a FIFO, not a file; it was not read."},
        {"an endless device", [] { return QStringLiteral("/dev/zero"); },
         kDialErrCannotOpenPhoneBook, {}, "/dev/zero is a device, not a file; it was not read."},
        {"past 1 MiB: the first MiB is the book",
         [&] {
             write("[First]\n" + QByteArray(1024 * 1024, ';') + "\n[Second]\n");
             return book();
         },
         0, {"First"},
         book() + ": 1 line longer than 4096 bytes was skipped (line 2). Only its first 1 MiB "
                  "was read; the rest was skipped."},
    };
    for (const Row &r : rows) {
        SCOPED_TRACE(r.name);
        notices.clear();
        const QString path = r.make();
        QStringList names;
        EXPECT_EQ(DialEnumEntries(path, names), r.listed);
        EXPECT_EQ(names, r.names);
        DialHandle h = 0;
        EXPECT_NE(rec_.dial(path, "Second", h), 0);
        EXPECT_EQ(notices, QStringList{r.notice}) << notices.join("|").toStdString();
    }
    platform::Services().Notice = {};
}

TEST(DialService, StartupPhoneBookComesFromTheEnvironment)
{
    const QByteArray old = qgetenv("IDLIX_PHONEBOOK");
    const bool had = qEnvironmentVariableIsSet("IDLIX_PHONEBOOK");
    qunsetenv("IDLIX_PHONEBOOK");
    EXPECT_EQ(StartupPhoneBook(), QString());
    qputenv("IDLIX_PHONEBOOK", "/tmp/book.ini");
    EXPECT_EQ(StartupPhoneBook(), "/tmp/book.ini");
    if (had)
        qputenv("IDLIX_PHONEBOOK", old);
    else
        qunsetenv("IDLIX_PHONEBOOK");
}
