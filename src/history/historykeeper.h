// The connection history of one anti-idle session engine, as a program
// creates it: the store in the data folder, the recorder that writes the
// session into it, the watcher that pauses the session while the machine
// sleeps, and the pruning of days past the kept ones. The window's program
// and the headless service each make one.
#pragma once

#include "history/historystore.h"

#include <QObject>
#include <QTimer>

#include <memory>

class TAntiIdleSession;
namespace config {
struct TOptions;
}

namespace history {

class THistoryRecorder;
class TSleepWatcher;

class THistoryKeeper : public QObject {
    Q_OBJECT
public:
    // Opens the history at 'path' (the data folder's by default) and starts
    // recording 'session'; 'options' gives the days kept (read again by
    // OptionsChanged). A history that cannot be opened leaves the session
    // running unrecorded, with Store().Problem() saying why.
    THistoryKeeper(TAntiIdleSession &session, const config::TOptions &options, QObject *parent = nullptr,
                   const QString &path = THistoryStore::DefaultPath());
    ~THistoryKeeper() override;

    THistoryStore &Store() { return store_; }
    TSleepWatcher &Sleep() { return *sleep_; }
    // The kept days may have changed: prunes at once.
    void OptionsChanged();

private:
    void Prune();

    const config::TOptions &options_;
    THistoryStore store_;
    std::unique_ptr<THistoryRecorder> recorder_;
    TSleepWatcher *sleep_ = nullptr;
    QTimer pruneTimer_;
};

} // namespace history
