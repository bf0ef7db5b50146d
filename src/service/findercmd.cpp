#include "service/findercmd.h"

#include "config/optionsfile.h"
#include "idletimer/hostport.h"
#include "idletimer/idlefinder.h"
#include "idletimer/reflector.h"
#include "net/wsextra.h"
#include "platform/quitsignals.h"
#include "platform/resolver.h"
#include "platform/logstream.h"
#include "platform/netidentity.h"
#include "service/idletimerrecord.h"
#include "service/serviceargs.h"
#include "service/serviceconfig.h"

#include <QCoreApplication>
#include <QFile>
#include <QTimer>

#include <cstdio>
#include <cstring>

namespace service {

namespace {

constexpr const char *Usage =
    "Usage: idlix --find-idle-timer udp|tcp [--reflector HOST[:PORT]] [--max SECONDS]\n"
    "                                [--config DIR]\n"
    "Measures how long the NAT or firewall between this machine and a reflector\n"
    "(idlix --reflector on a machine outside it) keeps an idle mapping: trials of a\n"
    "fresh UDP port (udp) or TCP connection (tcp) each ask the reflector to answer\n"
    "after a silence; the answer arrives only when the mapping outlived it. Trials\n"
    "run side by side, from 15 s doubling until an answer is lost, then the span is\n"
    "cut to 5 s or 5 %. Nothing is sent on a trial's mapping during its silence.\n"
    "\n"
    "  udp, tcp              what to measure\n"
    "  --reflector HOST[:PORT]  the reflector (default [Reflector] Host= of\n"
    "                        idlix2.ini; port 27184); both use [Reflector] Key=\n"
    "  --max SECONDS         the longest silence tried (udp 1800, tcp 7800)\n"
    "  --config DIR          the folder of idlix2.ini\n"
    "\n"
    "The last line is the verdict, e.g.\n"
    "  udp idle timer: 30 s (alive after 28 s, gone after 32 s)\n"
    "Exit status: 0 measured, 1 nothing could be measured (the reason on the last\n"
    "line), 64 bad command line, 78 no usable key or reflector.\n";

struct TFinderArgs {
    bool Help = false;
    QString Kind;
    QString Reflector;
    int Max = 0;
    QString ConfigDir;
    QString Error;
};

TFinderArgs ParseArgs(int argc, char **argv)
{
    TFinderArgs a;
    auto value = [&](int &i, const QString &name) -> QString {
        if (i + 1 >= argc) {
            a.Error = QStringLiteral("missing value for option '%1'").arg(name);
            return {};
        }
        return QString::fromLocal8Bit(argv[++i]);
    };
    for (int i = 1; i < argc && a.Error.isEmpty(); ++i) {
        const QString arg = QString::fromLocal8Bit(argv[i]);
        if (arg == QLatin1String("--find-idle-timer")) {
            if (i + 1 < argc && argv[i + 1][0] != '-')
                a.Kind = QString::fromLocal8Bit(argv[++i]);
        } else if (arg == QLatin1String("--help") || arg == QLatin1String("-h")) {
            a.Help = true;
        } else if (arg == QLatin1String("--reflector")) {
            a.Reflector = value(i, arg);
        } else if (arg == QLatin1String("--config")) {
            a.ConfigDir = value(i, arg);
        } else if (arg == QLatin1String("--max")) {
            const QString text = value(i, arg);
            bool ok = false;
            a.Max = text.toInt(&ok);
            if (a.Error.isEmpty() && (!ok || a.Max < 1 || a.Max > int(idletimer::kMaxSilence)))
                a.Error = QStringLiteral("--max '%1': a number of seconds from 1 to %2")
                              .arg(text)
                              .arg(idletimer::kMaxSilence);
        } else {
            a.Error = QStringLiteral("unexpected argument '%1'").arg(arg);
        }
    }
    if (a.Error.isEmpty() && !a.Help && a.Kind.isEmpty())
        a.Error = QStringLiteral("--find-idle-timer needs what to measure: udp or tcp");
    return a;
}

} // namespace

bool WantsFindIdleTimer(int argc, char **argv)
{
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--find-idle-timer") == 0)
            return true;
    }
    return false;
}

