// Lookups for callers that need the answer before they go on (a traceroute
// hop's name, the resolve tool, the ISP tree's scan) but must not freeze the
// window: the request goes through the lookup service while a nested event
// loop keeps timers, repaints and clicks running. Handlers may therefore run
// inside the call; the caller re-checks its own state afterwards.
#pragma once

#include "platform/lookupservice.h"

#include <cstdint>
#include <string>

// Asks request and runs the event loop until it is answered; fills entry and
// returns 0, or a resolver code. 10004 when the event loop was told to quit
// while waiting (the request is then cancelled), 10055 when the service
// takes no request.
int LookupWaiting(platform::TLookupRequest request, platform::HostEntry &entry);
// Reverse lookup of an address of either family, the same way.
int LookupAddressWaiting(const platform::IpAddress &address, platform::HostEntry &entry);
// The same for an IPv4 address in network order.
int LookupAddrWaiting(std::uint32_t addr, platform::HostEntry &entry);
// Forward lookup of a host name's IPv4 addresses, the same way.
int LookupNameWaiting(const std::string &host, platform::HostEntry &entry);
