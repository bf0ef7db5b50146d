#include "service/intervalfollower.h"

#include "bus/netidentity.h"
#include "session/antiidlesession.h"

#include <QDateTime>
#include <QTimer>

namespace service {

history::TIdleTimerRow IdleTimerRow(const idletimer::TIdleResult &r, const QString &network)
{
    using TState = idletimer::TTrialPlan::TState;
    history::TIdleTimerRow row;
    row.At = QDateTime::currentMSecsSinceEpoch() * 1000;
    row.Kind = idletimer::KindName(r.Kind);
    row.Network = network.isEmpty() ? QStringLiteral("unknown network") : network;
    row.Verdict = r.State == TState::Found     ? QStringLiteral("found")
                  : r.State == TState::AtLeast ? QStringLiteral("at least")
                                               : QStringLiteral("not measured");
    row.Seconds = r.Seconds;
    row.Alive = r.Alive;
    row.Gone = r.Gone;
    QStringList trials;
    for (const idletimer::TTrialRecord &t : r.Trials) {
        const char *mark = t.Outcome == idletimer::TTrialOutcome::Alive ? "+"
                           : t.Outcome == idletimer::TTrialOutcome::Gone ? "-"
                                                                          : "?";
        trials << QString::number(t.Silence) + QLatin1String(mark);
    }
    row.Trials = trials.join(QLatin1Char(' '));
    row.Bytes = qint64(r.BytesSent);
    row.ElapsedMs = r.ElapsedMs;
    return row;
}

bool RecordIdleTimer(const idletimer::TIdleResult &result, const QString &network, QString *problem)
{
    history::THistoryStore store;
    if (!store.Open(history::THistoryStore::DefaultPath(), history::THistoryStore::TMode::Write)
        || !store.AddIdleTimer(IdleTimerRow(result, network))) {
        if (problem)
            *problem = store.Problem();
        return false;
    }
    return true;
}

TIntervalFollower::TIntervalFollower(TAntiIdleSession &engine, history::THistoryStore &store, QObject *parent)
    : QObject(parent), engine_(engine)
{
    engine_.MeasuredIntervalMs = [&store] {
        const std::optional<int> seconds = store.ShortestIdleTimer(bus::CurrentNetworkIdentity());
        return seconds ? *seconds * 800 : 0;
    };
    auto *watch = new QTimer(this);
    watch->setObjectName(QStringLiteral("NetworkWatchTimer"));
    connect(watch, &QTimer::timeout, this, [this] {
        // Only a session that follows a measured timer asks which network it
        // is on: the question may go over the system bus, which can be slow
        // to answer, and the probes wait while it is asked.
        if (!engine_.FollowsMeasuredInterval()) {
            network_.clear();
            return;
        }
        const QString now = bus::CurrentNetworkIdentity();
        if (network_.isEmpty()) {
            network_ = now;
            return;
        }
        if (now != network_) {
            network_ = now;
            engine_.IntervalSourceChanged();
        }
    });
    if (engine_.FollowsMeasuredInterval())
        network_ = bus::CurrentNetworkIdentity();
    watch->start(30'000);
}

TIntervalFollower::~TIntervalFollower()
{
    engine_.MeasuredIntervalMs = nullptr;
}

} // namespace service
