#include "app/cmdline.h"

#include "app/exportcmd.h"

#include <cstdio>
#include <cstring>

namespace {

constexpr const char *UsageHead =
    "Usage: idlix [OPTION]\n"
    "Keeps an idle-sensitive Internet connection alive with a small probe every few\n"
    "minutes, and offers a latency test, ping, traceroute, finger, a host/IP resolver\n"
    "and an ISP tree. Only one Idlix runs at a time; starting another brings the\n"
    "running one to the front.\n"
    "\n"
    "  -h, --help     show this help and exit\n"
    "      --version  show the version and exit\n";

constexpr const char *UsageTail =
    "\n"
    "Settings (idlix2.ini), the server list (Servers.dat), the session log\n"
    "(AI_Log.txt) and the connection history (history.db) are kept in the folder\n"
    "named by IDLIX_DIR when it is set, else beside the program when idlix2.ini\n"
    "is there and the folder is writable (a portable copy), else in\n"
    "$XDG_CONFIG_HOME/idlix (normally ~/.config/idlix).\n";

} // namespace

int AnswerCommandLine(int argc, char **argv)
{
    for (int i = 1; i < argc; ++i) {
        // Everything after --export is the export's own.
        if (std::strcmp(argv[i], "--export") == 0)
            return AnswerExport(argc, argv, i);
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            std::fputs(UsageHead, stdout);
            std::fputs(ExportUsage, stdout);
            std::fputs(UsageTail, stdout);
            return 0;
        }
        if (std::strcmp(argv[i], "--version") == 0) {
            std::printf("Idlix %s\n", IdlixVersion);
            return 0;
        }
    }
    return -1;
}
