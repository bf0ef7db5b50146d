// HTTP/1.0 client: one document per request over its own event-driven socket.
// Name lookup, connect, the request header in one write, the response header
// line by line, the body handed on chunk by chunk; the document ends when the
// server closes. Goes through a proxy with Basic credentials on request and
// follows "location" redirects itself (at most kMaxRedirects in a row). A host
// with several addresses (IPv6 and IPv4, say) is tried address by address
// until one accepts the connection.
#pragma once

#include "net/httpparse.h"
#include "net/wsocket.h"

#include <QIODevice>
#include <QObject>
#include <QString>
#include <QStringList>
#include <functional>
#include <stdexcept>
#include <vector>

class THttpCli;

enum THttpRequest : quint8 { httpNONE, httpGET, httpPOST, httpHEAD };

// The client's states, in the order a request passes them.
enum THttpState : quint8 {
    httpReady,          // no request running
    httpNotConnected,   // request started, or lookup done and connecting
    httpDnsLookup,      // name lookup running
    httpConnected,      // request sent, reading the response header
    httpReceivingBody,  // header done, body chunks arriving
};

// A request that could not start, or ended with a status of 400 or more.
class EHttpException : public std::runtime_error {
public:
    EHttpException(const QString &msg, int code)
        : std::runtime_error(msg.toStdString()), ErrorCode(code), message_(msg) {}
    QString Message() const { return message_; }
    int ErrorCode;  // the status code, or 1 busy, 2 nothing to post
private:
    QString message_;
};

using TDocDataEvent = std::function<void(THttpCli *Sender, const char *Buffer, int Len)>;
using TOnCommand = std::function<void(THttpCli *Sender, const QString &S)>;
using THttpRequestDone = std::function<void(THttpCli *Sender, THttpRequest RqType, quint16 Error)>;
using THttpNotify = std::function<void(THttpCli *Sender)>;

class THttpCli : public QObject {
    Q_OBJECT
public:
    // Redirects followed in a row before the request fails: enough for any
    // real chain, and a server that redirects to itself cannot keep Get going.
    static constexpr int kMaxRedirects = 10;
    // Bounds of one response header. Real servers send well under 8 KiB in a
    // few dozen lines; past either bound the peer is not sending a header we
    // could use, and the request fails instead of collecting it.
    static constexpr int kMaxHeaderBytes = 64 * 1024;  // status line to blank line, line ends included
    static constexpr int kMaxHeaderLines = 512;        // status line included, blank line not
    // Body limit of a new client; callers set their own per transfer.
    static constexpr qint64 kDefaultBodyLimit = 64 * 1024 * 1024;
    // Largest piece of the body one read takes (and one OnDocData hands on).
    static constexpr int kBodyPiece = 64 * 1024;

    // The reason phrase of a request whose host name did not resolve.
    static constexpr char LookupFailedReason[] = "can't resolve hostname to IP address";

    explicit THttpCli(QObject *owner = nullptr);
    ~THttpCli() override;

    // Fetches URL; returns when the server has closed the connection. Raises
    // EHttpException when busy or when the status ends at 400 or more.
    void Get();

    // Ends a running request at once, for a caller's watchdog (Get itself has
    // no time limit): the lookup or connection is dropped and the request
    // ends as a local failure, "request aborted" with status 404.
    void Abort();

    bool MultiThreaded() const { return multiThreaded_; }
    void SetMultiThreaded(bool value);
    THttpState State() const { return state_; }

    QString URL;
    QString Proxy;                        // proxy host text (user, password, port allowed)
    QString ProxyPort = QStringLiteral("80");
    QString Sender, Agent, Reference;     // "From:", "User-Agent:", "Referer:" when not empty
    QString Username, Password;           // Basic credentials for the server
    QString ProxyUsername, ProxyPassword; // Basic credentials for the proxy
    bool NoCache = false;                 // sends "Pragma: no-cache"
    double ModifiedSince = 0;             // days since 30 Dec 1899; 0 = no If-Modified-Since
    QString Cookie;
    QString ContentTypePost = QStringLiteral("application/x-www-form-urlencoded");
    QIODevice *ReceiveStream = nullptr;   // body goes here when set (not owned)
    QIODevice *PostStream = nullptr;      // data to post (not owned)
    // Most body bytes a request takes; a longer document ends the request as
    // a failure before the excess reaches OnDocData or ReceiveStream. Values
    // of 0 or less leave only the bound of the int byte count.
    qint64 BodyLimit = kDefaultBodyLimit;

