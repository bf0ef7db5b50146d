#include "service/headlessservice.h"

#include "config/commandline.h"
#include "config/optionsfile.h"
#include "platform/appdir.h"
#include "history/historykeeper.h"
#include "platform/appdir.h"
#include "platform/services.h"
#include "platform/icmpecho.h"
#include "platform/logstream.h"
#include "platform/quitsignals.h"
#include "platform/lookupservice.h"
#include "platform/resolver.h"
#include "platform/version.h"
#include "service/intervalfollower.h"
#include "service/metricsserver.h"
#include "service/serviceargs.h"
#include "service/serviceconfig.h"
#include "service/systemdnotifier.h"
#include "session/antiidlesession.h"
#include "session/logfile.h"
#include "session/serverlistfile.h"

#include <QCoreApplication>
#include <QTimer>

#include <csignal>
#include <cstdio>

namespace service {

namespace {

QString SignalName(int signo)
{
    switch (signo) {
    case SIGTERM: return QStringLiteral("SIGTERM");
    case SIGINT: return QStringLiteral("SIGINT");
    case SIGHUP: return QStringLiteral("SIGHUP");
    default: return QStringLiteral("signal %1").arg(signo);
    }
}

QString LinkText(TLinkMonitor::TLink link)
{
    switch (link) {
    case TLinkMonitor::TLink::Up: return QStringLiteral("line up");
    case TLinkMonitor::TLink::Down: return QStringLiteral("line down");
    case TLinkMonitor::TLink::Unknown: break;
    }
    return QStringLiteral("line not yet known");
}

} // namespace

THeadlessService::THeadlessService(const TServiceLog &log, const config::TOptions &options,
                                   const std::optional<TListenAddress> &metrics,
                                   const std::optional<TRemoteWriteSettings> &remote, QObject *parent)
    : QObject(parent), log_(log), options_(options), metricsAt_(metrics), logger_(log),
      metrics_(QString::fromLatin1(platform::ProgramVersion))
{
    session_ = std::make_unique<TAntiIdleSession>(options_);
    session_->Diagnosis().SetEnabled(true);
    notifier_ = new TSystemdNotifier(this);
    notifier_->OnError = [this](const QString &text) { log_.Write(TLogLevel::Warning, text); };

    // In order: the log, the figures, then the status (which reads them).
    session_->AddObserver(&logger_);
    session_->AddObserver(&metrics_);
    session_->AddObserver(this);
    // The same connection history as the window's program keeps; one that
    // cannot be opened is told and the session runs unrecorded.
    history_ = std::make_unique<history::THistoryKeeper>(*session_, options_, nullptr,
                                                         history::THistoryStore::DefaultPath(),
                                                         QStringLiteral("the service"));
    if (history_->Writer().isEmpty()) {
        for (const QString &notice : history_->Store().Notices())
            log_.Write(TLogLevel::Warning, notice);
        if (!history_->Store().Problem().isEmpty())
            log_.Write(TLogLevel::Warning, history_->Store().Problem());
    }
    // Recording that stops (a full disk, a lock held) and starts again is
    // told as it happens, to the log and to systemd's status.
    connect(history_.get(), &history::THistoryKeeper::Said, this, [this](const QString &text, bool warning) {
        log_.Write(warning ? TLogLevel::Warning : TLogLevel::Notice, text);
        if (!stopping_)
            notifier_->Status(text);
    });
    // [KeepAlive] IntervalFrom=measured: the interval from the idle timers kept.
    intervals_ = new TIntervalFollower(*session_, history_->Store(), this);

    if (remote) {
        remote_ = new TRemoteWriter(*remote, log_, [this] { return metrics_.Render(); }, this);
        remote_->OnStatus = [this] {
            metrics_.SetRemoteWrite(remote_->Pending(), remote_->Failures());
            if (server_)
                server_->Publish(metrics_.Render());
        };
        remote_->OnStatus();
    }
    metrics_.OnChange = [this] { Publish(); };

    signals_ = new platform::TQuitSignals(this);
    signals_->OnQuit = [this](int signo) { RequestStop(SignalName(signo)); };
}

THeadlessService::~THeadlessService()
{
    session_->RemoveObserver(this);
    session_->RemoveObserver(&metrics_);
    session_->RemoveObserver(&logger_);
    // The endpoint's thread ends before the figures it serves go, and the
    // remote writer's request before the figures it renders.
    delete server_;
    server_ = nullptr;
    delete remote_;
    remote_ = nullptr;
    delete intervals_;
    history_.reset();
    session_.reset();
}

int THeadlessService::Start()
{
    // Another Idlix records into this data folder: this one does not run
    // beside it. systemd tries again, and takes over when the other ends.
    if (!history_->Writer().isEmpty()) {
        log_.Write(TLogLevel::Error, QStringLiteral("Another Idlix (%1) records into the connection history %2; "
                                                    "the service starts when it has ended.")
                                         .arg(history_->Writer(), history_->Store().Path()));
        return kExitTryLater;
    }
    if (!notifier_->Error().isEmpty())
        log_.Write(TLogLevel::Warning, notifier_->Error());
    if (metricsAt_) {
        server_ = new TMetricsServer(this);
        server_->Publish(metrics_.Render());
        QString error;
        TMetricsServer::TListenError why = TMetricsServer::TListenError::None;
        if (!server_->Listen(*metricsAt_, &error, &why)) {
            log_.Write(TLogLevel::Error, QStringLiteral("Cannot serve metrics at %1: %2").arg(metricsAt_->Text(), error));
            // A port in use may come free; an address that is not this
            // machine's, or a port it may not take, will not.
            return why == TMetricsServer::TListenError::AddressInUse ? kExitFailure : kExitConfig;
        }
        log_.Write(TLogLevel::Notice,
                   QStringLiteral("Metrics at http://%1/metrics").arg(server_->Address().Text()));
    }
    if (remote_)
        remote_->Start();
    signals_->SetWatching(true);
    if (QString why; !session_->Start(&why)) {
        log_.Write(TLogLevel::Error, QStringLiteral("The session did not start: %1").arg(why));
        return kExitFailure;
    }
    return kExitOk;
}

void THeadlessService::ProbeSent(const TProbeSent &)
{
    // Ready once the session is under way: the first probe may be a
    // transfer that takes its whole time.
    ProbesScheduled();
}

void THeadlessService::Publish()
{
    if (!publishTimer_) {
        publishTimer_ = new QTimer(this);
        publishTimer_->setObjectName(QStringLiteral("PublishTimer"));
        publishTimer_->setSingleShot(true);
        publishTimer_->setInterval(kPublishMs);
        connect(publishTimer_, &QTimer::timeout, this, [this] {
            if (!publishPending_)
                return;
            publishPending_ = false;
            PublishNow();
            publishTimer_->start();
        });
    }
    if (publishTimer_->isActive()) {
        publishPending_ = true;
        return;
    }
    PublishNow();
    publishTimer_->start();
}

void THeadlessService::PublishNow()
{
    if (server_)
        server_->Publish(metrics_.Render());
    if (remote_)
        remote_->Changed();
}

void THeadlessService::LinkState(TLinkMonitor::TLink link, const TStamp &)
{
    // The line is back: what waits goes now rather than after the pause.
    if (remote_ && link == TLinkMonitor::TLink::Up)
        remote_->RetryNow();
}

void THeadlessService::ProbesScheduled()
{
    if (ready_)
        return;
    ready_ = true;
    notifier_->Ready(StatusText());
}

void THeadlessService::HistoryLine(const QString &text)
{
    lastLine_ = text;
}

void THeadlessService::ProbeResult(const TProbeResult &)
{
    // The line state follows the result; the status is sent once it is known.
    QTimer::singleShot(0, this, [this] {
        if (!stopping_)
            notifier_->Status(StatusText());
    });
}

QString THeadlessService::StatusText() const
{
    QString text = QStringLiteral("%1 of %2 probes answered, %3; last: %4")
                       .arg(metrics_.Answered())
                       .arg(metrics_.Probes())
                       .arg(LinkText(metrics_.Link()), lastLine_.isEmpty() ? QStringLiteral("none yet") : lastLine_);
    if (remote_)
        text += QStringLiteral("; ") + remote_->StatusText();
    return text;
}

void THeadlessService::RequestStop(const QString &why)
{
    if (stopping_)
        return;
    stopping_ = true;
    log_.Write(TLogLevel::Notice, QStringLiteral("Stopping (%1)").arg(why));
    notifier_->Stopping(QStringLiteral("Stopping (%1)").arg(why));
    // A transfer under way (a server sending a byte a second) ends now
    // rather than at its watchdog.
    session_->CancelProbes();
    FinishWhenIdle();
}

void THeadlessService::FinishWhenIdle()
{
    // A signal can arrive while an HTTP probe runs its own wait loop: the
    // transfer ends first (its watchdog bounds it), then the session.
    if (session_->TransferRunning()) {
        QTimer::singleShot(50, this, [this] { FinishWhenIdle(); });
        return;
    }
    session_->Stop();
    // The figures as the session ended wait for the next run if need be.
    if (remote_)
        remote_->Snapshot();
    // Every line of the session is in the log, or the stop did not go well.
    const bool flushed = session_->Log().Pending().isEmpty();
    QCoreApplication::exit(flushed ? kExitOk : kExitFailure);
}

int RunHeadless(int argc, char **argv)
{
    QStringList args;
    for (int i = 1; i < argc; ++i)
        args << QString::fromLocal8Bit(argv[i]);
    // Started directly (not through idlix), the line may leave --headless out.
    const config::TCommandLine parsed = config::ParseCommandLine(args, QStringLiteral("headless"));
    if (parsed.Error.isEmpty() && parsed.Mode != QLatin1String("headless")) {
        std::fprintf(stderr, "idlix: this program runs only idlix --headless\n");
        return kExitUsage;
    }
    if (!parsed.Error.isEmpty()) {
        std::fputs(qPrintable(config::RefusalText(parsed)), stderr);
        return kExitUsage;
    }

    platform::IgnoreBrokenPipe();
    QCoreApplication app(argc, argv);
    const TServiceLog log = TServiceLog::Stderr();
    // What of a file was skipped (lines too long, a file past its size) is
    // a line of the log like any other.
    platform::TServices services;
    services.Notice = [&log](const QString &notice) { log.Write(TLogLevel::Warning, notice); };
    const platform::TServicesInUse servicesInUse(services);
    auto fail = [&](const TServiceProblem &problem) {
        log.Write(TLogLevel::Error, problem.Reason);
        return problem.Code;
    };

    // --config names the data folder, ahead of every other rule.
    if (!parsed.DataDir.isEmpty()) {
        if (const TServiceProblem p = CheckDataFolder(parsed.DataDir, QString()))
            return fail(p);
        platform::UseDataDir(parsed.DataDir);
    }
    const QString settingsPath = config::SettingsPath();
    if (const TServiceProblem p = CheckDataFolder(QString(), settingsPath))
        return fail(p);
    // A service that could keep neither its history nor its log would run
    // for nothing.
    if (const TServiceProblem p = CheckWritableFiles(
            {history::THistoryStore::DefaultPath(), platform::DataFile(QLatin1String(session::LogFileName))}))
        return fail(p);
    config::TOptions options;
    config::LoadOptions(settingsPath, options);
    TakeServiceProbeAll(options);

    QStringList list;
    const QString listPath = session::ServerListPath();
    const bool listRead = session::ReadServerListFile(listPath, list);
    if (const TServiceProblem p = CheckSessionOptions(options, settingsPath, listPath, listRead, list))
        return fail(p);

    std::optional<TListenAddress> metricsAt;
    const std::optional<QString> metricsOption = MetricsOption(parsed);
    const QString metricsText = metricsOption ? *metricsOption : options.Service.MetricsAddress;
    if (!metricsText.isEmpty()) {
        TListenAddress at;
        QString error;
        if (!ParseListenAddress(metricsText, &at, &error))
            return fail({kExitConfig, error});
        metricsAt = at;
    }
    std::optional<TRemoteWriteSettings> remote;
    const std::optional<QString> remoteOption = RemoteWriteOption(parsed);
    if (const QString url = remoteOption ? *remoteOption : options.Service.RemoteWrite; !url.isEmpty()) {
        TRemoteWriteSettings settings;
        QString error;
        if (!MakeRemoteWriteSettings(url, options.Service.RemoteWriteAuth, options.Service.Node,
                                     options.Service.Labels, &settings, &error))
            return fail({kExitConfig, error});
        settings.KeepHours = options.Service.RemoteWriteKeepHours;
        settings.IntervalS = options.Service.RemoteWriteInterval;
        settings.QueuePath = platform::DataFile(QStringLiteral("remotewrite.db"));
        settings.StatusPath = platform::DataFile(QStringLiteral("remotewrite.status"));
        remote = settings;
    }
    if (const TServiceProblem p = CheckEchoPermission(options, platform::IcmpAvailable()))
        return fail(p);
    // The service's lookups, joined when it ends (after the probes that ask
    // them). -4 and -6 hold the family for the run, as they do in the window.
    platform::TLookupService lookups;
    platform::TLookupService::TInstall lookupsInstalled(lookups);
    lookups.SetRunFamily(parsed.Family ? *parsed.Family : options.Network.Choice());
    THeadlessService service(log, options, metricsAt, remote);
    if (const int code = service.Start(); code != kExitOk)
        return code;
    return QCoreApplication::exec();
}

} // namespace service

// Built with this file rather than with the library's other classes: the
// desktop program links the metrics from this library, and with --as-needed
// none of the remote write's libraries (libcurl, protobuf, snappy).
#include "moc_headlessservice.cpp"
