#include "net/wsextra.h"

#include "platform/hosttext.h"
#include "platform/resolver.h"

std::optional<THostEntry> LookupHostByAddress(const QString &address)
{
    const platform::HostText text = platform::ReadHostText(address);
    if (text.kind != platform::HostText::Address)
        return std::nullopt;
    platform::HostEntry entry;
    if (platform::LookupAddress(text.address, entry) != 0 || entry.name.empty())
        return std::nullopt;
    THostEntry out;
    out.Name = QString::fromStdString(entry.name);
    for (const platform::IpAddress &a : entry.addresses)
        out.Addresses << QString::fromStdString(platform::AddressText(a));
    return out;
}
