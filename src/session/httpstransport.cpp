#include "session/httpstransport.h"

#include "net/httpparse.h"
#include "platform/errcodes.h"
#include "platform/hosttext.h"
#include "platform/monoclock.h"
#include "platform/socket.h"
#include "session/probeurl.h"
#include "session/replyreader.h"
#include "session/tcpconnect.h"
#include "session/tlsapi.h"
#include "session/webtransfer.h"

#include <QSocketNotifier>
#include <QTimer>

#include <algorithm>
#include <memory>

namespace {

// OpenSSL's functions, once Send has loaded them: nothing here runs before.
const session::TTlsApi &Tls()
{
    return *session::Tls(nullptr);
}

// The socket under a TLS connection, and what went over it. OpenSSL's own
// socket BIO writes with write(2), which raises SIGPIPE when the server has
// gone; this one sends through the platform's sockets, which never do.
struct TWire {
    platform::SocketHandle Socket = platform::kInvalidSocket;
    qint64 Sent = 0, Received = 0;
    bool Eof = false;
};

int WireWrite(BIO *bio, const char *data, int len)
{
    Tls().BIO_clear_flags(bio, BIO_FLAGS_RWS | BIO_FLAGS_SHOULD_RETRY);
    auto *wire = static_cast<TWire *>(Tls().BIO_get_data(bio));
    const int n = platform::SockSend(wire->Socket, data, len, platform::kSendNormal);
    if (n < 0) {
        if (platform::SocketLastError() == platform::kErrWouldBlock)
            Tls().BIO_set_flags(bio, BIO_FLAGS_WRITE | BIO_FLAGS_SHOULD_RETRY);
        return -1;
    }
    wire->Sent += n;
    return n;
}

int WireRead(BIO *bio, char *data, int len)
{
    Tls().BIO_clear_flags(bio, BIO_FLAGS_RWS | BIO_FLAGS_SHOULD_RETRY);
    auto *wire = static_cast<TWire *>(Tls().BIO_get_data(bio));
    const int n = platform::SockRecv(wire->Socket, data, len);
    if (n < 0) {
        if (platform::SocketLastError() == platform::kErrWouldBlock)
            Tls().BIO_set_flags(bio, BIO_FLAGS_READ | BIO_FLAGS_SHOULD_RETRY);
        return -1;
    }
    wire->Eof = n == 0;
    wire->Received += n;
    return n;
}

long WireCtrl(BIO *bio, int cmd, long, void *)
{
    switch (cmd) {
    case BIO_CTRL_FLUSH:
        return 1;
    case BIO_CTRL_EOF:
        return static_cast<TWire *>(Tls().BIO_get_data(bio))->Eof ? 1 : 0;
    default:
        return 0;
    }
}

BIO_METHOD *WireMethod()
{
    // One method table for the program; OpenSSL keeps it until exit.
    static BIO_METHOD *const method = [] {
        BIO_METHOD *m = Tls().BIO_meth_new(Tls().BIO_get_new_index() | BIO_TYPE_SOURCE_SINK, "idlix socket");
        Tls().BIO_meth_set_write(m, WireWrite);
        Tls().BIO_meth_set_read(m, WireRead);
        Tls().BIO_meth_set_ctrl(m, WireCtrl);
        return m;
    }();
    return method;
}

// A verification failure in the words the history shows.
QString VerifyReason(long code)
{
    switch (code) {
    case X509_V_ERR_CERT_HAS_EXPIRED:
        return QStringLiteral("certificate has expired");
    case X509_V_ERR_CERT_NOT_YET_VALID:
        return QStringLiteral("certificate is not yet valid");
    case X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT:
    case X509_V_ERR_SELF_SIGNED_CERT_IN_CHAIN:
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT:
    case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY:
    case X509_V_ERR_UNABLE_TO_VERIFY_LEAF_SIGNATURE:
    case X509_V_ERR_CERT_UNTRUSTED:
        return QStringLiteral("not trusted");
    case X509_V_ERR_HOSTNAME_MISMATCH:
    case X509_V_ERR_IP_ADDRESS_MISMATCH:
        return QStringLiteral("name does not match");
    case X509_V_ERR_CERT_REVOKED:
        return QStringLiteral("certificate is revoked");
    default:
        return QStringLiteral("certificate does not verify: ") + QString::fromLatin1(Tls().X509_verify_cert_error_string(code));
    }
}

// The Unix time the first certificate of a chain to expire expires; -1 for no chain.
qint64 EarliestExpiry(STACK_OF(X509) *chain)
{
    if (!chain)
        return -1;
    std::unique_ptr<ASN1_TIME, decltype(session::TTlsApi::ASN1_TIME_free)> epoch(Tls().ASN1_TIME_set(nullptr, 0), Tls().ASN1_TIME_free);
    qint64 earliest = -1;
    for (int i = 0; i < Tls().OPENSSL_sk_num(ossl_check_const_X509_sk_type(chain)); ++i) {
        int days = 0, seconds = 0;
        const ASN1_TIME *notAfter = Tls().X509_get0_notAfter(static_cast<X509 *>(Tls().OPENSSL_sk_value(ossl_check_const_X509_sk_type(chain), i)));
        if (!epoch || !notAfter || !Tls().ASN1_TIME_diff(&days, &seconds, epoch.get(), notAfter))
            continue;
        const qint64 at = qint64(days) * 86400 + seconds;
        if (earliest < 0 || at < earliest)
            earliest = at;
    }
    return earliest;
}

// The last error OpenSSL queued on this thread, in words; the queue is left empty.
QString TlsErrorText()
{
    const unsigned long code = Tls().ERR_peek_last_error();
    Tls().ERR_clear_error();
    const char *reason = code ? Tls().ERR_reason_error_string(code) : nullptr;
    return reason ? QString::fromLatin1(reason) : QStringLiteral("the connection ended");
}

qint64 SinceUs(qint64 fromNs)
{
    return (platform::MonoNowNs() - fromNs) / 1000;
}

} // namespace

