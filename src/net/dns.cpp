#include "net/dns.h"

#include "net/codetexts.h"
#include "platform/errcodes.h"
#include "platform/hosttext.h"
#include "platform/lookupservice.h"
#include "platform/resolver.h"


TDNS::TDNS(QObject *owner) : QObject(owner) {}

TDNS::~TDNS()
{
    if (m_request)
        platform::Lookups().Cancel(m_request);
}

void TDNS::Lookup(const QString &host)
{
    if (LookupBusy) {
        // The running lookup stays busy and still completes; its answer is
        // left alone.
        LookupError = kMsLookupBusy;
        LookupErrorText = QStringLiteral("Lookup already in progress");
        if (auto handler = OnResolved)
            handler(this);
        return;
    }
    LookupAddrText.clear();
    LookupName.clear();
    LookupAddr = 0xFFFFFFFFu;
    LookupIp = platform::IpAddress{};
    LookupError = 0;
    if (host.isEmpty()) {
        LookupError = kMsNoAddress;
        LookupErrorText = QStringLiteral("No Address Specified");
        if (auto handler = OnResolved)
            handler(this);
        return;
    }
    LookupBusy = true;
    LookupErrorText.clear();
    const platform::HostText text = platform::ReadHostText(host);
    // An address typed as such is looked up in reverse, for its name only.
    const platform::IpAddress typed =
        text.kind == platform::HostText::Address ? text.address : platform::IpAddress{};
    const platform::FamilyChoice family = platform::Lookups().RunFamily();
    if (typed.Valid() && !platform::FamilyAllows(family, typed.family)) {
        Completed(platform::kErrAfNoSupport, {}, {});
        return;
    }
    const std::string name = host.toStdString();

    if (Mode == wsmBlocking) {
        platform::HostEntry entry;
        const int rc = typed.Valid() ? platform::LookupAddress(typed, entry)
                                     : platform::LookupHost(name, family, entry);
        Completed(rc, entry, typed);
        return;
    }
    auto done = [this, typed](unsigned handle, int error, const platform::HostEntry &entry) {
        if (handle != m_request)
            return;
        m_request = 0;
        Completed(error, entry, typed);
    };
    m_request = platform::Lookups().Submit(
        this,
        typed.Valid() ? platform::TLookupRequest::ForAddress(typed)
                      : platform::TLookupRequest::ForName(name, family),
        done);
    if (m_request == 0) {
        // No worker to be had for the request.
        LookupError = platform::kErrNoBufs;
        LookupErrorText = WinsockErrorText(LookupError);
        Resolved();
    }
}

void TDNS::Completed(int error, const platform::HostEntry &entry, const platform::IpAddress &typed)
{
    if (typed.Valid()) {
        // The address is what the caller needs; the reverse name only labels
        // it. A numeric host is what people type when names do not work, so
        // a missing record or a silent name server must not refuse it.
        LookupIp = typed;
        LookupAddrText = QString::fromStdString(platform::AddressText(typed));
        LookupName = error == 0 && !entry.name.empty() ? QString::fromStdString(entry.name)
                                                       : LookupAddrText;
        LookupError = 0;
    } else if (error != 0 || entry.addresses.empty()) {
        LookupError = error != 0 ? error : platform::kErrNoData;
        LookupErrorText = WinsockErrorText(LookupError);
    } else {
        LookupError = 0;
        LookupIp = entry.addresses.front();
        LookupName = QString::fromStdString(entry.name);
        LookupAddrText = QString::fromStdString(platform::AddressText(LookupIp));
    }
    LookupAddr = LookupIp.v4();
    Resolved();
}

void TDNS::Resolved()
{
    // The lookup is over before its answer goes out: the handler may run a
    // whole blocking trace and start the next lookup from within it.
    LookupBusy = false;
    if (auto handler = OnResolved)
        handler(this);
}

void TDNS::CancelLookup()
{
    if (Mode != wsmAsync || !LookupBusy || m_request == 0)
        return;
    const int rc = platform::Lookups().Cancel(m_request);
    m_request = 0;
    if (rc == 0) {
        LookupError = kMsLookupCancelled;
        LookupErrorText = QStringLiteral("Cancelled Asynchronous lookup");
    } else {
        LookupError = rc;
        LookupErrorText = WinsockErrorText(rc);
    }
    Resolved();
}
