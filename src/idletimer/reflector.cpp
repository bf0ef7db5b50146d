#include "idletimer/reflector.h"

#include "net/wsextra.h"
#include "platform/errcodes.h"

#include <QDateTime>
#include <QSocketNotifier>
#include <QTimer>

#include <algorithm>

namespace idletimer {

namespace {

// Bounds of what a reflector holds for others.
constexpr std::size_t kMaxWaiting = 8192;         // late answers and connections in all
constexpr int kMaxWaitingPerSource = 64;          // ... for one address
constexpr std::size_t kMaxConnections = 256;      // TCP connections held: well within the descriptors
constexpr int kAcceptPauseMs = 1000;              // listening paused this long when none are left
constexpr int kReadsPerWakeup = 64;               // datagrams taken before the loop runs again
constexpr int kRequestDeadlineMs = 10'000;        // a connection must send its request by then
constexpr int kLingerAfterLateMs = 2'000;         // then it is closed
constexpr std::int64_t kTellEveryMs = 10'000;     // refusals told per reason at most this often

QString SourceKey(const platform::IpAddress &a)
{
    return QString::fromStdString(platform::AddressText(a));
}

} // namespace

struct TReflector::TConnection {
    platform::SocketHandle Socket = platform::kInvalidSocket;
    platform::IpAddress Address;
    QString Source;
    QByteArray Head;                      // the request as it arrives
    std::unique_ptr<QSocketNotifier> Ready;
    std::unique_ptr<QTimer> Timer;        // request deadline, then the silence, then linger
    bool Waiting = false;                 // counted in waitingBySource_
    bool Sent = false;                    // the late byte went

