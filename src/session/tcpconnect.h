// The first steps of every probe over TCP: the name through the run's lookup
// service, then a non-blocking connect watched by a socket notifier, each
// timed on the monotonic clock. Nothing blocks the thread: the steps go on
// from the event loop. The probe that owns a connect holds its own time-out
// and simply deletes the connect when it runs out (the lookup is cancelled,
// the socket closed).
#pragma once

#include "platform/resolver.h"
#include "platform/socket.h"
#include "probe/outcome.h"

#include <QObject>
#include <QString>

#include <functional>
#include <memory>

class QSocketNotifier;

namespace session {

// What a finished connect left.
struct TConnected {
    TProbeOutcome Outcome = TProbeOutcome::Failed;  // Ok: Socket is connected
    QString Reason;                 // a failure in words ("refused", ...)
    QString Address;                // the address tried, once the name resolved
    platform::SocketHandle Socket = platform::kInvalidSocket;  // Ok: now the caller's
    qint64 ResolveUs = -1;          // the lookup (0 for an address literal)
    qint64 ConnectUs = -1;          // SYN sent to the handshake complete
};

// The reason of a failed lookup, as the designed HTTP client says it.
inline constexpr const char *LookupFailedText = "can't resolve hostname to IP address";

class TTcpConnect : public QObject {
public:
    explicit TTcpConnect(QObject *parent = nullptr);
    // A lookup still pending is cancelled, a socket not handed over closed.
    ~TTcpConnect() override;

    // The address is known and the handshake starts now (unset allowed).
    std::function<void(const QString &address)> OnConnecting;
    // The end, called once, from the event loop or from inside Start (a
    // socket that cannot even be opened). May delete this object.
    std::function<void(TConnected &result)> OnDone;

    // Connects to 'host' (a name, or an address without brackets) at 'port'.
    // A name is asked of the lookup service with the run's family choice; the
    // first address it gives is the one tried, as the designed client did.
    void Start(const QString &host, int port);
    // How far it got: the address and the lookup's time once known.
    const TConnected &Progress() const { return result_; }

private:
    void Resolved(unsigned handle, int error, const platform::HostEntry &entry);
    void Connect(const platform::IpAddress &address);
    void Writable();
    void Finish(TProbeOutcome outcome, const QString &reason);

    int port_ = 0;
    unsigned lookup_ = 0;
    qint64 startNs_ = 0;
    TConnected result_;
    std::unique_ptr<QSocketNotifier> writable_;
};

// How a connect's error code (errcodes.h) ends a probe, and its words.
TProbeOutcome ConnectOutcome(int code);
QString ConnectReason(int code);

} // namespace session