// One probe on its way: lookup and connect, TLS handshake, request, reply.
class THttpsTransport::TProbe : public QObject {
public:
    enum class TStage { Connecting, Handshake, Sending, Receiving, Over };

    TProbe(THttpsTransport &owner, const session::TProbeUrl &url, const probe::TRequest &request,
           probe::TEvents events)
        : QObject(&owner), owner_(owner), url_(url), events_(std::move(events)),
          timeoutMs_(request.TimeoutMs > 0 ? request.TimeoutMs : DefaultTimeoutMs),
          reader_(HeaderLimit, request.BodyLimit > 0 ? request.BodyLimit : DefaultBodyLimit)
    {
    }
    ~TProbe() override { Close(); }

    void Start(SSL_CTX *ctx)
    {
        ctx_ = ctx;
        startNs_ = platform::MonoNowNs();
        timer_ = new QTimer(this);
        timer_->setSingleShot(true);
        // A coarse timer may end the wait 5 % early, before the time the probe promises.
        timer_->setTimerType(Qt::PreciseTimer);
        connect(timer_, &QTimer::timeout, this,
                [this] { Fail(TProbeOutcome::Timeout, session::TimeoutReason(timeoutMs_)); });
        timer_->start(timeoutMs_);
        connect_ = new session::TTcpConnect(this);
        connect_->OnConnecting = [this](const QString &address) {
            if (events_.Sending)
                events_.Sending(address);
        };
        connect_->OnDone = [this](session::TConnected &done) { Connected(done); };
        connect_->Start(url_.Host, url_.Port);
    }

