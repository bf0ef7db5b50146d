#include "session/dnstransport.h"

#include "platform/errcodes.h"
#include "platform/hosttext.h"
#include "platform/lookupservice.h"
#include "session/probeurl.h"

#include <QFile>
#include <QRandomGenerator>

#include <utility>

namespace session {

std::optional<TDnsTarget> ParseDnsUrl(const QString &url, QString *error)
{
    TProbeUrl parsed;
    if (!ParseProbeUrl(url, &parsed, error))
        return std::nullopt;
    const auto type = dnsmsg::TypeByName(parsed.DnsType);
    if (parsed.Kind != TProbeKind::Dns || !type) {
        if (error)
            *error = QStringLiteral("not a dns:// probe: %1").arg(url);
        return std::nullopt;
    }
    return TDnsTarget{parsed.Host, quint16(parsed.Port), parsed.DnsName, *type};
}

QString FirstNameServer(const QByteArray &resolvConf)
{
    for (const QByteArray &raw : resolvConf.split('\n')) {
        // Blanks and tabs alike become one blank: "nameserver ADDRESS ...".
        const QList<QByteArray> words = raw.simplified().split(' ');
        if (words.size() >= 2 && words[0] == "nameserver")
            return QString::fromLatin1(words[1]);
    }
    return {};
}

} // namespace session

namespace {

// resolv.conf is a few lines; more than this is not one.
constexpr qint64 kMaxResolvConf = 64 * 1024;

// IP and UDP headers in front of a datagram's payload.
qint64 UdpWireBytes(qint64 payload, bool ipv6)
{
    return payload + (ipv6 ? 40 : 20) + 8;
}

// What a socket error while the query is out says of the server.
TProbeOutcome SocketOutcome(int code)
{
    switch (code) {
    case platform::kErrConnRefused:
    case platform::kErrNetUnreach:
    case platform::kErrHostUnreach:
    case platform::kErrHostDown:
        return TProbeOutcome::Unreachable;
    default:
        return TProbeOutcome::Failed;
    }
}

QString SocketReason(int code)
{
    if (code == platform::kErrConnRefused)
        return QStringLiteral("no name server listens there (port unreachable)");
    if (code == platform::kErrNetUnreach)
        return QStringLiteral("network unreachable");
    if (code == platform::kErrHostUnreach || code == platform::kErrHostDown)
        return QStringLiteral("host unreachable");
    return QStringLiteral("socket error %1").arg(code);
}

} // namespace

TDnsTransport::TDnsTransport()
{
    timer_.setSingleShot(true);
    // A coarse timer may fire 5 % early: the time-out is a promise to the user.
    timer_.setTimerType(Qt::PreciseTimer);
    QObject::connect(&timer_, &QTimer::timeout, &context_, [this] { TimedOut(); });
}

TDnsTransport::~TDnsTransport()
{
    if (lookup_ != 0)
        platform::Lookups().Cancel(lookup_);
    notifier_.reset();   // not from inside its signal: at once
    CloseSocket();
}

void TDnsTransport::SetState(TState state)
{
    state_ = state;
}

void TDnsTransport::Send(const probe::TRequest &request, probe::TEvents events)
{
    if (state_ != TState::Idle)
        Finish(probe::CancelledReply());
    ++generation_;
    events_ = std::move(events);
    QString error;
    const auto target = session::ParseDnsUrl(request.Target, &error);
    std::optional<QByteArray> wire;
    if (target)
        wire = dnsmsg::EncodeName(target->Name, &error);
    if (!wire) {
        Fail(TProbeOutcome::Failed, error);
        return;
    }
    target_ = *target;
    wireName_ = *wire;
    timer_.start(request.TimeoutMs > 0 ? request.TimeoutMs : kDefaultTimeoutMs);
    clock_.start();

    QString server = target_.Server;
    if (server.isEmpty()) {
        QFile file(ResolvConf);
        if (file.open(QIODevice::ReadOnly))
            server = session::FirstNameServer(file.read(kMaxResolvConf));
        if (server.isEmpty()) {
            Fail(TProbeOutcome::Failed, QStringLiteral("no name server in %1").arg(ResolvConf));
            return;
        }
    }
    const platform::HostText host = platform::ReadHostText(server);
    if (host.kind == platform::HostText::Address) {
        ServerFound(host.address);
        return;
    }
    if (host.kind != platform::HostText::Name) {
        Fail(TProbeOutcome::LookupFailed, QStringLiteral("bad name server \"%1\"").arg(server));
        return;
    }
    SetState(TState::LookingUp);
    platform::TLookupService &lookups = platform::Lookups();
    lookup_ = lookups.Submit(
        &context_, platform::TLookupRequest::ForName(host.lookup, lookups.RunFamily()),
        [this, server](unsigned handle, int error, const platform::HostEntry &entry) {
            if (handle != lookup_ || state_ != TState::LookingUp)
                return;
            lookup_ = 0;
            if (error != 0 || entry.addresses.empty())
                Fail(TProbeOutcome::LookupFailed, QStringLiteral("Unknown Host %1").arg(server));
            else
                ServerFound(entry.addresses.front());
        });
    if (lookup_ == 0)
        Fail(TProbeOutcome::LookupFailed, QStringLiteral("Unknown Host %1").arg(server));
}

