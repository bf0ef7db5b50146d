#include "app/cmdline.h"

#include "app/exportcmd.h"
#include "app/headlesslaunch.h"
#include "app/reportcmd.h"
#include "config/commandline.h"
#include "platform/appdir.h"
#include "service/serviceconfig.h"

#include <cstdio>
#include <string_view>

namespace {

// The modes without a window and the function that runs each: a new mode is
// an entry of the grammar's table and one line here.
using TModeMain = int (*)(const config::TCommandLine &line, char **argv);
struct TModeRun {
    std::string_view mode;
    TModeMain run;
};
constexpr TModeRun ModeRuns[] = {
    {"export", [](const config::TCommandLine &line, char **) { return AnswerExport(line); }},
    {"headless", [](const config::TCommandLine &line, char **argv) { return LaunchHeadless(line, argv); }},
    {"report", [](const config::TCommandLine &line, char **argv) { return AnswerReport(line, argv); }},
    // The idle-timer finder's two ends run in the service's program too: no display.
    {"reflector", [](const config::TCommandLine &line, char **argv) { return LaunchHeadless(line, argv); }},
    {"find-idle-timer", [](const config::TCommandLine &line, char **argv) { return LaunchHeadless(line, argv); }},
};

} // namespace

int AnswerCommandLine(int argc, char **argv, TRunOptions *run)
{
    QStringList args;
    for (int i = 1; i < argc; ++i)
        args << QString::fromLocal8Bit(argv[i]);
    const config::TCommandLine line = config::ParseCommandLine(args);
    if (!line.Error.isEmpty()) {
        std::fputs(qPrintable(config::RefusalText(line)), stderr);
        return config::kUsageError;
    }
    if (line.Help) {
        std::fputs(qPrintable(config::UsageText(line.Mode)), stdout);
        return 0;
    }
    if (line.Version) {
        std::printf("Idlix %s\n", IdlixVersion);
        return 0;
    }
    // The folder --config names is the data folder of every mode.
    if (!line.DataDir.isEmpty()) {
        if (const service::TServiceProblem p = service::CheckDataFolder(line.DataDir, QString())) {
            std::fprintf(stderr, "idlix: %s\n", qPrintable(p.Reason));
            return p.Code;
        }
        platform::UseDataDir(line.DataDir);
    }
    for (const TModeRun &m : ModeRuns) {
        if (line.Mode == QLatin1String(m.mode.data(), qsizetype(m.mode.size())))
            return m.run(line, argv);
    }
    if (run)
        run->Family = line.Family;
    return -1;
}
