// The anti-idle echo: the lookup of the probe's host, the blocking echo, and
// the texts and statistics of its outcome.
#include "session/antiidlesession.h"

#include "net/ping.h"
#include "platform/errcodes.h"
#include "platform/icmpecho.h"
#include "platform/icmpcodec.h"

#include <exception>

namespace {

// What an echo's IP status says of its end.
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

// Bytes of an echo of 'size' data bytes on the wire: the IP (IPv4's 20 or
// IPv6's 40) and ICMP headers too.
qint64 EchoWireBytes(int size, bool ipv6)
{
    const std::size_t ip = ipv6 ? platform::icmp::kIpV6HeaderLen : platform::icmp::kMinIpHeaderLen;
    return qint64(size) + qint64(ip + platform::icmp::kHeaderLen);
}

} // namespace

void TAntiIdleSession::SendEcho(const QString &host)
{
    // A system that refuses ICMP to the program still runs it (the echo
    // handle stays closed); the user is told how to allow echoes the first
    // time one is about to go out.
    if (!Ping2->Engine().HandleOpen()) {
        const QString hint = TPing::AccessHintOnce();
        if (!hint.isEmpty())
            Message(hint);
    }
    probeSession_ = session_.Current();
    echoServerIndex_ = State.CycleMode ? State.ServerIndex : -1;
    // A dotted address completes inside this call, a name later through the
    // event loop; a lookup still pending from an earlier tick is dropped.
    Ping2->DnsLookup(host);
}

void TAntiIdleSession::Ping2DnsLookupDone(QObject *, quint16 Error)
{
    // An echo started by an earlier session is still shown when it ends,
    // but once a newer session has started it is not counted in that one:
    // its attempt was counted in the session that sent it.
    const bool counts = session_.IsLatest(probeSession_);
    try {
        if (Error != 0) {
            Status(QStringLiteral("Status: Unknown Host ") + State.LastPingHost);
            FailureLine(QStringLiteral("Unknown Host ") + State.LastPingHost);
            TProbeResult result;
            result.Host = State.LastPingHost;
            result.Kind = antiidle::TProbeKind::Echo;
            result.Outcome = TProbeOutcome::LookupFailed;
            result.Reason = QStringLiteral("Unknown Host");
            result.ServerIndex = echoServerIndex_;
            if (counts)
                RecordLookupFailure(result);
            else
                Publish(result);
            return;
        }
        Ping2->SetAddress(Ping2->DnsResult());
        // Blocks until the reply or the time-out; the two echo events fire inside.
        Ping2->Ping();
    } catch (const std::exception &e) {
        // This runs from the event loop, which no exception may cross.
        Message(QString::fromStdString(e.what()));
    }
}

void TAntiIdleSession::Ping2EchoRequest(QObject *)
{
    const QString text = QStringLiteral("Sending ") + QString::number(Ping2->Size())
        + QStringLiteral(" bytes to ") + State.LastPingHost;
    // Shown now: nothing repaints while the echo blocks.
    Status(QStringLiteral("Status: ") + text, true);
    HistoryLine(text);
}

void TAntiIdleSession::Ping2EchoReply(QObject *, int Replies)
{
    const bool counts = session_.IsLatest(probeSession_);
    TProbeResult result;
    result.Host = State.LastPingHost;
    result.Address = Ping2->Address();
    result.Kind = antiidle::TProbeKind::Echo;
    result.ServerIndex = echoServerIndex_;
    result.BytesSent = EchoWireBytes(Ping2->Size(), Ping2->Engine().Target().IsV6());
    if (Replies != 0) {
        const int ms = int(Ping2->Reply().RoundTripTime);
        const QString text = State.LastPingHost + QStringLiteral(" pinged in ") + QString::number(ms)
            + QStringLiteral(" msecs");
        Status(QStringLiteral("Status: ") + text);
        HistoryLine(text);
        result.Outcome = TProbeOutcome::Ok;
        result.Ms = ms;
        result.BytesReceived = result.BytesSent;
        if (counts)
            RecordSuccess(result);
        else
            Publish(result);
        return;
    }
    const QString text =
        QStringLiteral("Error pinging ") + State.LastPingHost + QStringLiteral(" : ") + Ping2->ErrorText();
    Status(QStringLiteral("Status: ") + text);
    FailureLine(text);
    result.Outcome = EchoOutcome(Ping2->LastError());
    result.Reason = Ping2->ErrorText();
    if (counts)
        RecordFailure(result);
    else
        Publish(result);
}
