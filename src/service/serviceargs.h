// What the unattended service takes from the command line
// (idlix --headless [--config DIR] [--metrics ADDRESS|off] [--remote-write
// URL|off], read by the
// program's one grammar, config/commandline.h) and its exit statuses, as
// sysexits(3) numbers them so that systemd can be told which failures a
// restart cannot mend (RestartPreventExitStatus).
#pragma once

#include "config/commandline.h"

#include <QString>

#include <optional>

namespace service {

enum TExitCode {
    kExitOk = 0,
    kExitFailure = 1,        // anything else: may pass (a port in use), so worth a restart
    kExitUsage = config::kUsageError,  // the command line cannot be understood
    kExitTryLater = 75,      // another Idlix records into the data folder: try again later
    kExitNoPermission = 77,  // the system does not let the program probe
    kExitConfig = 78,        // the settings cannot be used as they are
};

// --metrics: the address to serve at, empty for "off" (any case); none when
// the line does not say, and the settings decide.
std::optional<QString> MetricsOption(const config::TCommandLine &line);
// --remote-write: the receiver's URL, empty for "off"; none when not given.
std::optional<QString> RemoteWriteOption(const config::TCommandLine &line);

} // namespace service
