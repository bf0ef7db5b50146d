// `idlix --reflector [ADDRESS][:PORT] [--config DIR]`: the idle-timer
// finder's far end as a service, under the same conventions as --headless
// (sysexits statuses, its lines on standard error in the journal's form,
// READY=1 once it listens, STOPPING=1 on SIGTERM or SIGINT). Without a
// usable [Reflector] Key it does not start (78): it is never an open
// reflector.
#pragma once

namespace config {
struct TCommandLine;
}

namespace service {

// Runs the reflector the command line (its mode "reflector") asks for.
int RunReflector(const config::TCommandLine &line, int argc, char **argv);

} // namespace service
