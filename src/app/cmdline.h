// The command-line requests answered without a window: --help, --version
// and --export (exportcmd.h).
// Anything else on the command line is left to Qt (its own options such as
// -platform, and -session from the session manager).
#pragma once

// Version of the program, as --version, the package and the metadata give it.
inline constexpr const char *IdlixVersion = "2.0";

// Prints the answer to -h/--help or --version on standard output and returns
// the exit status (0); returns -1 when the program should start as usual.
int AnswerCommandLine(int argc, char **argv);