    // Stops at once, telling nothing (the transport tells Cancelled).
    void Close()
    {
        stage_ = TStage::Over;
        if (timer_)
            timer_->stop();
        readable_.reset();
        writable_.reset();
        if (ssl_) {
            // close_notify, as far as the socket takes it now; no answer is awaited.
            Tls().ERR_clear_error();
            if (Tls().SSL_is_init_finished(ssl_))
                Tls().SSL_shutdown(ssl_);
            Tls().SSL_free(ssl_);
            ssl_ = nullptr;
            Tls().ERR_clear_error();
        }
        if (wire_.Socket != platform::kInvalidSocket) {
            platform::SockClose(wire_.Socket);
            wire_.Socket = platform::kInvalidSocket;
        }
        // Never called from inside the connect's own step (Connected lets
        // it go first): it can go at once, its lookup and socket with it.
        delete connect_;
        connect_ = nullptr;
    }

private:
    void Connected(session::TConnected &done)
    {
        reply_.Address = done.Address;
        reply_.Timings.ResolveUs = done.ResolveUs;
        reply_.Timings.ConnectUs = done.ConnectUs;
        // This runs inside the connect's own step: it goes once that is over.
        connect_->deleteLater();
        connect_ = nullptr;
        if (done.Outcome != TProbeOutcome::Ok) {
            Fail(done.Outcome, done.Reason);
            return;
        }
        wire_.Socket = done.Socket;
        Tls().ERR_clear_error();
        ssl_ = Tls().SSL_new(ctx_);
        BIO *bio = ssl_ ? Tls().BIO_new(WireMethod()) : nullptr;
        if (!bio) {
            Fail(TProbeOutcome::Failed, QStringLiteral("TLS cannot start: ") + TlsErrorText());
            return;
        }
        Tls().BIO_set_data(bio, &wire_);
        Tls().BIO_set_init(bio, 1);
        Tls().SSL_set_bio(ssl_, bio, bio);
        // The name the certificate must carry: a host name (and SNI), or the
        // address itself.
        const platform::HostText host = platform::ReadHostText(url_.Host);
        bool named = false;
        if (host.kind == platform::HostText::Address) {
            const std::string ip = platform::AddressText(host.address);
            named = Tls().X509_VERIFY_PARAM_set1_ip_asc(Tls().SSL_get0_param(ssl_), ip.c_str()) == 1;
        } else {
            named = Tls().SSL_ctrl(ssl_, SSL_CTRL_SET_TLSEXT_HOSTNAME, TLSEXT_NAMETYPE_host_name, const_cast<char *>(host.lookup.c_str())) == 1 && Tls().SSL_set1_host(ssl_, host.lookup.c_str()) == 1;
        }
        if (!named) {
            Fail(TProbeOutcome::Failed, QStringLiteral("TLS cannot check the name: ") + TlsErrorText());
            return;
        }
        Tls().SSL_set_connect_state(ssl_);
        readable_ = std::make_unique<QSocketNotifier>(wire_.Socket, QSocketNotifier::Read);
        writable_ = std::make_unique<QSocketNotifier>(wire_.Socket, QSocketNotifier::Write);
        connect(readable_.get(), &QSocketNotifier::activated, this, [this] { Step(); });
        connect(writable_.get(), &QSocketNotifier::activated, this, [this] { Step(); });
        stage_ = TStage::Handshake;
        stageNs_ = platform::MonoNowNs();
        Step();
    }

