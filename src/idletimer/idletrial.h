// One trial of the idle-timer finder: a fresh local port (UDP) or a fresh
// connection (TCP) to the reflector, a request for a silence of T seconds,
// its acknowledgement, then nothing at all on that mapping until the
// reflector's late answer arrives (the mapping outlived T) or T plus a
// grace has passed (it did not). Nothing is sent during the silence, so
// the trial never refreshes what it measures.
#pragma once

#include "idletimer/reflectorproto.h"
#include "platform/ipaddress.h"
#include "platform/socket.h"

#include <QByteArray>
#include <QObject>

#include <cstdint>
#include <functional>
#include <memory>

class QSocketNotifier;
class QTimer;

namespace idletimer {

enum class TTrialOutcome { Alive, Gone, NoAck };

class TIdleTrial : public QObject {
    Q_OBJECT
public:
    struct TTarget {
        platform::IpAddress Address;
        std::uint16_t Port = 0;
        TTransport Transport = TTransport::Udp;
        QByteArray Key;
    };
    // How long an acknowledgement is waited for, how often the request is
    // sent before the trial gives up, and how long past T the late answer
    // may still come (the reflector's timer and the way back).
    static constexpr int kAckWaitMs = 1500;
    static constexpr int kSends = 3;
    static constexpr int kGraceMs = 3000;

    TIdleTrial(const TTarget &target, int silence, QObject *parent = nullptr);
    ~TIdleTrial() override;

    // Opens the socket and sends the request; the outcome comes through OnEnd.
    void Start();
    int Silence() const { return silence_; }
    // Bytes this trial put on the wire, headers included (TCP's are counted
    // by segments a trial needs at least: handshake, request, acks, close).
    std::uint64_t BytesSent() const { return bytes_; }
    // Why the trial measured nothing (NoAck), in words.
    QString Reason() const { return reason_; }

    std::function<void(TIdleTrial *, TTrialOutcome)> OnEnd;

private:
    enum class TState { Idle, Connecting, Asking, Silent, Ended };
    void SetState(TState s) { state_ = s; }
    void SendRequest();
    void Readable();
    void Writable();
    void Timeout();
    void End(TTrialOutcome outcome, const QString &reason = {});
    void CountSent(int payload);

    TTarget target_;
    int silence_;
    TState state_ = TState::Idle;
    platform::SocketHandle socket_ = platform::kInvalidSocket;
    std::unique_ptr<QSocketNotifier> readable_;
    std::unique_ptr<QSocketNotifier> writable_;
    QTimer *timer_ = nullptr;
    std::uint64_t nonce_ = 0;
    int sends_ = 0;
    QByteArray answer_;
    std::uint64_t bytes_ = 0;
    QString reason_;
};

} // namespace idletimer
