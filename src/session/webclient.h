// The anti-idle feature's HTTP client, shared by the HTTP GET probe and the
// server list download: one client at a time, each transfer under a watchdog
// that ends it when the server never finishes, and a fresh client after every
// hundred requests.
#pragma once

#include <QObject>
#include <QString>

#include <functional>
#include <memory>

class QIODevice;
class THttpCli;
namespace config {
struct TProxyOptions;
}

class TWebClient : public QObject {
    Q_OBJECT
public:
    explicit TWebClient(QObject *parent = nullptr);
    ~TWebClient() override;

    // Frees the client with its handlers unbound and its transfer aborted, so
    // a transfer still running reports to no one.
    struct THttpCli1Deleter { void operator()(THttpCli *cli) const; };
    std::unique_ptr<THttpCli, THttpCli1Deleter> HttpCli1Owner;
    THttpCli *HttpCli1 = nullptr;     // the client now in use

    int HttpRequestCount = 0;         // requests completed since the client was created
    int LastRequestError = 0;         // socket error code of the last request's end (0 = none)
    bool HttpTransferActive = false;  // a probe or download is under way
    bool HttpWatchdogFired = false;   // the last transfer was ended by its watchdog
    bool HttpCancelled = false;       // the last transfer was ended by Cancel()
    int HttpWatchdogMs = 0;           // longest transfer; 0 = automatic (see HttpWatchdogLimit)
    // What the last Get moved on the wire, and the address it reached.
    qint64 LastBytesSent = 0;
    qint64 LastBytesReceived = 0;
    QString LastAddress;

    // The time limit in ms of the next transfer: HttpWatchdogMs when set,
    // else the probe's limit for probes sent every probeIntervalMs (0 for a
    // transfer that is no probe).
    int HttpWatchdogLimit(int probeIntervalMs) const;
    // True while a transfer runs: another must not start on the client.
    bool Busy() const;

    // How a guarded transfer ended.
    enum class TResult { Done, HttpError, OtherError };
    struct TOutcome {
        TResult Result = TResult::Done;
        QString Error;                // what the failure raised (OtherError)
    };
    // GET of 'url' into 'sink' under a watchdog of limitMs, keeping at most
    // bodyLimit bytes of the document; the client is marked busy meanwhile. Never throws. Call only when !Busy().
    TOutcome Get(const QString &url, QIODevice *sink, int limitMs, qint64 bodyLimit);

    // Ends a transfer under way at once (the program stops): Get returns,
    // and HttpCancelled says why. Nothing when no transfer runs.
    void Cancel();

    // A fresh client keeping the proxy settings; its URL is 'url'.
    void ReplaceHttpCli1(const QString &url);
    // The proxy of the options -> HttpCli1.
    void CopyProxySettings(const config::TProxyOptions &proxy);

    // The status texts of a transfer ("Status: Received N bytes..."); each
    // asks to be shown at once, since the transfer blocks its caller.
    std::function<void(const QString &text)> OnStatus;

    void HttpCli1DocBegin(THttpCli *Sender);
    void HttpCli1DocData(THttpCli *Sender, const char *Buffer, int Len);
    void HttpCli1DocEnd(THttpCli *Sender);
    void HttpCli1RequestDone(THttpCli *Sender, quint8 RqType, quint16 Error);

private:
    THttpCli *CreateHttpCli1();
    void Status(const QString &text);
};
