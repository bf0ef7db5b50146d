// Waiting for real probes: one probe through a transport, or the opening
// probe of a session on one host, each bounded in time; and one probe run to
// its end counting its Done calls (a transport must call it exactly once per
// Send).
#pragma once

#include "recorder.h"

#include "config/options.h"
#include "probe/transport.h"
#include "../support/testutil.h"

#include <QElapsedTimer>
#include <QStringList>
#include <gtest/gtest.h>

#include <chrono>
#include <memory>

namespace sessiontest {

// Sends one probe and waits for its end; false when Done did not come
// within 'limit'. Done told twice is a failure of the test. 'sentTo' gets
// the address Sending named.
inline bool SendAndWait(probe::ITransport &transport, const probe::TRequest &request, probe::TReply *reply,
                        QString *sentTo = nullptr, std::chrono::milliseconds limit = std::chrono::seconds(15))
{
    bool done = false;
    probe::TEvents events;
    events.Sending = [sentTo](const QString &address) {
        if (sentTo)
            *sentTo = address;
    };
    events.Done = [&done, reply](const probe::TReply &r) {
        EXPECT_FALSE(done) << "Done told twice";
        *reply = r;
        done = true;
    };
    transport.Send(request, std::move(events));
    return testutil::waitFor([&] { return done; }, limit);
}

// A session on one host with its own data folder, run until its opening
// probe has a result.
class TOpeningProbe {
public:
    TOpeningProbe(const QString &host, int method)
    {
        options_.AntiIdle.Frequency = QStringLiteral("1");
        options_.AntiIdle.Method = method;
        options_.AntiIdle.Host = host;
        Engine = std::make_unique<TAntiIdleSession>(options_);
        Engine->AddObserver(&Rec);
    }
    ~TOpeningProbe()
    {
        Engine->RemoveObserver(&Rec);
        Engine->Stop();
    }
    // Starts the session; false when it did not start or no result came.
    bool Run()
    {
        return Engine->Start()
            && testutil::waitFor([this] { return !Rec.results.empty(); }, std::chrono::seconds(15));
    }
    // The result's history line was told, and is the status line's last text.
    ::testing::AssertionResult Told(const QString &text) const
    {
        if (!Rec.events.contains(QStringLiteral("line ") + text))
            return ::testing::AssertionFailure() << "no line " << text.toStdString() << " in\n"
                                                 << Rec.events.join('\n').toStdString();
        if (Rec.statuses.last() != QStringLiteral("Status: ") + text)
            return ::testing::AssertionFailure() << "the status says " << Rec.statuses.last().toStdString();
        return ::testing::AssertionSuccess();
    }

    TRecorder Rec;
    std::unique_ptr<TAntiIdleSession> Engine;

private:
    testutil::ScratchDir dir_;
    config::TOptions options_;
};

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
