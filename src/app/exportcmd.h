// idlix --export probes|outages FILE [--from T] [--to T] [--format csv|ndjson]:
// the connection history of the data folder written to FILE ("-" for
// standard output) without a window or a display, while the program runs or
// not.
#pragma once

// Answers the export whose arguments follow argv[at] ("--export"); returns
// the exit status: 0 written, 1 the history could not be read or FILE not
// written, 64 a command line that cannot be understood (with the usage).
int AnswerExport(int argc, char **argv, int at);

// The usage lines of the export, for --help.
extern const char *const ExportUsage;
