// An IP address of either family, as the lookups find it and the sockets and
// the echo service take it, with its canonical text: dotted decimal for IPv4,
// RFC 5952 for IPv6 (lower case, the longest run of zero groups shortened to
// "::"), and a link-local address's zone after a "%" ("fe80::1%eth0").
#pragma once

#include <array>
#include <cstdint>
#include <string>

struct sockaddr;
struct sockaddr_storage;

namespace platform {

enum class Family : std::uint8_t { None = 0, IPv4 = 4, IPv6 = 6 };

struct IpAddress {
    Family family = Family::None;
    // Network order: IPv4 in the first four bytes, the rest zero.
    std::array<std::uint8_t, 16> bytes{};
    // IPv6 zone (the interface index of a link-local address); 0 = none.
    std::uint32_t scope = 0;

    // An IPv4 address as inet_addr returns it (network order).
    static IpAddress V4(std::uint32_t netOrder);
    // The IPv4 address in network order; INADDR_NONE for anything else.
    std::uint32_t v4() const;
    bool IsV4() const { return family == Family::IPv4; }
    bool IsV6() const { return family == Family::IPv6; }
    bool Valid() const { return family != Family::None; }
    // fe80::/10: usable only together with the interface it lives on.
    bool IsLinkLocal() const;

    friend bool operator==(const IpAddress &, const IpAddress &) = default;
};

// The canonical text (see above); empty for an invalid address. A zone whose
// interface is gone is written as its number.
std::string AddressText(const IpAddress &address);

// An IPv6 text without brackets, optionally with "%zone" (an interface name
// of this host or an interface number). False for anything else, an unknown
// interface and an empty zone included.
bool ParseIPv6(const std::string &text, IpAddress &out);

// Conversions to and from the kernel's socket addresses. ToSockaddr returns
// the length to pass with it (0 for an invalid address).
unsigned ToSockaddr(const IpAddress &address, std::uint16_t port, sockaddr_storage &out);
// Family None for a socket address of another family.
IpAddress FromSockaddr(const sockaddr *sa, std::uint16_t *port = nullptr);

} // namespace platform
