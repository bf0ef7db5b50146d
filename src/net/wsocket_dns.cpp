// TCustomWSocket's name lookups: forward and reverse, run on the resolver's
// worker, their completion delivered through the event loop.
#include "net/wsocket.h"

#include "platform/errcodes.h"
#include "platform/hosttext.h"
#include "platform/lookupservice.h"
#include "platform/resolver.h"

using namespace platform;

namespace {

QStringList addressTexts(const HostEntry &e)
{
    QStringList list;
    for (const IpAddress &a : e.addresses)
        list << QString::fromStdString(AddressText(a));
    return list;
}

} // namespace

// ---- name lookups ----

// Common start of both lookups: an empty text is reported as an error and
// ends the lookup at once (the done event with 10022); otherwise a pending
// lookup is cancelled and both results are cleared. False when the lookup
// must not go on.
bool TCustomWSocket::BeginLookup(const QString &text)
{
    if (text.isEmpty()) {
        RaiseException(QStringLiteral("DNS lookup: invalid host name."));
        TriggerDnsLookupDone(kErrInvalid);
        return false;
    }
    if (pendingLookup_ != 0) {
        Lookups().Cancel(pendingLookup_);
        pendingLookup_ = 0;
    }
    dnsResult_.clear();
    dnsResultList_.clear();
    return true;
}

// A request the resolver refused (handle 0) is reported as an error.
void TCustomWSocket::CheckLookupStarted(const QString &text)
{
    if (pendingLookup_ == 0) {
        SetSocketLastError(kErrNoBufs);
        RaiseException(QStringLiteral("%1: can't start DNS lookup, error #%2")
                           .arg(text).arg(SocketLastError()));
    }
}

void TCustomWSocket::DnsLookup(const QString &hostName)
{
    if (!BeginLookup(hostName))
        return;
    const HostText text = ReadHostText(hostName);
    const FamilyChoice family = Lookups().RunFamily();
    if (text.kind == HostText::Address) {
        const bool allowed = FamilyAllows(family, text.address.family);
        if (allowed)
            dnsResult_ = QString::fromStdString(AddressText(text.address));
        TriggerDnsLookupDone(allowed ? 0 : kErrAfNoSupport);
        return;
    }
    QPointer<TCustomWSocket> self(this);
    pendingLookup_ = Lookups().Submit(this, TLookupRequest::ForName(hostName.toStdString(), family),
                                     [self](unsigned h, int err, const HostEntry &e) {
                                         if (self)
                                             self->LookupDone(h, err, addressTexts(e));
                                     });
    CheckLookupStarted(hostName);
}

void TCustomWSocket::ReverseDnsLookup(const QString &address)
{
    if (!BeginLookup(address))
        return;
    // Anything but an address is looked up as the all-ones address, which
    // has no name, as inet_addr's answer for it would be.
    const HostText text = ReadHostText(address);
    const IpAddress addr = text.kind == HostText::Address ? text.address : IpAddress::V4(0xFFFFFFFFu);
    QPointer<TCustomWSocket> self(this);
    pendingLookup_ = Lookups().Submit(this, TLookupRequest::ForAddress(addr), [self](unsigned h, int err, const HostEntry &e) {
        if (!self)
            return;
        QStringList list;
        if (err == 0)
            list << QString::fromStdString(e.name);
        self->LookupDone(h, err, list);
    });
    CheckLookupStarted(address);
}

void TCustomWSocket::LookupDone(unsigned handle, int error, const QStringList &results)
{
    // A completion of a request that was cancelled or replaced is not ours any more.
    if (handle != pendingLookup_)
        return;
    pendingLookup_ = 0;
    if (error == 0) {
        dnsResultList_ = results;
        if (!results.isEmpty())
            dnsResult_ = results.first();
    }
    TriggerDnsLookupDone(static_cast<quint16>(error));
}

void TCustomWSocket::CancelDnsLookup()
{
    if (pendingLookup_ == 0)
        return;
    int rc = Lookups().Cancel(pendingLookup_);
    pendingLookup_ = 0;
    if (rc != 0) {
        SetSocketLastError(rc);
        SocketError(QStringLiteral("WSACancelAsyncRequest"));
        return;
    }
    if (!destroying_)
        TriggerDnsLookupDone(kErrInterrupted);
}
