// The command line, answered before any window or display is opened: --help
// and --version, and any argument that is neither these nor one of the Qt
// toolkit's own options (such as -platform, and -session from the session
// manager), which are left to Qt.
#pragma once

#include "platform/version.h"

// Version of the program, as --version, the package and the metadata give it.
inline constexpr const char *IdlixVersion = platform::ProgramVersion;

// Prints the answer to -h/--help or --version on standard output and returns
// the exit status (0); for an unknown option or a stray argument prints what
// is wrong and the usage on standard error and returns 64; returns -1 when
// the program should start as usual.
int AnswerCommandLine(int argc, char **argv);
