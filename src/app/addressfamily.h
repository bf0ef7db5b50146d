// The address family the program's lookups give in this run: the [Network]
// setting, applied at start and again whenever the user saves preferences,
// unless -4 or -6 on the command line chose one for the whole run.
#pragma once

#include "platform/lookupservice.h"

#include <optional>

class IShell;

// Sets the run's family of 'lookups' from the shell's options now and after
// every saved preference, or to 'forced' for good when the command line chose.
void FollowAddressFamily(IShell &shell, platform::TLookupService &lookups,
                         std::optional<platform::FamilyChoice> forced);
