#include "app/headlesslaunch.h"

#include "platform/execprogram.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

constexpr const char *ServiceProgram = "idlix-headless";

} // namespace

bool WantsHeadless(int argc, char **argv)
{
    // The idle-timer finder's two ends need no window either.
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--headless") == 0 || std::strcmp(argv[i], "--find-idle-timer") == 0
            || std::strcmp(argv[i], "--reflector") == 0 || std::strncmp(argv[i], "--reflector=", 12) == 0)
            return true;
    }
    return false;
}

int LaunchHeadless(char **argv)
{
    const std::string dir = platform::ExecutableDir();
    // Beside this program (the build folder), else where the install puts it.
    const std::string program = platform::FirstExecutable({
        dir + "/" + ServiceProgram,
        dir + "/" IDLIX_LIBEXEC_FROM_BIN "/" + ServiceProgram,
    });
    if (program.empty()) {
        std::fprintf(stderr, "idlix: the headless service (%s) is not installed beside %s\n",
                     ServiceProgram, dir.c_str());
        return 1;
    }
    // The service keeps its settings where this program would (a portable
    // copy beside it): it is told which folder that is.
    ::setenv("IDLIX_PROGRAM_DIR", dir.c_str(), 1);
    const std::string error = platform::ExecReplace(program, argv);
    std::fprintf(stderr, "idlix: cannot start %s: %s\n", program.c_str(), error.c_str());
    return 1;
}
