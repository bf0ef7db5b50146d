// TDNS: the traceroute's lookup of the host text the user typed, blocking or
// asynchronous; the socket-layer texts it reports are in net/codetexts.h.
#pragma once

#include "net/codetexts.h"
#include "platform/ipaddress.h"

#include <QObject>
#include <QString>
#include <cstdint>
#include <functional>

namespace platform { struct HostEntry; }

// How a lookup or an echo runs: on the caller's thread, or on a worker with
// the completion delivered through the event loop.
enum TWSMode { wsmBlocking = 0, wsmAsync = 1 };

// The traceroute engine's own result codes (signed 32-bit, beside the IP
// status and socket-layer codes).
constexpr std::int32_t kMsLookupBusy = std::int32_t(0x80000000u);      // "Lookup already in progress"
constexpr std::int32_t kMsLookupCancelled = std::int32_t(0x80000001u); // "Cancelled Asynchronous lookup"
constexpr std::int32_t kMsNoAddress = std::int32_t(0x80000002u);       // "No Address Specified"
constexpr std::int32_t kMsNoIcmp = std::int32_t(0x80000100u);          // no echo handle / ICMP disabled
constexpr std::int32_t kMsCancelled = std::int32_t(0x80000103u);       // run cancelled by the user
constexpr std::int32_t kMsInProgress = std::int32_t(0x80000104u);      // "Already in Progress"

using TNotifyEvent = std::function<void(QObject *Sender)>;

class TDNS : public QObject {
    Q_OBJECT
public:
    explicit TDNS(QObject *owner = nullptr);
    // A pending asynchronous lookup is forgotten (no OnResolved).
    ~TDNS() override;

    // Looks a host name or an address (IPv4, or IPv6 with or without
    // brackets and zone) up; OnResolved fires when it ends, whatever the
    // outcome (in wsmBlocking mode before Lookup returns). A name gives its
    // first address of the families the address family setting allows, in
    // the order the system prefers. An address needs no lookup: its reverse
    // name (ip6.arpa for IPv6) is asked for display only, and without one its
    // text stands as the name; an address of a family the setting excludes
    // fails with 10047.
    void Lookup(const QString &host);
    // Ends a pending asynchronous lookup with kMsLookupCancelled; no effect
    // otherwise.
    void CancelLookup();

    std::uint32_t LookupAddr = 0xFFFFFFFFu;  // found IPv4 address (network order); all ones until found and for IPv6
    platform::IpAddress LookupIp;            // found address of either family; family None until found
    TWSMode Mode = wsmBlocking;
    QString LookupName;       // official name of the answer
    QString LookupAddrText;   // canonical text of LookupIp
    QString LookupErrorText;  // text of LookupError
    TNotifyEvent OnResolved;  // a lookup ended
    std::int32_t LookupError = 0;  // 0 = success
    bool LookupBusy = false;       // a lookup is in progress

private:
    void Completed(int error, const platform::HostEntry &entry, const platform::IpAddress &typed);
    void Resolved();

    unsigned m_request = 0;  // handle of the pending asynchronous request
};
