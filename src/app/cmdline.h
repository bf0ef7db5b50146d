// The command line, answered before any window or display is opened: --help,
// --version, the modes without a window (--export, --report, --headless) and anything
// the grammar (config/commandline.h) refuses. What is left is a run of the
// window, with what its options chose.
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
// the exit status (0); runs a mode without a window and returns its exit
// status; for an unknown option, a stray argument or both -4 and -6 prints
// what is wrong and the usage on standard error and returns 64; returns -1
// when the window should start as usual, with what the command line chose
// for the run in *run (when given). The folder --config names is made the
// data folder of the run (platform::UseDataDir) in every mode.
int AnswerCommandLine(int argc, char **argv, TRunOptions *run = nullptr);
