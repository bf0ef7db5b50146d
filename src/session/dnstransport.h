// The dns probe: one query over UDP to a name server, told as a probe reply.
//
//   dns://[SERVER[:PORT]]/NAME[?type=A|AAAA|MX|TXT|NS|SOA]
//
// SERVER is an address (an IPv6 one in brackets) or a name looked up first;
// without it the query goes to the first name server of /etc/resolv.conf.
// The probe succeeds when the server answers NOERROR with at least one record
// of the type asked for; any other answer is a dns-error with the reason.
// Nothing blocks: the reply is waited for by a socket notifier and a timer.
#pragma once

#include "net/dnsmessage.h"
#include "platform/ipaddress.h"
#include "platform/socket.h"
#include "probe/transport.h"

#include <QElapsedTimer>
#include <QObject>
#include <QSocketNotifier>
#include <QString>
#include <QTimer>

#include <memory>
#include <optional>

namespace session {

// A dns:// target taken apart.
struct TDnsTarget {
    QString Server;              // address or name; empty: the system's name server
    quint16 Port = 53;
    QString Name;                // the name asked for
    dnsmsg::TType Type = dnsmsg::TType::A;
};

// A dns:// URL as the probe URL reader (probeurl.h) takes it apart; nullopt
// with *error set when it is not one or is broken.
std::optional<TDnsTarget> ParseDnsUrl(const QString &url, QString *error = nullptr);

// The first "nameserver" address of a resolv.conf text; empty when none.
QString FirstNameServer(const QByteArray &resolvConf);

} // namespace session

class TDnsTransport final : public probe::ITransport {
public:
    // The longest a probe waits for its reply when the request names no time-out.
    static constexpr int kDefaultTimeoutMs = 5000;

    TDnsTransport();
    ~TDnsTransport() override;

    // Sends the query of the dns:// URL in request.Target; a probe still out
    // ends first, as Cancelled. A broken URL ends at once as Failed.
    void Send(const probe::TRequest &request, probe::TEvents events) override;
    // Ends the probe still out, as Cancelled.
    void Cancel() override;

    // Where the system's name server is read from (tests point it elsewhere).
    QString ResolvConf = QStringLiteral("/etc/resolv.conf");

private:
    enum class TState { Idle, LookingUp, Waiting };

    void SetState(TState state);
    void ServerFound(const platform::IpAddress &address);
    void Readable();
    void TimedOut();
    void Fail(TProbeOutcome outcome, const QString &reason);
    void Finish(probe::TReply reply);
    void CloseSocket();

    TState state_ = TState::Idle;
    quint64 generation_ = 0;    // counts Sends: a handler's nested Send shows
    probe::TEvents events_;
    session::TDnsTarget target_;
    QByteArray wireName_;
    quint16 id_ = 0;
    QString address_;           // the server's address text
    bool v6_ = false;
    qint64 sent_ = 0;           // query bytes on the wire
    QObject context_;           // the lookup's answer and the notifier live here
    unsigned lookup_ = 0;       // pending lookup of the server's name
    platform::SocketHandle socket_ = platform::kInvalidSocket;
    std::unique_ptr<QSocketNotifier> notifier_;
    QTimer timer_;
    QElapsedTimer clock_;
};
