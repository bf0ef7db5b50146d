// The samples waiting for the remote-write receiver, in a SQLite file of the
// data folder: each snapshot of the figures is written (and synced) before
// anything is sent, read back oldest first in batches, and removed only once
// the receiver has taken the batch. A kill or a power cut therefore loses
// nothing that was written; what is older than the hours kept is let go.
#pragma once

#include "service/remotewrite.h"

#include <QString>

#include <map>
#include <string>

struct sqlite3;

namespace service {

class TRemoteQueue {
public:
    // Opens (or creates) the file; one that cannot be opened gives a queue in
    // memory, with the reason in Problem().
    explicit TRemoteQueue(const QString &path);
    ~TRemoteQueue();
    TRemoteQueue(const TRemoteQueue &) = delete;
    TRemoteQueue &operator=(const TRemoteQueue &) = delete;

    QString Problem() const { return problem_; }

    // One snapshot, every value at 'atMs'. False (the reason in Problem())
    // when it could not be written.
    bool Append(qint64 atMs, const std::vector<TSeriesValue> &values);

    struct TBatch {
        qint64 LastSeq = 0;       // the last sample taken; 0 when none waits
        int Samples = 0;
        std::vector<TTimeSeries> Series;   // each series' samples oldest first
    };
    // Up to 'maxSamples' of the oldest samples, grouped by series.
    TBatch Oldest(int maxSamples);
    // Lets go of every sample up to and including 'seq' (acknowledged or dropped).
    bool Remove(qint64 seq);
    // Lets go of samples taken before 'beforeMs'; how many went.
    qint64 Prune(qint64 beforeMs);

    qint64 Pending() const { return pending_; }

    // A value kept beside the samples (the time of the last delivery).
    qint64 State(const char *key) const;
    void SetState(const char *key, qint64 value);

private:
    bool Exec(const char *sql);
    qint64 SeriesId(const TLabels &labels);
    const TLabels &SeriesLabels(qint64 id);
    void Fail(const char *what);

    sqlite3 *db_ = nullptr;
    QString problem_;
    qint64 pending_ = 0;
    std::map<std::string, qint64> ids_;
    std::map<qint64, TLabels> labels_;
};

} // namespace service
