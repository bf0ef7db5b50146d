#include "net/ping.h"
#include "platform/errcodes.h"
#include "platform/hosttext.h"
#include "platform/lookupservice.h"
#include "platform/resolver.h"
#include "platform/services.h"


TPing::TPing(QObject *owner) : QObject(owner), m_engine(std::make_unique<TICMP>())
{
    // The engine's events reach the handlers set on this component, with the
    // component as their sender.
    m_engine->Sender = this;
    m_engine->OnDisplay = [this](QObject *s, const QString &msg) {
        if (auto handler = OnDisplay)
            handler(s, msg);
    };
    m_engine->OnEchoRequest = [this](QObject *s) {
        if (auto handler = OnEchoRequest)
            handler(s);
    };
    m_engine->OnEchoReply = [this](QObject *s, int n) {
        if (auto handler = OnEchoReply)
            handler(s, n);
    };
}

TPing::~TPing()
{
    try {
        CancelDnsLookup();
    } catch (...) {
        // A destructor cannot report; the lookup is forgotten with the object.
    }
}

void TPing::DnsLookup(const QString &HostName)
{
    if (m_pending) {
        platform::Lookups().Cancel(m_pending);
        m_pending = 0;
    }
    m_dnsResult.clear();
    const platform::HostText text = platform::ReadHostText(HostName);
    const platform::FamilyChoice family = platform::Lookups().RunFamily();
    if (text.kind == platform::HostText::Address) {
        // An address needs no lookup: its canonical text, at once, when the
        // address family setting lets it be used.
        const bool allowed = platform::FamilyAllows(family, text.address.family);
        if (allowed)
            m_dnsResult = QString::fromStdString(platform::AddressText(text.address));
        if (auto handler = OnDnsLookupDone)
            handler(this, allowed ? 0 : platform::kErrAfNoSupport);
        return;
    }
    const std::string host = HostName.toStdString();
    m_pending = platform::Lookups().Submit(
        this, platform::TLookupRequest::ForName(host, family), [this](unsigned h, int error, const platform::HostEntry &entry) {
            LookupDone(h, error, entry);
        });
    if (m_pending == 0)
        throw TICMPException(QStringLiteral("%1: can't start DNS lookup, error #%2")
                                 .arg(HostName)
                                 .arg(platform::kErrNoBufs));
}

void TPing::LookupDone(unsigned handle, int error, const platform::HostEntry &entry)
{
    if (handle != m_pending)
        return;
    m_pending = 0;
    if (error == 0 && !entry.addresses.empty())
        m_dnsResult = QString::fromStdString(platform::AddressText(entry.addresses.front()));
    else if (error == 0)
        error = platform::kErrNoData;
    if (auto handler = OnDnsLookupDone)
        handler(this, quint16(error));
}

void TPing::CancelDnsLookup()
{
    if (!m_pending)
        return;
    const int rc = platform::Lookups().Cancel(m_pending);
    if (rc != 0)
        throw TICMPException(
            QStringLiteral("WSACancelAsyncRequest failed, error #%1").arg(rc));
    m_pending = 0;
    if (auto handler = OnDnsLookupDone)
        handler(this, platform::kErrInterrupted);
}

int TPing::Ping() { return m_engine->Ping(); }
platform::IcmpEchoReply TPing::Reply() const { return m_engine->Reply(); }
QString TPing::ErrorText() const { return m_engine->ErrorText(); }
int TPing::LastError() const { return m_engine->LastError; }

QString TPing::Address() const { return m_engine->Address(); }
void TPing::SetAddress(const QString &value) { m_engine->SetAddress(value); }
int TPing::Size() const { return m_engine->Size; }
void TPing::SetSize(int value) { m_engine->Size = value; }
int TPing::Timeout() const { return m_engine->Timeout; }
void TPing::SetTimeout(int value) { m_engine->Timeout = value; }
int TPing::TTL() const { return m_engine->TTL; }
void TPing::SetTTL(int value) { m_engine->TTL = value; }

QString TPing::AccessHintOnce()
{
    QString hint;
    if (platform::IcmpAvailable(&hint))
        return {};
    if (!platform::Services().FirstTime(QStringLiteral("icmp access hint")))
        return {};
    return hint;
}
