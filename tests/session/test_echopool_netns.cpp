// Echoes side by side over the test network: every way one ends, all of them
// sent at once so that a host that never answers holds up none of the
// others, a cut-short probe that tells nothing more when its worker's echo
// times out later, and a transport that goes with probes out. Root only.
#include "session/echopooltransport.h"
#include "../support/netfixture.h"
#include "../support/testutil.h"

#include <QElapsedTimer>
#include <gtest/gtest.h>

#include <chrono>
#include <map>

using namespace std::chrono_literals;

namespace {

class EchoPool : public testnet::NetTest {
protected:
    // Sends one probe; its ends are counted in 'ends' and the last kept.
    struct TOut {
        int Ends = 0;
        probe::TReply Reply;
        QString SentTo;
        qint64 EndedMs = -1;    // on 'clock'
    };
    void Send(TEchoPoolTransport &transport, const QString &target, int timeoutMs, TOut *out)
    {
        probe::TRequest request;
        request.Target = target;
        request.TimeoutMs = timeoutMs;
        probe::TEvents events;
        events.Sending = [out](const QString &address) { out->SentTo = address; };
        events.Done = [this, out](const probe::TReply &reply) {
            ++out->Ends;
            out->Reply = reply;
            out->EndedMs = clock.elapsed();
        };
        transport.Send(request, std::move(events));
    }
    QElapsedTimer clock;
};

} // namespace

TEST_F(EchoPool, AllAtOnceEachEndsAsItsHostAnswersAndASilentOneHoldsUpNoOther)
{
    if (!Ready())
        return;
    const struct {
        const char *target;
        TProbeOutcome outcome;
        const char *reason;
        const char *address;     // told by Sending ("" none)
        qint64 withinMs;         // ends within this of the start
    } cases[] = {
        {"10.200.3.20", TProbeOutcome::Timeout, "Request timed out", "10.200.3.20", 1'900},
        {"10.200.3.10", TProbeOutcome::Ok, "", "10.200.3.10", 500},
        {"host.idlix.test", TProbeOutcome::Ok, "", "10.200.3.10", 500},
        {"fd00:200:3::10", TProbeOutcome::Ok, "", "fd00:200:3::10", 500},
        {"10.200.9.9", TProbeOutcome::Unreachable, "Destination network unreachable", "10.200.9.9", 500},
        {"nosuch.idlix.test", TProbeOutcome::LookupFailed, "Unknown Host", "", 500},
    };
    TEchoPoolTransport transport;
    clock.start();
    std::map<std::string, TOut> outs;
    for (const auto &c : cases)
        Send(transport, c.target, 1'500, &outs[c.target]);
    ASSERT_TRUE(testutil::waitFor([&] { return transport.Running() == 0; }, 10s));
    for (const auto &c : cases) {
        SCOPED_TRACE(c.target);
        const TOut &out = outs[c.target];
        EXPECT_EQ(out.Ends, 1);
        EXPECT_EQ(out.Reply.Outcome, c.outcome) << OutcomeName(out.Reply.Outcome).toStdString();
        EXPECT_EQ(out.Reply.Reason, c.reason);
        EXPECT_EQ(out.SentTo, c.address);
        EXPECT_LT(out.EndedMs, c.withinMs);
        if (c.outcome == TProbeOutcome::Ok) {
            EXPECT_GE(out.Reply.Ms, 0);
            EXPECT_EQ(out.Reply.Us, out.Reply.Ms * 1000LL);
            EXPECT_EQ(out.Reply.Address, c.address);
            EXPECT_EQ(out.Reply.BytesReceived, out.Reply.BytesSent);
        }
    }
    // The silent host's echo waited out its time-out, not less.
    EXPECT_GE(outs["10.200.3.20"].EndedMs, 1'450);
    // 56 data bytes, ICMP and IP headers: 84 over IPv4, 104 over IPv6.
    EXPECT_EQ(outs["10.200.3.10"].Reply.BytesSent, 84);
    EXPECT_EQ(outs["fd00:200:3::10"].Reply.BytesSent, 104);
}

TEST_F(EchoPool, ACutShortProbeTellsOnceAndTheTransportGoesWithProbesOut)
{
    if (!Ready())
        return;
    clock.start();
    TOut quiet, name;
    {
        TEchoPoolTransport transport;
        Send(transport, testnet::kQuiet, 800, &quiet);
        Send(transport, "host.idlix.test", 800, &name);   // may still be looking its name up
        EXPECT_EQ(transport.Running(), 2);
        transport.Cancel();
        EXPECT_EQ(transport.Running(), 0);
        EXPECT_EQ(quiet.Ends, 1);
        EXPECT_TRUE(quiet.Reply.Cancelled);
        EXPECT_EQ(name.Ends, 1);
        EXPECT_TRUE(name.Reply.Cancelled);
        // The worker's echo times out after the cancel: nothing more is told.
        testutil::pump(1200ms);
        EXPECT_EQ(quiet.Ends, 1);
        EXPECT_EQ(name.Ends, 1);

        // Gone with a probe out: its end reaches nobody.
        Send(transport, testnet::kQuiet, 800, &quiet);
    }
    testutil::pump(1200ms);
    EXPECT_EQ(quiet.Ends, 1);
}
