#include "platform/netroutes.h"

#include <cstdio>
#include <cstring>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sstream>

namespace platform {

namespace {

// The kernel's route flags (linux/route.h).
constexpr unsigned long kRouteUp = 0x0001;
constexpr unsigned long kRouteReject = 0x0200;
// The carrier flag that net/if.h leaves out (linux/if.h: IFF_LOWER_UP).
constexpr unsigned kLowerUp = 1u << 16;
// Routing tables of a router with a full table run to a few MB; a desktop's
// are a few lines. Past this much the default route is searched no further.
constexpr std::size_t kMostRead = 1 << 20;

std::vector<std::string> Fields(const std::string &line)
{
    std::vector<std::string> out;
    std::istringstream in(line);
    for (std::string f; in >> f;)
        out.push_back(f);
    return out;
}

bool Hex(const std::string &text, unsigned long &out)
{
    if (text.empty() || text.size() > 16)
        return false;
    char *end = nullptr;
    out = std::strtoul(text.c_str(), &end, 16);
    return end && *end == '\0';
}

// 32 hex digits as /proc/net/ipv6_route writes an address.
bool HexAddress6(const std::string &text, IpAddress &out)
{
    if (text.size() != 32)
        return false;
    IpAddress a;
    a.family = Family::IPv6;
    for (int i = 0; i < 16; ++i) {
        unsigned long byte = 0;
        if (!Hex(text.substr(i * 2, 2), byte))
            return false;
        a.bytes[i] = std::uint8_t(byte);
    }
    out = a;
    return true;
}

bool Route4(const std::vector<std::string> &f, TDefaultRoute &out)
{
    // Iface Destination Gateway Flags RefCnt Use Metric Mask ...
    unsigned long dest = 0, gateway = 0, flags = 0, mask = 0;
    if (f.size() < 8 || !Hex(f[1], dest) || !Hex(f[2], gateway) || !Hex(f[3], flags) ||
        !Hex(f[7], mask) || dest != 0 || mask != 0)
        return false;
    if (!(flags & kRouteUp) || (flags & kRouteReject))
        return false;
    out.Device = f[0];
    out.Metric = std::strtol(f[6].c_str(), nullptr, 10);
    // The address as the kernel holds it, printed as a number of this
    // machine's byte order: read back the same way, it is in network order.
    out.Gateway = gateway ? IpAddress::V4(std::uint32_t(gateway)) : IpAddress{};
    return true;
}

bool Route6(const std::vector<std::string> &f, TDefaultRoute &out)
{
    // dest len src len next-hop metric refcnt use flags device
    IpAddress dest, next;
    unsigned long len = 0, metric = 0, flags = 0;
    if (f.size() < 10 || !HexAddress6(f[0], dest) || !Hex(f[1], len) || len != 0 ||
        !HexAddress6(f[4], next) || !Hex(f[5], metric) || !Hex(f[8], flags))
        return false;
    if (dest.bytes != std::array<std::uint8_t, 16>{} || !(flags & kRouteUp) ||
        (flags & kRouteReject) || f[9] == "lo")
        return false;
    out.Device = f[9];
    out.Metric = long(metric);
    out.Gateway = next.bytes == std::array<std::uint8_t, 16>{} ? IpAddress{} : next;
    return true;
}

std::string ReadProcNet(const char *name)
{
    // thread-self: the namespace of this thread; /proc/self/net would be the
    // main thread's.
    std::string path = std::string("/proc/thread-self/net/") + name;
    std::FILE *file = std::fopen(path.c_str(), "re");
    if (!file)
        file = std::fopen((std::string("/proc/self/net/") + name).c_str(), "re");
    if (!file)
        return {};
    std::string text;
    char buffer[4096];
    for (std::size_t n; text.size() < kMostRead && (n = std::fread(buffer, 1, sizeof buffer, file)) > 0;)
        text.append(buffer, n);
    std::fclose(file);
    return text;
}

} // namespace

bool ParseDefaultRoute(Family family, std::string_view text, TDefaultRoute &out)
{
    bool found = false;
    std::istringstream in{std::string(text)};
    for (std::string line; std::getline(in, line);) {
        TDefaultRoute route;
        const std::vector<std::string> f = Fields(line);
        const bool ok = family == Family::IPv4 ? Route4(f, route) : Route6(f, route);
        if (ok && (!found || route.Metric < out.Metric)) {
            out = route;
            found = true;
        }
    }
    return found;
}

TNeighbour ParseArpEntry(std::string_view text, const IpAddress &address)
{
    const std::string wanted = AddressText(address);
    std::istringstream in{std::string(text)};
    for (std::string line; std::getline(in, line);) {
        // IP address, HW type, Flags, HW address, Mask, Device
        const std::vector<std::string> f = Fields(line);
        if (f.size() < 6 || f[0] != wanted)
            continue;
        unsigned long flags = 0;
        const bool complete = Hex(f[2].rfind("0x", 0) == 0 ? f[2].substr(2) : f[2], flags) &&
                              (flags & 0x2) && f[3] != "00:00:00:00:00:00";
        return complete ? TNeighbour::Complete : TNeighbour::Incomplete;
    }
    return TNeighbour::Unknown;
}

bool DefaultRoute(Family family, TDefaultRoute &out)
{
    if (!ParseDefaultRoute(family, ReadProcNet(family == Family::IPv4 ? "route" : "ipv6_route"), out))
        return false;
    if (out.Gateway.IsLinkLocal())
        out.Gateway.scope = if_nametoindex(out.Device.c_str());
    return true;
}

TNeighbour NeighbourState(const IpAddress &address)
{
    if (!address.IsV4())
        return TNeighbour::Unknown;
    return ParseArpEntry(ReadProcNet("arp"), address);
}

std::vector<TInterface> Interfaces()
{
    std::vector<TInterface> out;
    ifaddrs *list = nullptr;
    if (getifaddrs(&list) != 0)
        return out;
    auto entry = [&out](const char *name) -> TInterface & {
        for (TInterface &i : out)
            if (i.Name == name)
                return i;
        out.push_back(TInterface{name});
        return out.back();
    };
    for (const ifaddrs *a = list; a; a = a->ifa_next) {
        if (!a->ifa_name)
            continue;
        TInterface &i = entry(a->ifa_name);
        i.Up = i.Up || (a->ifa_flags & IFF_UP);
        i.Carrier = i.Carrier || (a->ifa_flags & kLowerUp);
        i.Loopback = i.Loopback || (a->ifa_flags & IFF_LOOPBACK);
        const IpAddress address = a->ifa_addr ? FromSockaddr(a->ifa_addr) : IpAddress{};
        i.HasV4 = i.HasV4 || address.IsV4();
        i.HasV6 = i.HasV6 || (address.IsV6() && !address.IsLinkLocal());
    }
    freeifaddrs(list);
    return out;
}

} // namespace platform