    // Goes as far as the socket lets it, then waits for the notifier it needs.
    void Step()
    {
        while (stage_ == TStage::Handshake || stage_ == TStage::Sending || stage_ == TStage::Receiving) {
            Tls().ERR_clear_error();
            int rc = 0;
            if (stage_ == TStage::Handshake) {
                rc = Tls().SSL_connect(ssl_);
                if (rc == 1) {
                    Handshaken();
                    continue;
                }
            } else if (stage_ == TStage::Sending) {
                rc = Tls().SSL_write(ssl_, request_.constData() + sent_, int(request_.size() - sent_));
                if (rc > 0) {
                    sent_ += rc;
                    if (sent_ == request_.size()) {
                        stage_ = TStage::Receiving;
                        stageNs_ = platform::MonoNowNs();
                    }
                    continue;
                }
            } else {
                char buffer[16384];
                rc = Tls().SSL_read(ssl_, buffer, int(sizeof buffer));
                if (rc > 0) {
                    if (firstByteNs_ == 0) {
                        firstByteNs_ = platform::MonoNowNs();
                        reply_.Timings.FirstByteUs = (firstByteNs_ - stageNs_) / 1000;
                    }
                    const session::TReplyReader::TState state = reader_.Feed(buffer, rc);
                    if (state == session::TReplyReader::TState::Done || state == session::TReplyReader::TState::Broken)
                        Complete();
                    continue;
                }
            }
            const int error = Tls().SSL_get_error(ssl_, rc);
            if (error == SSL_ERROR_WANT_READ || error == SSL_ERROR_WANT_WRITE) {
                readable_->setEnabled(error == SSL_ERROR_WANT_READ);
                writable_->setEnabled(error == SSL_ERROR_WANT_WRITE);
                return;
            }
            Broke(error);
        }
    }

    void Handshaken()
    {
        reply_.Timings.TlsUs = SinceUs(stageNs_);
        reply_.Details.TlsVersion = QString::fromLatin1(Tls().SSL_get_version(ssl_));
        reply_.Details.CertExpiry = EarliestExpiry(Tls().SSL_get0_verified_chain(ssl_));
        const QString hostHeader = HostHeaderText(url_.Host.contains(QLatin1Char(':'))
                                                      ? QLatin1Char('[') + url_.Host + QLatin1Char(']')
                                                      : url_.Host);
        const QString port = url_.Port == 443 ? QString() : QStringLiteral(":%1").arg(url_.Port);
        request_ = (QStringLiteral("GET ") + url_.Path + QStringLiteral(" HTTP/1.1\r\nHost: ") + hostHeader + port
                    + QStringLiteral("\r\nConnection: close\r\nPragma: no-cache\r\nAccept: */*\r\n\r\n"))
                       .toUtf8();
        stage_ = TStage::Sending;
        stageNs_ = platform::MonoNowNs();
    }

    // An SSL call failed for good: what it means depends on the stage.
    void Broke(int error)
    {
        if (stage_ == TStage::Handshake) {
            const long verify = Tls().SSL_get_verify_result(ssl_);
            if (verify != X509_V_OK) {
                // The chain the server sent, though it did not verify.
                reply_.Details.CertExpiry = EarliestExpiry(Tls().SSL_get_peer_cert_chain(ssl_));
                Tls().ERR_clear_error();
                Fail(TProbeOutcome::TlsFailed, VerifyReason(verify));
                return;
            }
            Fail(TProbeOutcome::TlsFailed, QStringLiteral("TLS handshake failed: ") + TlsErrorText());
            return;
        }
        if (stage_ == TStage::Receiving) {
            // The end of the connection: whole only after close_notify.
            reader_.Closed(error == SSL_ERROR_ZERO_RETURN);
            Tls().ERR_clear_error();
            Complete();
            return;
        }
        Fail(TProbeOutcome::Failed, QStringLiteral("the connection broke while sending: ") + TlsErrorText());
    }

    void Complete()
    {
        const qint64 now = platform::MonoNowNs();
        if (firstByteNs_ != 0)
            reply_.Timings.TransferUs = (now - firstByteNs_) / 1000;
        reply_.BodyBytes = reader_.BodyBytes();
        const int status = reader_.Status();
        reply_.Details.HttpStatus = status;
        if (reader_.State() == session::TReplyReader::TState::Broken) {
            Fail(TProbeOutcome::HttpError, reader_.Error());
            return;
        }
        if (status < 200 || status > 399) {
            Fail(TProbeOutcome::HttpError,
                 reader_.ReasonPhrase().isEmpty() ? QStringLiteral("status %1").arg(status) : reader_.ReasonPhrase());
            return;
        }
        reply_.Outcome = TProbeOutcome::Ok;
        reply_.Us = (now - startNs_) / 1000;
        reply_.Ms = probe::WholeMs(reply_.Us);
        End();
    }

