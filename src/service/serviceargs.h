// The command line of the unattended service:
//   idlix --headless [--config DIR] [--metrics ADDRESS|off] [--remote-write URL|off]
// and its exit statuses, as sysexits(3) numbers them so that systemd can be
// told which failures a restart cannot mend (RestartPreventExitStatus).
#pragma once

#include <QString>
#include <QStringList>

#include <optional>

namespace service {

enum TExitCode {
    kExitOk = 0,
    kExitFailure = 1,        // anything else: may pass (a port in use), so worth a restart
    kExitUsage = 64,         // the command line cannot be understood
    kExitNoPermission = 77,  // the system does not let the program probe
    kExitConfig = 78,        // the settings cannot be used as they are
};

struct TServiceArgs {
    bool Help = false;
    bool Version = false;
    QString ConfigDir;                 // --config: the data folder; empty = the usual rules
    std::optional<QString> Metrics;    // --metrics: the address, or empty for "off"
    std::optional<QString> RemoteWrite;   // --remote-write: the URL, or empty for "off"
    QString Error;                     // why the line is refused (kExitUsage)
};

// Reads the arguments after the program name. Options take their value as
// the next argument or after '='.
TServiceArgs ParseServiceArgs(const QStringList &args);

// What --help prints.
QString ServiceUsage();

} // namespace service
