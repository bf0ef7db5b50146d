// The command-line requests answered without a window: --help and --version.
// Anything else on the command line is left to Qt (its own options such as
// -platform, and -session from the session manager).
#pragma once

#include "platform/version.h"

// Version of the program, as --version, the package and the metadata give it.
inline constexpr const char *IdlixVersion = platform::ProgramVersion;

// Prints the answer to -h/--help or --version on standard output and returns
// the exit status (0); returns -1 when the program should start as usual.
int AnswerCommandLine(int argc, char **argv);
