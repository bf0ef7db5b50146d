#include "session/bursttransport.h"

#include "net/ping.h"
#include "platform/errcodes.h"
#include "session/echotransport.h"
#include "session/probechoice.h"

#include "session/probeurl.h"

#include <cstdlib>
#include <exception>
#include <utility>

namespace session {

std::optional<TBurstTarget> ParseBurstUrl(const QString &url, QString *error)
{
    TProbeUrl parsed;
    if (!ParseProbeUrl(url, &parsed, error))
        return std::nullopt;
    if (parsed.Kind != TProbeKind::Echo && parsed.Kind != TProbeKind::Burst) {
        if (error)
            *error = QStringLiteral("not an echo:// probe: %1").arg(url);
        return std::nullopt;
    }
    TBurstTarget target;
    target.Host = parsed.Host;
    if (parsed.Count > 0)
        target.Count = parsed.Count;
    return target;
}

TBurstFigures BurstFigures(const std::vector<qint64> &roundTripsUs)
{
    TBurstFigures f;
    if (roundTripsUs.empty())
        return f;
    qint64 sum = 0, deviations = 0, previous = -1;
    int pairs = 0;
    for (const qint64 us : roundTripsUs) {
        if (us < 0)
            continue;
        ++f.Answered;
        sum += us;
        if (previous >= 0) {
            deviations += std::llabs(us - previous);
            ++pairs;
        }
        previous = us;
    }
    const int lost = int(roundTripsUs.size()) - f.Answered;
    f.LossPercent = 100.0 * lost / double(roundTripsUs.size());
    if (f.Answered > 0)
        f.MeanUs = sum / f.Answered;
    if (pairs > 0)
        f.JitterUs = deviations / pairs;
    return f;
}

} // namespace session

TBurstTransport::TBurstTransport()
    : ping_(MakePing(QStringLiteral("BurstPing"), kEchoWaitMs, session::MinEchoSize))
{
    ping_->OnDnsLookupDone = [this](QObject *, quint16 error) { LookupDone(error); };
    ping_->OnEchoRequest = [this](QObject *) { EchoRequest(); };
    ping_->OnEchoReply = [this](QObject *, int replies) { EchoReply(replies); };
    spacing_.setSingleShot(true);
    spacing_.setTimerType(Qt::PreciseTimer);
    QObject::connect(&spacing_, &QTimer::timeout, ping_.get(), [this] { NextEcho(); });
}

TBurstTransport::~TBurstTransport() = default;

void TBurstTransport::SetState(TState state)
{
    state_ = state;
}

void TBurstTransport::Send(const probe::TRequest &request, probe::TEvents events)
{
    // Told before this burst is taken on: the message may run a loop in
    // which the next tick sends.
    if (!ping_->Engine().HandleOpen() && events.Message) {
        const QString hint = TPing::AccessHintOnce();
        if (!hint.isEmpty())
            events.Message(hint);
    }
    if (state_ != TState::Idle)
        Finish(probe::CancelledReply());
    ++generation_;
    events_ = std::move(events);
    QString error;
    const auto target = session::ParseBurstUrl(request.Target, &error);
    if (!target) {
        probe::TReply reply;
        reply.Outcome = TProbeOutcome::Failed;
        reply.Reason = error;
        Finish(reply);
        return;
    }
    target_ = *target;
    ping_->SetSize(request.Size > 0 ? request.Size : session::MinEchoSize);
    echoWaitMs_ = request.TimeoutMs > 0 ? qMin(request.TimeoutMs, int(kEchoWaitMs)) : kEchoWaitMs;
    ping_->SetTimeout(echoWaitMs_);
    roundTrips_.clear();
    lastStatus_ = 0;
    lastError_.clear();
    toldSending_ = false;
    SetState(TState::LookingUp);
    ping_->DnsLookup(target_.Host);
}

void TBurstTransport::Cancel()
{
    if (state_ == TState::Idle)
        return;
    if (ping_->LookupPending())
        ping_->CancelDnsLookup();   // LookupDone(10004) ends the burst
    if (state_ != TState::Idle)
        Finish(probe::CancelledReply());
}

void TBurstTransport::LookupDone(quint16 error)
{
    if (state_ != TState::LookingUp)
        return;
    if (const auto end = EchoLookupEnd(error)) {
        Finish(*end);
        return;
    }
    ping_->SetAddress(ping_->DnsResult());
    SetState(TState::Echoing);
    started_.start();
    NextEcho();
}

void TBurstTransport::NextEcho()
{
    if (state_ != TState::Echoing)
        return;
    const quint64 generation = generation_;
    const std::size_t before = roundTrips_.size();
    try {
        // Blocks until the answer or echoWaitMs_; the two echo events fire inside.
        ping_->Ping();
    } catch (const std::exception &e) {
        // From the event loop, which no exception may cross. The user is
        // told what failed; the burst ends uncounted.
        const probe::TEvents events = events_;
        Finish(probe::CancelledReply());
        if (events.Message)
            events.Message(QString::fromStdString(e.what()));
        return;
    }
    if (generation != generation_ || state_ != TState::Echoing)
        return;   // a handler ended this burst
    if (roundTrips_.size() == before) {
        // An echo that never went (no address to send to) tells no reply
        // event; it still counts as one of the burst, or the burst would
        // never end.
        roundTrips_.push_back(-1);
        lastStatus_ = ping_->LastError();
        lastError_ = ping_->ErrorText();
    }
    if (int(roundTrips_.size()) >= target_.Count || ping_->LastError() == platform::kErrAccess) {
        Conclude();
        return;
    }
    // Each echo starts kSpacingMs after the one before started; one that
    // waited longer than that is followed at once.
    const qint64 due = qint64(roundTrips_.size()) * kSpacingMs;
    spacing_.start(int(qMax<qint64>(0, due - started_.elapsed())));
}

void TBurstTransport::EchoRequest()
{
    if (state_ != TState::Echoing || toldSending_)
        return;
    toldSending_ = true;
    if (events_.Sending)
        events_.Sending(ping_->Address());
}

void TBurstTransport::EchoReply(int replies)
{
    if (state_ != TState::Echoing)
        return;
    if (replies != 0) {
        const qint64 us = ping_->ReplyUs();
        roundTrips_.push_back(us >= 0 ? us : qint64(ping_->Reply().RoundTripTime) * 1000);
    } else {
        roundTrips_.push_back(-1);
        lastStatus_ = ping_->LastError();
        lastError_ = ping_->ErrorText();
    }
}

void TBurstTransport::Conclude()
{
    const session::TBurstFigures f = session::BurstFigures(roundTrips_);
    probe::TReply reply;
    reply.Address = ping_->Address();
    const qint64 echoBytes = EchoWireBytes(ping_->Size(), ping_->Engine().Target().IsV6());
    reply.BytesSent = echoBytes * qint64(roundTrips_.size());
    reply.BytesReceived = echoBytes * f.Answered;
    reply.Details.LossPercent = f.LossPercent;
    reply.Details.JitterUs = f.JitterUs;
    if (f.Answered > 0) {
        reply.Outcome = TProbeOutcome::Ok;
        reply.Us = f.MeanUs;
        reply.Ms = probe::WholeMs(f.MeanUs);
    } else {
        // Nothing came back: the last echo's error tells why.
        reply.Outcome = EchoOutcome(lastStatus_);
        reply.Reason = lastError_;
    }
    Finish(reply);
}

void TBurstTransport::Finish(probe::TReply reply)
{
    spacing_.stop();
    SetState(TState::Idle);
    probe::TEvents events = std::move(events_);
    events_ = {};
    if (events.Done)
        events.Done(reply);
}
