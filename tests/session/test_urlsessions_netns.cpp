// Sessions whose host is a dns:// or echo://...?count= URL go through the
// engine's own transports for those kinds, on the test network: the kind,
// the outcome, the details and the texts of their result. Root only.
#include "probewait.h"

#include "config/options.h"
#include "../support/netfixture.h"

#include <gtest/gtest.h>

namespace {

class UrlSession : public testnet::NetTest {};

} // namespace

TEST_F(UrlSession, DnsAndBurstEntriesGoThroughTheirOwnTransports)
{
    if (!Ready())
        return;
    const QString dns = QStringLiteral("dns://%1/").arg(testnet::kDns);
    const struct {
        QString host;
        session::TProbeKind kind;
        TProbeOutcome outcome;
        int rcode;             // -1: none
        const char *told;      // the start of the result's history line
    } cases[] = {
        {dns + "host.idlix.test", session::TProbeKind::Dns, TProbeOutcome::Ok, 0, "DNS answer for host.idlix.test"},
        {dns + "nothing.idlix.test?type=A", session::TProbeKind::Dns, TProbeOutcome::DnsError, 3,
         "DNS query for nothing.idlix.test"},
        {QStringLiteral("echo://%1?count=3").arg(testnet::kHost), session::TProbeKind::Burst, TProbeOutcome::Ok, -1,
         testnet::kHost},
        {QStringLiteral("echo://%1?count=2").arg(testnet::kQuiet), session::TProbeKind::Burst,
         TProbeOutcome::Timeout, -1, "Error pinging"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.host.toStdString());
        sessiontest::TOpeningProbe session(c.host, config::TAntiIdleOptions::IcmpPings);
        ASSERT_TRUE(session.Run());
        const TProbeResult &r = session.Rec.results.front();
        EXPECT_EQ(r.Kind, c.kind);
        EXPECT_EQ(OutcomeName(r.Outcome), OutcomeName(c.outcome));
        EXPECT_EQ(r.Details.DnsRcode, c.rcode);
        if (c.kind == session::TProbeKind::Burst) {
            EXPECT_DOUBLE_EQ(r.Details.LossPercent, c.outcome == TProbeOutcome::Ok ? 0.0 : 100.0);
        }
        const QString line = session.Rec.events.filter(QStringLiteral("line ")).last();
        EXPECT_TRUE(line.startsWith(QStringLiteral("line ") + QLatin1String(c.told))) << line.toStdString();
        EXPECT_EQ(session.Engine->Stats().Successes(), c.outcome == TProbeOutcome::Ok ? 1 : 0);
    }
}
