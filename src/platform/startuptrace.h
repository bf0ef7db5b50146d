// Start-up milestones written to the error stream, to see where the time
// from launch to the first painted window goes. Off unless IDLIX_STARTUP_TRACE
// is set: to a launch time in nanoseconds on the wall clock (what
// `date +%s%N` prints just before the program is started), the milestones
// count from it, so the loading of the program itself shows; to anything else,
// from the first milestone.
#pragma once

namespace platform {

// Writes "idlix start-up: <ms> <what>" when tracing is on; nothing otherwise.
void StartupMark(const char *what);

} // namespace platform
