// A probe transport whose probes end as the test scripts them, and a clock
// the test moves by hand: engine tests run whole sessions with the outcomes
// they choose, without sockets, name servers or ICMP permission.
#pragma once

#include "probe/transport.h"
#include "session/engineclock.h"

#include <QDateTime>
#include <QObject>
#include <QTimer>

#include <deque>
#include <vector>

namespace sessiontest {

// One scripted end of a probe.
struct TStep {
    probe::TReply Reply;
    // When the probe ends: inside Send (0), from the event loop this many
    // ms later (> 0), or only when the test calls Release (Held).
    int DelayMs = 0;
    bool Held = false;
};

inline TStep Answer(TProbeOutcome outcome, int ms = -1, const QString &reason = QString())
{
    TStep step;
    step.Reply.Outcome = outcome;
    step.Reply.Ms = ms;
    step.Reply.Us = ms < 0 ? -1 : qint64(ms) * 1000 + 250;
    step.Reply.Reason = reason;
    if (outcome != TProbeOutcome::LookupFailed)
        step.Reply.Address = QStringLiteral("192.0.2.7");
    return step;
}

inline TStep Held(TStep step)
{
    step.Held = true;
    return step;
}

class TScriptedTransport : public probe::ITransport {
public:
    std::deque<TStep> Script;                // the next probes' ends, in order
    TStep Otherwise = Answer(TProbeOutcome::Ok, 5);  // once the script ran out
    std::vector<probe::TRequest> Requests;   // every request sent, in order
    bool BusyNow = false;                    // what Busy() answers
    // A probe sent while another is out ends that one as Cancelled first,
    // as the echo's lookup does; false keeps both out (a transport that
    // runs probes side by side).
    bool Supersedes = false;
    int Cancels = 0;                         // calls of Cancel

    ~TScriptedTransport() override { pending_.clear(); }

    void Send(const probe::TRequest &request, probe::TEvents events) override
    {
        Requests.push_back(request);
        if (Supersedes)
            EndAll(true);
        TStep step = Script.empty() ? Otherwise : Script.front();
        if (!Script.empty())
            Script.pop_front();
        const quint64 id = ++serial_;
        pending_.push_back({id, std::move(events), step.Reply});
        if (step.Held)
            return;
        if (step.DelayMs > 0) {
            QTimer::singleShot(step.DelayMs, &context_, [this, id] { End(id, false); });
            return;
        }
        End(id, false);
    }
    bool Busy() const override { return BusyNow; }
    bool Parallel() const override { return !Supersedes; }
    void Cancel() override
    {
        ++Cancels;
        EndAll(true);
    }

    // Probes still out.
    int Pending() const { return int(pending_.size()); }
    // Ends the oldest probe still out with its scripted reply.
    void Release()
    {
        if (!pending_.empty())
            End(pending_.front().Id, false);
    }

private:
    struct TOut {
        quint64 Id;
        probe::TEvents Events;
        probe::TReply Reply;
    };

    void End(quint64 id, bool cancelled)
    {
        for (auto it = pending_.begin(); it != pending_.end(); ++it) {
            if (it->Id != id)
                continue;
            TOut out = std::move(*it);
            pending_.erase(it);
            if (cancelled) {
                out.Reply = probe::TReply();
                out.Reply.Cancelled = true;
            } else if (out.Reply.Outcome != TProbeOutcome::LookupFailed && out.Events.Sending) {
                out.Events.Sending(out.Reply.Address);
            }
            out.Events.Done(out.Reply);
            return;
        }
    }
    void EndAll(bool cancelled)
    {
        while (!pending_.empty())
            End(pending_.front().Id, cancelled);
    }

    std::vector<TOut> pending_;
    quint64 serial_ = 0;
    QObject context_;   // the delayed ends die with the transport
};

// A clock that stands still until the test moves it.
class TManualClock : public TEngineClock {
public:
    TStamp Now() const override
    {
        return {Start.addMSecs(ms_), ms_ * 1'000'000};
    }
    void Advance(qint64 ms) { ms_ += ms; }
    qint64 Ms() const { return ms_; }

    const QDateTime Start = QDateTime(QDate(2026, 3, 1), QTime(8, 0), Qt::UTC);

private:
    qint64 ms_ = 0;
};

} // namespace sessiontest
