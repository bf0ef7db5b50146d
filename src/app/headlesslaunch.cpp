#include "app/headlesslaunch.h"

#include "config/commandline.h"
#include "platform/appdir.h"
#include "platform/execprogram.h"

#include <QFile>

#include <cstdio>
#include <string>
#include <vector>

namespace {

constexpr const char *ServiceProgram = "idlix-headless";

} // namespace

int LaunchHeadless(const config::TCommandLine &line, char **argv)
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
    std::vector<char *> args;
    for (char **a = argv; *a; ++a)
        args.push_back(*a);
    QByteArray config = "--config", folder;
    if (line.DataDir.isEmpty()) {
        folder = QFile::encodeName(platform::DataDirOf(QFile::decodeName(dir.c_str())));
        args.push_back(config.data());
        args.push_back(folder.data());
    }
    args.push_back(nullptr);
    const std::string error = platform::ExecReplace(program, args.data());
    std::fprintf(stderr, "idlix: cannot start %s: %s\n", program.c_str(), error.c_str());
    return 1;
}
