// A transport sends one kind of probe (an echo, an HTTP GET, ...) and tells
// how it ended. The session engine chooses the host and the kind, writes the
// texts and keeps the statistics; the transport only sends and measures.
// The program's transports use real sockets; tests hand the engine a
// scripted one.
#pragma once

#include "probe/outcome.h"

#include <QString>
#include <QtGlobal>

#include <functional>

namespace probe {

// One probe to send.
struct TRequest {
    QString Target;        // the host, address or URL as the entry names it
    int Size = 0;          // echo data bytes (0: the kind's own)
    int TimeoutMs = 0;     // longest wait for the answer (0: the kind's own)
    qint64 BodyLimit = 0;  // most bytes of a document kept (0: the kind's own)
};

// Where the time of a probe went, in microseconds; -1 for a phase the kind
// does not have or the probe did not reach.
struct TTimings {
    qint64 ResolveUs = -1;     // the name lookup
    qint64 ConnectUs = -1;     // the TCP handshake
    qint64 TlsUs = -1;         // the TLS handshake
    qint64 FirstByteUs = -1;   // from the request sent to the first byte of the answer
    qint64 TransferUs = -1;    // from the first byte to the last
};

// What kinds with more to tell record: -1 / empty where the kind has none.
struct TDetails {
    int HttpStatus = -1;
    QString TlsVersion;
    qint64 CertExpiry = -1;    // Unix time the earliest certificate of the chain expires
    int DnsRcode = -1;
    double LossPercent = -1;   // a burst's lost share
    qint64 JitterUs = -1;      // a burst's mean deviation between round trips
};

// How one probe ended.
struct TReply {
    TProbeOutcome Outcome = TProbeOutcome::Failed;
    // The round trip (echo) or the whole transfer, in microseconds; -1 when
    // nothing came back. Ms is the same in the whole milliseconds the
    // designed texts show.
    qint64 Us = -1;
    int Ms = -1;
    QString Address;       // the address probed, when the name resolved
    QString Reason;        // a failure's text as the history shows it
    qint64 BytesSent = 0;  // on the wire: headers included
    qint64 BytesReceived = 0;
    qint64 BodyBytes = 0;  // a document's bytes as received
    // The probe was cut short because the program or the session ends: it
    // is neither a success nor a failure, and nothing is recorded.
    bool Cancelled = false;
    TTimings Timings;
    TDetails Details;

    bool Success() const { return Outcome == TProbeOutcome::Ok; }
};

// The end of a probe cut short (see Cancelled).
inline TReply CancelledReply()
{
    TReply reply;
    reply.Cancelled = true;
    return reply;
}

// What a transport tells while a probe runs. Sending and Progress may be
// left unset; Done must be set.
struct TEvents {
    // The probe goes out now, to 'address' (after its lookup): the time the
    // probe takes counts from here.
    std::function<void(const QString &address)> Sending;
    // A step of a long probe worth showing at once ("Resolving ...").
    std::function<void(const QString &text)> Progress;
    // Something the user must be told once (how to allow echoes).
    std::function<void(const QString &text)> Message;
    // The end: called exactly once per Send, from inside Send or later from
    // the event loop.
    std::function<void(const TReply &reply)> Done;
};

class ITransport {
public:
    virtual ~ITransport() = default;
    // Sends one probe; a probe of the same transport still out is dropped
    // unless the kind says otherwise (Busy).
    virtual void Send(const TRequest &request, TEvents events) = 0;
    // A probe still out keeps the next from going (a transfer in progress).
    virtual bool Busy() const { return false; }
    // Probes may be out side by side, each on its own socket. False: one at
    // a time, and a Send while one is out ends that one (as Cancelled).
    virtual bool Parallel() const { return false; }
    // Stops a probe still out; its Done tells Cancelled.
    virtual void Cancel() {}
};

// The whole milliseconds of a time in microseconds, as the designed texts
// show it: rounded down, as the millisecond clocks did.
inline int WholeMs(qint64 us) { return us < 0 ? -1 : int(us / 1000); }

} // namespace probe
