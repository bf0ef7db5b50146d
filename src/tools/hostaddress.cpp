#include "tools/hostaddress.h"

#include "platform/lookupwait.h"
#include "platform/errcodes.h"
#include "platform/hosttext.h"
#include "platform/resolver.h"

namespace tools {

namespace {

constexpr std::uint32_t NoAddress = 0xFFFFFFFFu;

// 127.0.0.1 in network byte order, whatever the machine's own order.
std::uint32_t Loopback()
{
    return platform::InetAddr("127.0.0.1");
}

} // namespace

std::uint32_t LocalIPAddress()
{
    const std::string name = platform::LocalHostName();
    platform::HostEntry entry;
    if (name.empty() || LookupNameWaiting(name, entry) != 0 || entry.addrs.empty())
        return Loopback();
    return entry.addrs.front();
}

QString DottedAddressText(std::uint32_t address)
{
    // In memory the first byte is the most significant one.
    const auto *b = reinterpret_cast<const unsigned char *>(&address);
    return QStringLiteral("%1.%2.%3.%4").arg(b[0]).arg(b[1]).arg(b[2]).arg(b[3]);
}

QString AddressToHostName(std::uint32_t address)
{
    platform::HostEntry entry;
    if (LookupAddrWaiting(address, entry) == 0 && !entry.name.empty())
        return QString::fromStdString(entry.name);
    return DottedAddressText(address);
}

bool IsDottedAddress(const QString &text)
{
    return platform::InetAddr(text.toStdString()) != NoAddress;
}

bool IsAddressText(const QString &text)
{
    return platform::ReadHostText(text).kind == platform::HostText::Address;
}

std::optional<QString> HostNameOfAddress(const QString &address, int *error)
{
    int rc = platform::kErrInvalid;
    std::optional<QString> name;
    const platform::HostText text = platform::ReadHostText(address);
    if (text.kind == platform::HostText::Address) {
        platform::HostEntry entry;
        rc = LookupAddressWaiting(text.address, entry);
        if (rc == 0 && entry.name.empty())
            rc = platform::kErrHostNotFound;
        if (rc == 0)
            name = QString::fromStdString(entry.name);
    }
    if (error)
        *error = rc;
    return name;
}

} // namespace tools
