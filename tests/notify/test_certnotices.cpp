// Notices of certificates about to expire: which probes give one (two weeks
// or less left, or expired; once a day for each target), their wording, and
// one shown by a notification server played by python3-dbusmock.
#include "notify/certnotices.h"

#include "config/options.h"
#include "notify/linenotices.h"
#include "../support/notifyserver.h"
#include "../support/testutil.h"

#include <gtest/gtest.h>

using namespace std::chrono_literals;

namespace {

const QDateTime kStart = QDateTime(QDate(2026, 3, 1), QTime(12, 0), Qt::UTC);

TProbeResult Probe(const QString &target, double hoursIn, double expiresInDays)
{
    TProbeResult r;
    r.Host = target;
    r.Kind = session::TProbeKind::Https;
    r.Outcome = TProbeOutcome::Ok;
    r.At.WallUtc = kStart.addSecs(qint64(hoursIn * 3600));
    r.Details.CertExpiry = kStart.toSecsSinceEpoch() + qint64(expiresInDays * 86400);
    return r;
}

} // namespace

TEST(CertNotices, ToldOnceADayForEachTargetWithinTwoWeeks)
{
    struct Step {
        const char *target;
        double hour;         // since the start
        double expiresDays;  // from the start
        const char *summary; // nullptr: nothing told
    } steps[] = {
        {"https://far.test/", 0, 40, nullptr},
        {"https://far.test/", 1, 14.1, nullptr},
        {"https://edge.test/", 2, 14 + 2.0 / 24, nullptr},   // 14 days left exactly
        {"https://edge.test/", 3, 14 + 2.0 / 24, "Certificate expires in 13 days"},
        {"https://a.test/", 0, 10.5, "Certificate expires in 10 days"},
        {"https://a.test/", 1, 10.5, nullptr},      // told an hour ago
        {"https://b.test/", 1, 3, "Certificate expires in 2 days"},   // another target: its own day
        {"https://a.test/", 23.9, 10.5, nullptr},
        {"https://a.test/", 24, 10.5, "Certificate expires in 9 days"},
        {"https://a.test/", 30, 10.5, nullptr},
        {"https://b.test/", 25, 3, "Certificate expires in 1 day"},
        {"https://c.test/", 26, 1.1, "Certificate expires today"},
        {"https://d.test/", 26, 1, "Certificate has expired"},
        {"https://e.test/", 26, -3, "Certificate has expired"},
        // A certificate renewed in time is not mentioned again.
        {"https://a.test/", 48, 400, nullptr},
        {"https://a.test/", 72, 400, nullptr},
    };
    TCertNotices notices;
    QStringList told;
    notices.OnMessage = [&](const QString &summary, const QString &body) { told << summary + " | " + body; };
    for (const Step &s : steps) {
        told.clear();
        notices.ProbeResult(Probe(QString::fromLatin1(s.target), s.hour, s.expiresDays));
        if (!s.summary) {
            EXPECT_TRUE(told.isEmpty()) << s.target << " at hour " << s.hour << ": " << told.join(';').toStdString();
            continue;
        }
        ASSERT_EQ(told.size(), 1) << s.target << " at hour " << s.hour;
        EXPECT_TRUE(told[0].startsWith(QLatin1String(s.summary) + " | The certificate of " + s.target + " expire"))
            << told[0].toStdString();
    }
    // A probe that saw no certificate says nothing.
    TProbeResult plain = Probe(QStringLiteral("https://f.test/"), 0, 1);
    plain.Details.CertExpiry = -1;
    told.clear();
    notices.ProbeResult(plain);
    EXPECT_TRUE(told.isEmpty());
}

TEST(CertNotices, ShownByTheNotificationServer)
{
    const QString skip = testsupport::MockBus::SkipReason();
    if (!skip.isEmpty())
        GTEST_SKIP() << skip.toStdString();
    testsupport::NotifyServer server;
    ASSERT_TRUE(server.Start());
    config::TOptions options;
    options.Notify.Enabled = false;   // the line's notices off: this one is told all the same
    TLineNotices line(options);
    TCertNotices certs;
    certs.OnMessage = [&line](const QString &summary, const QString &body) { line.Tell(summary, body); };
    certs.ProbeResult(Probe(QStringLiteral("https://web.idlix.test/"), 0, 5.5));
    certs.ProbeResult(Probe(QStringLiteral("https://web.idlix.test/"), 2, 5.5));
    ASSERT_TRUE(testutil::waitFor([&] { return !server.Notices().empty(); }, 10s));
    testutil::pump(300ms);
    const auto seen = server.Notices();
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].Summary, QStringLiteral("Certificate expires in 5 days"));
    EXPECT_TRUE(seen[0].Body.startsWith(QStringLiteral("The certificate of https://web.idlix.test/ expires on ")))
        << seen[0].Body.toStdString();
    EXPECT_TRUE(seen[0].Body.contains(QStringLiteral("2026"))) << seen[0].Body.toStdString();
    EXPECT_EQ(seen[0].Hints.value("category").toString(), "network");
    EXPECT_EQ(seen[0].AppName, "Idlix");
}
