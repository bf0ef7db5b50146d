// The anti-idle session as an engine: one probe (an ICMP echo or an HTTP GET)
// per Timer3 tick to one host or, in turn, to every server of the list, the
// session's statistics and its log. It runs with or without a window: every
// status text, history line and result goes to its observers, and the window
// (or the headless service) shows them.
//
// The session reads its options when it uses them: the frequency when it
// starts, the host at each tick, the method and "Vary packet size" at each
// probe. Each kind of probe goes out through a transport (probe/transport.h):
// echoes through TEchoTransport, HTTP GETs through THttpTransport, and the
// kinds an entry names by URL (session/probeurl.h) through their own, all
// owned by the session; a test hands it scripted ones. Echoes and HTTP GETs
// block the calling thread as they always did, with the event loop kept going
// by the HTTP client; observers are told from inside those steps.
//
// With [Probe All] on, the ticks are the plan's rather than Timer3's: every
// entry once per interval of its own, spread evenly over it
// (session/probeallplan.h). Probes to different entries may then be out at
// once; a kind whose transport sends one at a time queues its probes, each
// keeping its place, and an entry whose last probe is still out skips its
// turn.
#pragma once

#include "components/runguard.h"
#include "probe/transport.h"
#include "session/linkmonitor.h"
#include "session/linewatch.h"
#include "session/outagediagnosis.h"
#include "session/probeallplan.h"
#include "session/probeurl.h"
#include "session/serverhosts.h"
#include "session/sessionlog.h"
#include "session/sessionobserver.h"
#include "session/sessionstats.h"

#include <QObject>
#include <QString>

#include <algorithm>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <vector>

class QTimer;
class TBurstTransport;
class TDnsTransport;
class TEchoPoolTransport;
class TEchoTransport;
class TEngineClock;
class THttpTransport;
class THttpsTransport;
class TTcpTransport;
class TWebClient;
struct TSessionTestAccess;

namespace config {
struct TOptions;
}

// The fields a session's steps share: where the cycle stands and what the
// probe in hand is.
struct TSessionState {
    bool CycleMode = false;           // the session visits the server list in turn
    int ServerIndex = 0;              // position in the list of the server being probed
    QString CurrentHost;              // host of the probe being sent
    bool AlternateToggle = false;     // flipped by every probe; with "Alternate" true = echo
    int EchoSize = session::MinEchoSize;  // data bytes of the next echo (the opening one keeps it)
};

// Where a session stands: idle, starting (a start that failed stays here until
// Stop), running, paused (while running: the probes wait), stopping. Changed in
// one place, SetPhase, which traces every change through idlix.state.
enum class TSessionPhase { Idle, Starting, Running, Paused, Stopping };

// The phase's name in traces: "idle", "starting", ...
const char *PhaseName(TSessionPhase phase);

// What the start of a session without a host says.
inline constexpr const char *NoHostText =
    "No host to probe: enter a host in the anti-idle options, or cycle the server list";

class TAntiIdleSession : public QObject {
    Q_OBJECT
public:
    // Runs with 'options' (read as it goes, never copied), probing the
    // servers of its own list; logs to the session log in the data folder.
    explicit TAntiIdleSession(const config::TOptions &options, QObject *parent = nullptr);
    // Writes the history lines still waiting to the log.
    ~TAntiIdleSession() override;

    // The observers are told of every event, in the order they were added.
    // An observer must be removed before it goes away.
    void AddObserver(TSessionObserver *observer);
    void RemoveObserver(TSessionObserver *observer);

    // Starts a session: clears the history, reads the options, sends the first
    // probe and starts the timer. False when the start cannot work (no host,
    // a frequency that is no number, an empty list while cycling): the
    // reason is in *reason when given, the observers got it as a message,
    // and no probe or timer runs.
    bool Start(QString *reason = nullptr);
    // Ends the session: timers stopped, the waiting history written to the
    // log, counters cleared. A probe still out is not cancelled: its result
    // comes later and is reported as usual.
    void Stop();
    // One tick of the probe timer: the next host, then one probe. Timer3
    // calls it; a test calls it rather than waiting a minute. With every
    // target each interval: the entries whose slot has come by the clock go
    // (ProbeAllTimer calls it).
    void Tick();
    // The session probes every target each interval: its length in ms; 0 in
    // the designed cycle (or when no session runs).
    int ProbeAllIntervalMs() const { return probeAllMs_; }
    // Stops a probe still out (the program ends): it is neither a success
    // nor a failure. True while a transfer runs that a next probe would wait for.
    void CancelProbes();
    bool TransferRunning() const;

    // The interval measured for the network in use, in milliseconds (0: none
    // measured), asked at the start and at IntervalSourceChanged() when
    // [KeepAlive] IntervalFrom is "measured". Unset: the frequency as set.
    std::function<int()> MeasuredIntervalMs;
    // The network, the measurements or the preferences changed: a running
    // session takes the interval they give now.
    void IntervalSourceChanged();
    // [KeepAlive] IntervalFrom is "measured": the interval follows the network in use.
    bool FollowsMeasuredInterval() const;

