// idlix --report FILE.pdf|FILE.html [--from T] [--to T]: a report of the
// connection history of the data folder over the range, written without a
// window or a display, while the program runs or not. The times are the
// export's (exportcmd.h); with no --from the report starts at the first
// record, and it never runs past the time it is written.
#pragma once

// Answers the report whose arguments follow argv[at] ("--report"); returns
// the exit status: 0 written, 1 the history could not be read or FILE not
// written, 64 a command line that cannot be understood (with the usage).
int AnswerReport(int argc, char **argv, int at);

// The usage lines of the report, for --help.
extern const char *const ReportUsage;
