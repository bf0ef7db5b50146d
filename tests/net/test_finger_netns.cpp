// The finger client against Debian's in.fingerd (run per connection by
// socat) on the test host, over the test network's routers and name server:
// a local user's entry, the user list, an unknown user, a host without a
// finger server, unknown names, and a connect to an address nobody answers
// that is timed out or cancelled. Root only; skipped with the reason otherwise.
#include "net/finger.h"

#include "../support/netfixture.h"

#include <QElapsedTimer>
#include <QTimer>

namespace {

class FingerNet : public testnet::NetTest {
protected:
    static void SetUpTestSuite()
    {
        NetTest::SetUpTestSuite();
        if (net && net->ok())
            fingerd = net->startFingerd(testnet::Role::Host);
    }
    void SetUp() override
    {
        NetTest::SetUp();
        if (!Ready())
            return;
        ASSERT_GT(fingerd, 0) << "in.fingerd did not start on the test host";
    }
    // Runs the query; the text of the exception it raised, or empty.
    static QString run(TFinger &f, const QString &query)
    {
        f.SetQuery(query);
        try {
            f.RunQuery();
        } catch (const EFingerError &e) {
            return e.Message();
        } catch (const ESocketError &e) {
            return u"socket: "_qs + e.Message();
        }
        return {};
    }

    static inline pid_t fingerd = -1;
};

// The finger port comes from the services database here: no override.
TEST_F(FingerNet, RealServerAnswers)
{
    if (!Ready())
        return;
    struct Row {
        QString query;
        QString expectStart;  // a line that starts with this; empty: no reply at all
    };
    const Row rows[] = {
        {u"root@host.idlix.test"_qs, u"Login: root"_qs},
        {u"root@10.200.3.10"_qs, u"Login: root"_qs},
        // Over IPv6: a name with only an IPv6 record, an address with and
        // without brackets, and blanks around the host.
        {u"root@host.v6.idlix.test"_qs, u"Login: root"_qs},
        {u"root@fd00:200:3::10"_qs, u"Login: root"_qs},
        {u"root@[fd00:200:3::10]"_qs, u"Login: root"_qs},
        {u"root@ host.v6.idlix.test "_qs, u"Login: root"_qs},
        // finger writes "no such user" to its error output, which in.fingerd
        // does not pass on: the server closes without data.
        {u"nosuchuser7@host"_qs, {}},
    };
    for (const Row &r : rows) {
        TFinger f;
        EXPECT_EQ(run(f, r.query), QString()) << r.query.toStdString();
        EXPECT_EQ(f.QueryError(), QString()) << r.query.toStdString();
        bool found = r.expectStart.isEmpty() && f.ReplyLines().isEmpty();
        for (const QString &line : f.ReplyLines())
            found = found || (!r.expectStart.isEmpty() && line.startsWith(r.expectStart));
        EXPECT_TRUE(found) << r.query.toStdString() << ": "
                           << f.ReplyLines().join(u'|').toStdString();
        for (const QString &line : f.ReplyLines())
            EXPECT_FALSE(line.contains(u'\r') || line.contains(u'\n'));
    }

    // The user list: in.fingerd answers the empty request with the logged-in
    // users, or a line saying there are none.
    TFinger f;
    EXPECT_EQ(run(f, u"@host.idlix.test"_qs), QString());
    ASSERT_FALSE(f.ReplyLines().isEmpty());
    const QString first = f.ReplyLines().first();
    EXPECT_TRUE(first.startsWith(u"Login"_qs) || first == u"No one logged on."_qs)
        << first.toStdString();
}

TEST_F(FingerNet, StepFailuresOnTheNetwork)
{
    if (!Ready())
        return;
    const std::pair<QString, QString> rows[] = {
        {u"root@quiet.idlix.test"_qs, u"WinSock Error No. 10061"_qs},  // nothing on port 79
        {u"root@nohost.idlix.test"_qs, u"WinSock Error No. 11001"_qs}, // NXDOMAIN
        {u"root@"_qs, u"WinSock Error No. 11001"_qs},
    };
    for (const auto &[query, error] : rows) {
        TFinger f;
        EXPECT_EQ(run(f, query), QString()) << query.toStdString();
        EXPECT_EQ(f.QueryError(), error) << query.toStdString();
        EXPECT_TRUE(f.ReplyLines().isEmpty());
    }
    // ... and the same component then reaches the real server.
    TFinger f;
    run(f, u"root@quiet.idlix.test"_qs);
    EXPECT_EQ(run(f, u"root@host.idlix.test"_qs), QString());
    EXPECT_FALSE(f.ReplyLines().isEmpty());
}

// 10.200.3.99 does not exist: the connect waits on ARP for seconds, long
// enough for a short countdown to end it, or a Cancel.
TEST_F(FingerNet, ConnectToNobodyTimesOutOrIsCancelled)
{
    if (!Ready())
        return;
    {
        TFinger f;
        f.TimeOut = 3;
        f.SetTickInterval(100);
        QElapsedTimer t;
        t.start();
        EXPECT_EQ(run(f, QStringLiteral("root@") + testnet::kNoHost), u"Timed Out"_qs);
        EXPECT_LT(t.elapsed(), 2500);
    }
    {
        TFinger f;
        QTimer::singleShot(300, &f, [&] { f.CancelQuery(); });
        EXPECT_EQ(run(f, QStringLiteral("root@") + testnet::kNoHost), u"Operation Canceled."_qs);
    }
    {
        TFinger f;
        QTimer::singleShot(0, &f, [&] { f.CancelQuery(); });  // before the name server answers
        EXPECT_EQ(run(f, u"root@host.idlix.test"_qs), u"Operation canceled."_qs);
    }
}

} // namespace
