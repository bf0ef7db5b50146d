// The anti-idle cycle: the start of a session, the timer tick, the choice of
// host and method for each probe, the statistics and the log, and the end.
// Each probe's way out and back is in antiidlesession_probe.cpp.
#include "session/antiidlesession.h"

#include "config/options.h"
#include "platform/lookupservice.h"
#include "platform/monoclock.h"
#include "platform/statetrace.h"
#include "session/bursttransport.h"
#include "session/dnstransport.h"
#include "session/echopooltransport.h"
#include "session/echotransport.h"
#include "session/engineclock.h"
#include "session/httpstransport.h"
#include "session/httptransport.h"
#include "session/logfile.h"
#include "session/probetexts.h"
#include "session/serverlistfile.h"
#include "session/tcptransport.h"
#include "session/webclient.h"

#include <QDateTime>
#include <QTimer>
#include <QUrl>

#include <algorithm>

namespace {

using config::TAntiIdleOptions;

// The phases by their values (TSessionPhase).
constexpr const char *PhaseNames[] = {"idle", "starting", "running", "paused", "stopping"};

// What reading a list entry that does not exist says.
QString ListIndexText(int index)
{
    return QStringLiteral("List index out of bounds (%1)").arg(index);
}

} // namespace

QString KindName(session::TProbeKind kind)
{
    switch (kind) {
    case session::TProbeKind::Echo: return QStringLiteral("echo");
    case session::TProbeKind::HttpGet: return QStringLiteral("http");
    case session::TProbeKind::Tcp: return QStringLiteral("tcp");
    case session::TProbeKind::Https: return QStringLiteral("https");
    case session::TProbeKind::Dns: return QStringLiteral("dns");
    case session::TProbeKind::Burst: return QStringLiteral("burst");
    case session::TProbeKind::None: break;
    }
    return QString();
}

TStamp TStamp::Now()
{
    return {QDateTime::currentDateTimeUtc(), platform::MonoNowNs()};
}

TAntiIdleSession::TAntiIdleSession(const config::TOptions &options, QObject *parent)
    : QObject(parent), options_(options)
{
    setObjectName(QStringLiteral("AntiIdleSession"));
    clock_ = &TSystemClock::Instance();
    echo_ = std::make_unique<TEchoTransport>();
    echoPool_ = std::make_unique<TEchoPoolTransport>();
    http_ = new THttpTransport(this);
    tcp_ = std::make_unique<TTcpTransport>();
    https_ = std::make_unique<THttpsTransport>();
    dns_ = std::make_unique<TDnsTransport>();
    burst_ = std::make_unique<TBurstTransport>();
    for (int kind = 0; kind < KindCount; ++kind)
        transports_[kind] = OwnTransport(session::TProbeKind(kind));
    // The server list download shares the client: its progress is told too.
    http_->Web().OnStatus = [this](const QString &text) { Status(text, true); };

    auto timer = [this](const char *name, int interval) {
        auto *t = new QTimer(this);
        t->setObjectName(QString::fromLatin1(name));
        t->setInterval(interval);
        return t;
    };
    Timer3 = timer("Timer3", 60000);      // set per session from the frequency
    // A coarse timer may fire 5 % late, 3 s at one probe a minute, and a
    // busy machine makes it so; at one wake-up a minute precision costs
    // nothing, and the probes keep their interval.
    Timer3->setTimerType(Qt::PreciseTimer);
    LogTimer = timer("LogTimer", 100000);
    // Every target each interval: armed for the plan's next slot each time.
    ProbeAllTimer = timer("ProbeAllTimer", 0);
    ProbeAllTimer->setSingleShot(true);
    ProbeAllTimer->setTimerType(Qt::PreciseTimer);
    connect(Timer3, &QTimer::timeout, this, &TAntiIdleSession::Tick);
    connect(ProbeAllTimer, &QTimer::timeout, this, &TAntiIdleSession::Tick);
    connect(LogTimer, &QTimer::timeout, this, &TAntiIdleSession::LogTimerTimer);

    diagnosis_ = new TOutageDiagnosis(this);
    diagnosis_->OnVerdict = [this](const diagnosis::TDiagnosisResult &r, bool down) { Diagnosed(r, down); };
    diagnosis_->OnRoute = [this](const QString &hops) {
        Notify([&](TSessionObserver *ob) { ob->RouteTraced(hops); });
    };
    // A cycle's run of failures waits for the diagnosis before it is the
    // line's, at most this long (the ladder ends within 5 s).
    DownHoldTimer = timer("DownHoldTimer", 6000);
    DownHoldTimer->setSingleShot(true);
    connect(DownHoldTimer, &QTimer::timeout, this, [this] { link_.ConfirmDown(); });
    link_.OnPending = [this](const TOutage &o) {
        DownHoldTimer->start();
        diagnosis_->LineDown(DiagnosisRequest(o), Timer3->interval());
    };
    link_.OnDown = [this](const TOutage &o) {
        DownHoldTimer->stop();
        Notify([&](TSessionObserver *ob) { ob->LinkDown(o); });
        // A held outage has its diagnosis running already.
        if (!diagnosis_->Watching())
            diagnosis_->LineDown(DiagnosisRequest(o), Timer3->interval());
    };
    link_.OnUp = [this](const TOutage &o) {
        Notify([&](TSessionObserver *ob) { ob->LinkUp(o); });
        diagnosis_->LineUp(DiagnosisRequest(o));
    };
    link_.OnState = [this](TLinkMonitor::TLink state) {
        const TStamp at = Now();
        Notify([&](TSessionObserver *ob) { ob->LinkState(state, at); });
    };
}

