#include "session/tcptransport.h"

#include "platform/socket.h"
#include "session/probeurl.h"
#include "session/tcpconnect.h"

#include <QTimer>

#include <algorithm>

struct TTcpTransport::TProbe {
    probe::TEvents Events;
    session::TTcpConnect *Connect = nullptr;  // children of the transport,
    QTimer *Timer = nullptr;                  // let go once the probe ends
};

namespace {

probe::TReply FailedReply(TProbeOutcome outcome, const QString &reason)
{
    probe::TReply reply;
    reply.Outcome = outcome;
    reply.Reason = reason;
    return reply;
}

} // namespace

TTcpTransport::TTcpTransport(QObject *parent) : QObject(parent)
{
    setObjectName(QStringLiteral("TcpTransport"));
}

// The connects and timers are children: they go with the transport, their
// lookups cancelled and sockets closed, and nobody is told.
TTcpTransport::~TTcpTransport() = default;

void TTcpTransport::Send(const probe::TRequest &request, probe::TEvents events)
{
    session::TProbeUrl url;
    QString why;
    if (!session::ParseProbeUrl(request.Target, &url, &why) || url.Kind != session::TProbeKind::Tcp) {
        events.Done(FailedReply(TProbeOutcome::Failed, why.isEmpty() ? QStringLiteral("not a tcp:// URL") : why));
        return;
    }
    const int timeoutMs = request.TimeoutMs > 0 ? request.TimeoutMs : DefaultTimeoutMs;
    auto owned = std::make_unique<TProbe>();
    TProbe *flight = owned.get();
    flight->Events = std::move(events);
    flight->Connect = new session::TTcpConnect(this);
    flight->Connect->OnConnecting = [flight](const QString &address) {
        if (flight->Events.Sending)
            flight->Events.Sending(address);
    };
    flight->Connect->OnDone = [this, flight](session::TConnected &done) {
        probe::TReply reply = FailedReply(done.Outcome, done.Reason);
        reply.Address = done.Address;
        reply.Timings.ResolveUs = done.ResolveUs;
        reply.Timings.ConnectUs = done.ConnectUs;
        if (done.Outcome == TProbeOutcome::Ok) {
            reply.Us = done.ConnectUs;
            reply.Ms = probe::WholeMs(done.ConnectUs);
            // The handshake was the probe: the connection goes at once.
            platform::SockClose(done.Socket);
        }
        // This runs inside the connect's own step.
        flight->Connect->deleteLater();
        flight->Connect = nullptr;
        Finish(flight, reply);
    };
    flight->Timer = new QTimer(this);
    flight->Timer->setSingleShot(true);
    // A coarse timer may end the wait 5 % early, before the time the probe promises.
    flight->Timer->setTimerType(Qt::PreciseTimer);
    connect(flight->Timer, &QTimer::timeout, this, [this, flight, timeoutMs] {
        probe::TReply reply =
            FailedReply(TProbeOutcome::Timeout, QStringLiteral("no answer within %1 ms").arg(timeoutMs));
        reply.Address = flight->Connect->Progress().Address;
        reply.Timings.ResolveUs = flight->Connect->Progress().ResolveUs;
        delete flight->Connect;   // cancels the lookup, closes the socket
        flight->Connect = nullptr;
        Finish(flight, reply);
    });
    probes_.push_back(std::move(owned));
    flight->Timer->start(timeoutMs);
    flight->Connect->Start(url.Host, url.Port);
}

void TTcpTransport::Cancel()
{
    while (!probes_.empty()) {
        TProbe *flight = probes_.front().get();
        delete flight->Connect;
        flight->Connect = nullptr;
        probe::TReply reply;
        reply.Cancelled = true;
        Finish(flight, reply);
    }
}

void TTcpTransport::Finish(TProbe *flight, probe::TReply reply)
{
    const auto it = std::find_if(probes_.begin(), probes_.end(), [flight](const auto &p) { return p.get() == flight; });
    if (it == probes_.end())
        return;
    std::unique_ptr<TProbe> done = std::move(*it);
    probes_.erase(it);
    done->Timer->stop();
    done->Timer->deleteLater();
    const probe::TEvents events = std::move(done->Events);
    done.reset();
    events.Done(reply);
}
