// `idlix --headless`: the unattended service is a program of its own that
// links no windowing library, so that a machine without a display (or
// without Qt Gui) runs it and it costs no more than it needs. The desktop
// program hands the process over to it before Qt starts: the process id,
// standard streams and capabilities that systemd gave stay as they were.
#pragma once

// True when the command line asks for the service, the reflector or the
// idle-timer finder (all answered by the service's program).
bool WantsHeadless(int argc, char **argv);

// Replaces this process with the service, given the same arguments. Returns
// only when it cannot be started: the reason is on standard error, and the
// exit status is returned (1).
int LaunchHeadless(char **argv);
