// Name lookups over the system resolver (getaddrinfo/getnameinfo, so
// /etc/hosts, nsswitch and /etc/resolv.conf apply). IPv4 only.
//
// Addresses are IPv4 in network byte order, as inet_addr returns them.
// Error codes are the socket layer's (see errcodes.h): 0 success,
// 11001..11004 resolver failures, 100xx for local failures.
#pragma once

#include <QObject>
#include <QString>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace platform {

// What a lookup found: the official (canonical) name and every IPv4 address.
struct HostEntry {
    std::string name;                  // official name
    std::vector<std::uint32_t> addrs;  // network byte order, resolver order
};

// The C library's inet_addr: accepts "10.1", octal and hex parts; returns
// INADDR_NONE (0xFFFFFFFF) when the text is not an address.
std::uint32_t InetAddr(const std::string &text);
// The C library's inet_ntoa: normalised dotted text of an address.
std::string InetNtoa(std::uint32_t addr);

// Blocking forward lookup; fills entry and returns 0, or a resolver code.
int LookupName(const std::string &host, HostEntry &entry);
// Blocking reverse lookup of an address (network order); entry.name is the
// name found and entry.addrs holds the address itself.
int LookupAddr(std::uint32_t addr, HostEntry &entry);
// The local host's name (gethostname), empty on failure.
std::string LocalHostName();

// Completion of an asynchronous lookup, run on the GUI thread.
using LookupDone = std::function<void(unsigned handle, int error, const HostEntry &entry)>;

// Starts a forward lookup on a worker thread. Returns a non-zero handle; the
// completion is posted to the thread of `context` and dropped when `context`
// is gone or the request was cancelled. Never blocks the caller.
unsigned AsyncLookupName(QObject *context, const std::string &host, LookupDone done);
// Same for a reverse lookup.
unsigned AsyncLookupAddr(QObject *context, std::uint32_t addr, LookupDone done);
// Forgets a pending request so its completion never arrives. Returns 0, or
// 10022 when the handle is not pending.
int CancelLookup(unsigned handle);

} // namespace platform
