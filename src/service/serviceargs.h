// The command line of the unattended service:
//   idlix --headless [-4|-6] [--config DIR] [--metrics ADDRESS|off]
// and its exit statuses, as sysexits(3) numbers them so that systemd can be
// told which failures a restart cannot mend (RestartPreventExitStatus).
#pragma once

#include "platform/resolver.h"

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
    // -4 / -6: one address family for the whole run, over [Network] AddressFamily.
    std::optional<platform::FamilyChoice> Family;
    QString Error;                     // why the line is refused (kExitUsage)
};

// Reads the arguments after the program name. Options take their value as
// the next argument or after '='.
TServiceArgs ParseServiceArgs(const QStringList &args);

// What --help prints.
QString ServiceUsage();

} // namespace service
