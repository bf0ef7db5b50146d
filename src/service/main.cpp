// The unattended service, started by `idlix --headless` (which hands the
// process over to this program) or by its systemd unit through it, and the
// idle-timer finder's two ends (`idlix --reflector`, `idlix
// --find-idle-timer`), which need no display either. It links no windowing
// library: a machine without a display, Qt Gui or Qt Widgets runs it as it is.
#include "config/commandline.h"
#include "service/findercmd.h"
#include "service/headlessservice.h"
#include "service/reflectorservice.h"
#include "platform/version.h"

#include <QStringList>

#include <cstdio>

int main(int argc, char **argv)
{
    QStringList args;
    for (int i = 1; i < argc; ++i)
        args << QString::fromLocal8Bit(argv[i]);
    // Started directly (not through idlix), the line may leave --headless out.
    const config::TCommandLine line = config::ParseCommandLine(args, QStringLiteral("headless"));
    const bool ours = line.Error.isEmpty()
                      && (line.Mode == QLatin1String("headless") || line.Mode == QLatin1String("find-idle-timer")
                          || line.Mode == QLatin1String("reflector"));
    // --help and --version are answered here, once for every mode this program runs.
    if (ours && line.Help) {
        std::fputs(qPrintable(config::UsageText(line.Mode)), stdout);
        return 0;
    }
    if (ours && line.Version) {
        std::printf("Idlix %s\n", platform::ProgramVersion);
        return 0;
    }
    if (line.Error.isEmpty() && line.Mode == QLatin1String("find-idle-timer"))
        return service::RunFindIdleTimer(line, argc, argv);
    if (line.Error.isEmpty() && line.Mode == QLatin1String("reflector"))
        return service::RunReflector(line, argc, argv);
    return service::RunHeadless(argc, argv);
}
