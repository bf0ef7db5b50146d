#include "idletimer/lineidlefinder.h"

#include <algorithm>

namespace idletimer {

TLineIdleFinder::TLineIdleFinder(const QString &phoneBook, const dialer::DialParams &params, int longest,
                                 QObject *parent)
    : QObject(parent), phoneBook_(phoneBook), params_(params), longest_(longest)
{
    // Precise: a coarse timer may fire a little early, and "alive after 1 s"
    // must mean a whole second of silence.
    poll_.setTimerType(Qt::PreciseTimer);
    poll_.setInterval(1000);
    connect(&poll_, &QTimer::timeout, this, [this] { Poll(); });
}

TLineIdleFinder::~TLineIdleFinder()
{
    if (handle_)
        dialer::DialHangUp(handle_);
}

void TLineIdleFinder::Start()
{
    total_.start();
    if (OnProgress)
        OnProgress(QStringLiteral("dialling %1").arg(params_.entry));
    const int rc = dialer::DialStart(phoneBook_, params_, this,
                                       [this](dialer::DialHandle, unsigned state, int error) { Notified(state, error); },
                                       handle_);
    if (rc != 0) {
        handle_ = 0;
        Finish(TTrialPlan::TState::Failed,
               QStringLiteral("the line could not be dialled: %1").arg(dialer::DialErrorText(rc)));
    }
}

void TLineIdleFinder::Stop()
{
    done_ = true;
    poll_.stop();
    if (handle_)
        dialer::DialHangUp(std::exchange(handle_, 0));
}

int TLineIdleFinder::SilentSeconds() const
{
    return up_ ? int(since_.elapsed() / 1000) : 0;
}

void TLineIdleFinder::Notified(unsigned state, int error)
{
    if (done_)
        return;
    if (!up_) {
        if (error != 0) {
            Finish(TTrialPlan::TState::Failed,
                   QStringLiteral("the line could not be dialled: %1").arg(dialer::DialErrorText(error)));
        } else if (state == dialer::kDialConnected) {
            up_ = true;
            since_.start();
            poll_.start();
            if (OnProgress)
                OnProgress(QStringLiteral("the line is up; sending nothing until it drops (%1 s at most)")
                               .arg(longest_));
        }
        return;
    }
    if (state == dialer::kDialDisconnected || error != 0) {
        if (OnProgress)
            OnProgress(QStringLiteral("the line dropped after %1 s: %2")
                           .arg(since_.elapsed() / 1000.0, 0, 'f', 1)
                           .arg(dialer::DialErrorText(error)));
        Finish(TTrialPlan::TState::Found);
    }
}

void TLineIdleFinder::Poll()
{
    if (done_)
        return;
    // The status says whether the line is still up: a drop the notification
    // has not told yet is seen here too.
    dialer::DialStatus status;
    const qint64 now = since_.elapsed();
    if (dialer::DialGetStatus(handle_, status) == 0 && status.state == dialer::kDialConnected) {
        aliveMs_ = now;
        if (now >= qint64(longest_) * 1000)
            Finish(TTrialPlan::TState::AtLeast);
        return;
    }
    Notified(dialer::kDialDisconnected, status.error);
}

void TLineIdleFinder::Finish(TTrialPlan::TState state, const QString &reason)
{
    if (done_)
        return;
    const qint64 goneMs = since_.isValid() ? since_.elapsed() : 0;
    Stop();
    TIdleResult r;
    r.Kind = TIdleKind::Line;
    r.State = state;
    r.Reason = reason;
    r.ElapsedMs = total_.elapsed();
    r.Started = up_ ? 1 : 0;
    r.Alive = int(aliveMs_ / 1000);
    if (state == TTrialPlan::TState::Found) {
        // Whole seconds as the drop was seen; never a gone before the last alive.
        r.Seconds = int((goneMs + 500) / 1000);
        r.Gone = std::max(r.Seconds, r.Alive + 1);
        r.Trials.push_back({r.Gone, TTrialOutcome::Gone});
    } else if (state == TTrialPlan::TState::AtLeast) {
        r.Seconds = r.Alive;
        r.Trials.push_back({r.Alive, TTrialOutcome::Alive});
    }
    if (OnDone)
        OnDone(r);
}

} // namespace idletimer
