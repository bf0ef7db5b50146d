// Every target each interval: rather than one probe per tick to each server
// in turn, every entry is probed once per interval of its own, entry i of n
// at i * interval / n, so that a user watching several targets sees each of
// them as often as the interval says, and the probes are spread rather than
// sent in one burst. Each probe is the designed cycle's probe of that entry
// (the same flight record, texts, statistics and observers), only its time
// differs.
#include "session/antiidlesession.h"

#include "config/options.h"
#include "session/engineclock.h"

#include <QTimer>

#include <algorithm>

int TAntiIdleSession::ProbeIntervalNowMs() const
{
    return probeAllMs_ > 0 ? probeAllMs_ : Timer3->interval();
}

QString TAntiIdleSession::StartProbeAll(int count)
{
    const qint64 now = clock_->MonoMs();
    plan_.Start(now, count, probeAllMs_);
    // Entry 0's slot is now: the session opens with its probe.
    ProbeAllTick();
    Notify([](TSessionObserver *o) { o->ProbesScheduled(); });
    return QString();
}

void TAntiIdleSession::ProbeAllTick()
{
    if (!plan_.Active())
        return;
    const qint64 now = clock_->MonoMs();
    // While paused the slots pass unused: probes resume at the next slot
    // rather than all at once.
    const std::vector<int> due = plan_.Due(now);
    // A transport may have come free without a probe of ours ending (the
    // server list download shares the web client): what waits goes first.
    for (int kind = 1; kind < KindCount; ++kind)
        Drain(session::TProbeKind(kind));
    if (!Paused()) {
        for (const int index : due) {
            // An observer may stop the session from inside a probe's events.
            if (!plan_.Active())
                return;
            ProbeAllEntry(index);
        }
    }
    ArmProbeAll(clock_->MonoMs());
}

void TAntiIdleSession::ArmProbeAll(qint64 nowMs)
{
    const qint64 wait = plan_.UntilNext(nowMs);
    if (wait < 0) {
        ProbeAllTimer->stop();
        return;
    }
    ProbeAllTimer->start(int(std::min<qint64>(wait, 24LL * 3600 * 1000)));
}

void TAntiIdleSession::ProbeAllEntry(int index)
{
    if (State.CycleMode) {
        // The list may have shrunk in the editor since the start: an entry
        // gone has nothing to probe.
        if (index >= servers_.Count())
            return;
        State.ServerIndex = index;
        State.CurrentHost = servers_.At(index);
        Notify([&](TSessionObserver *o) { o->ServerPosition(index, State.CurrentHost); });
    } else {
        State.CurrentHost = options_.AntiIdle.Host;
    }
    // A target slower than its interval would pile up probes: its turn
    // passes until the last one is back.
    if (rowsOut_.count(ReportRow())) {
        HistoryLine(QStringLiteral("Probe of ") + State.CurrentHost
                    + QStringLiteral(" skipped: the previous one still runs"));
        return;
    }
    if (options_.KeepAlive.SkipWhenBusy && SkipProbe())
        return;
    stats_.NewTick();
    SendProbe();
}

void TAntiIdleSession::Queue(const TFlight &sending)
{
    TFlight flight = sending;
    flight.Session = session_.Current();
    rowsOut_.insert(flight.Row);
    waiting_[int(flight.Kind)].push_back(flight);
    Drain(flight.Kind);
}

bool TAntiIdleSession::CanSend(session::TProbeKind kind) const
{
    const probe::ITransport *transport = Transport(kind);
    if (!transport || transport->Busy())
        return false;
    // One at a time: a second Send would end the first as Cancelled.
    return transport->Parallel() || out_[int(kind)] == 0;
}

void TAntiIdleSession::Drain(session::TProbeKind kind)
{
    const int at = int(kind);
    // A probe that ends inside its own Send comes back here: the loop below
    // goes on with the next rather than recursing into it.
    if (draining_[at])
        return;
    draining_[at] = true;
    std::deque<TFlight> &queue = waiting_[at];
    while (!queue.empty() && CanSend(kind)) {
        const TFlight flight = queue.front();
        queue.pop_front();
        // Waiting from a session that has ended since: it goes nowhere.
        if (!session_.IsLatest(flight.Session) || !plan_.Active())
            continue;
        Launch(flight, Transport(kind));
    }
    draining_[at] = false;
}

void TAntiIdleSession::EndProbeAll()
{
    ProbeAllTimer->stop();
    plan_.Clear();
    probeAllMs_ = 0;
    for (std::deque<TFlight> &queue : waiting_)
        queue.clear();
    rowsOut_.clear();
}
