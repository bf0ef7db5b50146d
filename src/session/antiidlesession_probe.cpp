// The probes of a session: the kind each tick sends, the request handed to
// that kind's transport, and the texts and statistics of how it ended. Every
// probe is a flight record from the moment it goes: its result is told and
// counted as that probe's (its host, its report row, its session), whatever
// the session did while it was out.
#include "session/antiidlesession.h"

#include "config/options.h"
#include "dialer/dialup.h"
#include "session/echopooltransport.h"
#include "session/echotransport.h"
#include "session/httptransport.h"
#include "session/probetexts.h"
#include "session/webclient.h"
#include "session/webtransfer.h"

#include <QTimer>

#include <algorithm>

namespace {

using config::TAntiIdleOptions;

} // namespace

int TAntiIdleSession::HttpWatchdogLimit(bool probe) const
{
    return http_->Web().HttpWatchdogLimit(probe ? ProbeIntervalNowMs() : 0);
}

probe::ITransport *TAntiIdleSession::Transport(session::TProbeKind kind) const
{
    const int at = int(kind);
    if (at <= 0 || at >= KindCount)
        return nullptr;
    if (plan_.Active() && kind == session::TProbeKind::Echo && transports_[at] == echo_.get())
        return echoPool_.get();
    return transports_[at];
}

namespace {

// What the kind's texts name the flight's target by.
session::TProbeName NameOf(const QString &entry, const session::TProbeUrl &url, session::TProbeKind kind)
{
    return {kind, entry, url};
}

// What the transport of a kind is handed: the designed probes take the host
// text as they always did, echo://HOST its host, the other kinds their URL.
QString TargetOf(const QString &entry, const session::TProbeUrl &url, session::TProbeKind kind)
{
    if (url.Kind == session::TProbeKind::None)
        return entry;
    return kind == session::TProbeKind::Echo ? url.Host : entry.trimmed();
}

} // namespace

void TAntiIdleSession::SendOpening(const QString &host)
{
    session::TProbeUrl url;
    session::ParseProbeUrl(host, &url, nullptr);   // checked by the start
    if (url.Kind == session::TProbeKind::None) {
        SendOpeningEcho(host);
        return;
    }
    // An entry that names its kind opens with that kind; an echo:// one says
    // so as the designed opening echo does.
    TFlight flight;
    flight.Host = host;
    flight.Url = url;
    flight.Kind = url.Kind;
    if (url.Kind == session::TProbeKind::Echo)
        flight.Size = State.EchoSize;
    if (session::EchoLike(url.Kind)) {
        const QString shown = session::ShownName(NameOf(host, url, url.Kind));
        Status(QStringLiteral("Status: Pinging ") + shown, true);
        HistoryLine(QStringLiteral("Pinging ") + shown);
    }
    const TProbeSent sent{host, flight.Kind, flight.Size, -1, true, Now()};
    Notify([&](TSessionObserver *o) { o->ProbeSent(sent); });
    stats_.CountAttempt();
    Dispatch(flight);
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
    // An entry that names its kind by URL is probed so whatever the method;
    // a plain one gets the method's probe.
    QString malformed;
    const bool named = session::ParseProbeUrl(flight.Host, &flight.Url, &malformed);
    const session::TProbeKind method = session::ChooseProbe(options.Method, State.AlternateToggle);
    flight.Kind = flight.Url.Kind != session::TProbeKind::None ? flight.Url.Kind : method;
    if (flight.Kind == session::TProbeKind::None)
        return;
    if (flight.Kind == session::TProbeKind::Echo) {
        State.EchoSize = options.Checked(TAntiIdleOptions::VaryPacketSize) ? session::RandomEchoSize()
                                                                          : session::MinEchoSize;
        flight.Size = State.EchoSize;
    }
    const TProbeSent sent{flight.Host, flight.Kind, flight.Size, flight.ServerIndex, false, Now()};
    Notify([&](TSessionObserver *o) { o->ProbeSent(sent); });
    if (!named) {
        MalformedEntry(flight, malformed);
        return;
    }
    Dispatch(flight);
}

