// TRAS over the simulated line: the events of every state in order, failures
// that fire OnDialError and let the line go, a line dropped by the other end,
// hang-up, 602, the 20-entry limit and a dial while the line is up.
#include "net/ras.h"

#include "dialer/dialup.h"

#include "../support/testutil.h"

#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace std::chrono_literals;

namespace {

// Every event of the component with the name it is recorded under.
struct Named {
    const char *name;
    TNotifyEvent TRAS::*event;
};
const Named kEvents[] = {
    {"AboutToOpenPort", &TRAS::OnAboutToOpenPort}, {"PortOpened", &TRAS::OnPortOpened},
    {"AboutToConnDev", &TRAS::OnAboutToConnDev}, {"DevConnected", &TRAS::OnDevConnected},
    {"AllDevsConnected", &TRAS::OnAllDevsConnected}, {"Authenticate", &TRAS::OnAuthenticate},
    {"AuthNotify", &TRAS::OnAuthNotify}, {"AuthRetry", &TRAS::OnAuthRetry},
    {"AuthCallBack", &TRAS::OnAuthCallBack}, {"AuthChangePassword", &TRAS::OnAuthChangePassword},
    {"AuthProject", &TRAS::OnAuthProject}, {"AuthLinkSpeed", &TRAS::OnAuthLinkSpeed},
    {"AuthAck", &TRAS::OnAuthAck}, {"ReAuthenticate", &TRAS::OnReAuthenticate},
    {"Authenticated", &TRAS::OnAuthenticated}, {"PrepareforCallback", &TRAS::OnPrepareforCallback},
    {"WaitForModemReset", &TRAS::OnWaitForModemReset}, {"CallBack", &TRAS::OnCallBack},
    {"InteractiveStarted", &TRAS::OnInteractiveStarted}, {"RetryAuth", &TRAS::OnRetryAuth},
    {"PasswordExpired", &TRAS::OnPasswordExpired}, {"Connect", &TRAS::OnConnect},
};

class RasTest : public ::testing::Test {
protected:
    void SetUp() override { watch(ras_); }
    void TearDown() override { ras_.HangUpQuietly(); }

    // Records every event of r, disconnects with their code and text.
    void watch(TRAS &r)
    {
        for (const Named &n : kEvents)
            r.*(n.event) = [this, name = QString(n.name)](QObject *sender) {
                EXPECT_EQ(sender, &ras_);
                events_ << name;
            };
        r.OnDisconnect = [this](QObject *, int error, const QString &text) {
            events_ << QStringLiteral("Disconnect %1 '%2'").arg(error).arg(text);
        };
        r.OnDialError = [this](QObject *, int error, const QString &text) {
            events_ << QStringLiteral("DialError %1 '%2'").arg(error).arg(text);
        };
    }
    void book(const QByteArray &text)
    {
        QFile f(dir_.filePath("book.ini"));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(text);
        f.close();
        ras_.SetPhoneBookPath(f.fileName());
    }
    bool waitEvent(const QString &name, std::chrono::milliseconds t = 5s)
    {
        return testutil::waitFor([&] { return events_.contains(name); }, t);
    }

    QTemporaryDir dir_;
    TRAS ras_;
    QStringList events_;
};

const QStringList kConnectEvents = {"AboutToOpenPort", "PortOpened", "AboutToConnDev", "DevConnected",
                                    "AllDevsConnected", "Authenticate", "Authenticated", "Connect"};

} // namespace

TEST_F(RasTest, ConnectsWithEachStateEventInOrder)
{
    book("[Provider]\nStepMs=10\nDeviceType=isdn\nDeviceName=Card 1\n");
    EXPECT_EQ(ras_.Entries(), QStringList{"Provider"});
    EXPECT_EQ(ras_.RedialAttempts(), 1);
    ras_.SetEntryName("Provider");
    ASSERT_EQ(ras_.Dial(), 0);
    EXPECT_EQ(ras_.LineState(), TRasLineState::Dialing);
    EXPECT_NE(ras_.ConnHandle(), 0u);
    ASSERT_TRUE(waitEvent("Connect"));
    EXPECT_EQ(events_, kConnectEvents);
    EXPECT_EQ(ras_.ConnState(), dialer::kDialConnected);
    EXPECT_EQ(ras_.LineState(), TRasLineState::Connected);
    EXPECT_EQ(ras_.LastResult(), 0);
    EXPECT_EQ(ras_.DeviceType(), "isdn");
    EXPECT_EQ(ras_.DeviceName(), "Card 1");
    EXPECT_EQ(ras_.UpdateStatus(), 0);
}

