#include "session/echopooltransport.h"

#include "net/dns.h"
#include "net/icmp.h"
#include "net/msicmp.h"
#include "net/pingowner.h"
#include "platform/hosttext.h"
#include "session/echotransport.h"
#include "session/probechoice.h"

#include <algorithm>
#include <utility>

struct TEchoPoolTransport::TProbe {
    TPingOwner Ping;                        // its name lookup
    probe::TEvents Events;
    int Size = session::MinEchoSize;
    int TimeoutMs = DefaultTimeoutMs;
    platform::IpAddress Address;
    std::shared_ptr<TPingThread> Worker;    // once the echo is out
};

TEchoPoolTransport::TEchoPoolTransport(QObject *parent) : QObject(parent) {}

TEchoPoolTransport::~TEchoPoolTransport()
{
    for (const auto &p : probes_) {
        if (p->Worker)
            p->Worker->Detach();
    }
    probes_.clear();
    retired_.clear();
}

void TEchoPoolTransport::Send(const probe::TRequest &request, probe::TEvents events)
{
    auto owned = std::make_unique<TProbe>();
    TProbe *p = owned.get();
    p->Events = std::move(events);
    if (request.Size > 0)
        p->Size = request.Size;
    if (request.TimeoutMs > 0)
        p->TimeoutMs = request.TimeoutMs;
    p->Ping = MakePing(QStringLiteral("PoolPing"), p->TimeoutMs, p->Size);
    p->Ping->OnDnsLookupDone = [this, p](QObject *, quint16 error) { LookupDone(p, error); };
    probes_.push_back(std::move(owned));
    // An address completes inside the call, a name later from the event loop.
    p->Ping->DnsLookup(request.Target);
}

void TEchoPoolTransport::Cancel()
{
    while (!probes_.empty()) {
        probe::TReply reply;
        reply.Cancelled = true;
        Finish(probes_.front().get(), reply);
    }
}

void TEchoPoolTransport::LookupDone(TProbe *p, quint16 error)
{
    if (const auto end = EchoLookupEnd(error)) {
        // A cancelled lookup is Cancel's or Finish's own doing: the probe
        // has ended already (Finish finds it no more).
        Finish(p, *end);
        return;
    }
    p->Address = platform::ReadHostText(p->Ping->DnsResult()).address;
    platform::IpOptionInformation options;
    options.Ttl = 64;
    p->Worker = std::make_shared<TPingThread>(p->Address, p->Size, options, p->TimeoutMs);
    if (p->Events.Sending)
        p->Events.Sending(p->Ping->DnsResult());
    // The echo waits on the worker; its end comes back through the event loop.
    const bool started = TPingThread::Start(p->Worker, this,
        [this, p](std::int32_t code, const platform::IcmpEchoReply &echo, const platform::IpAddress &) {
            probe::TReply reply;
            reply.Address = p->Ping->DnsResult();
            reply.BytesSent = EchoWireBytes(p->Size, p->Address.IsV6());
            const int status = code == 0 ? int(echo.Status) : code;
            if (code == 0 && echo.Status == 0) {
                reply.Outcome = TProbeOutcome::Ok;
                reply.Ms = int(echo.RoundTripTime);
                reply.Us = qint64(echo.RoundTripTime) * 1000;
                reply.BytesReceived = reply.BytesSent;
            } else if (code == kMsNoIcmp) {
                reply.Outcome = TProbeOutcome::NotPermitted;
                reply.Reason = TICMP::ErrorTextFor(kIcmpNotPermitted);
            } else {
                reply.Outcome = EchoOutcome(status);
                reply.Reason = TICMP::ErrorTextFor(status);
            }
            Finish(p, reply);
        });
    if (!started) {
        probe::TReply reply;
        reply.Outcome = TProbeOutcome::Failed;
        reply.Reason = QStringLiteral("no thread for the echo");
        Finish(p, reply);
    }
}

void TEchoPoolTransport::Finish(TProbe *p, probe::TReply reply)
{
    const auto it = std::find_if(probes_.begin(), probes_.end(), [p](const auto &o) { return o.get() == p; });
    if (it == probes_.end())
        return;
    // Out of the list before Done runs: Done may send the next probe.
    std::unique_ptr<TProbe> done = std::move(*it);
    probes_.erase(it);
    if (done->Worker)
        done->Worker->Detach();
    const probe::TEvents events = std::move(done->Events);
    // A lookup still pending ends now (LookupDone lets 10004 pass), so that
    // nothing reaches this probe once it is gone. The component itself goes
    // from the event loop: this may run inside its own event.
    if (done->Ping->LookupPending())
        done->Ping->CancelDnsLookup();
    retired_.push_back(std::move(done->Ping));
    if (!sweeping_) {
        sweeping_ = true;
        QMetaObject::invokeMethod(this, [this] {
            sweeping_ = false;
            retired_.clear();
        }, Qt::QueuedConnection);
    }
    if (events.Done)
        events.Done(reply);
}
