// Address helpers of the resolve tool and the ISP tree. The lookups here wait
// on the resolver's worker while a nested event loop keeps the window alive,
// so a name server that does not answer never freezes it; handlers (Cancel,
// Close, another click) may run inside these calls, and the caller checks
// afterwards whether the answer is still wanted.
#pragma once

#include <QString>
#include <cstdint>
#include <optional>

namespace tools {

// The local host's first IPv4 address (network byte order), looked up by its
// own name; 127.0.0.1 when that name does not resolve.
std::uint32_t LocalIPAddress();
// The four bytes of an address (network byte order), most significant first,
// as decimal numbers joined by ".".
QString DottedAddressText(std::uint32_t address);
// The official name of an address (network byte order); its dotted text when
// it has none.
QString AddressToHostName(std::uint32_t address);

// True when inet_addr takes the text for an IPv4 address.
bool IsDottedAddress(const QString &text);
// True when a host field's text names an address rather than a host: an
// IPv4 address as inet_addr takes it, or an IPv6 one (brackets and zone
// allowed), with blanks around it or not.
bool IsAddressText(const QString &text);

// The official name LookupHostByAddress would find for an address text
// (either family, as IsAddressText takes it), found the waiting way: no value
// when the text is not an address, no name is known for it, or the wait was
// ended by the application quitting. 'error' (when given) receives the
// resolver code: 0 with a name, 11001.. without, 10022 for a text that is
// not an address, 10004 when the application quit.
std::optional<QString> HostNameOfAddress(const QString &address, int *error = nullptr);

} // namespace tools
