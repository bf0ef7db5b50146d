#include "service/findercmd.h"

#include "config/commandline.h"
#include "config/optionsfile.h"
#include "idletimer/hostport.h"
#include "idletimer/idlefinder.h"
#include "idletimer/lineidlefinder.h"
#include "idletimer/reflector.h"
#include "net/wsextra.h"
#include "platform/appdir.h"
#include "platform/logstream.h"
#include "bus/netidentity.h"
#include "platform/quitsignals.h"
#include "platform/resolver.h"
#include "platform/version.h"
#include "service/intervalfollower.h"
#include "service/serviceargs.h"
#include "service/serviceconfig.h"

#include <QCoreApplication>
#include <QTimer>

#include <cstdio>

namespace service {

namespace {

// The verdict kept in the history, then printed last; the exit status.
int Verdict(const idletimer::TIdleResult &r)
{
    std::printf("%d trials, %llu bytes sent, %lld s\n", r.Started, static_cast<unsigned long long>(r.BytesSent),
                static_cast<long long>(r.ElapsedMs / 1000));
    if (r.State != idletimer::TTrialPlan::TState::Failed) {
        QString problem;
        if (!RecordIdleTimer(r, bus::CurrentNetworkIdentity(), &problem))
            std::printf("not kept in the connection history: %s\n", qPrintable(problem));
    }
    std::printf("%s\n", qPrintable(idletimer::ResultLine(r)));
    std::fflush(stdout);
    return r.State == idletimer::TTrialPlan::TState::Failed ? kExitFailure : kExitOk;
}

void Progress(const QString &line)
{
    std::printf("%s\n", qPrintable(line));
    std::fflush(stdout);
}

// `line`: the dial-up entry of the settings is dialled, then left silent
// until it drops. Typing the command is the user's consent to losing the line.
int FindLineIdleTimer(const config::TOptions &options, int longest)
{
    const QString book = dialer::StartupPhoneBook();
    QStringList entries;
    if (const int rc = dialer::DialEnumEntries(book, entries); rc != 0 || entries.isEmpty()) {
        std::printf("line idle timer: not measured (no dial-up entry: %s)\n",
                    qPrintable(rc ? dialer::DialErrorText(rc) : QStringLiteral("the phone book is empty")));
        return kExitFailure;
    }
    dialer::DialParams params;
    params.entry = entries.value(options.DialUp.Connection, entries.front());
    params.userName = options.DialUp.UserName;
    params.password = options.DialUp.Password;
    std::printf("Measuring the line idle timer of %s, silence up to %d s\n", qPrintable(params.entry), longest);
    std::fflush(stdout);
    idletimer::TLineIdleFinder finder(book, params, longest);
    int code = kExitFailure;
    finder.OnProgress = Progress;
    finder.OnDone = [&code](const idletimer::TIdleResult &r) {
        code = Verdict(r);
        QCoreApplication::exit(code);
    };
    QTimer ticker;
    QObject::connect(&ticker, &QTimer::timeout, [&finder, longest] {
        Progress(QStringLiteral("waiting: the line silent for %1 s, %2 s left at most")
                     .arg(finder.SilentSeconds())
                     .arg(longest - finder.SilentSeconds()));
    });
    ticker.start(60'000);
    platform::TQuitSignals quit;
    quit.OnQuit = [&finder](int) {
        finder.Stop();
        QCoreApplication::exit(kExitFailure);
    };
    quit.SetWatching(true);
    QTimer::singleShot(0, &finder, [&finder] { finder.Start(); });
    QCoreApplication::exec();
    return code;
}

} // namespace

int RunFindIdleTimer(const config::TCommandLine &line, int argc, char **argv)
{
    auto refuse = [&line](const QString &why) {
        config::TCommandLine refused = line;
        refused.Error = why;
        std::fputs(qPrintable(config::RefusalText(refused)), stderr);
        return kExitUsage;
    };
    const QString kindText = line.Arguments.value(0);
    idletimer::TIdleKind kind;
    if (kindText == QLatin1String("udp")) {
        kind = idletimer::TIdleKind::Udp;
    } else if (kindText == QLatin1String("tcp")) {
        kind = idletimer::TIdleKind::Tcp;
    } else if (kindText == QLatin1String("line")) {
        kind = idletimer::TIdleKind::Line;
    } else if (kindText.isEmpty()) {
        return refuse(QStringLiteral("--find-idle-timer needs what to measure: udp, tcp or line"));
    } else {
        return refuse(QStringLiteral("--find-idle-timer '%1': udp, tcp or line").arg(kindText));
    }
    int longest = 0;
    if (line.Has("max")) {
        bool ok = false;
        longest = line.Value("max").toInt(&ok);
        if (!ok || longest < 1 || longest > int(idletimer::kMaxSilence))
            return refuse(QStringLiteral("--max '%1': a number of seconds from 1 to %2")
                              .arg(line.Value("max"))
                              .arg(idletimer::kMaxSilence));
    }
    platform::IgnoreBrokenPipe();
    QCoreApplication app(argc, argv);
    auto fail = [](int code, const QString &why) {
        std::fprintf(stdout, "%s\n", qPrintable(why));
        return code;
    };
    if (!line.DataDir.isEmpty()) {
        if (const TServiceProblem p = CheckDataFolder(line.DataDir, QString()))
            return fail(p.Code, p.Reason);
        platform::UseDataDir(line.DataDir);
    }
    config::TOptions options;
    config::LoadOptions(config::SettingsPath(), options);
    if (kind == idletimer::TIdleKind::Line)
        return FindLineIdleTimer(options, longest ? longest : idletimer::DefaultLongest(kind));
    if (const QString problem = idletimer::KeyProblem(options.Reflector.Key); !problem.isEmpty())
        return fail(kExitConfig, problem);
    const QString where = line.Has("reflector") ? line.Value("reflector") : options.Reflector.Host;
    if (where.isEmpty())
        return fail(kExitConfig, QStringLiteral("no reflector: give --reflector HOST or set [Reflector] Host="));
    QString host, error;
    std::uint16_t port = idletimer::kReflectorPort;
    if (!idletimer::SplitHostPort(where, &host, &port, &error) || host.isEmpty())
        return fail(kExitUsage, QStringLiteral("reflector %1").arg(error.isEmpty() ? where : error));
    // -4 and -6 hold the family for the command, as they do in the window.
    const platform::FamilyChoice family = line.Family ? *line.Family : options.Network.Choice();
    platform::HostEntry entry;
    const int lookup = platform::LookupHost(host.toStdString(), family, entry);
    if (lookup != 0 || entry.addresses.empty())
        return fail(kExitFailure, QStringLiteral("%1 idle timer: not measured (reflector %2: %3)")
                                      .arg(idletimer::KindName(kind), host, SocketErrorText(lookup)));

    idletimer::TIdleTrial::TTarget target;
    target.Address = entry.addresses.front();
    target.Port = port;
    target.Transport = kind == idletimer::TIdleKind::Udp ? idletimer::TTransport::Udp : idletimer::TTransport::Tcp;
    target.Key = idletimer::KeyBytes(options.Reflector.Key);
    const idletimer::TTrialPlan::TSettings settings = idletimer::PlanSettings(kind, longest);

    std::printf("Measuring the %s idle timer against %s port %u, silences up to %d s\n",
                qPrintable(idletimer::KindName(kind)), platform::AddressText(target.Address).c_str(),
                unsigned(port), settings.Longest);
    std::fflush(stdout);
    idletimer::TIdleTimerFinder finder(target, settings);
    int code = kExitFailure;
    finder.OnProgress = Progress;
    finder.OnDone = [&code](const idletimer::TIdleResult &r) {
        // Kept in the connection history before the verdict is printed last.
        code = Verdict(r);
        QCoreApplication::exit(code);
    };
    // While long trials run: which are still out and how long the last one has left.
    QTimer ticker;
    QObject::connect(&ticker, &QTimer::timeout, [&finder] {
        QStringList out;
        for (int t : finder.Pending())
            out << QString::number(t);
        std::printf("waiting: trials of %s s running, %d s left at most\n", qPrintable(out.join(QStringLiteral(", "))),
                    finder.SecondsLeft());
        std::fflush(stdout);
    });
    ticker.start(60'000);
    platform::TQuitSignals quit;
    quit.OnQuit = [&finder](int) { finder.Stop(); };
    quit.SetWatching(true);
    QTimer::singleShot(0, &finder, [&finder] { finder.Start(); });
    QCoreApplication::exec();
    return code;
}

} // namespace service
