#include "app/cmdline.h"

#include <cstdio>
#include <cstring>

namespace {

constexpr const char *Usage =
    "Usage: idlix [OPTION]\n"
    "Keeps an idle-sensitive Internet connection alive with a small probe every few\n"
    "minutes, and offers a latency test, ping, traceroute, finger, a host/IP resolver\n"
    "and an ISP tree. Only one Idlix runs at a time; starting another brings the\n"
    "running one to the front.\n"
    "\n"
    "  -h, --help     show this help and exit\n"
    "      --version  show the version and exit\n"
    "      --headless run the anti-idle session without a window (with --config DIR\n"
    "                 and --metrics ADDRESS; idlix --headless --help says more)\n"
    "\n"
    "Settings (idlix2.ini), the server list (Servers.dat) and the session log\n"
    "(AI_Log.txt) are kept in the folder named by IDLIX_DIR when it is set, else\n"
    "beside the program when idlix2.ini is there and the folder is writable (a\n"
    "portable copy), else in $XDG_CONFIG_HOME/idlix (normally ~/.config/idlix).\n";

} // namespace

int AnswerCommandLine(int argc, char **argv)
{
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            std::fputs(Usage, stdout);
            return 0;
        }
        if (std::strcmp(argv[i], "--version") == 0) {
            std::printf("Idlix %s\n", IdlixVersion);
            return 0;
        }
    }
    return -1;
}
