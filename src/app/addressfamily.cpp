#include "app/addressfamily.h"

#include "config/options.h"
#include "shell/shellapi.h"

platform::FamilyChoice FamilyChoiceOf(int addressFamily)
{
    switch (addressFamily) {
    case config::TNetworkOptions::IPv4Only: return platform::FamilyChoice::IPv4Only;
    case config::TNetworkOptions::IPv6Only: return platform::FamilyChoice::IPv6Only;
    default: return platform::FamilyChoice::Automatic;
    }
}

void FollowAddressFamily(IShell &shell, std::optional<platform::FamilyChoice> forced)
{
    if (forced) {
        // The run keeps what the command line said, whatever is saved later.
        platform::SetFamilyChoice(*forced);
        return;
    }
    auto apply = [&shell] {
        platform::SetFamilyChoice(FamilyChoiceOf(shell.Options().Network.AddressFamily));
    };
    apply();
    // The shell keeps its watchers as long as it lives, and so the reference.
    shell.WatchPreferences(apply);
}
