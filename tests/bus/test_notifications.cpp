// The notification client against python3-dbusmock's notification server on
// a private session bus: the Notify arguments as the server receives them,
// by the capabilities it offers, texts cut to their bounds, and the actions
// of our own notices only. (Replacing, and no server or a stuck one, are
// tested through the line's notices in tests/notify.)
#include "bus/notifications.h"

#include "../support/notifyserver.h"
#include "../support/testutil.h"

#include <gtest/gtest.h>

#include <optional>

using namespace std::chrono_literals;
using bus::TNotice;
using bus::TNotificationClient;
using testsupport::NotifyServer;

namespace {

class Notifications : public ::testing::Test {
protected:
    void SetUp() override
    {
        const QString skip = testsupport::MockBus::SkipReason();
        if (!skip.isEmpty())
            GTEST_SKIP() << skip.toStdString();
    }

    // Shows the notice and waits for the server's answer.
    static std::optional<uint> ShowAndWait(TNotificationClient &client, const TNotice &n)
    {
        std::optional<uint> id;
        client.Show(n, [&](uint got) { id = got; });
        testutil::waitFor([&] { return id.has_value(); }, 10s);
        return id;
    }

    static TNotice Sample()
    {
        TNotice n;
        n.Summary = QStringLiteral("Connection lost");
        n.Body = QStringLiteral("Error <b>404</b> & more");
        n.Category = QStringLiteral("network.disconnected");
        n.Icon = QStringLiteral("idlix");
        n.DesktopEntry = QStringLiteral("com.brisvane.Idlix");
        n.Actions = {{QStringLiteral("default"), QStringLiteral("Show History")}};
        return n;
    }
};

struct CapsCase {
    const char *capabilities;
    QString body;            // as the server receives it
    QStringList actions;
};

} // namespace

TEST_F(Notifications, ArgumentsFollowWhatTheServerOffers)
{
    const CapsCase cases[] = {
        // Markup servers get the text escaped, so it shows as it was written.
        {"body body-markup actions", "Error &lt;b&gt;404&lt;/b&gt; &amp; more", {"default", "Show History"}},
        // A plain server gets it unchanged, and no actions it cannot show.
        {"body", "Error <b>404</b> & more", {}},
    };
    for (const CapsCase &c : cases) {
        SCOPED_TRACE(c.capabilities);
        NotifyServer server;
        ASSERT_TRUE(server.Start(QLatin1String(c.capabilities)));
        TNotificationClient client(QStringLiteral("Idlix"));
        const std::optional<uint> id = ShowAndWait(client, Sample());
        ASSERT_TRUE(id.has_value());
        EXPECT_NE(*id, 0u);
        const auto seen = server.Notices();
        ASSERT_EQ(seen.size(), 1u);
        EXPECT_EQ(seen[0].AppName, "Idlix");
        EXPECT_EQ(seen[0].ReplacesId, 0u);
        EXPECT_EQ(seen[0].Icon, "idlix");
        EXPECT_EQ(seen[0].Summary, "Connection lost");
        EXPECT_EQ(seen[0].Body, c.body);
        EXPECT_EQ(seen[0].Actions, c.actions);
        EXPECT_EQ(seen[0].Hints.value("category").toString(), "network.disconnected");
        EXPECT_EQ(seen[0].Hints.value("desktop-entry").toString(), "com.brisvane.Idlix");
    }
}

TEST_F(Notifications, LongTextsAreCut)
{
    NotifyServer server;
    ASSERT_TRUE(server.Start(QStringLiteral("body")));
    TNotificationClient client(QStringLiteral("Idlix"));
    TNotice n = Sample();
    n.Summary = QString(5000, QLatin1Char('s'));
    n.Body = QString(50000, QLatin1Char('b'));
    ASSERT_TRUE(ShowAndWait(client, n).has_value());
    const auto seen = server.Notices();
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].Summary.size(), TNotificationClient::kSummaryMax);
    EXPECT_EQ(seen[0].Body.size(), TNotificationClient::kBodyMax);
}

TEST_F(Notifications, OnlyOurNoticesActionsAreTold)
{
    NotifyServer server;
    ASSERT_TRUE(server.Start());
    TNotificationClient client(QStringLiteral("Idlix"));
    QStringList told;
    client.OnAction = [&](uint id, const QString &action) { told << QStringLiteral("%1 %2").arg(id).arg(action); };
    const std::optional<uint> id = ShowAndWait(client, Sample());
    ASSERT_TRUE(id && *id != 0);
    server.Click(*id + 100, QStringLiteral("default"));   // another program's notice
    server.Click(*id, QStringLiteral("default"));
    ASSERT_TRUE(testutil::waitFor([&] { return !told.isEmpty(); }, 5s));
    testutil::pump(200ms);
    EXPECT_EQ(told, QStringList{QStringLiteral("%1 default").arg(*id)});
}
