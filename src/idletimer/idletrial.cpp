#include "idletimer/idletrial.h"

#include "net/wsextra.h"
#include "platform/errcodes.h"

#include <QDateTime>
#include <QRandomGenerator>
#include <QSocketNotifier>
#include <QTimer>

namespace idletimer {

namespace {

// Linux puts timestamps in every TCP segment (12 bytes of options).
int HeaderBytes(const TIdleTrial::TTarget &t)
{
    const int ip = t.Address.IsV6() ? 40 : 20;
    return ip + (t.Transport == TTransport::Udp ? 8 : 32);
}


} // namespace

TIdleTrial::TIdleTrial(const TTarget &target, int silence, QObject *parent)
    : QObject(parent), target_(target), silence_(silence)
{
    timer_ = new QTimer(this);
    timer_->setSingleShot(true);
    timer_->setTimerType(Qt::PreciseTimer);
    connect(timer_, &QTimer::timeout, this, [this] { Timeout(); });
}

TIdleTrial::~TIdleTrial()
{
    readable_.reset();
    writable_.reset();
    if (socket_ != platform::kInvalidSocket)
        platform::SockClose(socket_);
}

void TIdleTrial::CountSent(int payload)
{
    bytes_ += std::uint64_t(payload + HeaderBytes(target_));
}

void TIdleTrial::Start()
{
    const bool udp = target_.Transport == TTransport::Udp;
    socket_ = platform::SockOpen(target_.Address.family, udp ? platform::kSockDatagram : platform::kSockStream, 0);
    if (socket_ == platform::kInvalidSocket) {
        End(TTrialOutcome::NoAck, SocketErrorText(platform::SocketLastError()));
        return;
    }
    // A connected datagram socket takes only what comes from the reflector's
    // address and port: the answer must come from where the request went.
    const int rc = platform::SockConnect(socket_, target_.Address, target_.Port);
    if (rc < 0 && platform::SocketLastError() != platform::kErrWouldBlock
        && platform::SocketLastError() != platform::kErrInProgress) {
        End(TTrialOutcome::NoAck, SocketErrorText(platform::SocketLastError()));
        return;
    }
    readable_ = std::make_unique<QSocketNotifier>(socket_, QSocketNotifier::Read);
    connect(readable_.get(), &QSocketNotifier::activated, this, [this] { Readable(); });
    if (udp) {
        SendRequest();
        return;
    }
    CountSent(8);   // SYN, with its longer options
    SetState(TState::Connecting);
    writable_ = std::make_unique<QSocketNotifier>(socket_, QSocketNotifier::Write);
    connect(writable_.get(), &QSocketNotifier::activated, this, [this] { Writable(); });
    timer_->start(kAckWaitMs * kSends);
}

void TIdleTrial::Writable()
{
    writable_.reset();
    if (state_ != TState::Connecting)
        return;
    const int error = platform::SockPendingError(socket_);
    if (error != 0) {
        End(TTrialOutcome::NoAck, SocketErrorText(error));
        return;
    }
    SendRequest();
}

void TIdleTrial::SendRequest()
{
    TMessage m;
    m.Kind = TKind::Request;
    m.Transport = target_.Transport;
    m.Silence = std::uint32_t(silence_);
    // A new nonce each time: the reflector answers a nonce once.
    nonce_ = QRandomGenerator::system()->generate64();
    m.Nonce = nonce_;
    m.ClockMs = QDateTime::currentMSecsSinceEpoch();
    const QByteArray bytes = Encode(m, target_.Key);
    ++sends_;
    const int sent = platform::SockSend(socket_, bytes.constData(), int(bytes.size()), platform::kSendNormal);
    if (sent != bytes.size()) {
        // A full TCP send buffer cannot happen with one small request; a
        // refused datagram (ICMP port unreachable) shows as an error here.
        End(TTrialOutcome::NoAck, SocketErrorText(platform::SocketLastError()));
        return;
    }
    CountSent(int(bytes.size()));
    if (target_.Transport == TTransport::Tcp)
        CountSent(0);   // the handshake's last ACK went with or before it
    SetState(TState::Asking);
    // TCP retransmits by itself: the whole wait is given at once.
    timer_->start(target_.Transport == TTransport::Udp ? kAckWaitMs : kAckWaitMs * kSends);
}

void TIdleTrial::Readable()
{
    char buf[kRequestSize];
    const bool udp = target_.Transport == TTransport::Udp;
    const int want = udp ? int(sizeof buf) : (state_ == TState::Asking ? kAnswerSize - int(answer_.size()) : 1);
    const int n = platform::SockRecv(socket_, buf, want);
    if (n < 0) {
        const int code = platform::SocketLastError();
        if (code == platform::kErrWouldBlock)
            return;
        // Refused: the reflector's port is closed. In the silence, an error
        // (a reset by whatever dropped the connection) means the mapping went.
        if (state_ == TState::Silent)
            End(TTrialOutcome::Gone);
        else if (udp && code == platform::kErrConnRefused && sends_ < kSends)
            return;   // the next send tells again, or the wait ends
        else
            End(TTrialOutcome::NoAck, SocketErrorText(code));
        return;
    }
    if (n == 0) {
        // TCP: closed before the answer; the reflector closes only after it.
        End(state_ == TState::Silent ? TTrialOutcome::Gone : TTrialOutcome::NoAck,
            QStringLiteral("the reflector closed the connection"));
        return;
    }
    if (state_ == TState::Asking) {
        if (udp)
            answer_ = QByteArray(buf, n);
        else
            answer_.append(buf, n);
        if (answer_.size() < kAnswerSize && !udp)
            return;
        const std::optional<TMessage> ack = Decode(answer_, target_.Key, TKind::Ack);
        answer_.clear();
        if (!ack || ack->Nonce != nonce_) {
            if (!udp)
                End(TTrialOutcome::NoAck, QStringLiteral("the reflector's answer is not signed with this key"));
            return;   // a stray datagram: the wait goes on
        }
        if (!udp)
            CountSent(0);   // ACK of the acknowledgement
        SetState(TState::Silent);
        timer_->start(silence_ * 1000 + kGraceMs);
        return;
    }
    if (state_ != TState::Silent)
        return;
    if (udp) {
        const std::optional<TMessage> late = Decode(QByteArray(buf, n), target_.Key, TKind::Late);
        if (late && late->Nonce == nonce_)
            End(TTrialOutcome::Alive);
        return;
    }
    if (buf[0] == kTcpLateByte) {
        CountSent(0);   // its ACK
        End(TTrialOutcome::Alive);
    }
}

void TIdleTrial::Timeout()
{
    switch (state_) {
    case TState::Connecting:
        End(TTrialOutcome::NoAck, QStringLiteral("no connection to the reflector"));
        break;
    case TState::Asking:
        if (target_.Transport == TTransport::Udp && sends_ < kSends)
            SendRequest();
        else
            End(TTrialOutcome::NoAck, QStringLiteral("no acknowledgement from the reflector"));
        break;
    case TState::Silent:
        End(TTrialOutcome::Gone);
        break;
    case TState::Idle:
    case TState::Ended:
        break;
    }
}

void TIdleTrial::End(TTrialOutcome outcome, const QString &reason)
{
    if (state_ == TState::Ended)
        return;
    SetState(TState::Ended);
    reason_ = reason;
    timer_->stop();
    readable_.reset();
    writable_.reset();
    if (socket_ != platform::kInvalidSocket) {
        if (target_.Transport == TTransport::Tcp) {
            // Reset rather than closed: a FIN into a mapping that is gone
            // would be sent again and again, for nothing.
            platform::SockSetLinger(socket_, true, 0);
            CountSent(0);
        }
        platform::SockClose(socket_);
        socket_ = platform::kInvalidSocket;
    }
    // Told last: the handler may free this trial.
    if (OnEnd)
        OnEnd(this, outcome);
}

} // namespace idletimer
