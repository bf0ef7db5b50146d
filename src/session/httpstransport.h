// https:// probes: a TLS handshake whose certificate chain is checked
// against the system's trust store (SSL_CERT_FILE and SSL_CERT_DIR move it)
// and whose host name or address is checked against the certificate, then
// one HTTP/1.1 GET with "Connection: close". A status 200-399 in a whole
// reply is a success. No check is ever skipped: a certificate that does not
// verify fails the probe, with the reason in words.
//
// TLS is OpenSSL's, loaded with the first probe (tlsapi.h); a system without
// it fails the probe with the reason. Every step runs from the event loop
// (socket notifiers), so probes run side by side and nothing blocks.
#pragma once

#include "probe/transport.h"

#include <QObject>

#include <vector>

typedef struct ssl_ctx_st SSL_CTX;

class THttpsTransport final : public QObject, public probe::ITransport {
public:
    // The longest a probe takes when the request names no time-out.
    static constexpr int DefaultTimeoutMs = 30000;
    // Most bytes of a reply's header, and of its body when the request names no limit.
    static constexpr int HeaderLimit = 32 * 1024;
    static constexpr qint64 DefaultBodyLimit = 8 * 1024 * 1024;

    explicit THttpsTransport(QObject *parent = nullptr);
    // Probes still out end into nothing.
    ~THttpsTransport() override;

    // GET of the https:// URL in request.Target within request.TimeoutMs,
    // counting at most request.BodyLimit body bytes. Done tells Ok, or
    // TlsFailed ("certificate has expired", "not trusted", "name does not
    // match", ...), HttpError (a status of 400 or more, or a broken reply),
    // Timeout, Refused, Unreachable, LookupFailed, Failed. Details carry the
    // status, the TLS version and the earliest expiry of the chain (also of
    // a chain that did not verify); Timings every phase reached.
    void Send(const probe::TRequest &request, probe::TEvents events) override;
    // Ends every probe still out, as Cancelled.
    void Cancel() override;
    bool Parallel() const override { return true; }
    // Probes out now.
    int Running() const { return int(probes_.size()); }

private:
    class TProbe;
    friend class TProbe;
    void Finish(TProbe *flight, const probe::TReply &reply);

    SSL_CTX *ctx_ = nullptr;          // made at the first probe: OpenSSL is loaded and the trust store read then
    std::vector<TProbe *> probes_;    // children, deleted once they end
};
