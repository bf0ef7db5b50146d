// `idlix --find-idle-timer udp|tcp|line [--reflector HOST[:PORT]]
// [--max SECONDS] [--config DIR]`: the idle-timer finder without a window.
// It prints its progress and, as its last line, the verdict
// ("udp idle timer: 30 s (alive after 28 s, gone after 32 s)"); exit 0 with
// a verdict, 1 when nothing could be measured (the reason on the last
// line), 64 for a command line it cannot use, 78 for settings it cannot.
#pragma once

namespace config {
struct TCommandLine;
}

namespace service {

// Runs the measurement the command line (its mode "find-idle-timer") asks for.
int RunFindIdleTimer(const config::TCommandLine &line, int argc, char **argv);

} // namespace service
