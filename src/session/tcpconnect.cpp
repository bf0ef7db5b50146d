#include "session/tcpconnect.h"

#include "net/codetexts.h"
#include "platform/errcodes.h"
#include "platform/hosttext.h"
#include "platform/lookupservice.h"
#include "platform/monoclock.h"

#include <QSocketNotifier>

namespace session {

TProbeOutcome ConnectOutcome(int code)
{
    switch (code) {
    case platform::kErrConnRefused:
        return TProbeOutcome::Refused;
    case platform::kErrTimedOut:
        return TProbeOutcome::Timeout;
    case platform::kErrNetUnreach:
    case platform::kErrHostUnreach:
    case platform::kErrNetDown:
    case platform::kErrHostDown:
        return TProbeOutcome::Unreachable;
    default:
        return TProbeOutcome::Failed;
    }
}

QString ConnectReason(int code)
{
    switch (code) {
    case platform::kErrConnRefused:
        return QStringLiteral("refused");
    case platform::kErrNetUnreach:
        return QStringLiteral("network unreachable");
    case platform::kErrHostUnreach:
        return QStringLiteral("host unreachable");
    default:
        return SocketErrorText(code) + QStringLiteral(" (Error #%1)").arg(code);
    }
}

TTcpConnect::TTcpConnect(QObject *parent) : QObject(parent) {}

TTcpConnect::~TTcpConnect()
{
    if (lookup_ != 0)
        platform::Lookups().Cancel(lookup_);
    writable_.reset();
    if (result_.Socket != platform::kInvalidSocket)
        platform::SockClose(result_.Socket);
}

void TTcpConnect::Start(const QString &host, int port)
{
    port_ = port;
    startNs_ = platform::MonoNowNs();
    const platform::HostText text = platform::ReadHostText(host);
    if (text.kind == platform::HostText::Address) {
        // Nothing to look up: the phase is there, and took no time.
        result_.ResolveUs = 0;
        Connect(text.address);
        return;
    }
    if (text.kind != platform::HostText::Name) {
        Finish(TProbeOutcome::LookupFailed, QLatin1String(LookupFailedText));
        return;
    }
    platform::TLookupService &lookups = platform::Lookups();
    lookup_ = lookups.Submit(this, platform::TLookupRequest::ForName(text.lookup, lookups.RunFamily()),
                             [this](unsigned handle, int error, const platform::HostEntry &entry) {
                                 Resolved(handle, error, entry);
                             });
    if (lookup_ == 0)
        Finish(TProbeOutcome::LookupFailed, QLatin1String(LookupFailedText));
}

void TTcpConnect::Resolved(unsigned handle, int error, const platform::HostEntry &entry)
{
    if (handle != lookup_)
        return;
    lookup_ = 0;
    result_.ResolveUs = (platform::MonoNowNs() - startNs_) / 1000;
    if (error != 0 || entry.addresses.empty()) {
        Finish(TProbeOutcome::LookupFailed, QLatin1String(LookupFailedText));
        return;
    }
    Connect(entry.addresses.front());
}

void TTcpConnect::Connect(const platform::IpAddress &address)
{
    result_.Address = QString::fromStdString(platform::AddressText(address));
    if (OnConnecting)
        OnConnecting(result_.Address);
    startNs_ = platform::MonoNowNs();
    result_.Socket = platform::SockOpen(address.family, platform::kSockStream, 0);
    if (result_.Socket == platform::kInvalidSocket) {
        const int code = platform::SocketLastError();
        Finish(ConnectOutcome(code), ConnectReason(code));
        return;
    }
    if (platform::SockConnect(result_.Socket, address, std::uint16_t(port_)) == 0) {
        Writable();
        return;
    }
    const int code = platform::SocketLastError();
    if (code != platform::kErrWouldBlock) {
        // Loopback answers a closed port at once.
        Finish(ConnectOutcome(code), ConnectReason(code));
        return;
    }
    // The handshake ends, either way, when the socket turns writable.
    writable_ = std::make_unique<QSocketNotifier>(result_.Socket, QSocketNotifier::Write);
    connect(writable_.get(), &QSocketNotifier::activated, this, [this] { Writable(); });
}

void TTcpConnect::Writable()
{
    const qint64 us = (platform::MonoNowNs() - startNs_) / 1000;
    if (writable_)
        writable_->setEnabled(false);
    const int code = platform::SockPendingError(result_.Socket);
    if (code != 0) {
        Finish(ConnectOutcome(code), ConnectReason(code));
        return;
    }
    result_.ConnectUs = us;
    Finish(TProbeOutcome::Ok, QString());
}

void TTcpConnect::Finish(TProbeOutcome outcome, const QString &reason)
{
    writable_.reset();
    result_.Outcome = outcome;
    result_.Reason = reason;
    TConnected result = result_;
    if (outcome != TProbeOutcome::Ok && result.Socket != platform::kInvalidSocket) {
        platform::SockClose(result.Socket);
        result.Socket = platform::kInvalidSocket;
    }
    // The socket is the caller's now (or closed): never closed twice.
    result_.Socket = platform::kInvalidSocket;
    if (OnDone)
        OnDone(result);
}

} // namespace session