TEST_F(RasTest, EveryStateOfTheTableFiresItsEvent)
{
    // Each state of the table once, with 0x1002 (callback set by caller) and
    // 4098/18 (no event) between them.
    QStringList want;
    QByteArray steps;
    for (unsigned s : {0u, 1u, 2u, 3u, 4u, 5u, 6u, 7u, 8u, 9u, 10u, 11u, 12u, 13u, 14u, 15u, 16u,
                       17u, 0x1000u, 0x1001u, 0x1002u, 18u, 0x1003u, 0x2000u}) {
        steps += QByteArray::number(s) + ',';
        if (auto ev = TRAS::EventOf(s)) {
            for (const Named &n : kEvents)
                if (n.event == ev)
                    want << n.name;
        }
    }
    steps.chop(1);
    EXPECT_EQ(want.size(), 22);
    EXPECT_EQ(TRAS::EventOf(0x1002), nullptr);
    EXPECT_EQ(TRAS::EventOf(dialer::kDialDisconnected), nullptr);
    book("[All]\nStepMs=2\nSteps=" + steps + "\n");
    ras_.SetEntryName("All");
    ASSERT_EQ(ras_.Dial(), 0);
    ASSERT_TRUE(waitEvent("Connect"));
    EXPECT_EQ(events_, want);
    EXPECT_EQ(want.mid(17, 4), (QStringList{"CallBack", "InteractiveStarted", "RetryAuth", "PasswordExpired"}));
}

TEST_F(RasTest, AFailedDialFiresDialErrorAndLetsTheLineGo)
{
    book("[Auth]\nStepMs=5\nUser=alice\nPassword=right\n"
         "[Busy]\nStepMs=5\nSteps=0,1,2\nFailAt=2\nFailCode=676\n");
    struct Case {
        const char *entry;
        const char *password;
        QStringList events;
        int code;
        unsigned lastState;   // ConnState keeps the last state reached
    };
    const Case cases[] = {
        {"Auth", "wrong-password",
         kConnectEvents.mid(0, 6) + QStringList{"DialError 691 'The user name or password was refused.'"},
         691, dialer::kDialAuthenticate},
        // A code the service has no text for.
        {"Busy", "", {"AboutToOpenPort", "PortOpened", "DialError 676 'Status Unknown'"}, 676,
         dialer::kDialPortOpened},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.entry);
        events_.clear();
        ras_.SetEntryName(c.entry);
        ras_.SetUserName("alice");
        ras_.SetPassword(c.password);
        ASSERT_EQ(ras_.Dial(), 0);
        const unsigned handle = ras_.ConnHandle();
        ASSERT_TRUE(testutil::waitFor([&] { return events_.size() == c.events.size(); }, 5s));
        testutil::pump(50ms);
        EXPECT_EQ(events_, c.events);
        EXPECT_EQ(ras_.LastResult(), c.code);
        EXPECT_EQ(ras_.ConnState(), c.lastState);
        // The failed connection is gone: the line is idle, its handle unknown.
        EXPECT_EQ(ras_.LineState(), TRasLineState::Idle);
        EXPECT_EQ(ras_.ConnHandle(), 0u);
        dialer::DialStatus st;
        EXPECT_EQ(dialer::DialGetStatus(handle, st), dialer::kDialErrInvalidHandle);
        EXPECT_FALSE(events_.join('|').contains("wrong-password"));
    }
    // A handler may dial again at once: here with the right password.
    ras_.OnDialError = [this](QObject *, int error, const QString &) {
        events_ << QStringLiteral("DialError %1").arg(error);
        ras_.SetPassword("right");
        EXPECT_EQ(ras_.Dial(), 0);
    };
    events_.clear();
    ras_.SetEntryName("Auth");
    ras_.SetPassword("wrong-password");
    ASSERT_EQ(ras_.Dial(), 0);
    ASSERT_TRUE(waitEvent("Connect"));
    EXPECT_EQ(events_, kConnectEvents.mid(0, 6) + QStringList{"DialError 691"} + kConnectEvents);
    EXPECT_EQ(ras_.LineState(), TRasLineState::Connected);
}

TEST_F(RasTest, ALineDroppedByTheOtherEndKeepsItsHandle)
{
    book("[Drop]\nStepMs=5\nDropAfter=1\n");
    ras_.SetEntryName("Drop");
    ASSERT_EQ(ras_.Dial(), 0);
    ASSERT_TRUE(waitEvent("Connect"));
    ASSERT_TRUE(testutil::waitFor([&] { return events_.size() > kConnectEvents.size(); }, 3s));
    // The status call on the dropped connection succeeds: code 0.
    EXPECT_EQ(events_.mid(kConnectEvents.size()), QStringList{"Disconnect 0 'Status Unknown'"});
    EXPECT_EQ(ras_.LineState(), TRasLineState::Dropped);
    EXPECT_EQ(ras_.ConnState(), dialer::kDialDisconnected);
    EXPECT_NE(ras_.ConnHandle(), 0u);
    EXPECT_EQ(ras_.LastResult(), dialer::kDialErrRemoteDisconnection);
    // HangUp then releases it.
    EXPECT_EQ(ras_.HangUp(), 0);
    EXPECT_EQ(ras_.ConnHandle(), 0u);
    EXPECT_EQ(events_.last(), "Disconnect 6 ''");
}

