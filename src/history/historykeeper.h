// The connection history of one anti-idle session engine, as a program
// creates it: the store in the data folder, the recorder that writes the
// session into it, the watcher that pauses the session while the machine
// sleeps, and the pruning of days past the kept ones. The window's program
// and the headless service each make one.
//
// One program at a time writes a data folder's history: the first holds a
// lock beside the file ("history.db.lock", naming the program and its
// process id); a second one opens the history read-only and records
// nothing, and Writer() says who holds it.
#pragma once

#include "history/historystore.h"
#include "platform/writerlock.h"

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
    // running unrecorded, with Store().Problem() saying why. 'program'
    // names this program to a second one that finds the history taken.
    THistoryKeeper(TAntiIdleSession &session, const config::TOptions &options, QObject *parent = nullptr,
                   const QString &path = THistoryStore::DefaultPath(),
                   const QString &program = QStringLiteral("the desktop program"));
    ~THistoryKeeper() override;

    THistoryStore &Store() { return store_; }
    TSleepWatcher &Sleep() { return *sleep_; }
    // Who else records into this history ("the service, process 412"):
    // this program then only reads it. Empty when this one records.
    QString Writer() const { return writer_; }
    // The kept days may have changed: prunes at once.
    void OptionsChanged();
    // Prunes as if the wall clock said 'nowUs'.
    void Prune(qint64 nowUs);

signals:
    // Recording stopped working, or works again, or the clock cannot be
    // trusted for pruning: one line for the program's log.
    void Said(const QString &text, bool warning);

private:
    void Prune();
    void WatchProblems();

    const config::TOptions &options_;
    THistoryStore store_;
    platform::TWriterLock lock_;
    QString writer_;
    std::unique_ptr<THistoryRecorder> recorder_;
    TSleepWatcher *sleep_ = nullptr;
    QTimer pruneTimer_;
    bool failing_ = false;
    bool clockBehind_ = false;
};

} // namespace history
