// idlix --report FILE.pdf|FILE.html [--from T] [--to T]: a report of the
// connection history of the data folder over the range, written without a
// window or a display, while the program runs or not. The times are the
// export's (exportcmd.h); with no --from the report starts at the first
// record, and it never runs past the time it is written.
#pragma once

namespace config {
struct TCommandLine;
}

// Answers the report the command line asks for; returns the exit status: 0
// written, 1 the history could not be read or FILE not written, 64 a command
// line that cannot be understood (with the usage).
int AnswerReport(const config::TCommandLine &line, char **argv);