    ~TConnection()
    {
        Ready.reset();
        if (Socket != platform::kInvalidSocket)
            platform::SockClose(Socket);
    }
};

TReflector::TReflector(const QByteArray &key, QObject *parent)
    : TReflector(key, TReflectorGuard::TLimits{}, parent)
{
}

TReflector::TReflector(const QByteArray &key, const TReflectorGuard::TLimits &limits, QObject *parent)
    : QObject(parent), key_(key), guard_(limits)
{
    clock_.start();
    due_ = new QTimer(this);
    due_->setSingleShot(true);
    due_->setTimerType(Qt::PreciseTimer);
    connect(due_, &QTimer::timeout, this, [this] { SendDue(); });
}

TReflector::~TReflector()
{
    tcpConnections_.clear();
    delete udpReady_;
    delete tcpReady_;
    if (udp_ != platform::kInvalidSocket)
        platform::SockClose(udp_);
    if (tcp_ != platform::kInvalidSocket)
        platform::SockClose(tcp_);
}

std::size_t TReflector::Waiting() const
{
    return lateUdp_.size() + tcpConnections_.size();
}

bool TReflector::Listen(const platform::IpAddress &address, std::uint16_t port, QString *error,
                        bool *inUse)
{
    auto failed = [&] {
        const int code = platform::SocketLastError();
        if (error)
            *error = SocketErrorText(code);
        if (inUse)
            *inUse = code == platform::kErrAddrInUse;
        return false;
    };
    udp_ = platform::SockOpen(address.family, platform::kSockDatagram, 0);
    if (udp_ == platform::kInvalidSocket || platform::SockBind(udp_, address, port) < 0)
        return failed();
    platform::IpAddress bound;
    if (platform::SockLocalAddr(udp_, bound, port_) < 0)
        return failed();
    // TCP on the same port (the one the UDP socket got when 0 was asked).
    tcp_ = platform::SockOpen(address.family, platform::kSockStream, 0);
    if (tcp_ == platform::kInvalidSocket)
        return failed();
    platform::SockSetOption(tcp_, platform::SockOption::ReuseAddr, true);
    if (platform::SockBind(tcp_, address, port_) < 0 || platform::SockListen(tcp_, 64) < 0)
        return failed();
    udpReady_ = new QSocketNotifier(udp_, QSocketNotifier::Read);
    connect(udpReady_, &QSocketNotifier::activated, this, [this] { ReadUdp(); });
    tcpReady_ = new QSocketNotifier(tcp_, QSocketNotifier::Read);
    connect(tcpReady_, &QSocketNotifier::activated, this, [this] { AcceptTcp(); });
    return true;
}

void TReflector::Refuse(const platform::IpAddress &from, const char *why)
{
    ++counts_.Refused;
    if (!OnLog)
        return;
    auto &[last, untold] = told_[why];
    const std::int64_t now = NowMs();
    if (last != 0 && now - last < kTellEveryMs) {
        ++untold;
        return;
    }
    QString text = QStringLiteral("Refused a request from %1: %2").arg(SourceKey(from), QLatin1String(why));
    if (untold > 0)
        text += QStringLiteral(" (and %1 more for this reason not told)").arg(untold);
    last = std::max<std::int64_t>(now, 1);
    untold = 0;
    OnLog(text);
}

std::optional<TMessage> TReflector::Check(const QByteArray &bytes, const platform::IpAddress &from,
                                          TTransport transport)
{
    counts_.BytesIn += std::uint64_t(bytes.size());
    TRefusal why = TRefusal::None;
    std::optional<TMessage> m = Decode(bytes, key_, TKind::Request, &why);
    if (!m) {
        Refuse(from, RefusalText(why));
        return std::nullopt;
    }
    if (m->Transport != transport) {
        Refuse(from, RefusalText(TRefusal::Kind));
        return std::nullopt;
    }
    const QString source = SourceKey(from);
    if (Waiting() >= kMaxWaiting || waitingBySource_[source] >= kMaxWaitingPerSource) {
        Refuse(from, AdmitText(TAdmit::Busy));
        return std::nullopt;
    }
    const TAdmit verdict = guard_.Admit(source, *m, QDateTime::currentMSecsSinceEpoch(), NowMs());
    if (verdict != TAdmit::Accept) {
        Refuse(from, AdmitText(verdict));
        return std::nullopt;
    }
    ++counts_.Accepted;
    return m;
}

void TReflector::ReadUdp()
{
    for (int i = 0; i < kReadsPerWakeup; ++i) {
        char buf[kRequestSize + 1];
        platform::IpAddress from;
        std::uint16_t fromPort = 0;
        const int n = platform::SockRecvFrom(udp_, buf, int(sizeof buf), from, fromPort);
        if (n < 0)
            return;
        ++counts_.Received;
        // A datagram longer than a request is cut here and refused by its size.
        const QByteArray bytes(buf, std::min(n, int(sizeof buf)));
        const std::optional<TMessage> m = Check(bytes, from, TTransport::Udp);
        if (!m)
            continue;
        TMessage ack = *m;
        ack.Kind = TKind::Ack;
        ack.ClockMs = QDateTime::currentMSecsSinceEpoch();
        const QByteArray out = Encode(ack, key_);
        if (platform::SockSendTo(udp_, out.constData(), int(out.size()), platform::kSendNormal, from, fromPort) > 0)
            counts_.BytesOut += std::uint64_t(out.size());
        lateUdp_.emplace(NowMs() + std::int64_t(m->Silence) * 1000, TLateUdp{from, fromPort, *m});
        ++waitingBySource_[SourceKey(from)];
        Schedule();
    }
}

void TReflector::Schedule()
{
    if (lateUdp_.empty()) {
        due_->stop();
        return;
    }
    const std::int64_t wait = std::max<std::int64_t>(0, lateUdp_.begin()->first - NowMs());
    due_->start(int(std::min<std::int64_t>(wait, 24 * 3600 * 1000)));
}

void TReflector::SendDue()
{
    const std::int64_t now = NowMs();
    while (!lateUdp_.empty() && lateUdp_.begin()->first <= now) {
        const TLateUdp late = lateUdp_.begin()->second;
        lateUdp_.erase(lateUdp_.begin());
        const QString source = SourceKey(late.Address);
        if (--waitingBySource_[source] <= 0)
            waitingBySource_.erase(source);
        TMessage answer = late.Request;
        answer.Kind = TKind::Late;
        answer.ClockMs = QDateTime::currentMSecsSinceEpoch();
        const QByteArray out = Encode(answer, key_);
        if (platform::SockSendTo(udp_, out.constData(), int(out.size()), platform::kSendNormal,
                                 late.Address, late.Port) > 0)
            counts_.BytesOut += std::uint64_t(out.size());
    }
    Schedule();
}

void TReflector::AcceptTcp()
{
    for (int i = 0; i < kReadsPerWakeup; ++i) {
        const platform::SocketHandle s = platform::SockAccept(tcp_);
        if (s == platform::kInvalidSocket) {
            // Out of descriptors the waiting connection stays queued and the
            // socket stays readable: listening pauses instead of spinning.
            if (platform::SocketLastError() == platform::kErrTooManyFiles) {
                tcpReady_->setEnabled(false);
                QTimer::singleShot(kAcceptPauseMs, this, [this] { tcpReady_->setEnabled(true); });
            }
            return;
        }
        ++counts_.Received;
        auto c = std::make_unique<TConnection>();
        c->Socket = s;
        std::uint16_t peerPort = 0;
        platform::SockPeerAddr(s, c->Address, peerPort);
        c->Source = SourceKey(c->Address);
        if (Waiting() >= kMaxWaiting || tcpConnections_.size() >= kMaxConnections
            || waitingBySource_[c->Source] >= kMaxWaitingPerSource) {
            Refuse(c->Address, AdmitText(TAdmit::Busy));
            c->Socket = platform::kInvalidSocket;
            platform::SockClose(s);
            continue;
        }
        // Counted from the start: a source cannot hold more connections
        // than answers, whether or not it ever sends a request.
        c->Waiting = true;
        ++waitingBySource_[c->Source];
        TConnection *raw = c.get();
        c->Ready = std::make_unique<QSocketNotifier>(s, QSocketNotifier::Read);
        connect(c->Ready.get(), &QSocketNotifier::activated, this, [this, raw] { ReadTcp(raw); });
        c->Timer = std::make_unique<QTimer>();
        c->Timer->setSingleShot(true);
        c->Timer->setTimerType(Qt::PreciseTimer);
        connect(c->Timer.get(), &QTimer::timeout, this, [this, raw] {
            if (raw->Head.size() < kRequestSize || raw->Sent) {
                if (raw->Head.size() < kRequestSize)
                    Refuse(raw->Address, "no request in time");
                CloseTcp(raw);
                return;
            }
            const char late = kTcpLateByte;
            if (platform::SockSend(raw->Socket, &late, 1, platform::kSendNormal) == 1)
                counts_.BytesOut += 1;
            raw->Sent = true;
            platform::SockShutdown(raw->Socket, 1);
            raw->Timer->start(kLingerAfterLateMs);
        });
        c->Timer->start(kRequestDeadlineMs);
        tcpConnections_.emplace(raw, std::move(c));
    }
}

void TReflector::ReadTcp(TConnection *c)
{
    char buf[kRequestSize];
    const int want = c->Head.size() < kRequestSize ? kRequestSize - int(c->Head.size()) : int(sizeof buf);
    const int n = platform::SockRecv(c->Socket, buf, want);
    if (n == 0 || (n < 0 && platform::SocketLastError() != platform::kErrWouldBlock)) {
        // The client went (or its NAT reset the connection): nothing to answer.
        CloseTcp(c);
        return;
    }
    if (n < 0)
        return;
    if (c->Head.size() >= kRequestSize) {
        // Nothing is expected once the request is in: bytes during the
        // silence are neither read into memory nor answered.
        return;
    }
    c->Head.append(buf, n);
    if (c->Head.size() < kRequestSize)
        return;
    const std::optional<TMessage> m = Check(c->Head, c->Address, TTransport::Tcp);
    if (!m) {
        CloseTcp(c);
        return;
    }
    TMessage ack = *m;
    ack.Kind = TKind::Ack;
    ack.ClockMs = QDateTime::currentMSecsSinceEpoch();
    const QByteArray out = Encode(ack, key_);
    if (platform::SockSend(c->Socket, out.constData(), int(out.size()), platform::kSendNormal) > 0)
        counts_.BytesOut += std::uint64_t(out.size());
    c->Timer->start(int(m->Silence) * 1000);
}

void TReflector::CloseTcp(TConnection *c)
{
    auto it = tcpConnections_.find(c);
    if (it == tcpConnections_.end())
        return;
    if (c->Waiting && --waitingBySource_[c->Source] <= 0)
        waitingBySource_.erase(c->Source);
    c->Ready->setEnabled(false);
    c->Timer->stop();
    platform::SockClose(c->Socket);
    c->Socket = platform::kInvalidSocket;
    // Freed once the loop is back: this may run inside the connection's own handler.
    std::unique_ptr<TConnection> gone = std::move(it->second);
    tcpConnections_.erase(it);
    QTimer::singleShot(0, this, [held = std::shared_ptr<TConnection>(std::move(gone))] {});
}

} // namespace idletimer
