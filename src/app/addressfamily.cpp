#include "app/addressfamily.h"

#include "config/options.h"
#include "shell/shellapi.h"

void FollowAddressFamily(IShell &shell, std::optional<platform::FamilyChoice> forced)
{
    if (forced) {
        // The run keeps what the command line said, whatever is saved later.
        platform::SetFamilyChoice(*forced);
        return;
    }
    auto apply = [&shell] {
        platform::SetFamilyChoice(shell.Options().Network.Choice());
    };
    apply();
    // The shell keeps its watchers as long as it lives, and so the reference.
    shell.WatchPreferences(apply);
}