TAntiIdleSession::~TAntiIdleSession()
{
    // Observers are going or gone: nobody is told any more, and a probe
    // still out ends into nothing (a test's transport outlives the session).
    observers_.clear();
    closing_ = true;
    diagnosis_->Stop();
    http_->Web().OnStatus = {};
    for (int kind = 0; kind < KindCount; ++kind) {
        probe::ITransport *transport = transports_[kind];
        if (transport && transport != OwnTransport(session::TProbeKind(kind)))
            transport->Cancel();
    }
    echo_.reset();
    echoPool_.reset();
    tcp_.reset();
    https_.reset();
    dns_.reset();
    burst_.reset();
    QString error;
    log_.FlushAll(&error);
}

TWebClient &TAntiIdleSession::Web()
{
    return http_->Web();
}

probe::ITransport *TAntiIdleSession::OwnTransport(session::TProbeKind kind) const
{
    switch (kind) {
    case session::TProbeKind::Echo:
        return echo_.get();
    case session::TProbeKind::HttpGet:
        return http_;
    case session::TProbeKind::Tcp:
        return tcp_.get();
    case session::TProbeKind::Https:
        return https_.get();
    case session::TProbeKind::Dns:
        return dns_.get();
    case session::TProbeKind::Burst:
        return burst_.get();
    case session::TProbeKind::None:
        break;
    }
    return nullptr;
}

void TAntiIdleSession::SetTransport(session::TProbeKind kind, probe::ITransport *transport)
{
    const int at = int(kind);
    if (kind == session::TProbeKind::None || at >= KindCount)
        return;
    transports_[at] = transport ? transport : OwnTransport(kind);
}

void TAntiIdleSession::SetClock(const TEngineClock *clock)
{
    clock_ = clock ? clock : &TSystemClock::Instance();
}

TStamp TAntiIdleSession::Now() const
{
    return clock_->Now();
}

void TAntiIdleSession::CancelProbes()
{
    echoPool_->Cancel();
    for (probe::ITransport *transport : transports_) {
        if (transport)
            transport->Cancel();
    }
}

bool TAntiIdleSession::TransferRunning() const
{
    return transports_[int(session::TProbeKind::HttpGet)]->Busy();
}

void TAntiIdleSession::AddObserver(TSessionObserver *observer)
{
    if (observer && std::find(observers_.begin(), observers_.end(), observer) == observers_.end())
        observers_.push_back(observer);
}

void TAntiIdleSession::RemoveObserver(TSessionObserver *observer)
{
    observers_.erase(std::remove(observers_.begin(), observers_.end(), observer), observers_.end());
}

void TAntiIdleSession::Status(const QString &text, bool repaint)
{
    Notify([&](TSessionObserver *o) { o->Status(text, repaint); });
}

void TAntiIdleSession::HistoryLine(const QString &text)
{
    log_.Add(session::LogLine(text));
    Notify([&](TSessionObserver *o) { o->HistoryLine(text); });
}

void TAntiIdleSession::FailureLine(const QString &text)
{
    log_.Add(session::LogLine(text));
    Notify([&](TSessionObserver *o) { o->FailureLine(text); });
}

void TAntiIdleSession::AddHistoryLine(const QString &text)
{
    HistoryLine(text);
}

