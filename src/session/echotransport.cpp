#include "session/echotransport.h"

#include "net/ping.h"
#include "platform/errcodes.h"
#include "platform/icmpcodec.h"
#include "platform/icmpecho.h"
#include "session/probechoice.h"

#include <exception>
#include <utility>

TProbeOutcome EchoOutcome(int status)
{
    switch (status) {
    case platform::kIpReqTimedOut:
        return TProbeOutcome::Timeout;
    case platform::kIpDestNetUnreachable:
    case platform::kIpDestHostUnreachable:
    case platform::kIpDestProtUnreachable:
    case platform::kIpDestPortUnreachable:
        return TProbeOutcome::Unreachable;
    case platform::kIpTtlExpiredTransit:
    case platform::kIpTtlExpiredReassem:
        return TProbeOutcome::TimeExceeded;
    case platform::kErrAccess:
        return TProbeOutcome::NotPermitted;
    default:
        return TProbeOutcome::Failed;
    }
}

std::optional<probe::TReply> EchoLookupEnd(quint16 error)
{
    // The code ~TPing and CancelDnsLookup end a pending lookup with.
    constexpr quint16 lookupCancelled = 10004;
    if (error == 0)
        return std::nullopt;
    if (error == lookupCancelled)
        return probe::CancelledReply();
    probe::TReply reply;
    reply.Outcome = TProbeOutcome::LookupFailed;
    reply.Reason = QStringLiteral("Unknown Host");
    return reply;
}

qint64 EchoWireBytes(int size, bool ipv6)
{
    const std::size_t ip = ipv6 ? platform::icmp::kIpV6HeaderLen : platform::icmp::kMinIpHeaderLen;
    return qint64(size) + qint64(ip + platform::icmp::kHeaderLen);
}

TEchoTransport::TEchoTransport()
    : ping_(MakePing(QStringLiteral("Ping2"), 5000, session::MinEchoSize))
{
    ping_->OnDnsLookupDone = [this](QObject *, quint16 error) { LookupDone(error); };
    ping_->OnEchoRequest = [this](QObject *) { EchoRequest(); };
    ping_->OnEchoReply = [this](QObject *, int replies) { EchoReply(replies); };
}

TEchoTransport::~TEchoTransport() = default;

void TEchoTransport::Send(const probe::TRequest &request, probe::TEvents events)
{
    // A system that refuses ICMP to the program still runs it (the echo
    // handle stays closed); the user is told how to allow echoes the first
    // time one is about to go out. Told before this probe is taken on: the
    // message may run a loop in which the next tick sends.
    if (!ping_->Engine().HandleOpen() && events.Message) {
        const QString hint = TPing::AccessHintOnce();
        if (!hint.isEmpty())
            events.Message(hint);
    }
    if (inFlight_)
        Finish(probe::CancelledReply());
    if (request.Size > 0)
        ping_->SetSize(request.Size);
    if (request.TimeoutMs > 0)
        ping_->SetTimeout(request.TimeoutMs);
    events_ = std::move(events);
    inFlight_ = true;
    // A lookup still pending was ended above; TPing drops it silently.
    ping_->DnsLookup(request.Target);
}

void TEchoTransport::Cancel()
{
    if (!inFlight_)
        return;
    if (ping_->LookupPending())
        ping_->CancelDnsLookup();   // LookupDone(10004) ends the probe
    if (inFlight_)
        Finish(probe::CancelledReply());
}

void TEchoTransport::LookupDone(quint16 error)
{
    if (!inFlight_)
        return;
    if (const auto end = EchoLookupEnd(error)) {
        Finish(*end);
        return;
    }
    try {
        ping_->SetAddress(ping_->DnsResult());
        // Blocks until the reply or the time-out; the two echo events fire inside.
        ping_->Ping();
    } catch (const std::exception &e) {
        // This runs from the event loop, which no exception may cross. The
        // user is told what failed; no echo went, so nothing is counted.
        const probe::TEvents events = events_;
        if (inFlight_)
            Finish(probe::CancelledReply());
        if (events.Message)
            events.Message(QString::fromStdString(e.what()));
    }
}

void TEchoTransport::EchoRequest()
{
    if (inFlight_ && events_.Sending)
        events_.Sending(ping_->Address());
}

void TEchoTransport::EchoReply(int replies)
{
    if (!inFlight_)
        return;
    probe::TReply reply;
    reply.Address = ping_->Address();
    reply.BytesSent = EchoWireBytes(ping_->Size(), ping_->Engine().Target().IsV6());
    if (replies != 0) {
        // Whole milliseconds for the designed texts; microseconds, from the
        // kernel's receive stamp, for the history and the metrics.
        reply.Outcome = TProbeOutcome::Ok;
        reply.Ms = int(ping_->Reply().RoundTripTime);
        reply.Us = ping_->ReplyUs() >= 0 ? ping_->ReplyUs() : qint64(reply.Ms) * 1000;
        reply.BytesReceived = reply.BytesSent;
    } else {
        reply.Outcome = EchoOutcome(ping_->LastError());
        reply.Reason = ping_->ErrorText();
    }
    Finish(reply);
}

void TEchoTransport::Finish(probe::TReply reply)
{
    probe::TEvents events = std::move(events_);
    events_ = {};
    inFlight_ = false;
    if (events.Done)
        events.Done(reply);
}
