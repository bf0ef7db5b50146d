#include "platform/ipaddress.h"

#include <arpa/inet.h>
#include <cstring>
#include <net/if.h>
#include <netinet/in.h>
#include <sys/socket.h>

namespace platform {

namespace {

constexpr std::uint32_t kNone = 0xFFFFFFFFu;

// The zone as the user may type it: an interface name, or its number.
bool zoneIndex(const std::string &zone, std::uint32_t &index)
{
    if (zone.empty() || zone.size() >= IF_NAMESIZE + 10)
        return false;
    bool digits = true;
    for (char c : zone)
        digits = digits && c >= '0' && c <= '9';
    if (digits) {
        if (zone.size() > 9)
            return false;
        index = std::uint32_t(std::stoul(zone));
        return index != 0;
    }
    index = if_nametoindex(zone.c_str());
    return index != 0;
}

} // namespace

IpAddress IpAddress::V4(std::uint32_t netOrder)
{
    IpAddress a;
    a.family = Family::IPv4;
    std::memcpy(a.bytes.data(), &netOrder, 4);
    return a;
}

std::uint32_t IpAddress::v4() const
{
    if (family != Family::IPv4)
        return kNone;
    std::uint32_t v;
    std::memcpy(&v, bytes.data(), 4);
    return v;
}

bool IpAddress::IsLinkLocal() const
{
    return family == Family::IPv6 && bytes[0] == 0xFE && (bytes[1] & 0xC0) == 0x80;
}

std::string AddressText(const IpAddress &address)
{
    char buf[INET6_ADDRSTRLEN + IF_NAMESIZE + 2] = {};
    switch (address.family) {
    case Family::IPv4:
        inet_ntop(AF_INET, address.bytes.data(), buf, sizeof buf);
        return buf;
    case Family::IPv6: {
        // glibc writes the RFC 5952 form: lower case, no leading zeros, the
        // first longest run of two or more zero groups as "::".
        inet_ntop(AF_INET6, address.bytes.data(), buf, sizeof buf);
        std::string text = buf;
        if (address.scope != 0) {
            char name[IF_NAMESIZE] = {};
            text += '%';
            text += if_indextoname(address.scope, name) ? std::string(name)
                                                        : std::to_string(address.scope);
        }
        return text;
    }
    case Family::None:
        break;
    }
    return {};
}

bool ParseIPv6(const std::string &text, IpAddress &out)
{
    const auto percent = text.find('%');
    const std::string bare = text.substr(0, percent);
    in6_addr a{};
    if (bare.empty() || inet_pton(AF_INET6, bare.c_str(), &a) != 1)
        return false;
    IpAddress parsed;
    parsed.family = Family::IPv6;
    std::memcpy(parsed.bytes.data(), &a, 16);
    if (percent != std::string::npos && !zoneIndex(text.substr(percent + 1), parsed.scope))
        return false;
    out = parsed;
    return true;
}

unsigned ToSockaddr(const IpAddress &address, std::uint16_t port, sockaddr_storage &out)
{
    std::memset(&out, 0, sizeof out);
    if (address.IsV4()) {
        auto *sin = reinterpret_cast<sockaddr_in *>(&out);
        sin->sin_family = AF_INET;
        sin->sin_port = htons(port);
        std::memcpy(&sin->sin_addr, address.bytes.data(), 4);
        return sizeof(sockaddr_in);
    }
    if (address.IsV6()) {
        auto *sin6 = reinterpret_cast<sockaddr_in6 *>(&out);
        sin6->sin6_family = AF_INET6;
        sin6->sin6_port = htons(port);
        std::memcpy(&sin6->sin6_addr, address.bytes.data(), 16);
        sin6->sin6_scope_id = address.scope;
        return sizeof(sockaddr_in6);
    }
    return 0;
}

IpAddress FromSockaddr(const sockaddr *sa, std::uint16_t *port)
{
    IpAddress a;
    if (!sa)
        return a;
    if (sa->sa_family == AF_INET) {
        sockaddr_in sin;
        std::memcpy(&sin, sa, sizeof sin);
        a = IpAddress::V4(sin.sin_addr.s_addr);
        if (port)
            *port = ntohs(sin.sin_port);
    } else if (sa->sa_family == AF_INET6) {
        sockaddr_in6 sin6;
        std::memcpy(&sin6, sa, sizeof sin6);
        a.family = Family::IPv6;
        std::memcpy(a.bytes.data(), &sin6.sin6_addr, 16);
        a.scope = sin6.sin6_scope_id;
        if (port)
            *port = ntohs(sin6.sin6_port);
    }
    return a;
}

} // namespace platform
