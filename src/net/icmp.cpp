#include "net/icmp.h"
#include "net/codetexts.h"
#include "platform/hosttext.h"
#include "platform/lookupservice.h"
#include "platform/resolver.h"

#include <vector>

const char kEchoSentence[] = "Idlix keep-alive echo, is this line still up?";
static_assert(sizeof(kEchoSentence) - 1 == kEchoSentenceLen, "the sentence is 45 characters");

TICMP::TICMP()
{
    // A machine that refuses ICMP to this process still runs the program:
    // the handle stays closed and each Ping reports why. The same for
    // ICMPv6, which a kernel without IPv6 cannot open at all.
    m_handle = platform::IcmpCreateFile();
    if (m_handle == platform::kInvalidIcmpHandle)
        m_openError = platform::IcmpLastError() ? platform::IcmpLastError() : kIcmpNotPermitted;
    m_handle6 = platform::Icmp6CreateFile();
    if (m_handle6 == platform::kInvalidIcmpHandle)
        m_openError6 = platform::IcmpLastError() ? platform::IcmpLastError() : kIcmpNotPermitted;
}

TICMP::~TICMP()
{
    for (platform::IcmpHandle h : {m_handle, m_handle6})
        if (h != platform::kInvalidIcmpHandle)
            platform::IcmpCloseHandle(h);
}

void TICMP::SetAddress(const QString &value)
{
    if (value == m_address)
        return;
    m_address = value;
    m_resolved = false;
}

void TICMP::Resolve()
{
    m_target = platform::IpAddress{};
    const platform::HostText host = platform::ReadHostText(m_address);
    const platform::FamilyChoice family = platform::Lookups().RunFamily();
    if (host.kind == platform::HostText::Address && platform::FamilyAllows(family, host.address.family)) {
        m_target = host.address;
        m_hostName = host.shown;
    } else {
        // Names through the resolver, and whatever else the resolver's own
        // reading refuses with its code.
        platform::HostEntry entry;
        const int rc = platform::LookupHost(m_address.toStdString(), family, entry);
        if (rc != 0) {
            LastError = rc;
            if (auto handler = OnDisplay)
                handler(Sender, QStringLiteral("Unable to resolve ") + m_address);
            return;
        }
        m_target = entry.addresses.front();
        m_hostName = QString::fromStdString(entry.name);
    }
    m_hostIP = QString::fromStdString(platform::AddressText(m_target));
    m_resolved = true;
}

int TICMP::Ping()
{
    int result = 0;
    LastError = 0;
    if (!m_resolved)
        Resolve();
    // inet_addr cannot tell 255.255.255.255 from its "not an address": as
    // ever, that target counts as unresolved and nothing is sent to it.
    const bool broadcast = m_target.IsV4() && m_target.v4() == 0xFFFFFFFFu;
    if (!m_target.Valid() || broadcast || !m_resolved) {
        LastError = platform::kIpBadDestination;
        if (auto handler = OnDisplay)
            handler(Sender, QStringLiteral("Invalid host address"));
        return 0;
    }

    // Fill before the range check so an oversized Size cannot allocate; the
    // check below refuses it anyway.
    const bool sizeOk = Size >= 0 && Size <= 65535;
    std::vector<char> request(sizeOk ? std::size_t(Size) : 0, ' ');
    for (int i = 0; i < kEchoSentenceLen && i < int(request.size()); ++i)
        request[std::size_t(i)] = kEchoSentence[i];
    m_reply = platform::IcmpEchoReply{};
    m_replyUs = -1;

    if (auto handler = OnEchoRequest)
        handler(Sender);

    if (TTL < 0 || TTL > 255 || !sizeOk)
        throw EICMPRangeError();
    platform::IpOptionInformation options;
    options.Ttl = std::uint8_t(TTL);

    const bool v6 = m_target.IsV6();
    const platform::IcmpHandle handle = v6 ? m_handle6 : m_handle;
    m_replier = m_target;
    if (handle == platform::kInvalidIcmpHandle) {
        LastError = v6 ? m_openError6 : m_openError;
    } else {
        result = platform::IcmpSendEchoTo(handle, m_target, request.data(), Size, &options,
                                          &m_reply, Timeout, &m_replier);
        LastError = platform::IcmpLastError();
        m_replyUs = platform::IcmpLastRoundTripUs();
    }

    if (auto handler = OnEchoReply)
        handler(Sender, result);
    return result;
}

QString TICMP::ErrorTextFor(int code)
{
    // Not IP status: the echo could not be sent at all on this system.
    if (code == kIcmpNotPermitted)
        return QStringLiteral("ICMP not permitted on this system");
    if (code == kIcmpFamilyNotSupported)
        return QStringLiteral("Address family not supported");
    const QString text = EchoStatusText(code);
    return text.isEmpty() ? QStringLiteral("ICMP error #") + QString::number(code) : text;
}