void TAntiIdleSession::Message(const QString &text)
{
    Notify([&](TSessionObserver *o) { o->Message(text); });
}

const char *PhaseName(TSessionPhase phase)
{
    return PhaseNames[static_cast<int>(phase)];
}

void TAntiIdleSession::SetPhase(TSessionPhase next)
{
    platform::TraceState("session", this, phase_, next, PhaseNames);
    phase_ = next;
}

bool TAntiIdleSession::Start(QString *reason)
{
    SetPhase(TSessionPhase::Starting);
    // A session's first probe always goes out.
    lineWatch_.Clear();
    const QString why = StartAntiIdle();
    if (!why.isEmpty()) {
        // The start ends here; a Stop ends the session as usual.
        Message(why);
        if (reason)
            *reason = why;
        return false;
    }
    SetPhase(Paused() ? TSessionPhase::Paused : TSessionPhase::Running);
    LookUpAnchors();
    Notify([](TSessionObserver *o) { o->SessionStarted(); });
    return true;
}

void TAntiIdleSession::LookUpAnchors()
{
    anchorAddress_.clear();
    // Nothing is asked for a line that is not diagnosed.
    if (!diagnosis_->Enabled())
        return;
    QStringList names = options_.Diagnosis.Anchors;
    if (!options_.Diagnosis.CheckUrl.isEmpty())
        names << QUrl(options_.Diagnosis.CheckUrl).host();
    for (const QString &anchor : names) {
        platform::Lookups().Submit(
            this, platform::TLookupRequest::ForName(anchor.toStdString(), options_.Network.Choice()),
            [this, anchor](unsigned, int error, const platform::HostEntry &entry) {
                if (error == 0 && !entry.addresses.empty())
                    anchorAddress_[anchor] = QString::fromStdString(platform::AddressText(entry.addresses.front()));
            });
    }
}

void TAntiIdleSession::Stop()
{
    if (Started() && !Paused())
        StopMonitoring();
    SetPhase(TSessionPhase::Stopping);
    EndSession();
    SetPhase(TSessionPhase::Idle);
}

QString TAntiIdleSession::StartAntiIdle()
{
    session_.Begin();
    const TAntiIdleOptions &options = options_.AntiIdle;
    const bool cycle = options.Checked(TAntiIdleOptions::CycleServerList);
    log_.Forget();
    EndProbeAll();
    if (options_.ProbeAll.Enabled) {
        // Refused before anything starts: a plan that cannot run is no plan.
        const QString why = session::ProbeAllIntervalProblem(options_.ProbeAll.Interval,
                                                             QStringLiteral("[Probe All] Interval"));
        if (!why.isEmpty())
            return why;
        probeAllMs_ = options_.ProbeAll.Interval * 1000;
    }
    const TSessionStart start{options.Method, cycle, Now()};
    Notify([&](TSessionObserver *o) { o->SessionStarting(start); });
    Web().HttpRequestCount = 0;
    LogTimer->start();
    Web().CopyProxySettings(options_.Proxy);

    if (cycle) {
        State.CycleMode = true;
        servers_.Load(session::ServerListPath());
        QString error;
        if (!StartSessionStats(&error))
            return error;
        return StartCycle();
    }
    State.CycleMode = false;
    const QString host = options.Host;
    // Without a host, or without a frequency, there is nothing to send.
    if (host.isEmpty())
        return QLatin1String(NoHostText);
    // A URL that names no probe would fail every tick: it is told now.
    session::TProbeUrl url;
    QString error;
    if (!session::ParseProbeUrl(host, &url, &error))
        return session::MalformedText(host, error);
    if (!StartSessionStats(&error))
        return error;
    if (probeAllMs_ > 0)
        return StartProbeAll(1);
    if (!Paused())
        SendOpening(host);
    StartProbeTimer();
    return QString();
}

QString TAntiIdleSession::StartCycle()
{
    State.CycleMode = true;
    Notify([](TSessionObserver *o) { o->CycleStarted(); });
    if (servers_.Count() == 0)
        return ListIndexText(0);
    if (probeAllMs_ > 0)
        return StartProbeAll(servers_.Count());
    State.CurrentHost = servers_.At(0);
    State.ServerIndex = 0;
    Notify([&](TSessionObserver *o) { o->ServerPosition(0, State.CurrentHost); });
    SendProbe();
    StartProbeTimer();
    return QString();
}

void TAntiIdleSession::StartProbeTimer()
{
    Timer3->start();
    Notify([](TSessionObserver *o) { o->ProbesScheduled(); });
}

