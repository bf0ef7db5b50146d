// tcp://HOST:PORT probes: the time to a completed TCP handshake, the
// "ping" of networks that drop ICMP. The connection is closed as soon as it
// stands; nothing is sent over it. Probes run side by side, each on its own
// socket, from the event loop: nothing here blocks.
#pragma once

#include "probe/transport.h"

#include <QObject>

#include <memory>
#include <vector>

namespace session {
class TTcpConnect;
}

class TTcpTransport final : public QObject, public probe::ITransport {
public:
    // The longest a handshake may take, as long as an echo waits for its reply.
    static constexpr int DefaultTimeoutMs = 5000;

    explicit TTcpTransport(QObject *parent = nullptr);
    // Probes still out end into nothing.
    ~TTcpTransport() override;

    // Connects to the tcp:// URL in request.Target within request.TimeoutMs
    // (0: DefaultTimeoutMs). Done tells Ok with the handshake's time, or
    // Refused (the port is closed), Timeout (no answer), Unreachable (an
    // ICMP error came back), LookupFailed, or Failed for a target that is no
    // tcp:// URL.
    void Send(const probe::TRequest &request, probe::TEvents events) override;
    // Ends every probe still out, as Cancelled.
    void Cancel() override;
    bool Parallel() const override { return true; }
    // Probes out now.
    int Running() const { return int(probes_.size()); }

private:
    struct TProbe;
    void Finish(TProbe *flight, probe::TReply reply);

    std::vector<std::unique_ptr<TProbe>> probes_;
};
