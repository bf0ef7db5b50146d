#include "app/addressfamily.h"

#include "config/options.h"
#include "shell/shellapi.h"

void FollowAddressFamily(IShell &shell, platform::TLookupService &lookups,
                         std::optional<platform::FamilyChoice> forced)
{
    if (forced) {
        // The run keeps what the command line said, whatever is saved later.
        lookups.SetRunFamily(*forced);
        return;
    }
    auto apply = [&shell, &lookups] {
        lookups.SetRunFamily(shell.Options().Network.Choice());
    };
    apply();
    // The shell keeps its watchers as long as it lives, and so the references
    // (the service outlives the window).
    shell.WatchPreferences(apply);
}