    // Between Start and Stop.
    bool Started() const { return phase_ != TSessionPhase::Idle; }
    TSessionPhase Phase() const { return phase_; }
    // Writes every history line still waiting to the log (the program is
    // ending). False when the log cannot be written (observers told).
    bool FlushLog();
    // Adds a line to the session's history from outside the session (a
    // dial-up notice), so the log keeps every line a view of it shows.
    void AddHistoryLine(const QString &text);

    // Pauses the probes (ticks send nothing, results still out do not count
    // for the line) while the machine sleeps or the connection is metered;
    // 'why' names the reason ("suspended", "paused (metered)"). Pauses of
    // different reasons stack: probes resume when none is left.
    void Pause(const QString &why);
    void Resume(const QString &why);
    bool Paused() const { return !pauses_.isEmpty(); }
    // Why the line went, as the dial-up service says (kept with the outage).
    void SetLinkCause(const QString &cause) { link_.SetCause(cause); }
    // The line's state as the probes see it; thresholds from the history
    // options, read at each result.
    const TLinkMonitor &Link() const { return link_; }
    // Why the line is down, diagnosed at each outage once switched on.
    TOutageDiagnosis &Diagnosis() { return *diagnosis_; }
    // The counters "skip when busy" reads ([KeepAlive] SkipWhenBusy).
    TLineWatch &LineWatch() { return lineWatch_; }

    // The server list the session visits, the web client it probes with
    // (shared with the server list download), its statistics and its log.
    TServerHosts &Servers() { return servers_; }
    TWebClient &Web();
    TSessionStats &Stats() { return stats_; }
    const TSessionStats &Stats() const { return stats_; }
    const TSessionLog &Log() const { return log_; }
    // The watchdog limit of the next probe (or, probe = false, download).
    int HttpWatchdogLimit(bool probe) const;

    // The transport a kind of probe goes out through. 'transport' is not
    // owned and must outlive the session or be replaced first; nullptr goes
    // back to the session's own. For tests, which script the outcomes.
    void SetTransport(session::TProbeKind kind, probe::ITransport *transport);
    // The clock the session stamps its events with; nullptr: the system's.
    // Not owned.
    void SetClock(const TEngineClock *clock);

private:
    friend struct TSessionTestAccess;

    // One probe out: what it was sent as, so that its result is told and
    // counted as that probe's, whatever the session did meanwhile.
    struct TFlight {
        QString Host;                 // the entry as written (its report row's name)
        session::TProbeUrl Url;       // what the entry names; Kind None for a plain one
        session::TProbeKind Kind = session::TProbeKind::None;
        int Size = 0;                 // echo data bytes
        int ServerIndex = -1;         // list position; -1 without cycling
        int Row = 1;                  // report row
        TRunGuard::TTicket Session = TRunGuard::NoRun;  // the session that sent it
    };

    // The steps of a session, each as its event runs it.
    QString StartAntiIdle();          // why the start failed; empty when it went
    QString StartCycle();             // first server of the list, then the timer
    bool StartSessionStats(QString *error = nullptr);
    // Timer3's interval: the measured one where it applies, else 'minutes'.
    int ProbeIntervalMs(int minutes) const;
    void SendProbe();                 // one echo or HTTP GET to CurrentHost, by the method
    void SendOpeningEcho(const QString &host);
    void SendOpening(const QString &host);
    // An entry that names no probe it can send: a failed probe with the reason.
    void MalformedEntry(const TFlight &flight, const QString &reason);
    void Dispatch(const TFlight &flight);
    // Hands the flight to its transport with the events that bring it back.
    void Launch(TFlight flight, probe::ITransport *transport);
    // Every target each interval (antiidlesession_probeall.cpp).
    QString StartProbeAll(int count);
    void ProbeAllTick();
    void ProbeAllEntry(int index);
    void ArmProbeAll(qint64 nowMs);
    // The flight waits for its kind's transport, then goes in its turn.
    void Queue(const TFlight &flight);
    void Drain(session::TProbeKind kind);
    bool CanSend(session::TProbeKind kind) const;
    void EndProbeAll();
    // The interval a probe must end within: the plan's, else Timer3's.
    int ProbeIntervalNowMs() const;
    void ProbeSending(const TFlight &flight);
    void ProbeDone(const TFlight &flight, const probe::TReply &reply);
    void LogTimerTimer();
    void EndSession();
    // The statistics of a probe of CurrentHost that ended: a success of 'ms',
    // a failure, a failed lookup (counted once per tick).
    void RecordSuccess(int ms);
    void RecordFailure();
    void RecordLookupFailure();
    int ReportRow() const { return State.CycleMode ? State.ServerIndex + 1 : 1; }
    // The transport of a kind; nullptr for a kind this build cannot send.
    // Every target each interval sends the session's own echoes through the
    // pool, so that one waiting for its reply holds up no other.
    probe::ITransport *Transport(session::TProbeKind kind) const;
    TStamp Now() const;

