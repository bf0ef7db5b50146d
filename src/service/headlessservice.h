// The unattended service as a program: the anti-idle session of idlix2.ini
// run without a window from the start until SIGTERM or SIGINT, its events on
// standard error, systemd told how it goes, and the metrics endpoint when an
// address is set.
#pragma once

#include "config/options.h"
#include "service/metrics.h"
#include "service/metricsaddress.h"
#include "service/remotewriter.h"
#include "service/servicelog.h"
#include "service/sessionlogger.h"
#include "session/sessionobserver.h"

#include <QObject>

class QTimer;

#include <memory>
#include <optional>

class TAntiIdleSession;

namespace history {
class THistoryKeeper;
}
namespace platform {
class TQuitSignals;
}

namespace service {

class TMetricsServer;
class TIntervalFollower;
class TSystemdNotifier;

class THeadlessService : public QObject, public TSessionObserver {
    Q_OBJECT
public:
    // 'options' are the settings read; 'metrics' where to serve them (none:
    // off); 'remote' where to push them (none: off).
    THeadlessService(const TServiceLog &log, const config::TOptions &options,
                     const std::optional<TListenAddress> &metrics,
                     const std::optional<TRemoteWriteSettings> &remote = std::nullopt, QObject *parent = nullptr);
    ~THeadlessService() override;

    // Opens the endpoint and starts the session. kExitOk when it runs (the
    // event loop then does the rest), else the exit status, its reason logged.
    int Start();
    // Asks the running service to end as a signal would: the session ends,
    // its log is written, then the event loop is left with the exit status.
    void RequestStop(const QString &why);

    TAntiIdleSession &Session() const { return *session_; }

    // READY=1 when the first probe is sent or scheduled; STATUS= after each probe.
    void ProbeSent(const TProbeSent &sent) override;
    void ProbesScheduled() override;
    void ProbeResult(const TProbeResult &result) override;
    void HistoryLine(const QString &text) override;
    void LinkState(TLinkMonitor::TLink link, const TStamp &at) override;

private:
    QString StatusText() const;
    void FinishWhenIdle();

    const TServiceLog &log_;
    config::TOptions options_;              // the session reads them as it goes
    std::optional<TListenAddress> metricsAt_;
    std::unique_ptr<TAntiIdleSession> session_;
    std::unique_ptr<history::THistoryKeeper> history_;   // freed before the session
    TIntervalFollower *intervals_ = nullptr;              // the measured interval, freed before the history
    TSessionLogger logger_;
    TMetrics metrics_;
    TMetricsServer *server_ = nullptr;
    TRemoteWriter *remote_ = nullptr;
    TSystemdNotifier *notifier_ = nullptr;
    platform::TQuitSignals *signals_ = nullptr;
    QString lastLine_;                      // the last history line, for the status
    bool ready_ = false;
    bool stopping_ = false;
    // The metrics text is made again on a change, at most once each
    // kPublishMs: with a hundred targets probed every 15 s, once per
    // probe would be most of what the service does. A change is published
    // at once when none was in the last kPublishMs, else when it ends.
    static constexpr int kPublishMs = 500;
    QTimer *publishTimer_ = nullptr;
    bool publishPending_ = false;
    void Publish();
    void PublishNow();
};

// The program: reads the command line and the settings, runs the service
// and returns its exit status (serviceargs.h).
int RunHeadless(int argc, char **argv);

} // namespace service