void TAntiIdleSession::MalformedEntry(const TFlight &flight, const QString &reason)
{
    const QString text = session::MalformedText(flight.Host, reason);
    Status(QStringLiteral("Status: ") + text);
    FailureLine(text);
    TProbeResult result;
    result.Host = flight.Host;
    result.Kind = flight.Kind;
    result.ServerIndex = flight.ServerIndex;
    result.Row = flight.Row;
    result.Outcome = TProbeOutcome::Failed;
    result.Reason = reason;
    RecordFailure(result);
}

void TAntiIdleSession::Dispatch(const TFlight &sending)
{
    const session::TProbeKind kind = sending.Kind;
    const bool http = kind == session::TProbeKind::HttpGet || kind == session::TProbeKind::Https;
    probe::ITransport *transport = Transport(kind);
    if (!transport) {
        MalformedEntry(sending, KindName(kind) + QStringLiteral(" probes are not available in this build"));
        return;
    }
    // Every target each interval: a busy transport keeps the probe waiting
    // for its turn rather than losing it.
    if (plan_.Active()) {
        Queue(sending);
        return;
    }
    // A transfer runs its own loop, in which the next tick can come: the
    // probe waits for the next tick rather than for the transfer.
    if (transport->Busy()) {
        const bool echo = kind == session::TProbeKind::Echo;
        HistoryLine((http ? QStringLiteral("HTTP GET to ") : echo ? QStringLiteral("Echo to ") : QStringLiteral("Probe of "))
                    + sending.Host
                    + (http   ? QStringLiteral(" skipped: the previous transfer still runs")
                       : echo ? QStringLiteral(" skipped: the previous echo still runs")
                              : QStringLiteral(" skipped: the previous one still runs")));
        return;
    }
    TFlight flight = sending;
    flight.Session = session_.Current();
    Launch(flight, transport);
}

void TAntiIdleSession::Launch(TFlight flight, probe::ITransport *transport)
{
    const session::TProbeKind kind = flight.Kind;
    const bool http = kind == session::TProbeKind::HttpGet || kind == session::TProbeKind::Https;
    probe::TRequest request;
    request.Target = TargetOf(flight.Host, flight.Url, kind);
    request.Size = flight.Size;
    if (http) {
        // The transfer ends well before the next tick is due.
        request.TimeoutMs = session::ProbeTransferLimit(ProbeIntervalNowMs());
        request.BodyLimit = session::ProbeBodyLimit;
        Status(QStringLiteral("Status: Contacting ") + session::ShownName(NameOf(flight.Host, flight.Url, kind))
               + QStringLiteral("..."));
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
    events.Done = [this, flight](const probe::TReply &reply) {
        int &out = out_[int(flight.Kind)];
        out = std::max(out - 1, 0);
        if (plan_.Active() && session_.IsLatest(flight.Session))
            rowsOut_.erase(flight.Row);
        ProbeDone(flight, reply);
        // The kind's transport is free: the next probe waiting for it goes,
        // unless this one was cut short because the program ends.
        if (!closing_ && !reply.Cancelled)
            Drain(flight.Kind);
    };
    ++out_[int(kind)];
    transport->Send(request, std::move(events));
}

void TAntiIdleSession::ProbeSending(const TFlight &flight)
{
    if (closing_)
        return;
    const QString text = session::SendingText(NameOf(flight.Host, flight.Url, flight.Kind), flight.Size);
    // Shown now: nothing repaints while an echo blocks.
    Status(QStringLiteral("Status: ") + text, flight.Kind == session::TProbeKind::Echo);
    HistoryLine(text);
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
    const session::TProbeName name = NameOf(flight.Host, flight.Url, flight.Kind);
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
        const QString text = session::SuccessText(name, reply.Ms, reply.BodyBytes);
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
    const bool lookup = session::EchoLike(flight.Kind) && reply.Outcome == TProbeOutcome::LookupFailed;
    const QString text = lookup ? session::LookupFailureText(name) : session::FailureText(name, reply.Reason);
    Status(QStringLiteral("Status: ") + text);
    FailureLine(text);
    if (!counts)
        Publish(result);
    else if (lookup)
        RecordLookupFailure(result);
    else
        RecordFailure(result);
}
