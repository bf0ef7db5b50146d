// `idlix --headless`: the unattended service is a program of its own that
// links no windowing library, so that a machine without a display (or
// without Qt Gui) runs it and it costs no more than it needs. The desktop
// program hands the process over to it before Qt starts: the process id,
// standard streams and capabilities that systemd gave stay as they were.
#pragma once

namespace config {
struct TCommandLine;
}

// Replaces this process with the service, given the same arguments and the
// data folder this program would use (--config, when the line names none).
// Returns only when it cannot be started: the reason is on standard error,
// and the exit status is returned (1).
int LaunchHeadless(const config::TCommandLine &line, char **argv);