bool TAntiIdleSession::StartSessionStats(QString *error)
{
    const TAntiIdleOptions &options = options_.AntiIdle;
    bool ok = false;
    int minutes = options.Frequency.trimmed().toInt(&ok);
    if (!ok) {
        if (error)
            *error = QStringLiteral("'%1' is not a valid integer value").arg(options.Frequency);
        return false;
    }
    // 0 would fire the timer without pause; the field's own range applies.
    minutes = TAntiIdleOptions::FrequencyRange.Clamp(minutes);
    Timer3->setInterval(ProbeIntervalMs(minutes));

    const QStringList hosts = State.CycleMode ? servers_.Entries() : QStringList{options.Host};
    stats_.Start(hosts);

    // The log holds the last session only. A log that cannot be removed is
    // reported but does not stop the session.
    QString logError;
    if (!log_.Remove(&logError))
        Message(logError);

    const TStatsStart start{ProbeIntervalNowMs(), State.CycleMode, hosts, Now(), probeAllMs_ > 0};
    Notify([&](TSessionObserver *o) { o->StatsReset(start); });
    return true;
}

int TAntiIdleSession::ProbeIntervalMs(int minutes) const
{
    if (options_.KeepAlive.IntervalFrom == config::TKeepAliveOptions::Measured && MeasuredIntervalMs) {
        // Never below 10 s: a timer measured at a few seconds is a broken
        // gateway, and a probe every few seconds would cost more than it keeps.
        if (const int ms = MeasuredIntervalMs(); ms > 0)
            return std::max(ms, 10'000);
    }
    return minutes * 60000;
}

bool TAntiIdleSession::FollowsMeasuredInterval() const
{
    return options_.KeepAlive.IntervalFrom == config::TKeepAliveOptions::Measured;
}

void TAntiIdleSession::IntervalSourceChanged()
{
    // Every target each interval keeps the interval of its own.
    if (!Started() || probeAllMs_ > 0)
        return;
    bool ok = false;
    const int minutes = TAntiIdleOptions::FrequencyRange.Clamp(options_.AntiIdle.Frequency.trimmed().toInt(&ok));
    const int interval = ProbeIntervalMs(ok ? minutes : TAntiIdleOptions::FrequencyRange.Min);
    // Restarting the timer counts the new interval from now.
    if (interval != Timer3->interval() && Timer3->isActive())
        Timer3->start(interval);
    else
        Timer3->setInterval(interval);
}

void TAntiIdleSession::Tick()
{
    if (probeAllMs_ > 0) {
        ProbeAllTick();
        return;
    }
    // A paused session skips its ticks; the cycle stays where it was.
    if (Paused())
        return;
    if (State.CycleMode) {
        ++State.ServerIndex;
        if (State.ServerIndex > servers_.Count() - 1)
            State.ServerIndex = 0;
        // The list can be emptied in the editor during a session: the tick
        // says so and sends nothing. A message box runs its own loop, and
        // the timer keeps firing inside it; one box at a time is enough.
        if (State.ServerIndex >= servers_.Count()) {
            if (reporting_)
                return;
            reporting_ = true;
            Message(ListIndexText(State.ServerIndex));
            reporting_ = false;
            return;
        }
        State.CurrentHost = servers_.At(State.ServerIndex);
        Notify([&](TSessionObserver *o) { o->ServerPosition(State.ServerIndex, State.CurrentHost); });
    } else {
        State.CurrentHost = options_.AntiIdle.Host;
    }
    if (options_.KeepAlive.SkipWhenBusy && SkipProbe())
        return;
    stats_.NewTick();
    SendProbe();
}

bool TAntiIdleSession::SkipProbe()
{
    const auto last = lastProbe_.find(State.CurrentHost);
    if (last == lastProbe_.end() || Paused())
        return false;
    const QString &target = last->second.Address;
    // A web probe's connection may still close after its result: a few
    // packets each way are its own.
    const session::TProbeKind kind = last->second.Kind;
    const bool connection = kind == session::TProbeKind::HttpGet || kind == session::TProbeKind::Https
        || kind == session::TProbeKind::Tcp;
    const quint64 ownTail = connection ? 3 : 0;
    if (!lineWatch_.Busy(target, ownTail))
        return false;
    TProbeResult result;
    result.Host = State.CurrentHost;
    result.Address = last->second.Address;
    result.Kind = last->second.Kind;
    result.Outcome = TProbeOutcome::Skipped;
    result.Reason = QStringLiteral("the line carried other traffic since the last probe");
    result.ServerIndex = State.CycleMode ? State.ServerIndex : -1;
    result.Row = ReportRow();
    result.SavedSent = last->second.Sent;
    result.SavedReceived = last->second.Received;
    Publish(result);
    lineWatch_.Mark(target);
    return true;
}

void TAntiIdleSession::Publish(TProbeResult &result)
{
    result.At = Now();
    if (result.Outcome != TProbeOutcome::Skipped && !result.Address.isEmpty()) {
        TLastProbe &last = lastProbe_[result.Host];
        last.Address = result.Address;
        last.Kind = result.Kind;
        // A lost probe cost less than one answered: the saving counts what
        // an answered one costs.
        if (result.Success() || last.Sent == 0) {
            last.Sent = result.BytesSent;
            last.Received = result.BytesReceived;
        }
        // The counters from the end of this probe: its own packets are in.
        if (options_.KeepAlive.SkipWhenBusy)
            lineWatch_.Mark(result.Address);
    }
    Notify([&](TSessionObserver *o) { o->ProbeResult(result); });
    // The line is watched only while a session runs and is not paused: a
    // probe that ends after the machine woke, or after the session, tells
    // nothing of the line then.
    // (The first probe's result comes while the session is starting.)
    const bool watched = phase_ == TSessionPhase::Starting || phase_ == TSessionPhase::Running;
    if (!watched || Paused())
        return;
    link_.SetThresholds(options_.History.DownAfter, options_.History.UpAfter);
    // Over a cycle of servers one silent server is not the line: the
    // diagnosis says which it is before the line goes down.
    link_.SetHoldDown(State.CycleMode && diagnosis_->Enabled());
    link_.Feed(result);
}

namespace {

// The pause while a captive portal holds the line: like sleep, not an outage.
const QString kCaptive = QStringLiteral("captive");
// How often a captive network is checked for letting traffic through.
constexpr int kCaptiveCheckMs = 3000;

} // namespace

void TAntiIdleSession::Diagnosed(const diagnosis::TDiagnosisResult &r, bool down)
{
    if (!down && pauses_.contains(kCaptive)) {
        // A check while captive: the portal let go (NetworkManager says so,
        // or the server answers for itself), or it is checked again.
        if (r.Verdict != diagnosis::TVerdict::Portal) {
            HistoryLine(QStringLiteral("The portal lets traffic through: probes resume. ") + r.Evidence);
            Resume(kCaptive);
        } else {
            CheckCaptive(captiveRequest_);
        }
        return;
    }
    if (down && link_.Pending()) {
        DownHoldTimer->stop();
        if (r.Verdict == diagnosis::TVerdict::Target) {
            // One server is silent while the others answer: not the line.
            const QStringList hosts = link_.Pending()->HostsTried;
            link_.Dismiss();
            diagnosis_->Stop();
            HistoryLine(QStringLiteral("Only %1 does not answer; the line is up. %2")
                            .arg(hosts.join(QStringLiteral(", ")), r.Evidence));
            return;
        }
        link_.SetDiagnosis(diagnosis::VerdictName(r.Verdict), r.Evidence);
        link_.ConfirmDown();
    } else if (down) {
        link_.SetDiagnosis(diagnosis::VerdictName(r.Verdict), r.Evidence);
    }
    const std::optional<TOutage> outage = down ? link_.Current() : std::nullopt;
    // A held run that ended unconfirmed (the line answered meanwhile) has
    // no outage: nothing more to check.
    if (down && !outage) {
        diagnosis_->Stop();
        return;
    }
    Notify([&](TSessionObserver *ob) { ob->Diagnosed(r, outage); });
    if (outage && r.Verdict == diagnosis::TVerdict::Portal && !pauses_.contains(kCaptive)) {
        // The time behind a portal is "captive", not down: the outage ends
        // here and the probes wait until the portal lets traffic through.
        captiveRequest_ = DiagnosisRequest(*outage);
        Pause(kCaptive);
        CheckCaptive(captiveRequest_);
    }
}

void TAntiIdleSession::CheckCaptive(const diagnosis::TDiagnosisRequest &request)
{
    QTimer::singleShot(kCaptiveCheckMs, this, [this, request] {
        if (pauses_.contains(kCaptive))
            diagnosis_->LineUp(request);
    });
}

diagnosis::TDiagnosisRequest TAntiIdleSession::DiagnosisRequest(const TOutage &outage) const
{
    QStringList servers;
    if (State.CycleMode)
        for (int i = 0; i < servers_.Count(); ++i)
            servers << servers_.At(i);
    return OutageRequest(
        outage, servers,
        [this](const QString &host) {
            const auto last = lastProbe_.find(host);
            if (last != lastProbe_.end())
                return last->second.Address;
            const auto anchor = anchorAddress_.find(host);
            return anchor == anchorAddress_.end() ? QString() : anchor->second;
        },
        options_.Diagnosis);
}

void TAntiIdleSession::StopMonitoring()
{
    diagnosis_->Stop();
    DownHoldTimer->stop();
    const TStamp at = Now();
    const std::optional<TOutage> open = link_.Stop(at);
    Notify([&](TSessionObserver *o) { o->MonitoringStopped(at, open); });
}

void TAntiIdleSession::Pause(const QString &why)
{
    if (pauses_.contains(why))
        return;
    const bool first = pauses_.isEmpty();
    pauses_ << why;
    const TStamp at = Now();
    Notify([&](TSessionObserver *o) { o->Paused(why, at); });
    if (first && Started())
        StopMonitoring();
    if (phase_ == TSessionPhase::Running)
        SetPhase(TSessionPhase::Paused);
}

void TAntiIdleSession::Resume(const QString &why)
{
    if (!pauses_.removeOne(why) || !pauses_.isEmpty())
        return;
    if (phase_ == TSessionPhase::Paused)
        SetPhase(TSessionPhase::Running);
    const TStamp at = Now();
    Notify([&](TSessionObserver *o) { o->Resumed(at); });
}

void TAntiIdleSession::RecordSuccess(TProbeResult &result)
{
    // The table may lack the row when the server list grew during the session
    // (it keeps the rows it started with); the success still counts.
    stats_.RecordSuccess(result.Row, result.Ms);
    result.Counted = true;
    Publish(result);
}

void TAntiIdleSession::RecordFailure(TProbeResult &result)
{
    stats_.RecordFailure(result.Row);
    result.Counted = true;
    Publish(result);
}

void TAntiIdleSession::RecordLookupFailure(TProbeResult &result)
{
    // Counted once per tick, in the server's row like any other failure.
    result.Counted = stats_.RecordLookupFailure(result.Row);
    Publish(result);
}

TProbeResult TAntiIdleSession::CurrentResult() const
{
    TProbeResult result;
    result.Host = State.CurrentHost;
    result.ServerIndex = State.CycleMode ? State.ServerIndex : -1;
    result.Row = ReportRow();
    return result;
}

void TAntiIdleSession::RecordSuccess(int ms)
{
    TProbeResult result = CurrentResult();
    result.Outcome = TProbeOutcome::Ok;
    result.Ms = ms;
    RecordSuccess(result);
}

void TAntiIdleSession::RecordFailure()
{
    TProbeResult result = CurrentResult();
    RecordFailure(result);
}

void TAntiIdleSession::RecordLookupFailure()
{
    TProbeResult result = CurrentResult();
    result.Outcome = TProbeOutcome::LookupFailed;
    RecordLookupFailure(result);
}

void TAntiIdleSession::EndSession()
{
    LogTimer->stop();
    Timer3->stop();
    EndProbeAll();
    // Every line of the session is in the log before the session is over.
    QString error;
    if (log_.FlushAll(&error) == TSessionLog::TFlush::Failed && !error.isEmpty())
        Message(error);
    const TSessionEnd end{stats_.Attempts(), stats_.Successes(), stats_.Failures(), Now()};
    Notify([&](TSessionObserver *o) { o->SessionStopped(end); });
    stats_.End();
    State.CycleMode = false;
}

void TAntiIdleSession::LogTimerTimer()
{
    QString error;
    switch (log_.FlushIfDue(&error)) {
    case TSessionLog::TFlush::Nothing:
        break;
    case TSessionLog::TFlush::Written:
        Notify([](TSessionObserver *o) { o->LogFlushed(); });
        break;
    case TSessionLog::TFlush::Failed:
        // The lines stay waiting, so the next tick tries again; a failure
        // that lasts is told once.
        if (!error.isEmpty())
            Message(error);
        break;
    }
}

bool TAntiIdleSession::FlushLog()
{
    QString error;
    if (log_.FlushAll(&error) != TSessionLog::TFlush::Failed)
        return true;
    if (!error.isEmpty())
        Message(error);
    return false;
}
