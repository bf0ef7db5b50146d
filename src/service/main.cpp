// The unattended service, started by `idlix --headless` (which hands the
// process over to this program) or by its systemd unit through it. It links
// no windowing library: a machine without a display, Qt Gui or Qt Widgets
// runs it as it is.
#include "service/headless.h"

int main(int argc, char **argv)
{
    return service::RunHeadless(argc, argv);
}
