// The probes of a session: the kind each tick sends, the request handed to
// that kind's transport, and the texts and statistics of how it ended. Every
// probe is a flight record from the moment it goes: its result is told and
// counted as that probe's (its host, its report row, its session), whatever
// the session did while it was out.
#include "session/antiidlesession.h"

#include "config/options.h"
#include "dialer/dialup.h"
#include "session/httptransport.h"
#include "session/webclient.h"
#include "session/webtransfer.h"

#include <QTimer>

namespace {

using config::TAntiIdleOptions;

} // namespace

int TAntiIdleSession::HttpWatchdogLimit(bool probe) const
{
    return http_->Web().HttpWatchdogLimit(probe ? Timer3->interval() : 0);
}

probe::ITransport &TAntiIdleSession::Transport(session::TProbeKind kind) const
{
    return kind == session::TProbeKind::Echo ? *echoTransport_ : *httpTransport_;
}

void TAntiIdleSession::SendOpeningEcho(const QString &host)
{
    Status(QStringLiteral("Status: Pinging ") + host, true);
    HistoryLine(QStringLiteral("Pinging ") + host);
    // The first probe is always an echo of the size already set, and it
    // leaves the alternation where it was.
    TFlight flight;
    flight.Host = host;
    flight.Kind = session::TProbeKind::Echo;
    flight.Size = State.EchoSize;
    const TProbeSent sent{host, flight.Kind, flight.Size, -1, true, Now()};
    Notify([&](TSessionObserver *o) { o->ProbeSent(sent); });
    stats_.CountAttempt();
    Dispatch(flight);
}

void TAntiIdleSession::SendProbe()
{
    if (Paused())
        return;
    const TAntiIdleOptions &options = options_.AntiIdle;
    stats_.CountAttempt();
    State.AlternateToggle = !State.AlternateToggle;
    // A simulated dial-up line counts its idle time from the last probe.
    dialer::DialNoteTraffic();
    TFlight flight;
    flight.Host = State.CurrentHost;
    flight.ServerIndex = State.CycleMode ? State.ServerIndex : -1;
    flight.Row = ReportRow();
    flight.Kind = session::ChooseProbe(options.Method, State.AlternateToggle);
    switch (flight.Kind) {
    case session::TProbeKind::Echo:
        State.EchoSize = options.Checked(TAntiIdleOptions::VaryPacketSize) ? session::RandomEchoSize()
                                                                          : session::MinEchoSize;
        flight.Size = State.EchoSize;
        break;
    case session::TProbeKind::HttpGet:
        break;
    default:
        return;
    }
    const TProbeSent sent{flight.Host, flight.Kind, flight.Size, flight.ServerIndex, false, Now()};
    Notify([&](TSessionObserver *o) { o->ProbeSent(sent); });
    Dispatch(flight);
}

void TAntiIdleSession::Dispatch(const TFlight &sending)
{
    const bool http = sending.Kind == session::TProbeKind::HttpGet;
    probe::ITransport &transport = Transport(sending.Kind);
    // A transfer runs its own loop, in which the next tick can come: the
    // probe waits for the next tick rather than for the transfer.
    if (transport.Busy()) {
        HistoryLine((http ? QStringLiteral("HTTP GET to ") : QStringLiteral("Echo to ")) + sending.Host
                    + (http ? QStringLiteral(" skipped: the previous transfer still runs")
                            : QStringLiteral(" skipped: the previous echo still runs")));
        return;
    }
    TFlight flight = sending;
    flight.Session = session_.Current();

    probe::TRequest request;
    request.Target = flight.Host;
    request.Size = flight.Size;
    if (http) {
        // The transfer ends well before the next tick is due.
        request.TimeoutMs = session::ProbeTransferLimit(Timer3->interval());
        request.BodyLimit = session::ProbeBodyLimit;
        Status(QStringLiteral("Status: Contacting ") + flight.Host + QStringLiteral("..."));
    }
    probe::TEvents events;
    events.Sending = [this, flight](const QString &) { ProbeSending(flight); };
    events.Progress = [this](const QString &text) {
        if (!closing_)
            Status(text, true);
    };
    events.Message = [this](const QString &text) {
        if (!closing_)
            Message(text);
    };
    events.Done = [this, flight](const probe::TReply &reply) { ProbeDone(flight, reply); };
    transport.Send(request, std::move(events));
}

void TAntiIdleSession::ProbeSending(const TFlight &flight)
{
    if (closing_)
        return;
    if (flight.Kind == session::TProbeKind::Echo) {
        const QString text = QStringLiteral("Sending ") + QString::number(flight.Size)
            + QStringLiteral(" bytes to ") + flight.Host;
        // Shown now: nothing repaints while the echo blocks.
        Status(QStringLiteral("Status: ") + text, true);
        HistoryLine(text);
        return;
    }
    Status(QStringLiteral("Status: Connecting to ") + flight.Host);
    HistoryLine(QStringLiteral("Connecting to ") + flight.Host);
}

void TAntiIdleSession::ProbeDone(const TFlight &flight, const probe::TReply &reply)
{
    // Cut short because the program or the session ends, or superseded by a
    // newer probe of the same transport: nothing to tell.
    if (closing_ || reply.Cancelled)
        return;
    // A result that comes back once a newer session has started is still
    // shown, but not counted in that one: its attempt counted in the
    // session that sent it.
    const bool counts = session_.IsLatest(flight.Session);
    const bool echo = flight.Kind == session::TProbeKind::Echo;
    TProbeResult result;
    result.Host = flight.Host;
    result.Address = reply.Address;
    result.Kind = flight.Kind;
    result.ServerIndex = flight.ServerIndex;
    result.Row = flight.Row;
    result.BytesSent = reply.BytesSent;
    result.BytesReceived = reply.BytesReceived;
    result.Timings = reply.Timings;
    result.Details = reply.Details;
    result.Outcome = reply.Outcome;

    if (reply.Success()) {
        result.Ms = reply.Ms;
        result.Us = reply.Us;
        const QString text = echo
            ? flight.Host + QStringLiteral(" pinged in ") + QString::number(reply.Ms) + QStringLiteral(" msecs")
            : QStringLiteral("Received %1 bytes from ").arg(reply.BodyBytes) + flight.Host
                + QStringLiteral(" in %1ms").arg(reply.Ms);
        Status(QStringLiteral("Status: ") + text);
        HistoryLine(text);
        if (counts)
            RecordSuccess(result);
        else
            Publish(result);
        return;
    }

    result.Reason = reply.Reason;
    // An echo whose name did not resolve was never sent, and counts once
    // per tick; a transfer's failed lookup is a failed transfer.
    const bool lookup = echo && reply.Outcome == TProbeOutcome::LookupFailed;
    if (lookup) {
        Status(QStringLiteral("Status: Unknown Host ") + flight.Host);
        FailureLine(QStringLiteral("Unknown Host ") + flight.Host);
    } else {
        const QString text = echo
            ? QStringLiteral("Error pinging ") + flight.Host + QStringLiteral(" : ") + reply.Reason
            : QStringLiteral("Transfer from ") + flight.Host + QStringLiteral(" failed. ") + reply.Reason;
        Status(QStringLiteral("Status: ") + text);
        FailureLine(text);
    }
    if (!counts)
        Publish(result);
    else if (lookup)
        RecordLookupFailure(result);
    else
        RecordFailure(result);
}
