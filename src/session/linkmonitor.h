// The state of the user's line as the session's probes see it, with
// hysteresis: the line is down after DownAfter failed probes in a row and up
// again after UpAfter successful ones, whichever servers of the cycle they
// went to (the line is the user's, not the server's).
//
// An outage runs from the first failed probe of the run that reached
// DownAfter to the first success of the run that reached UpAfter.
#pragma once

#include "session/sessionevents.h"

#include <QStringList>

#include <functional>
#include <optional>

// One outage of the line.
struct TOutage {
    TStamp Start;                  // first failed probe of the run that brought the line down
    TStamp End;                    // first success of the run that brought it back (unset while open)
    int ProbesLost = 0;            // failed probes from Start to End
    TProbeOutcome FirstOutcome = TProbeOutcome::Failed;
    QString FirstReason;           // the first failure's text
    QStringList HostsTried;        // every host probed during the outage, once each, in order
    QString Cause;                 // why the line went, when the dial-up service said so
    QString Verdict;               // whose fault, as the latest diagnosis found ("provider"); empty before one
    QString Evidence;              // that diagnosis' evidence, in words

    bool Open() const { return !End.WallUtc.isValid(); }
    // Length in ms by the monotonic clock (0 while open).
    qint64 DurationMs() const { return Open() ? 0 : (End.MonoNs - Start.MonoNs) / 1000000; }
};

class TLinkMonitor {
public:
    enum class TLink { Unknown, Up, Down };

    explicit TLinkMonitor(int downAfter = 3, int upAfter = 2);
    // New thresholds (at least 1 each); runs already counted keep counting.
    void SetThresholds(int downAfter, int upAfter);
    int DownAfter() const { return downAfter_; }
    int UpAfter() const { return upAfter_; }

    TLink Link() const { return link_; }
    // The outage under way, while the line is down.
    const std::optional<TOutage> &Current() const { return outage_; }

    // One probe's result. A result that says nothing of the line (this
    // system refused to send the echo) is passed over.
    void Feed(const TProbeResult &result);
    // Why the line went, as the dial-up service tells it: kept with the
    // outage under way, or with the next one when the line is still up. A
    // cause the probes do not bear out (UpAfter successes in a row follow
    // it: the line was redialled, or it was not the one probed) is dropped,
    // so it cannot be pinned on an outage that comes much later.
    void SetCause(const QString &cause);
    // Monitoring stops (the session ends, the machine sleeps): the runs
    // counted so far are forgotten and the state is unknown again. An open
    // outage is returned, ended 'at', without OnUp: nobody saw the line come back.
    std::optional<TOutage> Stop(const TStamp &at);
    // A diagnosis' verdict and evidence for the outage under way (or the
    // one held); nothing while the line is up (a verdict found after it came
    // back is not the outage's).
    void SetDiagnosis(const QString &verdict, const QString &evidence);

    // Held: a run that reaches DownAfter does not take the line down at
    // once but waits as Pending() (OnPending tells it) until the owner
    // says whose fault it is: ConfirmDown() makes it the line's outage
    // (OnState, OnDown), Dismiss() forgets it (the server alone failed) and
    // counting starts again. Failures meanwhile count on it; a success ends
    // it unconfirmed, as the line answered. For a cycle over several
    // servers, where one silent server is not the line.
    void SetHoldDown(bool hold) { hold_ = hold; }
    const std::optional<TOutage> &Pending() const { return pending_; }
    void ConfirmDown();
    void Dismiss();
    std::function<void(const TOutage &)> OnPending;

    // Told when the line goes down (the outage so far) and when it is up
    // again (the whole outage).
    std::function<void(const TOutage &)> OnDown;
    std::function<void(const TOutage &)> OnUp;
    // Told whenever Link() changes, the first verdict of a run included
    // (unknown -> up, which OnUp does not tell: no outage ended), and when
    // watching stops (-> unknown). Runs before OnDown and OnUp.
    std::function<void(TLink)> OnState;

private:
    void SetLink(TLink link);

    int downAfter_, upAfter_;
    TLink link_ = TLink::Unknown;
    int failures_ = 0, successes_ = 0;  // lengths of the current runs
    TOutage run_;                       // the failure run being counted (while up)
    TStamp firstSuccess_;               // first success of the current run (while down)
    std::optional<TOutage> outage_;
    bool hold_ = false;
    std::optional<TOutage> pending_;    // a run that reached DownAfter, held
    QString pendingCause_;
    int sinceCause_ = 0;                // successes in a row since the pending cause came
};
