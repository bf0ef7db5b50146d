// The line's state from a run of probe results: down after N failures in a
// row, up after M successes in a row, one outage from the first failure of
// the run that reached N to the first success of the run that reached M.
#include "session/linkmonitor.h"
#include "../support/qtprint.h"

#include <gtest/gtest.h>

#include <cctype>

namespace {

// A result at second t (wall and monotonic clock alike) from 'host'.
TProbeResult At(int t, bool ok, const QString &host = "a.test",
                TProbeOutcome failure = TProbeOutcome::Timeout)
{
    TProbeResult r;
    r.Host = host;
    r.Outcome = ok ? TProbeOutcome::Ok : failure;
    r.Reason = ok ? QString() : QStringLiteral("reason %1").arg(t);
    r.At.WallUtc = QDateTime::fromSecsSinceEpoch(1700000000 + t, Qt::UTC);
    r.At.MonoNs = qint64(t) * 1000000000;
    return r;
}

} // namespace

TEST(LinkMonitor, HysteresisOverRunsOfResults)
{
    // 'S' success, 'F' failure, one result a second from t = 0. Each case
    // gives the outages it must report as (start, end, lost) in seconds;
    // end -1 for one still open at the end.
    const struct {
        const char *name;
        int down, up;
        const char *results;
        std::vector<std::tuple<int, int, int>> outages;
    } cases[] = {
        {"two failures are no outage", 3, 2, "SFFSFFS", {}},
        {"three failures make one", 3, 2, "SFFFSS", {{1, 4, 3}}},
        {"a lone success does not end it", 3, 2, "FFFSFFSS", {{0, 6, 5}}},
        {"still down at the end", 3, 2, "SFFFFS", {{1, -1, 4}}},
        {"one outage, not two", 3, 2, "FFFFFFSFFFSS", {{0, 10, 9}}},
        {"two outages", 2, 1, "FFSFFFS", {{0, 2, 2}, {3, 6, 3}}},
        {"thresholds of one", 1, 1, "FSF", {{0, 1, 1}, {2, -1, 1}}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        TLinkMonitor link(c.down, c.up);
        std::vector<TOutage> downs, ups;
        link.OnDown = [&](const TOutage &o) { downs.push_back(o); };
        link.OnUp = [&](const TOutage &o) { ups.push_back(o); };
        const std::string results = c.results;
        for (size_t t = 0; t < results.size(); ++t)
            link.Feed(At(int(t), results[t] == 'S'));

        std::vector<std::tuple<int, int, int>> seen;
        for (const TOutage &o : ups)
            seen.emplace_back(int(o.Start.MonoNs / 1000000000), int(o.End.MonoNs / 1000000000), o.ProbesLost);
        if (link.Current())
            seen.emplace_back(int(link.Current()->Start.MonoNs / 1000000000), -1, link.Current()->ProbesLost);
        EXPECT_EQ(seen, c.outages);
        // One notice when it went down, one when it came back: never per probe.
        EXPECT_EQ(downs.size(), c.outages.size());
        EXPECT_EQ(link.Link() == TLinkMonitor::TLink::Down, link.Current().has_value());
    }
}

TEST(LinkMonitor, TheOutageKeepsItsFirstReasonItsHostsAndItsCause)
{
    TLinkMonitor link(2, 2);
    std::optional<TOutage> up;
    link.OnUp = [&](const TOutage &o) { up = o; };
    link.SetCause("the modem hung up");     // told before the probes notice
    link.Feed(At(0, true, "a.test"));
    link.Feed(At(1, false, "b.test", TProbeOutcome::LookupFailed));
    link.Feed(At(2, false, "c.test"));
    ASSERT_TRUE(link.Current());
    EXPECT_EQ(link.Current()->Cause, "the modem hung up");
    link.Feed(At(3, false, "b.test"));
    link.Feed(At(4, true, "a.test"));
    link.Feed(At(5, true, "d.test"));
    ASSERT_TRUE(up);
    EXPECT_EQ(up->FirstOutcome, TProbeOutcome::LookupFailed);
    EXPECT_EQ(up->FirstReason, "reason 1");
    EXPECT_EQ(up->HostsTried, (QStringList{"b.test", "c.test", "a.test", "d.test"}));
    EXPECT_EQ(up->ProbesLost, 3);
    EXPECT_EQ(up->DurationMs(), 3000);
    EXPECT_EQ(up->Cause, "the modem hung up");
    EXPECT_EQ(link.Link(), TLinkMonitor::TLink::Up);

    // A cause told during an outage belongs to it; a later one waits.
    link.Feed(At(6, false));
    link.Feed(At(7, false));
    link.SetCause("authentication failed");
    EXPECT_EQ(link.Current()->Cause, "authentication failed");
}

TEST(LinkMonitor, ACauseTheProbesDoNotBearOutIsDropped)
{
    // The dial-up service tells a cause while the line is up; then these
    // results (down after 2 failures, up after 2 successes), then two
    // failures bring the line down. The outage has the cause only when no
    // run of UpAfter successes came between.
    const struct {
        const char *name;
        const char *between;
        bool kept;
    } cases[] = {
        {"the probes fail at once", "", true},
        {"one success still out when the line went", "S", true},
        {"two successes: redialled, or another line", "SS", false},
        {"a failure breaks the run of successes", "SFS", true},
        {"many successes", "SSSSS", false},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        TLinkMonitor link(2, 2);
        link.Feed(At(0, true));
        link.SetCause("the modem hung up");
        const std::string between = c.between;
        int t = 1;
        for (char r : between)
            link.Feed(At(t++, r == 'S'));
        link.Feed(At(t++, false));
        link.Feed(At(t++, false));
        ASSERT_TRUE(link.Current());
        EXPECT_EQ(link.Current()->Cause, c.kept ? QStringLiteral("the modem hung up") : QString());
    }
}

TEST(LinkMonitor, StoppingEndsAnOpenOutageWithoutSayingTheLineIsBack)
{
    TLinkMonitor link(2, 2);
    int ups = 0;
    link.OnUp = [&](const TOutage &) { ++ups; };
    link.Feed(At(0, false));
    link.Feed(At(1, false));
    // A refused echo tells nothing of the line.
    link.Feed(At(2, false, "a.test", TProbeOutcome::NotPermitted));
    EXPECT_EQ(link.Current()->ProbesLost, 2);
    TStamp at;
    at.WallUtc = QDateTime::fromSecsSinceEpoch(1700000009, Qt::UTC);
    at.MonoNs = 9000000000;
    const std::optional<TOutage> open = link.Stop(at);
    ASSERT_TRUE(open);
    EXPECT_EQ(open->DurationMs(), 9000);
    EXPECT_EQ(ups, 0);
    EXPECT_EQ(link.Link(), TLinkMonitor::TLink::Unknown);
    EXPECT_FALSE(link.Stop(at).has_value());
    // Runs start again from nothing: one failure is not yet an outage.
    link.Feed(At(10, false));
    EXPECT_FALSE(link.Current());
    link.SetThresholds(0, 0);   // below one means one
    EXPECT_EQ(link.DownAfter(), 1);
    EXPECT_EQ(link.UpAfter(), 1);
}

TEST(LinkMonitor, EveryChangeOfStateIsToldOnceBeforeItsOutage)
{
    // 'S' success, 'F' failure, 'N' a refused echo, '.' watching stops. The
    // states told, in order: u up, d down, ? unknown.
    const struct {
        const char *name;
        int down, up;
        const char *results;
        const char *states;
    } cases[] = {
        {"the first success says up", 3, 2, "SSS", "u"},
        {"failures short of an outage say nothing", 3, 2, "FFSFF", "u"},
        {"down, then up after two", 2, 2, "SFFSSS", "udu"},
        {"down before any success", 2, 1, "FFS", "du"},
        {"a refused echo says nothing", 1, 1, "NNS", "u"},
        {"stopping while up", 3, 2, "S.", "u?"},
        {"stopping while down", 1, 1, "F.", "d?"},
        {"stopping unseen says nothing", 3, 2, "F.S", "u"},
        {"a new run after stopping", 1, 1, "S.F", "u?d"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        TLinkMonitor link(c.down, c.up);
        std::string told;
        link.OnState = [&](TLinkMonitor::TLink state) {
            // The outage is already (or no longer) there when the state is told.
            EXPECT_EQ(state == TLinkMonitor::TLink::Down, link.Current().has_value());
            EXPECT_EQ(link.Link(), state);
            told += state == TLinkMonitor::TLink::Up ? 'u' : state == TLinkMonitor::TLink::Down ? 'd' : '?';
        };
        link.OnDown = [&](const TOutage &) { told += 'D'; };
        link.OnUp = [&](const TOutage &) { told += 'U'; };
        const std::string steps = c.results;
        for (size_t t = 0; t < steps.size(); ++t) {
            if (steps[t] == '.')
                link.Stop(At(int(t), true).At);
            else
                link.Feed(At(int(t), steps[t] == 'S', "a.test",
                             steps[t] == 'N' ? TProbeOutcome::NotPermitted : TProbeOutcome::Timeout));
        }
        // The outage notices follow their state: "dD", "uU".
        std::string states;
        for (size_t i = 0; i < told.size(); ++i) {
            if (told[i] == 'D' || told[i] == 'U') {
                ASSERT_GT(i, 0u);
                EXPECT_EQ(std::tolower(told[i]), told[i - 1]) << told;
                continue;
            }
            states += told[i];
        }
        EXPECT_EQ(states, c.states) << told;
    }
}

TEST(LinkMonitor, AHeldRunWaitsForTheOwnersWord)
{
    // 'S' success, 'F' failure, 'C' the owner confirms, 'D' dismisses, 'V'
    // a verdict arrives; thresholds 2 and 1. What is seen: 'p' held, 'd'
    // down, 'u' up; and the outage told down as (start, lost, verdict).
    const struct {
        const char *name;
        const char *steps;
        const char *seen;
        std::vector<std::tuple<int, int, QString>> downs;
    } cases[] = {
        {"held, then confirmed with its verdict", "SFFVC", "pd", {{1, 2, "gateway"}}},
        {"failures while held count on it", "FFFFC", "pd", {{0, 4, ""}}},
        {"dismissed: counting starts again", "FFDFFC", "ppd", {{3, 2, ""}}},
        {"dismissed, then a lone failure is nothing", "FFDFC", "p", {}},
        {"an answer while held ends it unconfirmed", "FFSCFC", "p", {}},
        {"confirming nothing held does nothing", "CSFC", "", {}},
        {"confirmed, then up as usual", "FFCS", "pdu", {{0, 2, ""}}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        TLinkMonitor link(2, 1);
        link.SetHoldDown(true);
        std::string seen;
        std::vector<std::tuple<int, int, QString>> downs;
        link.OnPending = [&](const TOutage &) { seen += 'p'; };
        link.OnDown = [&](const TOutage &o) {
            seen += 'd';
            downs.emplace_back(int(o.Start.MonoNs / 1000000000), o.ProbesLost, o.Verdict);
        };
        link.OnUp = [&](const TOutage &) { seen += 'u'; };
        const std::string steps = c.steps;
        for (size_t t = 0; t < steps.size(); ++t) {
            switch (steps[t]) {
            case 'S': link.Feed(At(int(t), true)); break;
            case 'F': link.Feed(At(int(t), false)); break;
            case 'C': link.ConfirmDown(); break;
            case 'D': link.Dismiss(); break;
            case 'V': link.SetDiagnosis("gateway", "The router does not answer."); break;
            }
        }
        EXPECT_EQ(seen, c.seen);
        EXPECT_EQ(downs, c.downs);
        EXPECT_EQ(link.Link() == TLinkMonitor::TLink::Down, c.seen == std::string("pd") || c.seen == std::string("ppd"));
    }
}
