// `idlix --reflector [ADDRESS][:PORT] [--config DIR]`: the idle-timer
// finder's far end as a service, under the same conventions as --headless
// (sysexits statuses, its lines on standard error in the journal's form,
// READY=1 once it listens, STOPPING=1 on SIGTERM or SIGINT). Without a
// usable [Reflector] Key it does not start (78): it is never an open
// reflector.
#pragma once

namespace service {

int RunReflector(int argc, char **argv);

// True when the arguments ask for the reflector or the idle-timer finder,
// which this program answers instead of the session.
bool WantsReflector(int argc, char **argv);

} // namespace service
