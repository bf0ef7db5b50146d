// The command line, answered before any window or display is opened: --help,
// --version, --export (exportcmd.h), --report (reportcmd.h), and any
// argument that is neither these, nor -4 or -6 (the address family of this
// run), nor one of the Qt toolkit's own options (such as -platform, and
// -session from the session manager), which are left to Qt.
#pragma once

#include "platform/resolver.h"
#include "platform/version.h"

#include <optional>

// Version of the program, as --version, the package and the metadata give it.
inline constexpr const char *IdlixVersion = platform::ProgramVersion;

// What the command line chose for a run that starts.
struct TRunOptions {
    // -4 or -6: the lookups give IPv4 or IPv6 addresses only, whatever the
    // address family setting says; none: the setting decides.
    std::optional<platform::FamilyChoice> Family;
};

// Prints the answer to -h/--help or --version on standard output and returns
// the exit status (0); for an unknown option, a stray argument or both -4
// and -6 prints what is wrong and the usage on standard error and returns
// 64; returns -1 when the program should start as usual, with what the
// command line chose for the run in *run (when given).
int AnswerCommandLine(int argc, char **argv, TRunOptions *run = nullptr);