int RunFindIdleTimer(int argc, char **argv)
{
    const TFinderArgs args = ParseArgs(argc, argv);
    if (!args.Error.isEmpty()) {
        std::fprintf(stderr, "idlix: %s\nTry 'idlix --find-idle-timer --help'.\n", qPrintable(args.Error));
        return kExitUsage;
    }
    if (args.Help) {
        std::fputs(Usage, stdout);
        return kExitOk;
    }
    idletimer::TIdleKind kind;
    if (args.Kind == QLatin1String("udp")) {
        kind = idletimer::TIdleKind::Udp;
    } else if (args.Kind == QLatin1String("tcp")) {
        kind = idletimer::TIdleKind::Tcp;
    } else if (args.Kind == QLatin1String("line")) {
        std::fputs("line idle timer: not measured (the dial-up line's own timer is not measured "
                   "by this version)\n", stdout);
        return kExitFailure;
    } else {
        std::fprintf(stderr, "idlix: --find-idle-timer '%s': udp or tcp\n", qPrintable(args.Kind));
        return kExitUsage;
    }
    platform::IgnoreBrokenPipe();
    QCoreApplication app(argc, argv);
    auto fail = [](int code, const QString &why) {
        std::fprintf(stdout, "%s\n", qPrintable(why));
        return code;
    };
    if (!args.ConfigDir.isEmpty()) {
        if (const TServiceProblem p = CheckDataFolder(args.ConfigDir, QString()))
            return fail(p.Code, p.Reason);
        qputenv("IDLIX_DIR", QFile::encodeName(args.ConfigDir));
    }
    config::TOptions options;
    config::LoadOptions(config::SettingsPath(), options);
    if (const QString problem = idletimer::KeyProblem(options.Reflector.Key); !problem.isEmpty())
        return fail(kExitConfig, problem);
    const QString where = args.Reflector.isEmpty() ? options.Reflector.Host : args.Reflector;
    if (where.isEmpty())
        return fail(kExitConfig, QStringLiteral("no reflector: give --reflector HOST or set [Reflector] Host="));
    QString host, error;
    std::uint16_t port = idletimer::kReflectorPort;
    if (!idletimer::SplitHostPort(where, &host, &port, &error) || host.isEmpty())
        return fail(kExitUsage, QStringLiteral("reflector %1").arg(error.isEmpty() ? where : error));
    platform::SetFamilyChoice(options.Network.Choice());
    platform::HostEntry entry;
    const int lookup = platform::LookupHost(host.toStdString(), entry);
    if (lookup != 0 || entry.addresses.empty())
        return fail(kExitFailure, QStringLiteral("%1 idle timer: not measured (reflector %2: %3)")
                                      .arg(idletimer::KindName(kind), host, SocketErrorText(lookup)));

    idletimer::TIdleTrial::TTarget target;
    target.Address = entry.addresses.front();
    target.Port = port;
    target.Transport = kind == idletimer::TIdleKind::Udp ? idletimer::TTransport::Udp : idletimer::TTransport::Tcp;
    target.Key = idletimer::KeyBytes(options.Reflector.Key);
    const idletimer::TTrialPlan::TSettings settings = idletimer::PlanSettings(kind, args.Max);

    std::printf("Measuring the %s idle timer against %s port %u, silences up to %d s\n",
                qPrintable(idletimer::KindName(kind)), platform::AddressText(target.Address).c_str(),
                unsigned(port), settings.Longest);
    std::fflush(stdout);
    idletimer::TIdleTimerFinder finder(target, settings);
    int code = kExitFailure;
    finder.OnProgress = [](const QString &line) {
        std::printf("%s\n", qPrintable(line));
        std::fflush(stdout);
    };
    finder.OnDone = [&code](const idletimer::TIdleResult &r) {
        std::printf("%d trials, %llu bytes sent, %lld s\n", r.Started,
                    static_cast<unsigned long long>(r.BytesSent), static_cast<long long>(r.ElapsedMs / 1000));
        // Kept in the connection history before the verdict is printed last.
        if (r.State != idletimer::TTrialPlan::TState::Failed) {
            QString problem;
            if (!RecordIdleTimer(r, platform::CurrentNetworkIdentity(), &problem))
                std::printf("not kept in the connection history: %s\n", qPrintable(problem));
        }
        std::printf("%s\n", qPrintable(idletimer::ResultLine(r)));
        std::fflush(stdout);
        code = r.State == idletimer::TTrialPlan::TState::Failed ? kExitFailure : kExitOk;
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
