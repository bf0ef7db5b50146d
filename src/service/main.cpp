// The unattended service, started by `idlix --headless` (which hands the
// process over to this program) or by its systemd unit through it, and the
// idle-timer finder's two ends (`idlix --reflector`, `idlix
// --find-idle-timer`), which need no display either. It links no windowing
// library: a machine without a display, Qt Gui or Qt Widgets runs it as it is.
#include "service/findercmd.h"
#include "service/headless.h"
#include "service/reflectorservice.h"

int main(int argc, char **argv)
{
    if (service::WantsFindIdleTimer(argc, argv))
        return service::RunFindIdleTimer(argc, argv);
    if (service::WantsReflector(argc, argv))
        return service::RunReflector(argc, argv);
    return service::RunHeadless(argc, argv);
}