    void Fail(TProbeOutcome outcome, const QString &reason)
    {
        reply_.Outcome = outcome;
        reply_.Reason = reason;
        reply_.Us = -1;
        reply_.Ms = -1;
        End();
    }

    void End()
    {
        if (ended_)
            return;
        ended_ = true;
        reply_.BytesSent = wire_.Sent;
        reply_.BytesReceived = wire_.Received;
        Close();
        owner_.Finish(this, reply_);
    }

    THttpsTransport &owner_;
    const session::TProbeUrl url_;
    probe::TEvents events_;
    const int timeoutMs_;
    SSL_CTX *ctx_ = nullptr;
    SSL *ssl_ = nullptr;
    TWire wire_;
    TStage stage_ = TStage::Connecting;
    session::TTcpConnect *connect_ = nullptr;
    QTimer *timer_ = nullptr;
    std::unique_ptr<QSocketNotifier> readable_, writable_;
    session::TReplyReader reader_;
    QByteArray request_;
    qint64 sent_ = 0;
    qint64 startNs_ = 0, stageNs_ = 0, firstByteNs_ = 0;
    bool ended_ = false;
    probe::TReply reply_;

    friend class THttpsTransport;
};

THttpsTransport::THttpsTransport(QObject *parent) : QObject(parent)
{
    setObjectName(QStringLiteral("HttpsTransport"));
}

THttpsTransport::~THttpsTransport()
{
    // The probes are children; they close their connections as they go.
    probes_.clear();
    if (ctx_)
        Tls().SSL_CTX_free(ctx_);
}

void THttpsTransport::Send(const probe::TRequest &request, probe::TEvents events)
{
    session::TProbeUrl url;
    QString why;
    probe::TReply failed;
    if (!session::ParseProbeUrl(request.Target, &url, &why) || url.Kind != session::TProbeKind::Https) {
        failed.Reason = why.isEmpty() ? QStringLiteral("not an https:// URL") : why;
        events.Done(failed);
        return;
    }
    if (!ctx_) {
        QString missing;
        if (!session::Tls(&missing)) {
            failed.Reason = QStringLiteral("TLS cannot start: ") + missing;
            events.Done(failed);
            return;
        }
        Tls().ERR_clear_error();
        ctx_ = Tls().SSL_CTX_new(Tls().TLS_client_method());
        // The system's trust store; every certificate is checked against it.
        if (ctx_ && Tls().SSL_CTX_set_default_verify_paths(ctx_) == 1) {
            Tls().SSL_CTX_set_verify(ctx_, SSL_VERIFY_PEER, nullptr);
        } else {
            if (ctx_)
                Tls().SSL_CTX_free(ctx_);
            ctx_ = nullptr;
            failed.Reason = QStringLiteral("TLS cannot start: ") + TlsErrorText();
            events.Done(failed);
            return;
        }
    }
    auto *flight = new TProbe(*this, url, request, std::move(events));
    probes_.push_back(flight);
    flight->Start(ctx_);
}

void THttpsTransport::Cancel()
{
    while (!probes_.empty()) {
        TProbe *flight = probes_.front();
        probe::TReply reply;
        reply.Cancelled = true;
        flight->ended_ = true;
        flight->Close();
        Finish(flight, reply);
    }
}

void THttpsTransport::Finish(TProbe *flight, const probe::TReply &reply)
{
    const auto it = std::find(probes_.begin(), probes_.end(), flight);
    if (it == probes_.end())
        return;
    probes_.erase(it);
    const probe::TEvents events = std::move(flight->events_);
    // Its own notifier or timer may be what called: it goes once that returns.
    flight->deleteLater();
    events.Done(reply);
}
