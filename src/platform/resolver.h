// Name lookups over the system resolver (getaddrinfo/getnameinfo, so
// /etc/hosts, nsswitch, /etc/resolv.conf and /etc/gai.conf apply). Every host
// text goes through ReadHostText (hosttext.h) first: blanks trimmed, IPv6
// literals with or without brackets and zones, international names asked in
// their ASCII form.
//
// A forward lookup returns the addresses of the families its request
// allows, in the order the system sorts them; LookupName asks for IPv4 only,
// for callers that can use nothing else. Every lookup is asked through the
// lookup service (lookupservice.h), which bounds the threads blocked in the
// resolver. IPv4 addresses as bare numbers are in
// network byte order, as inet_addr returns them.
// Error codes are the socket layer's (see errcodes.h): 0 success,
// 11001..11004 resolver failures, 10047 for an address of a family the
// choice excludes, 100xx for local failures.
#pragma once

#include "platform/ipaddress.h"

#include <QObject>
#include <QString>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace platform {

// What a lookup found: the official (canonical) name and its addresses.
struct HostEntry {
    std::string name;                   // official name
    std::vector<std::uint32_t> addrs;   // the IPv4 ones, network byte order, resolver order
    std::vector<IpAddress> addresses;   // all of them, both families, resolver order
};

// Which addresses a forward lookup returns. Automatic: both
// families, in the order the system prefers (RFC 6724 as /etc/gai.conf
// tunes it). An address literal of an excluded family fails with 10047.
enum class FamilyChoice { Automatic, IPv4Only, IPv6Only };
// Whether the choice lets an address of this family be used.
bool FamilyAllows(FamilyChoice choice, Family family);

// The C library's inet_addr: accepts "10.1", octal and hex parts; returns
// INADDR_NONE (0xFFFFFFFF) when the text is not an address.
std::uint32_t InetAddr(const std::string &text);
// The C library's inet_ntoa: normalised dotted text of an address.
std::string InetNtoa(std::uint32_t addr);

// Blocking forward lookup of the addresses 'choice' allows; fills entry and
// returns 0, or a resolver code. An address literal comes back as itself,
// its canonical text as the name.
int LookupHost(const std::string &host, FamilyChoice choice, HostEntry &entry);
// Blocking forward lookup of IPv4 addresses only.
int LookupName(const std::string &host, HostEntry &entry);
// Blocking reverse lookup of an address of either family (IPv6 through
// ip6.arpa); entry.name is the name found and entry.addresses (and, for
// IPv4, entry.addrs) holds the address itself.
int LookupAddress(const IpAddress &address, HostEntry &entry);
// The same for an IPv4 address in network order.
int LookupAddr(std::uint32_t addr, HostEntry &entry);
// The resolver itself, on the calling thread: a forward lookup whose
// answer holds only the families 'choice' allows, and a reverse one. Only
// the lookup service's threads call these (lookupservice.h); everything else
// asks through the service, which bounds the threads blocked in them.
int ResolveName(const std::string &host, FamilyChoice choice, HostEntry &entry);
int ResolveAddress(const IpAddress &address, HostEntry &entry);
// The local host's name (gethostname), empty on failure.
std::string LocalHostName();

// Completion of an asynchronous lookup (TLookupService::Submit), run on the
// thread of the request's context.
using LookupDone = std::function<void(unsigned handle, int error, const HostEntry &entry)>;

} // namespace platform
