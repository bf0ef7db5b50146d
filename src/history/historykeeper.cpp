#include "history/historykeeper.h"

#include "config/options.h"
#include "history/historyrecorder.h"
#include "history/sleepwatcher.h"

#include <QDateTime>

#include <cstdio>

namespace history {

THistoryKeeper::THistoryKeeper(TAntiIdleSession &session, const config::TOptions &options, QObject *parent,
                               const QString &path)
    : QObject(parent), options_(options)
{
    setObjectName(QStringLiteral("HistoryKeeper"));
    store_.setObjectName(QStringLiteral("HistoryStore"));
    if (!store_.Open(path, THistoryStore::TMode::Write))
        std::fprintf(stderr, "idlix: %s\n", qPrintable(store_.Problem()));
    for (const QString &notice : store_.Notices())
        std::fprintf(stderr, "idlix: %s\n", qPrintable(notice));
    recorder_ = std::make_unique<THistoryRecorder>(session, store_);
    sleep_ = new TSleepWatcher(session, this);
    // Days drop out of the kept range one at a time: an hourly look is plenty.
    pruneTimer_.setObjectName(QStringLiteral("HistoryPruneTimer"));
    pruneTimer_.setInterval(3600 * 1000);
    connect(&pruneTimer_, &QTimer::timeout, this, &THistoryKeeper::Prune);
    pruneTimer_.start();
    Prune();
}

THistoryKeeper::~THistoryKeeper()
{
    // The recorder writes the end of a running session while the store is open.
    recorder_.reset();
}

void THistoryKeeper::OptionsChanged()
{
    Prune();
}

void THistoryKeeper::Prune()
{
    const qint64 now = QDateTime::currentMSecsSinceEpoch() * kUsPerMs;
    store_.Prune(now - qint64(options_.History.KeepDays) * kUsPerDay);
}

} // namespace history
