#include "app/cmdline.h"

#include "app/exportcmd.h"
#include "app/reportcmd.h"

#include <cstdio>
#include <cstring>
#include <string_view>

namespace {

constexpr const char *UsageHead =
    "Usage: idlix [OPTION]\n"
    "Keeps an idle-sensitive Internet connection alive with a small probe every few\n"
    "minutes, and offers a latency test, ping, traceroute, finger, a host/IP resolver\n"
    "and an ISP tree. Only one Idlix runs at a time; starting another brings the\n"
    "running one to the front.\n"
    "\n"
    "  -4             reach hosts over IPv4 only in this run, whatever the\n"
    "                 address family setting says\n"
    "  -6             reach hosts over IPv6 only in this run\n"
    "  -h, --help     show this help and exit\n"
    "      --version  show the version and exit\n"
    "      --headless run the anti-idle session without a window (with --config DIR\n"
    "                 and --metrics ADDRESS; idlix --headless --help says more)\n";

constexpr const char *UsageTail =
    "\n"
    "The Qt toolkit's own options, such as -platform NAME, are passed on to it.\n"
    "\n"
    "Settings (idlix2.ini), the server list (Servers.dat), the session log\n"
    "(AI_Log.txt) and the connection history (history.db) are kept in the folder\n"
    "named by IDLIX_DIR when it is set, else beside the program when idlix2.ini\n"
    "is there and the folder is writable (a portable copy), else in\n"
    "$XDG_CONFIG_HOME/idlix (normally ~/.config/idlix).\n";

// The exit status of a command line that cannot be understood (sysexits.h's
// EX_USAGE), given before any window or display is opened.
constexpr int UsageError = 64;

// The options the Qt toolkit reads itself (its GUI and widget application
// options and the X11 platform's), with one dash or two. A value comes as the
// next argument or after '='.
struct QtOption {
    std::string_view name;
    bool value;
};
constexpr QtOption QtOptions[] = {
    {"platform", true},     {"platformpluginpath", true}, {"platformtheme", true},
    {"plugin", true},       {"qwindowgeometry", true},    {"qwindowicon", true},
    {"qwindowtitle", true}, {"session", true},            {"display", true},
    {"geometry", true},     {"style", true},              {"stylesheet", true},
    {"qmljsdebugger", true}, {"dialogs", true},           {"fontengine", true},
    {"reverse", false},     {"widgetcount", false},       {"nograb", false},
    {"dograb", false},
};

void PrintUsage(FILE *to)
{
    std::fputs(UsageHead, to);
    std::fputs(ExportUsage, to);
    std::fputs(ReportUsage, to);
    std::fputs(UsageTail, to);
}

// Idlix's own options that choose something for the run.
struct FamilyOption {
    std::string_view arg;
    platform::FamilyChoice family;
};
constexpr FamilyOption FamilyOptions[] = {
    {"-4", platform::FamilyChoice::IPv4Only},
    {"-6", platform::FamilyChoice::IPv6Only},
};

int Refuse(const char *what, const char *arg)
{
    std::fprintf(stderr, "idlix: %s '%s'\n\n", what, arg);
    PrintUsage(stderr);
    return UsageError;
}

} // namespace

int AnswerCommandLine(int argc, char **argv, TRunOptions *run)
{
    TRunOptions chosen;
    for (int i = 1; i < argc; ++i) {
        const char *arg = argv[i];
        // Everything after --export or --report is theirs.
        if (std::strcmp(arg, "--export") == 0)
            return AnswerExport(argc, argv, i);
        if (std::strcmp(arg, "--report") == 0)
            return AnswerReport(argc, argv, i);

        const FamilyOption *family = nullptr;
        for (const FamilyOption &o : FamilyOptions) {
            if (o.arg == arg)
                family = &o;
        }
        if (family) {
            // IPv4 only and IPv6 only at once would leave nothing to reach.
            if (chosen.Family && *chosen.Family != family->family)
                return Refuse("conflicting option", arg);
            chosen.Family = family->family;
            continue;
        }
        if (std::strcmp(arg, "--help") == 0 || std::strcmp(arg, "-h") == 0) {
            PrintUsage(stdout);
            return 0;
        }
        if (std::strcmp(arg, "--version") == 0) {
            std::printf("Idlix %s\n", IdlixVersion);
            return 0;
        }
        if (arg[0] != '-' || arg[1] == '\0')
            return Refuse("unexpected argument", arg);
        std::string_view name(arg + (arg[1] == '-' ? 2 : 1));
        const size_t eq = name.find('=');
        const bool inlineValue = eq != std::string_view::npos;
        if (inlineValue)
            name = name.substr(0, eq);
        const QtOption *known = nullptr;
        for (const QtOption &o : QtOptions) {
            if (o.name == name)
                known = &o;
        }
        if (!known || (inlineValue && !known->value))
            return Refuse("unknown option", arg);
        if (known->value && !inlineValue) {
            if (i + 1 >= argc)
                return Refuse("missing value for option", arg);
            ++i;
        }
    }
    if (run)
        *run = chosen;
    return -1;
}