    void SetPhase(TSessionPhase next);
    void StartProbeTimer();
    void RecordSuccess(TProbeResult &result);
    void RecordFailure(TProbeResult &result);
    void RecordLookupFailure(TProbeResult &result);
    TProbeResult CurrentResult() const;
    void Publish(TProbeResult &result);
    void StopMonitoring();
    diagnosis::TDiagnosisRequest DiagnosisRequest(const TOutage &outage) const;
    // Looks up the anchors and the check page's host, for the diagnosis to ask.
    void LookUpAnchors();
    void Diagnosed(const diagnosis::TDiagnosisResult &result, bool down);
    // Checks again, a while from now, whether a captive portal still holds the line.
    void CheckCaptive(const diagnosis::TDiagnosisRequest &request);
    // With [KeepAlive] SkipWhenBusy: CurrentHost's probe is skipped (and
    // recorded so) when its line carried other traffic since the last one.
    bool SkipProbe();
    void Status(const QString &text, bool repaint = false);
    void HistoryLine(const QString &text);
    void FailureLine(const QString &text);
    void Message(const QString &text);
    template <typename Call> void Notify(Call call);

    const config::TOptions &options_;
    QTimer *Timer3 = nullptr;         // one probe per tick; interval from the frequency
    QTimer *LogTimer = nullptr;       // writes the waiting history lines to the log
    QTimer *DownHoldTimer = nullptr;  // the longest a cycle's failures wait for their diagnosis
    QTimer *ProbeAllTimer = nullptr;  // single shot at the plan's next slot
    std::unique_ptr<TEchoTransport> echo_;  // Ping2: Timeout 5000, TTL 64, Size 56
    // Every target each interval: echoes side by side, each on its own worker.
    std::unique_ptr<TEchoPoolTransport> echoPool_;
    THttpTransport *http_ = nullptr;  // the web client and HTTPTimer (a child)
    std::unique_ptr<TTcpTransport> tcp_;      // tcp:// handshakes
    std::unique_ptr<THttpsTransport> https_;  // https:// GETs
    std::unique_ptr<TDnsTransport> dns_;      // dns:// queries
    std::unique_ptr<TBurstTransport> burst_;  // echo://...?count= bursts
    // Where each kind goes, by TProbeKind: the session's own transports
    // unless a test's; a kind without one fails its probes with a reason.
    static constexpr int KindCount = int(session::TProbeKind::Burst) + 1;
    probe::ITransport *transports_[KindCount] = {};
    probe::ITransport *OwnTransport(session::TProbeKind kind) const;
    const TEngineClock *clock_ = nullptr;
    TSessionState State;              // where the session stands; its steps keep it
    TServerHosts servers_;
    TSessionStats stats_;
    TSessionLog log_;
    TLinkMonitor link_;
    TOutageDiagnosis *diagnosis_ = nullptr;  // a child: why the line is down
    diagnosis::TDiagnosisRequest captiveRequest_;  // what the checks while captive ask
    QStringList pauses_;              // reasons the probes are paused for
    // The last probe that reached each host: where it went and what it cost.
    struct TLastProbe {
        QString Address;
        session::TProbeKind Kind = session::TProbeKind::None;
        qint64 Sent = 0, Received = 0;
    };
    std::map<QString, TLastProbe> lastProbe_;
    // The anchors' and the check page host's addresses, looked up as the session starts: during an
    // outage the name service may be the very thing that is down.
    std::map<QString, QString> anchorAddress_;
    TLineWatch lineWatch_;
    std::vector<TSessionObserver *> observers_;

    // Every target each interval: the plan, its interval (0: the designed
    // cycle), the probes waiting for their transport by kind, the probes out
    // by kind, the report rows with a probe out or waiting.
    session::TProbeAllPlan plan_;
    int probeAllMs_ = 0;
    std::deque<TFlight> waiting_[KindCount];
    int out_[KindCount] = {};
    bool draining_[KindCount] = {};
    std::set<int> rowsOut_;

    TSessionPhase phase_ = TSessionPhase::Idle;
    TRunGuard session_;               // one run per session started
    bool closing_ = false;            // the session is being destroyed: results go nowhere
    bool reporting_ = false;          // a tick's message box is open
};

template <typename Call>
void TAntiIdleSession::Notify(Call call)
{
    // An observer may add or remove observers (or run a loop in which others
    // do): tell those present when the event happened and still present.
    const std::vector<TSessionObserver *> now = observers_;
    for (TSessionObserver *o : now) {
        if (std::find(observers_.begin(), observers_.end(), o) != observers_.end())
            call(o);
    }
}
