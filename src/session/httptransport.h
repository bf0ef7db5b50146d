// The session's HTTP GET as a transport: one document of the target into the
// probe file, under a watchdog, timed by HTTPTimer, the millisecond stopwatch.
// The web client is shared with the server list download.
#pragma once

#include "probe/transport.h"

#include <QObject>

class TSuperTimer;
class TWebClient;

class THttpTransport final : public QObject, public probe::ITransport {
public:
    explicit THttpTransport(QObject *parent = nullptr);

    // GET of request.Target into the probe file in the data folder, keeping
    // at most request.BodyLimit bytes (0: the probe's limit), ended by the
    // watchdog after request.TimeoutMs (0: the transfer default; the web
    // client's HttpWatchdogMs overrides both). Blocks with the event loop
    // kept going; Done is told before it returns. Call only when !Busy().
    void Send(const probe::TRequest &request, probe::TEvents events) override;
    // A transfer runs (a probe or the server list download).
    bool Busy() const override;
    // Ends a transfer under way at once; a probe's Done tells Cancelled.
    void Cancel() override;

    TWebClient &Web() { return *web_; }
    const TWebClient &Web() const { return *web_; }
    // HTTPTimer: 1 ms ticks, counted while a probe's transfer runs.
    TSuperTimer &Stopwatch() { return *timer_; }
    // The stopwatch's count (ms) of the current or last probe.
    int Elapsed() const { return elapsed_; }

private:
    TWebClient *web_ = nullptr;
    TSuperTimer *timer_ = nullptr;
    int elapsed_ = 0;
};