void TDnsTransport::ServerFound(const platform::IpAddress &address)
{
    address_ = QString::fromStdString(platform::AddressText(address));
    v6_ = address.IsV6();
    // A connected socket: the kernel passes on only the server's datagrams,
    // and an ICMP port unreachable comes back as an error on it.
    socket_ = platform::SockOpen(address.family, platform::kSockDatagram, 0);
    if (socket_ == platform::kInvalidSocket
        || platform::SockConnect(socket_, address, target_.Port) != 0) {
        const int code = platform::SocketLastError();
        Fail(SocketOutcome(code), SocketReason(code));
        return;
    }
    id_ = quint16(QRandomGenerator::system()->generate());
    const QByteArray query = dnsmsg::BuildQuery(id_, wireName_, target_.Type);
    notifier_ = std::make_unique<QSocketNotifier>(socket_, QSocketNotifier::Read);
    QObject::connect(notifier_.get(), &QSocketNotifier::activated, &context_, [this] { Readable(); });
    SetState(TState::Waiting);
    const quint64 generation = generation_;
    if (events_.Sending)
        events_.Sending(address_);
    if (generation != generation_ || state_ != TState::Waiting)
        return;   // Sending ended this probe (a newer Send, or Cancel)
    clock_.start();   // the query time counts from here, the lookup apart
    if (platform::SockSend(socket_, query.constData(), int(query.size()), platform::kSendNormal) != query.size()) {
        const int code = platform::SocketLastError();
        Fail(SocketOutcome(code), SocketReason(code));
        return;
    }
    sent_ = UdpWireBytes(query.size(), v6_);
}

void TDnsTransport::Readable()
{
    if (state_ != TState::Waiting)
        return;
    // One byte more than a reply may have, so that a longer one shows.
    char buf[dnsmsg::kMaxUdpReply + 1];
    // Each datagram queued now, but no more: someone else's flood must not
    // hold the event loop.
    for (int i = 0; i < 16; ++i) {
        platform::IpAddress from;
        quint16 port = 0;
        const int n = platform::SockRecvFrom(socket_, buf, int(sizeof buf), from, port);
        if (n < 0) {
            const int code = platform::SocketLastError();
            if (code != platform::kErrWouldBlock)
                Fail(SocketOutcome(code), SocketReason(code));
            return;
        }
        const QByteArray bytes(buf, qMin(n, int(sizeof buf)));
        dnsmsg::TReplyInfo info;
        QString why;
        const qint64 us = clock_.nsecsElapsed() / 1000;
        switch (dnsmsg::ParseReply(bytes, id_, wireName_, target_.Type, info, &why)) {
        case dnsmsg::TParse::OtherId:
            continue;   // not ours: keep waiting for the answer
        case dnsmsg::TParse::Malformed: {
            probe::TReply reply;
            reply.Outcome = TProbeOutcome::DnsError;
            reply.Reason = QStringLiteral("malformed reply: %1").arg(why);
            reply.Address = address_;
            reply.BytesSent = sent_;
            reply.BytesReceived = UdpWireBytes(n, v6_);
            Finish(reply);
            return;
        }
        case dnsmsg::TParse::Reply: {
            probe::TReply reply;
            reply.Address = address_;
            reply.BytesSent = sent_;
            reply.BytesReceived = UdpWireBytes(n, v6_);
            reply.Us = us;
            reply.Ms = probe::WholeMs(us);
            reply.Timings.ResolveUs = us;
            reply.Details.DnsRcode = info.Rcode;
            if (info.Rcode == dnsmsg::kNoError && info.Answers > 0) {
                reply.Outcome = TProbeOutcome::Ok;
            } else {
                reply.Outcome = TProbeOutcome::DnsError;
                if (info.Rcode != dnsmsg::kNoError)
                    reply.Reason = dnsmsg::RcodeText(info.Rcode);
                else if (info.Truncated)
                    reply.Reason = QStringLiteral("no answer (reply truncated)");
                else
                    reply.Reason = QStringLiteral("no answer");
            }
            Finish(reply);
            return;
        }
        }
    }
}

void TDnsTransport::TimedOut()
{
    if (state_ == TState::Idle)
        return;
    if (state_ == TState::LookingUp) {
        Fail(TProbeOutcome::LookupFailed,
             QStringLiteral("Unknown Host %1 (lookup timed out)").arg(target_.Server));
        return;
    }
    probe::TReply reply;
    reply.Outcome = TProbeOutcome::Timeout;
    reply.Reason = QStringLiteral("no reply from %1").arg(address_);
    reply.Address = address_;
    reply.BytesSent = sent_;
    Finish(reply);
}

void TDnsTransport::Cancel()
{
    if (state_ != TState::Idle)
        Finish(probe::CancelledReply());
}

void TDnsTransport::Fail(TProbeOutcome outcome, const QString &reason)
{
    probe::TReply reply;
    reply.Outcome = outcome;
    reply.Reason = reason;
    reply.Address = address_;
    reply.BytesSent = sent_;
    Finish(reply);
}

void TDnsTransport::Finish(probe::TReply reply)
{
    if (lookup_ != 0) {
        platform::Lookups().Cancel(lookup_);
        lookup_ = 0;
    }
    timer_.stop();
    CloseSocket();
    SetState(TState::Idle);
    address_.clear();
    sent_ = 0;
    probe::TEvents events = std::move(events_);
    events_ = {};
    if (events.Done)
        events.Done(reply);
}

void TDnsTransport::CloseSocket()
{
    if (notifier_) {
        // The probe may end inside the notifier's own signal: it goes once
        // that has returned.
        notifier_->setEnabled(false);
        notifier_.release()->deleteLater();
    }
    if (socket_ != platform::kInvalidSocket) {
        platform::SockClose(socket_);
        socket_ = platform::kInvalidSocket;
    }
}
