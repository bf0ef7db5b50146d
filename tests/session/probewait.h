// Runs one probe of a transport to its end through the event loop, counting
// the Done calls (a transport must call it exactly once per Send).
#pragma once

#include "probe/transport.h"
#include "../support/testutil.h"

#include <QElapsedTimer>
#include <QStringList>

#include <chrono>

namespace sessiontest {

struct TRun {
    probe::TReply Reply;
    int Dones = 0;
    QStringList Sent;      // the addresses Sending told
    qint64 ElapsedMs = 0;  // from Send to Done
};

inline TRun RunProbe(probe::ITransport &transport, const QString &target, int timeoutMs = 0,
                     std::chrono::milliseconds wait = std::chrono::seconds(15))
{
    TRun run;
    QElapsedTimer clock;
    clock.start();
    probe::TEvents events;
    events.Sending = [&run](const QString &address) { run.Sent << address; };
    events.Done = [&run, &clock](const probe::TReply &reply) {
        run.Reply = reply;
        if (++run.Dones == 1)
            run.ElapsedMs = clock.elapsed();
    };
    probe::TRequest request;
    request.Target = target;
    request.TimeoutMs = timeoutMs;
    transport.Send(request, events);
    testutil::waitFor([&run] { return run.Dones > 0; }, wait);
    // A second Done would come from the event loop soon after the first.
    testutil::pump(std::chrono::milliseconds(50));
    return run;
}

} // namespace sessiontest