    int StatusCode() const { return statusCode_; }
    QString ReasonPhrase() const { return reasonPhrase_; }
    int ContentLength() const { return contentLength_; }  // -1 when the value was not a number
    QString ContentType() const { return contentType_; }
    QStringList AuthChallenges() const { return authChallenges_; }
    QStringList ReceivedHeader() const { return receivedHeader_; }
    int ReceivedCount() const { return receivedCount_; }
    QString DocumentName() const { return documentName_; }
    // The request path last sent (an absolute URL through a proxy).
    QString RequestPath() const { return target_.RequestPath; }
    // Bytes the last request put on and took off its connections (request
    // and response headers, body, every redirect), as the sockets counted them.
    qint64 WireBytesSent() const { return wireSent_; }
    qint64 WireBytesReceived() const { return wireReceived_; }
    // The address the last request's connection reached, or the last one it
    // tried (empty when the name did not resolve).
    QString PeerAddress() const { return peerAddress_; }

    THttpNotify OnTrace;  // never fired
    THttpNotify OnHeaderData;
    TOnCommand OnCommand;
    THttpNotify OnHeaderBegin, OnHeaderEnd;
    THttpNotify OnDocBegin;
    TDocDataEvent OnDocData;
    THttpNotify OnDocEnd;
    THttpNotify OnSendBegin;
    TDocDataEvent OnSendData;
    THttpNotify OnSendEnd;
    THttpNotify OnStateChange;
    THttpRequestDone OnRequestDone;
    THttpNotify OnLocationChange;

protected:
    virtual void SendCommand(const QString &line);
    virtual void StartLookup();
    virtual void AbortConnection();
    virtual void TriggerHeaderBegin();
    virtual void TriggerHeaderEnd();
    virtual void TriggerDocBegin();
    virtual void TriggerDocData(const char *data, int len);
    virtual void TriggerDocEnd();
    virtual void TriggerSendBegin();
    virtual void TriggerSendData(const char *data, int len);
    virtual void TriggerSendEnd();

private:

    void StartRequest(THttpRequest kind);
    void SetState(THttpState s);
    void LookupDoneStep(quint16 error);
    // Connects to the next address of the lookup; a connection the network
    // refuses goes on with the one after it, and only the last failure ends
    // the request.
    void ConnectNext();
    void ConnectedStep(quint16 error);
    // Received bytes go to the header-line step while the state is
    // httpConnected and to the body step in httpReceivingBody.
    void DataAvailableStep();
    // Hands the buffered bytes to the header-line or body step; false when
    // the request cannot take more (it ended, or the client is gone).
    bool TakeReceived();
    // Counts one response header line of `bytes` wire bytes against the
    // header bounds; false (and the request failed) past them.
    bool WithinHeaderBounds(int bytes, bool blank);
    void HeaderLineStep(const QByteArray &line);
    void HeaderEnd();
    void BodyStep(const char *data, int len);
    void SessionClosedStep(quint16 error = 0);
    // Why a reply that ended with the connection is unfinished; empty when it is whole.
    QString UnfinishedReason(quint16 error) const;
    void LocationStep();
    void DataSentStep();
    void SendRequest(const QString &method);
    void FailLocally(const QString &reason);
    void PostRequestDone();

    TWSocket *socket_;
    bool multiThreaded_ = false;
    THttpState state_ = httpReady;
    TRequestTarget target_;
    QStringList addresses_;  // of the target host, in the order they are tried
    int nextAddress_ = 0;
    bool connected_ = false;
    bool ended_ = false;  // the request is over; only the posted state change is left
    THttpRequest requestType_ = httpNONE;
    THttpLineBuffer rcvBuf_;
    std::vector<char> bodyBuf_;   // the body's receive buffer, made at the first body byte
    int headerLineCount_ = 0;
    int bodyDataCount_ = 0;
    bool posting_ = false;
    QString documentName_;
    int statusCode_ = 0;
    QString reasonPhrase_;
    int contentLength_ = 0;
    bool lengthAnnounced_ = false;  // this response carried a numeric content-length
    int headerBytes_ = 0;           // wire bytes of this response's header so far
    int headerLines_ = 0;           // its non-blank lines so far
    QString contentType_;
    QStringList authChallenges_;
    bool locationChange_ = false;
    int redirects_ = 0;
    bool tooManyRedirects_ = false;
    QStringList receivedHeader_;
    int receivedCount_ = 0;
    qint64 sentCount_ = 0;
    qint64 wireSent_ = 0;
    qint64 wireReceived_ = 0;
    QString peerAddress_;
    QByteArray reqBuf_;
    int requestDoneError_ = 0;
    unsigned requestSerial_ = 0;   // numbers the requests, so Get waits for its own end
    unsigned doneSerial_ = 0;      // request whose OnRequestDone has fired
};
