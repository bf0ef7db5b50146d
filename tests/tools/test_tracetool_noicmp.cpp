// The traceroute tool in a process without ICMP. A test binary of its own:
// the forked child must not inherit worker threads that no longer exist in
// it (lookups of earlier tests would leave a pool of them behind).
#include "tracetest.h"
#include "../support/ctl.h"

using namespace std::chrono_literals;
using tracetest::Lines;

// Without ICMP each trace says why and ends; the hint on allowing ICMP comes
// once, after the trace has reported, never a box at start-up.
TEST(TraceToolWithoutIcmp, EachTraceErrsAndTheHintComesOnce)
{
    if (!testutil::isRoot())
        GTEST_SKIP() << "needs root to make a namespace and drop a capability";
    const int failed = testutil::withoutIcmpAccess([] {
        tracetest::Window w;
        if (!w.messages.isEmpty())
            return 20;
        TMainForm &f = *w.form;
        Ctl<TPictureButton>(f, "btn_Trace")->Click();
        tracetest::Watch watch(f, *w.trc);
        for (int i = 0; i < 2; ++i) {
            watch.seen.clear();
            w.trc->edt_TrcHost->setText("127.0.0.1");
            w.trc->btn_TrcYes->Click();
            if (Lines(w.trc->re_Trace)
                != QStringList{"Error -2147483392: ICMP disabled: this system lets Idlix open no ICMP socket "
                               "(allow it with net.ipv4.ping_group_range or cap_net_raw)"})
                return 21;
            if (watch.seen != QStringList({"error [0/100] Status: Routing halted - Error.",
                                           "finished [0/100] Status: Routing halted - Error."}))
                return 22;
            if (!w.trc->edt_TrcHost->isEnabled() || w.trc->MSTrace1->Busy())
                return 23;
            testutil::pump(100ms);
            if (w.messages.size() != 1 || !w.messages[0].contains("ping_group_range"))
                return 24;
        }
        return 0;
    });
    EXPECT_EQ(failed, 0) << "step that failed: " << failed;
}
