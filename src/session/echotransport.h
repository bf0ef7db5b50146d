// The session's echoes as a transport: a name lookup, then one blocking ICMP
// echo through the session's echo component (Ping2), told as a probe reply.
#pragma once

#include "net/pingowner.h"
#include "probe/transport.h"

#include <optional>

// What an echo's IP status (Ping2's LastError) says of its end.
TProbeOutcome EchoOutcome(int status);
// How a probe ends whose lookup of its host ended with 'error' (Ping2's
// OnDnsLookupDone): nullopt when the host was found and the echo may go.
std::optional<probe::TReply> EchoLookupEnd(quint16 error);
// Bytes of an echo of 'size' data bytes on the wire: the IP (IPv4's 20 or
// IPv6's 40) and ICMP headers too.
qint64 EchoWireBytes(int size, bool ipv6);

class TEchoTransport final : public probe::ITransport {
public:
    // Ping2 with the session's settings: Timeout 5000 ms, TTL 64, Size 56.
    TEchoTransport();
    // Ping2 goes with its events unbound: a lookup still pending tells no one.
    ~TEchoTransport() override;

    // Looks the target up and sends one echo of request.Size data bytes
    // (0: the size last used) within request.TimeoutMs (0: Ping2's own). A
    // dotted address completes inside this call, a name later through the
    // event loop. A lookup still pending from an earlier Send ends first, as
    // Cancelled: the newer probe supersedes it.
    void Send(const probe::TRequest &request, probe::TEvents events) override;
    // Ends a lookup still pending, as Cancelled. The echo itself blocks, so
    // there is nothing else to stop.
    void Cancel() override;

    // The component, for what its properties say (its time-out, its lookup).
    TPing &Ping2() { return *ping_; }

private:
    void LookupDone(quint16 error);
    void EchoRequest();
    void EchoReply(int replies);
    // Ends the probe in flight with 'reply' (Done is called once, after the
    // transport is ready for the next Send).
    void Finish(probe::TReply reply);

    TPingOwner ping_;
    probe::TEvents events_;           // of the probe in flight
    bool inFlight_ = false;
};
