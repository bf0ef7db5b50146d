// The resolve tool against the test name server: every row of the failure
// table, the local host with and without a record of its own name, Cancel
// with and without a lookup pending, the host field changed before the
// answer, and a name server that does not answer. Root only.
#include "lookuptools.h"
#include "../support/netfixture.h"

#include "platform/resolver.h"
#include "widgets/picturebutton.h"
#include "../support/ctl.h"

#include <QAction>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QTest>
#include <gtest/gtest.h>

using namespace std::chrono_literals;

namespace {

class ResolveNet : public lookuptest::LookupNetTest {
protected:
    void SetUp() override
    {
        LookupNetTest::SetUp();
        if (!Ready())
            return;
        rsv = w->rsv;
        Ctl<QAction>(f, "Resolve1")->trigger();
    }
    void Resolve(const QString &host)
    {
        rsv->edt_RsvHost->setText(host);
        rsv->btn_RsvYes->Click();
    }
    bool WaitDone()
    {
        return testutil::waitFor([this] { return !rsv->Run.RsvRun.Active() && !rsv->Run.ForwardPending; },
                                 15000ms);
    }
    QString Status() const { return Ctl<QLabel>(f, "StatusLBL")->text(); }

    TResolveTool *rsv = nullptr;
};

} // namespace

TEST_F(ResolveNet, EveryInputGivesItsResultAndStatus)
{
    const struct {
        const char *input, *result, *status, *question;
    } rows[] = {
        {"10.200.3.10", "host.idlix.test", "Status: Lookup complete: 10.200.3.10 (host.idlix.test)",
         "PTR 10.3.200.10.in-addr.arpa"},
        {"10.200.1.1", "r1.idlix.test", "Status: Lookup complete: 10.200.1.1 (r1.idlix.test)",
         "PTR 1.1.200.10.in-addr.arpa"},
        {"10.200.3.99", "invalid Host/IP address", "Status: Invalid Host/IP address.",
         "PTR 99.3.200.10.in-addr.arpa"},
        {"host", "10.200.3.10", "Status: Lookup complete: host (10.200.3.10)", "A host.idlix.test"},
        {"ns.idlix.test", "10.200.3.53", "Status: Lookup complete: ns.idlix.test (10.200.3.53)",
         "A ns.idlix.test"},
        {"nosuch", "", "Status: Unknown Host nosuch", "A nosuch.idlix.test"},
    };
    for (const auto &r : rows) {
        SCOPED_TRACE(r.input);
        const qsizetype before = Queries().size();
        rsv->edt_RsvHostRsv->setText("left from before");
        Resolve(r.input);
        ASSERT_TRUE(WaitDone());
        EXPECT_EQ(rsv->edt_RsvHostRsv->text(), QString(r.result));
        EXPECT_EQ(Status(), QString(r.status));
        EXPECT_EQ(rsv->edt_RsvHost->text(), QString(r.input));
        // A dotted input goes the reverse way only; a name the forward way.
        ASSERT_TRUE(testutil::waitFor([&] { return Queries().size() > before; }, 2000ms));
        EXPECT_EQ(Queries().at(before), QString(r.question));
        if (QString(r.question).startsWith("PTR")) {
            for (const QString &q : Queries().mid(before))
                EXPECT_TRUE(q.startsWith("PTR")) << q.toStdString();
        }
    }
}

TEST_F(ResolveNet, EmptyInputShowsTheLocalHost)
{
    // Here the client's own name is unknown: loopback, and its name.
    Resolve("");
    ASSERT_TRUE(WaitDone());
    EXPECT_EQ(rsv->edt_RsvHostRsv->text(), "127.0.0.1");
    EXPECT_EQ(rsv->edt_RsvHost->text(), "localhost");
    EXPECT_EQ(Status(), "Status: Local host lookup complete");

    // With a record for it: its address and the name that address has.
    const std::string own = platform::LocalHostName();
    ASSERT_FALSE(own.empty());
    ASSERT_TRUE(net->addName("10.200.3.77", own + ".idlix.test"));
    ASSERT_TRUE(testutil::waitFor([] {
        platform::HostEntry e;
        return platform::LookupAddr(platform::InetAddr("10.200.3.77"), e) == 0;
    }, 5000ms));
    Resolve("");
    ASSERT_TRUE(WaitDone());
    EXPECT_EQ(rsv->edt_RsvHostRsv->text(), "10.200.3.77");
    EXPECT_EQ(rsv->edt_RsvHost->text(), QString::fromStdString(own + ".idlix.test"));
    EXPECT_EQ(Status(), "Status: Local host lookup complete");
}

