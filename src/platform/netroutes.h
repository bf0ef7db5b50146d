// What the kernel knows of the way out: the default route of a family, the
// gateway's neighbour entry and the interfaces' flags and addresses. Read
// from the calling thread's network namespace (/proc/thread-self/net and
// sockets opened on that thread), not the process's: a diagnosis runs on a
// thread that may live in another namespace than the main one.
#pragma once

#include "platform/ipaddress.h"

#include <string>
#include <string_view>
#include <vector>

namespace platform {

// The default route of one family.
struct TDefaultRoute {
    IpAddress Gateway;   // the next hop; None for a route straight onto a link (ppp0)
    std::string Device;  // the interface it leaves through
    long Metric = 0;
};

// The default route with the lowest metric in the text of
// /proc/net/route (IPv4) or /proc/net/ipv6_route (IPv6); false when there is
// none that is up (rejecting routes, "unreachable default", do not count).
// Pure: a link-local IPv6 gateway is returned without its zone.
bool ParseDefaultRoute(Family family, std::string_view text, TDefaultRoute &out);

// What the neighbour table says of an address.
enum class TNeighbour { Unknown, Incomplete, Complete };
// The entry of an IPv4 address in the text of /proc/net/arp (pure). Unknown
// when it has none: the kernel drops failed entries after a while.
TNeighbour ParseArpEntry(std::string_view text, const IpAddress &address);

// The kernel's default route of the family, read now; a link-local gateway
// gets its interface as zone.
bool DefaultRoute(Family family, TDefaultRoute &out);
// The neighbour state of an IPv4 gateway (IPv6: Unknown, the kernel keeps
// that table on netlink only).
TNeighbour NeighbourState(const IpAddress &address);

// One network interface and what it can carry.
struct TInterface {
    std::string Name;
    bool Up = false;        // switched on (IFF_UP)
    bool Carrier = false;   // the link below it is there (IFF_LOWER_UP)
    bool HasV4 = false;     // it holds an IPv4 address
    bool HasV6 = false;     // it holds an IPv6 address other than link-local
    bool Loopback = false;
};
// The interfaces of the calling thread's namespace, in the kernel's order.
std::vector<TInterface> Interfaces();

} // namespace platform
