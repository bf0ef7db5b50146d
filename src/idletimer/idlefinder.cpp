#include "idletimer/idlefinder.h"

#include <algorithm>

namespace idletimer {

QString KindName(TIdleKind kind)
{
    switch (kind) {
    case TIdleKind::Udp: return QStringLiteral("udp");
    case TIdleKind::Tcp: return QStringLiteral("tcp");
    case TIdleKind::Line: return QStringLiteral("line");
    }
    return {};
}

int DefaultLongest(TIdleKind kind)
{
    switch (kind) {
    case TIdleKind::Udp: return 30 * 60;
    case TIdleKind::Tcp: return 2 * 3600 + 10 * 60;
    case TIdleKind::Line: return 3 * 3600;
    }
    return 30 * 60;
}

TTrialPlan::TSettings PlanSettings(TIdleKind kind, int longest)
{
    auto fromEnvironment = [](const char *name, int fallback) {
        bool ok = false;
        const int v = qEnvironmentVariable(name).toInt(&ok);
        return ok && v > 0 ? v : fallback;
    };
    TTrialPlan::TSettings s;
    s.Longest = longest > 0 ? longest : DefaultLongest(kind);
    s.First = fromEnvironment("IDLIX_FINDER_FIRST", s.First);
    s.Floor = fromEnvironment("IDLIX_FINDER_FLOOR", s.Floor);
    return s;
}

QString ResultLine(const TIdleResult &r)
{
    const QString kind = KindName(r.Kind);
    switch (r.State) {
    case TTrialPlan::TState::Found:
        return QStringLiteral("%1 idle timer: %2 s (alive after %3 s, gone after %4 s)")
            .arg(kind)
            .arg(r.Seconds)
            .arg(r.Alive)
            .arg(r.Gone);
    case TTrialPlan::TState::AtLeast:
        return QStringLiteral("%1 idle timer: at least %2 s (alive after %3 s; nothing on the way "
                              "dropped it within the longest silence tried)")
            .arg(kind)
            .arg(r.Seconds)
            .arg(r.Alive);
    case TTrialPlan::TState::Running:
    case TTrialPlan::TState::Failed:
        break;
    }
    return QStringLiteral("%1 idle timer: not measured (%2)").arg(kind, r.Reason);
}

TIdleTimerFinder::TIdleTimerFinder(const TIdleTrial::TTarget &target,
                                   const TTrialPlan::TSettings &settings, QObject *parent)
    : QObject(parent), target_(target), plan_(settings)
{
    result_.Kind = target.Transport == TTransport::Udp ? TIdleKind::Udp : TIdleKind::Tcp;
}

TIdleTimerFinder::~TIdleTimerFinder()
{
    for (auto &[trial, end] : trials_) {
        trial->OnEnd = nullptr;
        delete trial;
    }
}

void TIdleTimerFinder::Start()
{
    if (running_)
        return;
    running_ = true;
    clock_.start();
    StartTrials();
}

void TIdleTimerFinder::Stop()
{
    if (!running_)
        return;
    result_.Reason = QStringLiteral("stopped");
    Finish();
}

std::vector<int> TIdleTimerFinder::Pending() const
{
    std::vector<int> out;
    for (const auto &[trial, end] : trials_)
        out.push_back(trial->Silence());
    std::sort(out.begin(), out.end());
    return out;
}

int TIdleTimerFinder::SecondsLeft() const
{
    qint64 last = clock_.elapsed();
    for (const auto &[trial, end] : trials_)
        last = std::max(last, end);
    return int((last - clock_.elapsed() + 999) / 1000);
}

void TIdleTimerFinder::StartTrials()
{
    for (int silence : plan_.Next()) {
        auto *trial = new TIdleTrial(target_, silence, this);
        trial->OnEnd = [this](TIdleTrial *t, TTrialOutcome o) { TrialEnded(t, o); };
        trials_[trial] = clock_.elapsed() + silence * 1000LL + TIdleTrial::kAckWaitMs + TIdleTrial::kGraceMs;
        if (OnProgress)
            OnProgress(QStringLiteral("trial: %1 s of silence started").arg(silence));
        trial->Start();
        if (!running_)
            return;
    }
}

void TIdleTimerFinder::TrialEnded(TIdleTrial *trial, TTrialOutcome outcome)
{
    if (!trials_.erase(trial))
        return;
    trial->OnEnd = nullptr;
    trial->deleteLater();
    result_.BytesSent += trial->BytesSent();
    result_.Trials.push_back({trial->Silence(), outcome});
    if (outcome == TTrialOutcome::NoAck) {
        lastReason_ = trial->Reason();
        plan_.Failed(trial->Silence());
    } else {
        plan_.Outcome(trial->Silence(), outcome == TTrialOutcome::Alive);
    }
    if (OnProgress) {
        const QString what = outcome == TTrialOutcome::Alive ? QStringLiteral("answer came")
            : outcome == TTrialOutcome::Gone ? QStringLiteral("answer lost")
                                             : QStringLiteral("nothing measured: ") + trial->Reason();
        OnProgress(QStringLiteral("trial: %1 s of silence: %2").arg(trial->Silence()).arg(what));
    }
    // Trials whose outcome no longer matters are ended: they cost a socket
    // (and, for TCP, a connection the reflector holds).
    for (int moot : plan_.Moot()) {
        for (auto it = trials_.begin(); it != trials_.end(); ++it) {
            if (it->first->Silence() == moot) {
                TIdleTrial *t = it->first;
                trials_.erase(it);
                t->OnEnd = nullptr;
                result_.BytesSent += t->BytesSent();
                t->deleteLater();
                plan_.Dropped(moot);
                break;
            }
        }
    }
    if (plan_.State() != TTrialPlan::TState::Running) {
        Finish();
        return;
    }
    StartTrials();
    if (trials_.empty() && running_)
        Finish();
}

void TIdleTimerFinder::Finish()
{
    if (!running_)
        return;
    running_ = false;
    for (auto &[trial, end] : trials_) {
        trial->OnEnd = nullptr;
        result_.BytesSent += trial->BytesSent();
        trial->deleteLater();
    }
    trials_.clear();
    result_.State = plan_.State() == TTrialPlan::TState::Running ? TTrialPlan::TState::Failed : plan_.State();
    result_.Alive = plan_.Alive();
    result_.Gone = plan_.Gone().value_or(0);
    result_.Seconds = plan_.Estimate();
    result_.Started = plan_.Started();
    result_.ElapsedMs = clock_.elapsed();
    if (result_.State == TTrialPlan::TState::Failed && result_.Reason.isEmpty())
        result_.Reason = QStringLiteral("the reflector at %1 port %2 did not acknowledge (%3); is it "
                                        "running, with the same [Reflector] Key, and let through its firewall?")
                             .arg(QString::fromStdString(platform::AddressText(target_.Address)))
                             .arg(target_.Port)
                             .arg(lastReason_.isEmpty() ? QStringLiteral("no answer") : lastReason_);
    if (OnDone)
        OnDone(result_);
}

} // namespace idletimer