TEST_F(ResolveNet, CancelWithNothingPendingChangesNothing)
{
    Resolve("host");
    ASSERT_TRUE(WaitDone());
    rsv->btn_RsvNo->Click();
    EXPECT_EQ(rsv->edt_RsvHostRsv->text(), "10.200.3.10");
    EXPECT_EQ(Status(), "Status: Lookup complete: host (10.200.3.10)");
}

// With the name server silent a lookup stays pending: Cancel ends it at once
// as "Unknown Host", in both directions, and the late answer changes nothing.
TEST_F(ResolveNet, CancelEndsAPendingLookupAtOnce)
{
    for (const char *host : {"host", "10.200.3.10"}) {
        SCOPED_TRACE(host);
        Silence();
        testutil::Ticker ticker;
        QString statusAtCancel;
        bool pendingAtCancel = false;
        QTimer::singleShot(500, rsv, [&] {
            pendingAtCancel = rsv->Run.RsvRun.Active();
            rsv->btn_RsvNo->Click();
            statusAtCancel = Status();
            Speak();
        });
        QElapsedTimer took;
        took.start();
        Resolve(host);   // a reverse lookup returns only when its answer came
        ASSERT_TRUE(testutil::waitFor([&] { return !statusAtCancel.isEmpty(); }, 5000ms));
        EXPECT_TRUE(pendingAtCancel);
        EXPECT_EQ(statusAtCancel, QString("Status: Unknown Host ") + host);
        EXPECT_FALSE(rsv->Run.ForwardPending);
        EXPECT_FALSE(rsv->Run.RsvRun.Active());
        // The answer arrives meanwhile and is dropped.
        testutil::pump(2500ms);
        EXPECT_GE(ticker.ticks, int(took.elapsed() / 100) - 3);
        EXPECT_EQ(Status(), QString("Status: Unknown Host ") + host);
        EXPECT_TRUE(rsv->edt_RsvHostRsv->text().isEmpty());
    }
}

TEST_F(ResolveNet, ForwardResultNamesTheHostAsTheFieldShowsItThen)
{
    Silence();
    Resolve("host");
    EXPECT_TRUE(rsv->Run.ForwardPending);
    rsv->edt_RsvHost->setText("edited meanwhile");
    Speak();
    ASSERT_TRUE(WaitDone());
    EXPECT_EQ(rsv->edt_RsvHostRsv->text(), "10.200.3.10");
    EXPECT_EQ(Status(), "Status: Lookup complete: edited meanwhile (10.200.3.10)");
}

TEST_F(ResolveNet, CloseDuringAPendingReverseLookupDropsItsAnswer)
{
    Silence();
    QTimer::singleShot(500, rsv, [&] {
        rsv->btn_RsvClose->Click();
        Speak();
    });
    Resolve("10.200.3.10");
    testutil::pump(500ms);
    EXPECT_TRUE(Ctl<QFrame>(f, "pnl_Resolve")->isHidden());
    EXPECT_FALSE(Ctl<QAction>(f, "Resolve1")->isChecked());
    EXPECT_TRUE(rsv->edt_RsvHost->text().isEmpty());
    EXPECT_TRUE(rsv->edt_RsvHostRsv->text().isEmpty());
    EXPECT_EQ(Status(), "Status:");
}

TEST_F(ResolveNet, EnterInEitherEditResolves)
{
    for (QLineEdit *edit : {rsv->edt_RsvHost, rsv->edt_RsvHostRsv}) {
        SCOPED_TRACE(edit->objectName().toStdString());
        rsv->edt_RsvHost->setText("10.200.3.20");
        rsv->edt_RsvHostRsv->clear();
        QTest::keyClick(edit, Qt::Key_Return);
        ASSERT_TRUE(WaitDone());
        EXPECT_EQ(rsv->edt_RsvHostRsv->text(), "quiet.idlix.test");
        // The key was taken: nothing of it reached the field.
        EXPECT_EQ(rsv->edt_RsvHost->text(), "10.200.3.20");
    }
}