TEST_F(RasTest, HangUpEndsTheLineAndFiresDisconnect)
{
    book("[Line]\nStepMs=5\n");
    // With nothing held, HangUp still reports a disconnect: invalid handle, no text.
    EXPECT_EQ(ras_.HangUp(), 0);
    EXPECT_EQ(events_, QStringList{"Disconnect 6 ''"});
    events_.clear();

    ras_.SetEntryName("Line");
    ASSERT_EQ(ras_.Dial(), 0);
    ASSERT_TRUE(waitEvent("Connect"));
    EXPECT_EQ(ras_.HangUp(), 0);
    EXPECT_EQ(ras_.ConnHandle(), 0u);
    EXPECT_EQ(ras_.LineState(), TRasLineState::Idle);
    EXPECT_EQ(ras_.ConnState(), dialer::kDialConnected) << "ConnState keeps its last value";
    EXPECT_EQ(events_.last(), "Disconnect 6 ''");
    EXPECT_EQ(ras_.UpdateStatus(), 0);
    EXPECT_EQ(ras_.RasErrorText(691), "");
    // A hang-up in the middle of the dial stops its events.
    events_.clear();
    ASSERT_EQ(ras_.Dial(), 0);
    ASSERT_TRUE(waitEvent("PortOpened"));
    ras_.HangUpQuietly();
    testutil::pump(100ms);
    EXPECT_EQ(events_, (QStringList{"AboutToOpenPort", "PortOpened"}));
}

TEST_F(RasTest, ALineAlreadyUpAnswers602)
{
    book("[Up]\nDialResult=602\n[Line]\nStepMs=5\n");
    ras_.SetEntryName("Up");
    EXPECT_EQ(ras_.Dial(), dialer::kDialErrPortAlreadyOpen);
    EXPECT_EQ(ras_.LastResult(), 602);
    EXPECT_EQ(ras_.ConnHandle(), 0u);
    // Another component's line on the same entry is up too.
    TRAS other;
    other.SetPhoneBookPath(ras_.PhoneBookPath());
    other.SetEntryName("Line");
    ASSERT_EQ(other.Dial(), 0);
    ras_.SetEntryName("Line");
    EXPECT_EQ(ras_.Dial(), 602);
    testutil::pump(50ms);
    EXPECT_TRUE(events_.isEmpty());
    other.HangUpQuietly();
}

TEST_F(RasTest, APhoneBookOf25EntriesLists20)
{
    QByteArray text;
    QStringList want;
    for (int i = 1; i <= 25; ++i) {
        text += "[ISP " + QByteArray::number(i) + "]\n";
        if (i <= 20)
            want << QStringLiteral("ISP %1").arg(i);
    }
    book(text);
    EXPECT_EQ(ras_.Entries(), want);
    EXPECT_EQ(ras_.LastResult(), dialer::kDialErrBufferTooSmall);
    EXPECT_EQ(ras_.EnumEntries(), 603);
    book("[One]\n[Two]\n");
    EXPECT_EQ(ras_.Entries(), (QStringList{"One", "Two"}));
    EXPECT_EQ(ras_.LastResult(), 0);
    ras_.SetPhoneBookPath(dir_.filePath("missing.ini"));
    EXPECT_TRUE(ras_.Entries().isEmpty());
    EXPECT_EQ(ras_.LastResult(), dialer::kDialErrCannotOpenPhoneBook);
    ras_.SetEntryName("One");
    EXPECT_EQ(ras_.Dial(), dialer::kDialErrCannotOpenPhoneBook);
}

TEST_F(RasTest, DialWhileUpHangsUpQuietlyFirst)
{
    book("[Line]\nStepMs=5\n");
    ras_.SetEntryName("Line");
    ASSERT_EQ(ras_.Dial(), 0);
    ASSERT_TRUE(waitEvent("Connect"));
    const unsigned first = ras_.ConnHandle();
    events_.clear();
    // The same entry again: the old line goes without OnDisconnect, so the
    // new dial is not refused as already up.
    ASSERT_EQ(ras_.Dial(), 0);
    EXPECT_NE(ras_.ConnHandle(), first);
    ASSERT_TRUE(waitEvent("Connect"));
    EXPECT_EQ(events_, kConnectEvents);
    dialer::DialStatus st;
    EXPECT_EQ(dialer::DialGetStatus(first, st), dialer::kDialErrInvalidHandle);
}

TEST_F(RasTest, HandlersMayHangUpAndDialFromInsideEvents)
{
    book("[Line]\nStepMs=5\n");
    ras_.SetEntryName("Line");
    int dials = 0;
    ras_.OnConnect = [&](QObject *) {
        events_ << "Connect";
        if (++dials < 3)
            ras_.Dial();  // hangs up the line whose event this is
        else
            ras_.HangUp();
    };
    ASSERT_EQ(ras_.Dial(), 0);
    ASSERT_TRUE(testutil::waitFor([&] { return events_.contains("Disconnect 6 ''"); }, 5s));
    testutil::pump(50ms);
    EXPECT_EQ(events_.count("Connect"), 3);
    EXPECT_EQ(events_.count("AboutToOpenPort"), 3);
    EXPECT_EQ(ras_.ConnHandle(), 0u);
}
