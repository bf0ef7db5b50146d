// idlix --export probes|outages FILE [--from T] [--to T] [--format csv|ndjson]:
// the connection history of the data folder written to FILE ("-" for
// standard output) without a window or a display, while the program runs or
// not.
#pragma once

namespace config {
struct TCommandLine;
}

// Answers the export the command line asks for; returns the exit status: 0
// written, 1 the history could not be read or FILE not written, 64 a command
// line that cannot be understood (with the usage).
int AnswerExport(const config::TCommandLine &line);
