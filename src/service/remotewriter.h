// The service's figures pushed to a Prometheus-compatible receiver: a
// snapshot of every metric after each change and at a steady interval,
// written to the waiting samples first (remotequeue.h), then sent oldest
// first, one request at a time, each sample with the time it was taken. A
// receiver that cannot be reached or asks to wait (5xx, 429) gets the same
// samples again after a growing pause; one that refuses them (any other
// 4xx) has them dropped, with a line in the log.
#pragma once

#include "service/remotequeue.h"
#include "service/remotesender.h"
#include "service/servicelog.h"

#include <QObject>

#include <functional>
#include <memory>

class QTimer;

namespace service {

struct TRemoteWriteSettings {
    QString Url;
    TRemoteAuth Auth;
    TLabels Labels;            // added to every series: instance, job and the extra ones
    int KeepHours = 72;
    int IntervalS = 60;
    QString QueuePath;         // the waiting samples
    QString StatusPath;        // one line for the window's Preferences; empty: none
};

// The settings of [Service] (and --remote-write, given as 'url') made
// ready: the URL an http or https one, the credentials read, the labels
// valid. False with the reason when they cannot be used.
bool MakeRemoteWriteSettings(const QString &url, const QString &auth, const QString &node,
                             const QString &labels, TRemoteWriteSettings *settings, QString *error);

class TRemoteWriter : public QObject {
    Q_OBJECT
public:
    static constexpr int kMaxSamplesPerRequest = 2000;

    // 'render' gives the figures in the text exposition format.
    TRemoteWriter(const TRemoteWriteSettings &settings, const TServiceLog &log,
                  std::function<QByteArray()> render, QObject *parent = nullptr);
    ~TRemoteWriter() override;

    // The first snapshot, then one each interval; what waits from an
    // earlier run is sent first.
    void Start();
    // The figures changed: a snapshot once the events of this moment are in.
    void Changed();
    // Sends what waits now, without waiting out a pause (the line is back).
    void RetryNow();
    // A snapshot now, kept for sending (the last one, as the service ends).
    void Snapshot();

    qint64 Pending() const { return queue_.Pending(); }
    quint64 Failures() const { return failures_; }
    qint64 LastDeliveryMs() const { return lastDeliveryMs_; }
    // "remote write: 3 samples waiting, last delivery 12:00:05" and the
    // like, for systemd's status line and the Preferences.
    QString StatusText() const;

    // Told after the figures above changed.
    std::function<void()> OnStatus;

    QTimer *SampleTimer = nullptr;   // the steady snapshots
    QTimer *RetryTimer = nullptr;    // the pause before the next try

private:
    void Prune();
    void Pump();
    void Finished(const TPostResult &result, qint64 lastSeq, int samples);
    void Tell();

    TRemoteWriteSettings settings_;
    const TServiceLog &log_;
    std::function<QByteArray()> render_;
    TRemoteQueue queue_;
    std::unique_ptr<THttpPoster> poster_;
    TBackoff backoff_;
    quint64 failures_ = 0;
    int failedInARow_ = 0;
    qint64 lastDeliveryMs_ = 0;
    qint64 lastSnapshotMs_ = 0;
    qint64 lastPruneMs_ = 0;
    bool snapshotDue_ = false;
    QString lastProblem_;
    QString lastStatus_;
};

} // namespace service
