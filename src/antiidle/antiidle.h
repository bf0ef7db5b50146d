// The anti-idle session as the window shows it: the switch that starts and
// stops it, and everything a running session shows (the status line, the
// history pane, the information column, the stopwatch, the graph and the
// report table). The session itself is the engine (session/antiidlesession.h),
// a child of this object; this view only listens to it.
#pragma once

#include "session/sessionobserver.h"

#include <QObject>

class IShell;
class TAntiIdleReport;
class TAntiIdleSession;
class TToolSwitch;

class TAntiIdle : public QObject, public TSessionObserver {
    Q_OBJECT
public:
    // Binds the Anti-Idle switch of 'shell' and creates the session, which
    // reads the shell's option values; results go to 'report' as well.
    TAntiIdle(IShell &shell, TAntiIdleReport &report, QObject *parent = nullptr);
    ~TAntiIdle() override;

    TAntiIdleSession *Engine = nullptr;  // the session shown

    bool Running() const;             // the switch is on
    void btn_AntiIdleClick();

    // What the session tells the window.
    void SessionStarting(const TSessionStart &start) override;
    void StatsReset(const TStatsStart &start) override;
    void CycleStarted() override;
    void ProbesScheduled() override;
    void SessionStarted() override;
    void SessionStopped(const TSessionEnd &end) override;
    void ProbeSent(const TProbeSent &sent) override;
    void ProbeResult(const TProbeResult &result) override;
    void Status(const QString &text, bool repaint) override;
    void HistoryLine(const QString &text) override;
    void LogFlushed() override;
    void Message(const QString &text) override;

private:
    IShell &shell_;
    TAntiIdleReport &report_;
    TToolSwitch &switch_;
    bool cycle_ = false;              // the session visits the list (from its start event)
};
