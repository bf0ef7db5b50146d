// The idle-timer finder: runs the trials of a TTrialPlan against a
// reflector, side by side, drops those that can no longer matter, and ends
// with the verdict. The window and `idlix --find-idle-timer` both drive it
// and show what it tells.
#pragma once

#include "idletimer/idletrial.h"
#include "idletimer/trialplan.h"

#include <QElapsedTimer>
#include <QObject>
#include <QString>

#include <functional>
#include <map>
#include <vector>

class QTimer;

namespace idletimer {

enum class TIdleKind { Udp, Tcp, Line };

// "udp", "tcp", "line".
QString KindName(TIdleKind kind);

// One trial as it ended, for the history and the window.
struct TTrialRecord {
    int Silence = 0;
    TTrialOutcome Outcome = TTrialOutcome::NoAck;
};

struct TIdleResult {
    TIdleKind Kind = TIdleKind::Udp;
    TTrialPlan::TState State = TTrialPlan::TState::Failed;
    int Seconds = 0;        // the timer (Found) or the longest silence outlived (AtLeast)
    int Alive = 0;          // longest silence outlived
    int Gone = 0;           // shortest silence lost (0: none)
    std::vector<TTrialRecord> Trials;   // those that ended with an outcome
    int Started = 0;                    // trials started, the dropped ones included
    std::uint64_t BytesSent = 0;
    qint64 ElapsedMs = 0;
    QString Reason;         // why nothing was measured (Failed)
};

// The result's last line, as the command line prints it:
// "udp idle timer: 30 s (alive after 28 s, gone after 32 s)".
QString ResultLine(const TIdleResult &r);

// The finder's default longest silence per kind: 30 min for UDP, for TCP
// 2 h 10 min (past RFC 5382's 2 h 4 min floor for established connections).
int DefaultLongest(TIdleKind kind);

// The plan for 'kind' up to 'longest' seconds: first silence 15 s, cut to
// 5 s. IDLIX_FINDER_FIRST and IDLIX_FINDER_FLOOR (whole seconds) lower both
// for test networks whose timers are seconds long.
TTrialPlan::TSettings PlanSettings(TIdleKind kind, int longest);

class TIdleTimerFinder : public QObject {
    Q_OBJECT
public:
    TIdleTimerFinder(const TIdleTrial::TTarget &target, const TTrialPlan::TSettings &settings,
                     QObject *parent = nullptr);
    ~TIdleTimerFinder() override;

    void Start();
    void Stop();
    bool Running() const { return running_; }
    // Trials waiting for their answer, by silence.
    std::vector<int> Pending() const;
    // Seconds until the longest pending trial ends (progress).
    int SecondsLeft() const;
    const TTrialPlan &Plan() const { return plan_; }

    // A line of progress (a trial started or ended).
    std::function<void(const QString &)> OnProgress;
    std::function<void(const TIdleResult &)> OnDone;

private:
    void StartTrials();
    void TrialEnded(TIdleTrial *trial, TTrialOutcome outcome);
    void Finish();

    TIdleTrial::TTarget target_;
    TTrialPlan plan_;
    bool running_ = false;
    QElapsedTimer clock_;
    std::map<TIdleTrial *, qint64> trials_;   // running -> ends at (ms on clock_)
    TIdleResult result_;
    QString lastReason_;
};

} // namespace idletimer
