// System resolver access, and the blocking lookups asked through the lookup service.
#include "platform/resolver.h"
#include "platform/errcodes.h"
#include "platform/hosttext.h"
#include "platform/lookupservice.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace platform {

std::uint32_t InetAddr(const std::string &text)
{
    return inet_addr(text.c_str());
}

std::string InetNtoa(std::uint32_t addr)
{
    // Same text as inet_ntoa, without its static buffer shared by the
    // lookup workers.
    in_addr in{};
    in.s_addr = addr;
    char buf[INET_ADDRSTRLEN] = {};
    inet_ntop(AF_INET, &in, buf, sizeof buf);
    return buf;
}

namespace {

int familyHint(FamilyChoice choice)
{
    switch (choice) {
    case FamilyChoice::IPv4Only: return AF_INET;
    case FamilyChoice::IPv6Only: return AF_INET6;
    case FamilyChoice::Automatic: break;
    }
    return AF_UNSPEC;
}

bool allowedBy(FamilyChoice choice, Family family)
{
    switch (choice) {
    case FamilyChoice::IPv4Only: return family == Family::IPv4;
    case FamilyChoice::IPv6Only: return family == Family::IPv6;
    case FamilyChoice::Automatic: break;
    }
    return family != Family::None;
}

void addAddress(HostEntry &entry, const IpAddress &a)
{
    for (const IpAddress &seen : entry.addresses)
        if (seen == a)
            return;
    entry.addresses.push_back(a);
    if (a.IsV4())
        entry.addrs.push_back(a.v4());
}

} // namespace

int ResolveName(const std::string &host, FamilyChoice choice, HostEntry &entry)
{
    entry = HostEntry{};
    const HostText text = ReadHostText(QString::fromStdString(host));
    switch (text.kind) {
    case HostText::Empty:
    case HostText::Invalid:
        return kErrHostNotFound;
    case HostText::Address:
        if (!allowedBy(choice, text.address.family))
            return kErrAfNoSupport;
        addAddress(entry, text.address);
        entry.name = AddressText(text.address);
        return 0;
    case HostText::Name:
        break;
    }
    addrinfo hints{};
    hints.ai_family = familyHint(choice);
    hints.ai_socktype = SOCK_STREAM;  // one entry per address, not one per socket type
    hints.ai_flags = AI_CANONNAME;
    addrinfo *res = nullptr;
    errno = 0;
    const int rc = getaddrinfo(text.lookup.c_str(), nullptr, &hints, &res);
    if (rc != 0)
        return ResolverToCode(rc, errno);
    for (addrinfo *ai = res; ai; ai = ai->ai_next) {
        const IpAddress a = FromSockaddr(ai->ai_addr);
        if (!allowedBy(choice, a.family))
            continue;
        if (entry.name.empty() && ai->ai_canonname)
            entry.name = ai->ai_canonname;
        addAddress(entry, a);
    }
    freeaddrinfo(res);
    if (entry.addresses.empty())
        return kErrNoData;
    if (entry.name.empty())
        entry.name = text.lookup;
    return 0;
}

bool FamilyAllows(FamilyChoice choice, Family family) { return allowedBy(choice, family); }

int LookupHost(const std::string &host, FamilyChoice choice, HostEntry &entry)
{
    return TLookupService::Installed().Wait(TLookupRequest::ForName(host, choice), entry);
}

int LookupName(const std::string &host, HostEntry &entry)
{
    return TLookupService::Installed().Wait(TLookupRequest::ForName(host, FamilyChoice::IPv4Only),
                                            entry);
}

int LookupAddress(const IpAddress &address, HostEntry &entry)
{
    return TLookupService::Installed().Wait(TLookupRequest::ForAddress(address), entry);
}

int ResolveAddress(const IpAddress &address, HostEntry &entry)
{
    entry = HostEntry{};
    sockaddr_storage ss;
    const unsigned len = ToSockaddr(address, 0, ss);
    if (len == 0)
        return kErrInvalid;
    char name[NI_MAXHOST] = {};
    errno = 0;
    const int rc = getnameinfo(reinterpret_cast<const sockaddr *>(&ss), len, name, sizeof name,
                               nullptr, 0, NI_NAMEREQD);
    if (rc != 0)
        return ResolverToCode(rc, errno);
    entry.name = name;
    addAddress(entry, address);
    return 0;
}

int LookupAddr(std::uint32_t addr, HostEntry &entry)
{
    return LookupAddress(IpAddress::V4(addr), entry);
}

std::string LocalHostName()
{
    char buf[256] = {};
    if (gethostname(buf, sizeof buf - 1) != 0)
        return {};
    return buf;
}

} // namespace platform
