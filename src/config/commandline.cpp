#include "config/commandline.h"

namespace config {

namespace {

constexpr TOptionSpec ExportOptions[] = {{"from", "TIME"}, {"to", "TIME"}, {"format", "csv|ndjson"}};
constexpr TOptionSpec HeadlessOptions[] = {{"metrics", "ADDRESS"}, {"remote-write", "URL"}};
constexpr TOptionSpec FinderOptions[] = {{"reflector", "HOST[:PORT]"}, {"max", "SECONDS"}};
constexpr TOptionSpec ReportOptions[] = {{"from", "TIME"}, {"to", "TIME"}};

constexpr TModeSpec ModeTable[] = {
    {"", nullptr, 0, {}, "[OPTION]", nullptr, nullptr},
    {"export", nullptr, 2, ExportOptions,
     "--export probes|outages FILE [--from TIME] [--to TIME] [--format csv|ndjson]",
     "      --export probes|outages FILE [--from TIME] [--to TIME] [--format csv|ndjson]\n"
     "                 write the connection history to FILE (- for standard output)\n"
     "                 and exit; TIME is RFC 3339 (2024-05-01T08:00:00Z), a local\n"
     "                 date and time (2024-05-01 08:00) or a date (2024-05-01);\n"
     "                 --from is included, --to is not; CSV unless --format ndjson\n",
     "Writes the connection history of the data folder to FILE (- for standard\n"
     "output) without a window or a display, while Idlix runs or not.\n"
     "\n"
     "      --from TIME         the first moment written (included); TIME is RFC 3339\n"
     "                          (2024-05-01T08:00:00Z), a local date and time\n"
     "                          (2024-05-01 08:00) or a date (2024-05-01)\n"
     "      --to TIME           the moment the export stops (not included)\n"
     "      --format csv|ndjson the format of FILE; CSV unless ndjson\n"},
    {"report", "FILE", 0, ReportOptions, "--report FILE.pdf|FILE.html [--from TIME] [--to TIME]",
     "      --report FILE.pdf|FILE.html [--from TIME] [--to TIME]\n"
     "                 write a report of the connection history (uptime, outages,\n"
     "                 each day, each target) to FILE as PDF or HTML and exit;\n"
     "                 TIME as for --export\n",
     "Writes a report of the connection history of the data folder to hand to the\n"
     "provider: the uptime and outages of the period, each day's down time, loss\n"
     "and round trips, each target's figures and how they were taken. FILE ending\n"
     "in .pdf gets a PDF, in .html one self-contained HTML page. No window or\n"
     "display is needed, and Idlix may run meanwhile.\n"
     "\n"
     "      --from TIME         the period's start (included), as for --export;\n"
     "                          without it the first record\n"
     "      --to TIME           the period's end (not included); without it now\n"
     "\n"
     "Exit status: 0 written, 1 the history could not be read or FILE not\n"
     "written, 64 wrong usage.\n"},
    {"headless", nullptr, 0, HeadlessOptions, "--headless [--config DIR] [--metrics ADDRESS] [--remote-write URL]",
     "      --headless run the anti-idle session without a window (with --config DIR,\n"
     "                 --metrics ADDRESS and --remote-write URL; idlix --headless\n"
     "                 --help says more)\n",
     "Runs the anti-idle session without a window: the probes, cycle and session\n"
     "log of the settings in idlix2.ini, from the start until SIGTERM or SIGINT.\n"
     "\n"
     "      --metrics ADDRESS   serve Prometheus metrics at http://ADDRESS/metrics,\n"
     "                          e.g. 127.0.0.1:9417 (a port alone: loopback); \"off\"\n"
     "                          for none. Default: [Service] MetricsAddress, else off\n"
     "      --remote-write URL  push the metrics to a Prometheus remote-write receiver,\n"
     "                          e.g. https://prom.example/api/v1/write; \"off\" for\n"
     "                          none. Default: [Service] RemoteWrite, else off\n"
     "\n"
     "Events go to standard error, one line each. Exit status: 0 stopped by a\n"
     "signal, 64 wrong usage, 77 not allowed to send echoes, 78 settings that\n"
     "cannot be used, 1 any other failure.\n"},
    {"reflector", nullptr, 1, {}, "--reflector [ADDRESS][:PORT] [--config DIR]",
     "      --reflector [ADDRESS][:PORT]\n"
     "                 answer another Idlix's idle-timer finder from outside its NAT\n"
     "                 (idlix --reflector --help says more)\n",
     "Answers the idle-timer finder of another Idlix (idlix --find-idle-timer) from a\n"
     "machine outside its NAT, without a window. Only requests signed with the\n"
     "shared key of [Reflector] Key= in idlix2.ini (the same on both machines, at\n"
     "least 16 characters) are answered; without a key it does not start. It never\n"
     "sends more bytes than it received, answers each request once, and limits the\n"
     "answers per source address and second.\n"
     "\n"
     "  ADDRESS        the address to listen on (default: every address)\n"
     "  PORT           UDP and TCP port (default 27184); the firewall must let\n"
     "                 both in, e.g.  nft add rule inet filter input udp dport 27184 accept\n"
     "                 and            nft add rule inet filter input tcp dport 27184 accept\n"
     "\n"
     "Events go to standard error, one line each. Exit status: 0 stopped by a\n"
     "signal, 1 cannot listen (the port in use), 64 wrong usage, 78 no usable key\n"
     "or address.\n"},
    {"find-idle-timer", nullptr, 1, FinderOptions,
     "--find-idle-timer udp|tcp|line [--reflector HOST[:PORT]] [--max SECONDS]",
     "      --find-idle-timer udp|tcp|line [--reflector HOST[:PORT]] [--max SECONDS]\n"
     "                 measure how long a NAT keeps an idle mapping, without a window\n",
     "Measures how long the NAT or firewall between this machine and a reflector\n"
     "(idlix --reflector on a machine outside it) keeps an idle mapping: trials of a\n"
     "fresh UDP port (udp) or TCP connection (tcp) each ask the reflector to answer\n"
     "after a silence; the answer arrives only when the mapping outlived it. Trials\n"
     "run side by side, from 15 s doubling until an answer is lost, then the span is\n"
     "cut to 5 s or 5 %. Nothing is sent on a trial's mapping during its silence.\n"
     "line: dials the dial-up entry of the settings, sends nothing, and watches the\n"
     "line until it drops (this ends the connection; no reflector is needed).\n"
     "\n"
     "      --reflector HOST[:PORT]  the reflector (default [Reflector] Host= of\n"
     "                          idlix2.ini; port 27184); both use [Reflector] Key=\n"
     "      --max SECONDS       the longest silence tried (udp 1800, tcp 7800,\n"
     "                          line 10800)\n"
     "\n"
     "The last line is the verdict, e.g.\n"
     "  udp idle timer: 30 s (alive after 28 s, gone after 32 s)\n"
     "Exit status: 0 measured, 1 nothing could be measured (the reason on the last\n"
     "line), 64 wrong usage, 78 no usable key or reflector.\n"},
};

constexpr const char *WindowHelp =
    "Keeps an idle-sensitive Internet connection alive with a small probe every few\n"
    "minutes, and offers a latency test, ping, traceroute, finger, a host/IP resolver\n"
    "and an ISP tree. Only one Idlix runs at a time; starting another brings the\n"
    "running one to the front.\n";

// The options of every mode.
constexpr const char *CommonHelp =
    "  -4             reach hosts over IPv4 only in this run, whatever the\n"
    "                 address family setting says\n"
    "  -6             reach hosts over IPv6 only in this run\n"
    "      --config DIR  the data folder: idlix2.ini, Servers.dat, AI_Log.txt and\n"
    "                 history.db (else the usual folder, below)\n"
    "  -h, --help     show this help and exit\n"
    "      --version  show the version and exit\n";

constexpr const char *QtHelp = "\nThe Qt toolkit's own options, such as -platform NAME, are passed on to it.\n";

constexpr const char *DataFolderHelp =
    "\n"
    "Settings (idlix2.ini), the server list (Servers.dat), the session log\n"
    "(AI_Log.txt) and the connection history (history.db) are kept in the folder\n"
    "--config names, else in IDLIX_DIR when it is set, else beside the program\n"
    "when idlix2.ini is there and the folder is writable (a portable copy), else\n"
    "in $XDG_CONFIG_HOME/idlix (normally ~/.config/idlix).\n";

// The options the Qt toolkit reads itself (its GUI and widget application
// options and the X11 platform's), with one dash or two. A value comes as the
// next argument or after '='.
struct TQtOption {
    QLatin1String name;
    bool value;
};
constexpr TQtOption QtOptions[] = {
    {QLatin1String("platform"), true},      {QLatin1String("platformpluginpath"), true},
    {QLatin1String("platformtheme"), true}, {QLatin1String("plugin"), true},
    {QLatin1String("qwindowgeometry"), true}, {QLatin1String("qwindowicon"), true},
    {QLatin1String("qwindowtitle"), true},  {QLatin1String("session"), true},
    {QLatin1String("display"), true},       {QLatin1String("geometry"), true},
    {QLatin1String("style"), true},         {QLatin1String("stylesheet"), true},
    {QLatin1String("qmljsdebugger"), true}, {QLatin1String("dialogs"), true},
    {QLatin1String("fontengine"), true},    {QLatin1String("reverse"), false},
    {QLatin1String("widgetcount"), false},  {QLatin1String("nograb"), false},
    {QLatin1String("dograb"), false},
};

const TModeSpec *FindMode(QStringView name)
{
    for (const TModeSpec &m : ModeTable) {
        if (name == QLatin1String(m.Name))
            return &m;
    }
    return nullptr;
}

const TOptionSpec *FindOption(std::span<const TOptionSpec> options, QStringView name)
{
    for (const TOptionSpec &o : options) {
        if (name == QLatin1String(o.Name))
            return &o;
    }
    return nullptr;
}

// An option of another mode than the one given, for a clearer refusal.
const TModeSpec *OwnerOf(QStringView name)
{
    for (const TModeSpec &m : ModeTable) {
        if (FindOption(m.Options, name))
            return &m;
    }
    return nullptr;
}

const TQtOption *FindQtOption(QStringView name)
{
    for (const TQtOption &o : QtOptions) {
        if (name == o.name)
            return &o;
    }
    return nullptr;
}

// One word of the line as the grammar sees it.
struct TWord {
    enum class TKind { Argument, Short, Long, Qt } Kind = TKind::Argument;
    QStringView Name;                    // without its dashes
    std::optional<QStringView> Inline;   // the value after '='
};

TWord Classify(const QString &arg)
{
    TWord w;
    if (arg.size() < 2 || arg[0] != QLatin1Char('-'))
        return w;
    const bool twoDashes = arg[1] == QLatin1Char('-');
    QStringView name = QStringView(arg).mid(twoDashes ? 2 : 1);
    if (const qsizetype eq = name.indexOf(QLatin1Char('=')); eq >= 0) {
        w.Inline = name.mid(eq + 1);
        name = name.left(eq);
    }
    w.Name = name;
    w.Kind = twoDashes ? TWord::TKind::Long : TWord::TKind::Short;
    if (FindQtOption(name) && !(twoDashes && (FindMode(name) || OwnerOf(name))))
        w.Kind = TWord::TKind::Qt;
    return w;
}

// The mode a line names: the first --MODE word, values skipped.
QString FindModeName(const QStringList &args, const QString &implied)
{
    for (qsizetype i = 0; i < args.size(); ++i) {
        const TWord w = Classify(args[i]);
        if (w.Kind == TWord::TKind::Long) {
            if (const TModeSpec *m = FindMode(w.Name); m && *m->Name)
                return QLatin1String(m->Name);
        }
        const TModeSpec *owner = w.Kind == TWord::TKind::Long ? OwnerOf(w.Name) : nullptr;
        const TOptionSpec *o = owner ? FindOption(owner->Options, w.Name) : nullptr;
        const bool config = w.Kind == TWord::TKind::Long && w.Name == QLatin1String("config");
        const bool takesNext = !w.Inline && ((o && o->ValueName) || config
                                             || (w.Kind == TWord::TKind::Qt && FindQtOption(w.Name)->value));
        if (takesNext)
            ++i;
    }
    return implied;
}

} // namespace

std::span<const TModeSpec> Modes()
{
    return ModeTable;
}

TCommandLine ParseCommandLine(const QStringList &args, const QString &impliedMode)
{
    TCommandLine line;
    line.Mode = FindModeName(args, impliedMode);
    const TModeSpec *mode = FindMode(line.Mode);
    if (!mode) {
        line.Error = QStringLiteral("no mode called %1").arg(line.Mode);
        return line;
    }
    auto refuse = [&](const QString &what, const QString &arg) {
        line.Error = QStringLiteral("%1 '%2'").arg(what, arg);
        return line;
    };
    for (qsizetype i = 0; i < args.size(); ++i) {
        const QString &arg = args[i];
        const TWord w = Classify(arg);
        // The value of the option in arg: after '=' or the next word.
        auto value = [&](QString *into) {
            if (w.Inline) {
                *into = w.Inline->toString();
                return true;
            }
            if (i + 1 >= args.size())
                return false;
            *into = args[++i];
            return true;
        };
        switch (w.Kind) {
        case TWord::TKind::Argument:
            if (line.Arguments.size() >= mode->MaxArguments)
                return refuse(QStringLiteral("unexpected argument"), arg);
            line.Arguments << arg;
            continue;
        case TWord::TKind::Short:
            if (w.Inline) {
                return refuse(QStringLiteral("unknown option"), arg);
            } else if (w.Name == QLatin1String("h")) {
                line.Help = true;
            } else if (w.Name == QLatin1String("4") || w.Name == QLatin1String("6")) {
                const auto family = w.Name == QLatin1String("4") ? platform::FamilyChoice::IPv4Only
                                                                   : platform::FamilyChoice::IPv6Only;
                // IPv4 only and IPv6 only at once would leave nothing to reach.
                if (line.Family && *line.Family != family)
                    return refuse(QStringLiteral("conflicting option"), arg);
                line.Family = family;
            } else {
                return refuse(QStringLiteral("unknown option"), arg);
            }
            continue;
        case TWord::TKind::Qt:
            if (*mode->Name || (w.Inline && !FindQtOption(w.Name)->value))
                return refuse(QStringLiteral("unknown option"), arg);
            if (FindQtOption(w.Name)->value && !w.Inline) {
                if (i + 1 >= args.size())
                    return refuse(QStringLiteral("missing value for option"), arg);
                ++i;
            }
            continue;
        case TWord::TKind::Long:
            break;
        }
        // --help, --version and the modes are switches; --config takes a folder.
        if (w.Name == QLatin1String("help") || w.Name == QLatin1String("version")) {
            if (w.Inline)
                return refuse(QStringLiteral("unknown option"), arg);
            (w.Name == QLatin1String("help") ? line.Help : line.Version) = true;
            continue;
        }
        // The mode's own options first: --find-idle-timer's --reflector names
        // the reflector to ask, not the reflector's mode.
        if (const TModeSpec *named = FindMode(w.Name); named && *named->Name && !FindOption(mode->Options, w.Name)) {
            if (named != mode)
                return refuse(QStringLiteral("conflicting option"), arg);
            if (named->ValueName && !value(&line.ModeValue))
                return refuse(QStringLiteral("missing value for option"), arg);
            if (!named->ValueName && w.Inline)
                return refuse(QStringLiteral("unknown option"), arg);
            continue;
        }
        if (w.Name == QLatin1String("config")) {
            if (!value(&line.DataDir))
                return refuse(QStringLiteral("missing value for option"), arg);
            if (line.DataDir.isEmpty()) {
                line.Error = QStringLiteral("--config needs a folder");
                return line;
            }
            continue;
        }
        const TOptionSpec *option = FindOption(mode->Options, w.Name);
        if (!option) {
            if (const TModeSpec *owner = OwnerOf(w.Name)) {
                line.Error = QStringLiteral("'--%1' is an option of idlix --%2").arg(w.Name, QLatin1String(owner->Name));
                return line;
            }
            return refuse(QStringLiteral("unknown option"), arg);
        }
        QString given;
        if (option->ValueName) {
            if (!value(&given))
                return refuse(QStringLiteral("missing value for option"), arg);
        } else if (w.Inline) {
            return refuse(QStringLiteral("unknown option"), arg);
        }
        line.Values.insert(w.Name.toString(), given);
    }
    return line;
}

QString UsageText(const QString &modeName)
{
    const TModeSpec *mode = FindMode(modeName);
    QString text = QStringLiteral("Usage: idlix %1\n").arg(QLatin1String(mode ? mode->Synopsis : "[OPTION]"));
    if (!mode || !*mode->Name) {
        text += QLatin1String(WindowHelp) + QLatin1Char('\n') + QLatin1String(CommonHelp);
        for (const TModeSpec &m : ModeTable) {
            if (m.Summary)
                text += QLatin1String(m.Summary);
        }
        return text + QLatin1String(QtHelp) + QLatin1String(DataFolderHelp);
    }
    return text + QLatin1String(mode->Help) + QLatin1Char('\n') + QLatin1String(CommonHelp)
           + QLatin1String(DataFolderHelp);
}

QString RefusalText(const TCommandLine &line)
{
    return QStringLiteral("idlix: %1\n\n").arg(line.Error) + UsageText(line.Mode);
}

} // namespace config
