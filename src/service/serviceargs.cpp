#include "service/serviceargs.h"

namespace service {

QString ServiceUsage()
{
    return QStringLiteral(
        "Usage: idlix --headless [--config DIR] [--metrics ADDRESS]\n"
        "Runs the anti-idle session without a window: the probes, cycle and session\n"
        "log of the settings in idlix2.ini, from the start until SIGTERM or SIGINT.\n"
        "\n"
        "      --config DIR        the folder of idlix2.ini, Servers.dat and AI_Log.txt\n"
        "                          (else IDLIX_DIR, else the usual folder; see idlix --help)\n"
        "      --metrics ADDRESS   serve Prometheus metrics at http://ADDRESS/metrics,\n"
        "                          e.g. 127.0.0.1:9417 (a port alone: loopback); \"off\"\n"
        "                          for none. Default: [Service] MetricsAddress, else off\n"
        "  -4                      reach hosts over IPv4 only in this run, whatever the\n"
        "                          address family setting says\n"
        "  -6                      reach hosts over IPv6 only in this run\n"
        "  -h, --help              show this help and exit\n"
        "      --version           show the version and exit\n"
        "\n"
        "Events go to standard error, one line each. Exit status: 0 stopped by a\n"
        "signal, 64 wrong usage, 77 not allowed to send echoes, 78 settings that\n"
        "cannot be used, 1 any other failure.\n");
}

TServiceArgs ParseServiceArgs(const QStringList &args)
{
    TServiceArgs parsed;
    auto refuse = [&](const QString &why) {
        parsed.Error = why;
        return parsed;
    };
    for (int i = 0; i < args.size(); ++i) {
        const QString &arg = args[i];
        if (arg == QLatin1String("--headless"))
            continue;
        if (arg == QLatin1String("--help") || arg == QLatin1String("-h")) {
            parsed.Help = true;
            continue;
        }
        if (arg == QLatin1String("--version")) {
            parsed.Version = true;
            continue;
        }
        if (arg == QLatin1String("-4") || arg == QLatin1String("-6")) {
            const auto family = arg == QLatin1String("-4") ? platform::FamilyChoice::IPv4Only
                                                           : platform::FamilyChoice::IPv6Only;
            // IPv4 only and IPv6 only at once would leave nothing to reach.
            if (parsed.Family && *parsed.Family != family)
                return refuse(QStringLiteral("conflicting option '%1'").arg(arg));
            parsed.Family = family;
            continue;
        }
        QString name = arg, value;
        bool hasValue = false;
        if (const int eq = arg.indexOf(QLatin1Char('=')); arg.startsWith(QLatin1String("--")) && eq > 0) {
            name = arg.left(eq);
            value = arg.mid(eq + 1);
            hasValue = true;
        }
        if (name != QLatin1String("--config") && name != QLatin1String("--metrics")) {
            return refuse(arg.startsWith(QLatin1Char('-')) ? QStringLiteral("unknown option '%1'").arg(arg)
                                                           : QStringLiteral("unexpected argument '%1'").arg(arg));
        }
        if (!hasValue) {
            if (i + 1 >= args.size())
                return refuse(QStringLiteral("%1 needs a value").arg(name));
            value = args[++i];
        }
        if (name == QLatin1String("--config")) {
            if (value.isEmpty())
                return refuse(QStringLiteral("--config needs a folder"));
            parsed.ConfigDir = value;
        } else {
            const QString address = value.trimmed();
            parsed.Metrics = address.compare(QLatin1String("off"), Qt::CaseInsensitive) == 0 ? QString() : address;
        }
    }
    return parsed;
}

} // namespace service
