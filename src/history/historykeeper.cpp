#include "history/historykeeper.h"

#include "config/options.h"
#include "history/historyrecorder.h"
#include "history/rfc3339.h"
#include "history/sleepwatcher.h"

#include <QCoreApplication>
#include <QDateTime>

namespace history {

THistoryKeeper::THistoryKeeper(TAntiIdleSession &session, const config::TOptions &options, QObject *parent,
                               const QString &path, const QString &program)
    : QObject(parent), options_(options)
{
    setObjectName(QStringLiteral("HistoryKeeper"));
    store_.setObjectName(QStringLiteral("HistoryStore"));
    const QString who = QStringLiteral("%1, process %2").arg(program).arg(QCoreApplication::applicationPid());
    if (lock_.Take(path + QStringLiteral(".lock"), who) || lock_.Holder().isEmpty()) {
        // (A folder where not even the lock can be made refuses the history too.)
        store_.Open(path, THistoryStore::TMode::Write);
        recorder_ = std::make_unique<THistoryRecorder>(session, store_);
    } else {
        writer_ = lock_.Holder();
        const QString note = QStringLiteral("Another Idlix (%1) records into the connection history %2: this "
                                            "program does not record, and shows that history read-only.")
                                 .arg(writer_, path);
        store_.Open(path, THistoryStore::TMode::Read);
        store_.AddNotice(note);
    }
    connect(&store_, &THistoryStore::ProblemChanged, this, &THistoryKeeper::WatchProblems);
    sleep_ = new TSleepWatcher(session, this);
    // Days drop out of the kept range one at a time: an hourly look is plenty.
    pruneTimer_.setObjectName(QStringLiteral("HistoryPruneTimer"));
    pruneTimer_.setInterval(3600 * 1000);
    connect(&pruneTimer_, &QTimer::timeout, this, qOverload<>(&THistoryKeeper::Prune));
    pruneTimer_.start();
    Prune();
}

THistoryKeeper::~THistoryKeeper()
{
    // The recorder writes the end of a running session while the store is open.
    recorder_.reset();
    store_.Close();
}

void THistoryKeeper::OptionsChanged()
{
    Prune();
}

void THistoryKeeper::Prune()
{
    Prune(QDateTime::currentMSecsSinceEpoch() * kUsPerMs);
}

void THistoryKeeper::Prune(qint64 nowUs)
{
    if (!writer_.isEmpty() || !store_.IsOpen())
        return;
    // The kept days count back from the newest record when the clock is
    // behind it, and never from a clock far ahead: a clock set wrong for a
    // while must not empty the history.
    const std::optional<TUs> newest = store_.LastProbe();
    const bool behind = newest && *newest > nowUs + kUsPerDay / 24;
    if (behind && !clockBehind_) {
        emit Said(QStringLiteral("The clock (%1) is behind the newest record of the connection history (%2): "
                                 "the history is pruned from that record.")
                      .arg(Rfc3339(nowUs), Rfc3339(*newest)),
                  true);
    }
    clockBehind_ = behind;
    const TUs from = newest ? std::min<TUs>(nowUs, *newest) : nowUs;
    store_.Prune(from - qint64(options_.History.KeepDays) * kUsPerDay);
}

void THistoryKeeper::WatchProblems()
{
    const bool failing = store_.Waiting() > 0;
    if (failing == failing_)
        return;
    failing_ = failing;
    if (failing) {
        emit Said(QStringLiteral("Cannot write the connection history for now; records are kept until it can be "
                                 "written: %1")
                      .arg(store_.Problem()),
                  true);
    } else {
        const qint64 lost = store_.DroppedWhileWaiting();
        emit Said(lost > 0 ? QStringLiteral("The connection history %1 is written again; %2 records could not be kept "
                                            "while it could not.")
                                 .arg(store_.Path())
                                 .arg(lost)
                           : QStringLiteral("The connection history %1 is written again, every record kept.")
                                 .arg(store_.Path()),
             false);
    }
}

} // namespace history
