// When the line's outages are diagnosed: at the down edge, again while the
// line stays down (1 s after a verdict, then twice as long each time up to
// the probe interval, as NetworkManager re-checks its connectivity), and once
// when the line is back; and the route at the outage's start, traced once to
// its first failing target. Off until switched on: the composition does, for the
// line it watches; a session whose probes are scripted (a test's) must not
// send real echoes to the addresses its script names.
#pragma once

#include "diagnosis/diagnosis.h"
#include "diagnosis/routetrace.h"
#include "config/diagnosisoptions.h"
#include "session/linkmonitor.h"

#include <QObject>

#include <functional>

class QTimer;

// The diagnosis' request for an outage: its hosts, first failing first, with
// the addresses they were last reached at ('lastAddress' of a host: "" when
// none), against the anchors the user set (an address, or a name's address
// as 'lastAddress' knows it) and up to three other servers of the list, and
// the user's check page (its host's address found the same way).
// Without an address off this machine among them only the link is checked:
// nothing is sent towards a line the probes were never seen to use.
diagnosis::TDiagnosisRequest OutageRequest(const TOutage &outage, const QStringList &servers,
                                           const std::function<QString(const QString &)> &lastAddress,
                                           const config::TDiagnosisOptions &user = {});

class TOutageDiagnosis : public QObject {
    Q_OBJECT
public:
    explicit TOutageDiagnosis(QObject *parent = nullptr);

    void SetEnabled(bool enabled);
    bool Enabled() const { return enabled_; }

    // The line went down: diagnose now, and again while it stays down, the
    // pause doubling from 1 s up to ceilingMs.
    void LineDown(const diagnosis::TDiagnosisRequest &request, int ceilingMs);
    // The line is back: the re-checks stop; one last diagnosis says how it came back.
    void LineUp(const diagnosis::TDiagnosisRequest &request);
    // Nobody watches the line any more: nothing more is diagnosed or told.
    void Stop();

    // Each verdict, with whether it was found while the line was down.
    std::function<void(const diagnosis::TDiagnosisResult &, bool down)> OnVerdict;
    // The route at the outage's start, traced to its first failing target
    // (TRouteTrace's JSON array of hops).
    std::function<void(const QString &hops)> OnRoute;

    // Between LineDown and LineUp or Stop: the line's outage is being checked.
    bool Watching() const { return down_; }
    // The pause before the next re-check (for tests).
    int NextPauseMs() const { return pauseMs_; }

private:
    void Run();
    void Done(const diagnosis::TDiagnosisResult &result);

    diagnosis::TDiagnosis diagnosis_;
    diagnosis::TRouteTrace route_;
    QTimer *DiagnosisTimer = nullptr;   // the next re-check while down
    diagnosis::TDiagnosisRequest request_;
    bool enabled_ = false;
    bool down_ = false;                 // the line is down: re-check after each verdict
    bool runDown_ = false;              // the run under way started while down
    int pauseMs_ = 1000;
    int ceilingMs_ = 60000;
};
