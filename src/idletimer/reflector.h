// The reflector: the far end of the idle-timer finder, run on a machine
// outside the user's NAT (`idlix --reflector`). It listens for UDP requests
// and TCP connections on one address and port; a request whose tag, clock
// and nonce pass (reflectorproto.h, reflectorguard.h) is acknowledged at
// once and answered again after the silence it asks for, from the very
// socket it reached (UDP) or on its own connection (TCP: one byte). Nothing
// that fails a check is answered, and what it holds is bounded: answers
// waiting, connections, bytes read.
#pragma once

#include "idletimer/reflectorguard.h"
#include "platform/ipaddress.h"
#include "platform/socket.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QObject>

#include <cstdint>
#include <functional>
#include <map>
#include <memory>

class QSocketNotifier;
class QTimer;

namespace idletimer {

// The reflector's default port: unassigned in the service list and below
// Linux's range of ephemeral ports, so no client of the machine takes it.
inline constexpr std::uint16_t kReflectorPort = 27184;

class TReflector : public QObject {
    Q_OBJECT
public:
    struct TCounts {
        std::uint64_t Received = 0;      // requests (datagrams and connections)
        std::uint64_t Accepted = 0;      // acknowledged
        std::uint64_t Refused = 0;       // dropped by a check
        std::uint64_t BytesIn = 0;       // request bytes received
        std::uint64_t BytesOut = 0;      // answer bytes sent
    };

    TReflector(const QByteArray &key, QObject *parent = nullptr);
    TReflector(const QByteArray &key, const TReflectorGuard::TLimits &limits, QObject *parent = nullptr);
    ~TReflector() override;

    // Listens for UDP and TCP on the address and port; false with the reason
    // (and whether the port is taken, which may pass).
    bool Listen(const platform::IpAddress &address, std::uint16_t port, QString *error,
                bool *inUse = nullptr);
    std::uint16_t Port() const { return port_; }
    const TCounts &Counts() const { return counts_; }
    // Late answers and connections waiting for their silence to end.
    std::size_t Waiting() const;

    // Told what was refused and why (at most one line per reason every
    // ten seconds, with the count of those not told) and what failed.
    std::function<void(const QString &)> OnLog;

private:
    struct TLateUdp {
        platform::IpAddress Address;
        std::uint16_t Port = 0;
        TMessage Request;
    };
    struct TConnection;

    void ReadUdp();
    void AcceptTcp();
    void ReadTcp(TConnection *c);
    void CloseTcp(TConnection *c);
    std::optional<TMessage> Check(const QByteArray &bytes, const platform::IpAddress &from,
                                  TTransport transport);
    void Refuse(const platform::IpAddress &from, const char *why);
    void Schedule();
    void SendDue();
    std::int64_t NowMs() const { return clock_.elapsed(); }

    QByteArray key_;
    TReflectorGuard guard_;
    TCounts counts_;
    QElapsedTimer clock_;
    std::uint16_t port_ = 0;
    platform::SocketHandle udp_ = platform::kInvalidSocket;
    platform::SocketHandle tcp_ = platform::kInvalidSocket;
    QSocketNotifier *udpReady_ = nullptr;
    QSocketNotifier *tcpReady_ = nullptr;
    QTimer *due_ = nullptr;
    std::multimap<std::int64_t, TLateUdp> lateUdp_;              // due (ms) -> answer
    std::map<TConnection *, std::unique_ptr<TConnection>> tcpConnections_;
    std::map<QString, int> waitingBySource_;
    std::map<std::string, std::pair<std::int64_t, int>> told_;   // reason -> last told, untold
};

} // namespace idletimer
