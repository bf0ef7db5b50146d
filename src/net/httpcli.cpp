#include "net/httpcli.h"

#include "platform/statetrace.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QPointer>
#include <algorithm>
#include <climits>
#include <utility>

THttpCli::THttpCli(QObject *owner) : QObject(owner), socket_(new TWSocket(this))
{
    socket_->OnSessionClosed = [this](TCustomWSocket *, quint16 e) { SessionClosedStep(e); };
    socket_->OnDataAvailable = [this](TCustomWSocket *, quint16) { DataAvailableStep(); };
    socket_->OnSessionConnected = [this](TCustomWSocket *, quint16 e) { ConnectedStep(e); };
    socket_->OnDataSent = [this](TCustomWSocket *, quint16) { DataSentStep(); };
    socket_->OnDnsLookupDone = [this](TCustomWSocket *, quint16 e) { LookupDoneStep(e); };
}

THttpCli::~THttpCli()
{
    // The socket must not call back into a client that is going away.
    socket_->OnSessionClosed = nullptr;
    socket_->OnDataAvailable = nullptr;
    socket_->OnSessionConnected = nullptr;
    socket_->OnDataSent = nullptr;
    socket_->OnDnsLookupDone = nullptr;
}

void THttpCli::SetMultiThreaded(bool value)
{
    multiThreaded_ = value;
    socket_->MultiThreaded = value;
}

void THttpCli::SetState(THttpState s)
{
    if (s == state_)
        return;
    static constexpr const char *Names[] = {"ready", "not-connected", "dns-lookup", "connected", "receiving-body"};
    platform::TraceState("http", this, state_, s, Names);
    state_ = s;
    QPointer<THttpCli> self(this);
    if (auto h = OnStateChange)
        h(this);
    if (self && s == httpReady)
        PostRequestDone();
}

void THttpCli::PostRequestDone()
{
    unsigned serial = requestSerial_;
    QMetaObject::invokeMethod(this, [this, serial] {
        doneSerial_ = std::max(doneSerial_, serial);
        if (auto h = OnRequestDone)
            h(this, requestType_, static_cast<quint16>(requestDoneError_));
    }, Qt::QueuedConnection);
}

void THttpCli::Get()
{
    StartRequest(httpGET);
    // Both loop kinds are the same Qt loop here; the nested loop keeps timers,
    // notifiers and posted messages running until this request is over.
    unsigned serial = requestSerial_;
    QPointer<THttpCli> self(this);
    QEventLoop loop;
    // Serials only grow: a later request started from a handler and already
    // finished also means this one is over.
    while (self && doneSerial_ < serial)
        loop.processEvents(QEventLoop::WaitForMoreEvents);
    if (!self)
        return;
    if (statusCode_ >= 400)
        throw EHttpException(reasonPhrase_, statusCode_);
}

void THttpCli::Abort()
{
    if (state_ == httpReady || ended_)
        return;
    // The socket's own completions would report this end a second time.
    auto lookupDone = socket_->OnDnsLookupDone;
    auto closed = socket_->OnSessionClosed;
    socket_->OnDnsLookupDone = nullptr;
    socket_->OnSessionClosed = nullptr;
    try {
        socket_->CancelDnsLookup();
        socket_->Close();
    } catch (const ESocketException &) {
    }
    socket_->OnDnsLookupDone = lookupDone;
    socket_->OnSessionClosed = [this](TCustomWSocket *, quint16 e) { SessionClosedStep(e); };
    rcvBuf_.Clear();
    FailLocally(QStringLiteral("request aborted"));
    SessionClosedStep();
}

void THttpCli::StartRequest(THttpRequest kind)
{
    if (state_ != httpReady)
        throw EHttpException(QStringLiteral("HTTP component is busy"), 1);
    if (kind == httpPOST && !PostStream)
        throw EHttpException(QStringLiteral("HTTP component has nothing to post"), 2);

    ++requestSerial_;
    ended_ = false;
    receivedHeader_.clear();
    requestType_ = kind;
    requestDoneError_ = 0;
    socket_->OnSessionClosed = [this](TCustomWSocket *, quint16 e) { SessionClosedStep(e); };
    SetState(httpNotConnected);

    documentName_.clear();
    statusCode_ = 0;
    reasonPhrase_.clear();
    contentLength_ = 0;
    contentType_.clear();
    authChallenges_.clear();
    receivedCount_ = 0;
    sentCount_ = 0;
    wireSent_ = 0;
    wireReceived_ = 0;
    peerAddress_.clear();
    headerLineCount_ = 0;
    bodyDataCount_ = 0;
    posting_ = false;
    locationChange_ = false;
    redirects_ = 0;
    tooManyRedirects_ = false;
    rcvBuf_.Clear();

    TUrlParts u = SplitUrl(URL);
    if (!u.User.isEmpty())
        Username = u.User;
    if (!u.Pass.isEmpty())
        Password = u.Pass;
    target_.HostName = u.Host;
    documentName_ = u.Path;
    QString connHost, connPort;
    if (!Proxy.isEmpty()) {
        QString scheme = u.Proto.isEmpty() ? QStringLiteral("http") : u.Proto;
        target_.RequestPath = scheme + QLatin1String("://") + u.Host + u.Path;
        TUrlParts p = SplitUrl(Proxy);
        connHost = p.Host;
        connPort = p.Port.isEmpty() ? ProxyPort : p.Port;
    } else {
        target_.RequestPath = u.Path;
        connHost = u.Host;
        connPort = u.Port.isEmpty() ? QStringLiteral("80") : u.Port;
    }
    if (target_.RequestPath.isEmpty())
        target_.RequestPath = QStringLiteral("/");
    documentName_ = DocumentNameOf(documentName_);
    target_.TargetHost = connHost;
    target_.TargetPort = connPort;
    StartLookup();
}

void THttpCli::StartLookup()
{
    SetState(httpDnsLookup);
    try {
        // A dotted address completes inside this call.
        socket_->DnsLookup(UrlHostToHostText(target_.TargetHost));
    } catch (const ESocketException &) {
        // An empty host name cannot be looked up; the request ends like any failed lookup.
        LookupDoneStep(static_cast<quint16>(10022));
    }
}

void THttpCli::FailLocally(const QString &reason)
{
    statusCode_ = 404;
    reasonPhrase_ = reason;
}

void THttpCli::LookupDoneStep(quint16 error)
{
    if (state_ != httpDnsLookup)
        return;  // a lookup that finished after its request had ended
    if (error != 0) {
        FailLocally(QLatin1String(LookupFailedReason));
        SessionClosedStep();
        return;
    }
    QPointer<THttpCli> self(this);
    SetState(httpNotConnected);
    if (!self)
        return;
    // Every address of the name, in the order the system prefers; an address
    // typed as such is the only one.
    addresses_ = socket_->DnsResultList();
    if (addresses_.isEmpty())
        addresses_ << socket_->DnsResult();
    nextAddress_ = 0;
    ConnectNext();
}

void THttpCli::ConnectNext()
{
    for (;;) {
        const QString address = addresses_.value(nextAddress_++);
        // The address tried is known from here on, whether or not the
        // connection comes: a refused or timed-out probe still names it.
        peerAddress_ = address;
        try {
            socket_->SetAddr(address);
            socket_->SetPort(target_.TargetPort);
            socket_->SetProto(QStringLiteral("tcp"));
            socket_->Connect();
            return;
        } catch (const ESocketException &) {
            int err = socket_->LastError();
            // Closing the failed attempt is not the end of the request.
            auto closed = std::exchange(socket_->OnSessionClosed, nullptr);
            try {
                socket_->Close();
            } catch (const ESocketException &) {
            }
            socket_->OnSessionClosed = closed;
            if (nextAddress_ < addresses_.size())
                continue;   // refused at once (no route, no such family here): the next one
            requestDoneError_ = err;
            FailLocally(QStringLiteral("can't connect: %1 (Error #%2)").arg(SocketErrorText(err)).arg(err));
            SessionClosedStep();
            return;
        }
    }
}

void THttpCli::ConnectedStep(quint16 error)
{
    if (error != 0 && !ended_ && nextAddress_ < addresses_.size()) {
        // The socket closes this attempt once we return; that close is not
        // the end of the request, which goes on with the next address.
        socket_->OnSessionClosed = nullptr;
        const unsigned serial = requestSerial_;
        QMetaObject::invokeMethod(this, [this, serial] {
            if (ended_ || serial != requestSerial_ || state_ != httpNotConnected)
                return;   // aborted, or another request meanwhile
            socket_->OnSessionClosed = [this](TCustomWSocket *, quint16 e) { SessionClosedStep(e); };
            ConnectNext();
        }, Qt::QueuedConnection);
        return;
    }
    if (error != 0) {
        // The request ends with the connection's error, as a refused connect
        // inside Connect does.
        requestDoneError_ = error;
        FailLocally(QStringLiteral("%1 (Error #%2)").arg(SocketErrorText(error)).arg(error));
        SessionClosedStep();
        return;
    }
    connected_ = true;
    headerBytes_ = 0;
    headerLines_ = 0;
    lengthAnnounced_ = false;
    QPointer<THttpCli> self(this);
    SetState(httpConnected);
    if (!self)
        return;
    try {
        switch (requestType_) {
        case httpGET: SendRequest(QStringLiteral("GET")); break;
        case httpHEAD: SendRequest(QStringLiteral("HEAD")); break;
        case httpPOST:
            SendRequest(QStringLiteral("POST"));
            TriggerSendBegin();
            posting_ = true;
            DataSentStep();
            break;
        default: break;
        }
    } catch (const std::exception &) {
        AbortConnection();
    }
}

void THttpCli::AbortConnection()
{
    try {
        socket_->Close();
    } catch (const ESocketException &) {
    }
    connected_ = false;
}

void THttpCli::SendCommand(const QString &line)
{
    if (auto h = OnCommand)
        h(this, line);
    reqBuf_ += line.toUtf8();
    reqBuf_ += "\r\n";
}

void THttpCli::SendRequest(const QString &method)
{
    TRequestHeader h;
    h.Method = method;
    h.Path = target_.RequestPath;
    h.Sender = Sender;
    h.Reference = Reference;
    h.Agent = Agent;
    h.HostName = target_.HostName;
    h.Cookie = Cookie;
    h.ContentTypePost = ContentTypePost;
    h.Username = Username;
    h.Password = Password;
    h.ProxyUsername = ProxyUsername;
    h.ProxyPassword = ProxyPassword;
    h.ViaProxy = !Proxy.isEmpty();
    h.NoCache = NoCache;
    h.ModifiedSince = ModifiedSince;
    h.PostSize = PostStream ? PostStream->size() : 0;

    reqBuf_.clear();
    TriggerHeaderBegin();
    for (const QString &line : RequestLines(h))
        SendCommand(line);
    TriggerHeaderEnd();
    SendCommand(QString());
    QByteArray out = reqBuf_;
    reqBuf_.clear();
    wireSent_ += out.size();
    socket_->Send(out.constData(), static_cast<int>(out.size()));
}

void THttpCli::DataAvailableStep()
{
    QPointer<THttpCli> self(this);
    // Everything the socket holds is taken now, one buffer at a time:
    // returning to the event loop between buffers would cost a loop pass and
    // a readiness check for every buffer.
    for (;;) {
        // Once the header is read, the body goes from the socket to the
        // receiver in large pieces: a fraction of the reads, writes and
        // OnDocData calls the header's line buffer would take.
        const bool body = state_ == httpReceivingBody && rcvBuf_.Count() == 0;
        if (body && bodyBuf_.empty())
            bodyBuf_.resize(kBodyPiece);
        char *into = body ? bodyBuf_.data() : rcvBuf_.Tail();
        const int room = body ? int(bodyBuf_.size()) : rcvBuf_.Room();
        const int n = socket_->Receive(into, room);
        if (n > 0)
            wireReceived_ += n;
        if (requestType_ == httpNONE || n <= 0)
            return;
        if (body) {
            BodyStep(into, n);
            if (!self)
                return;
        } else {
            rcvBuf_.Commit(n);
            if (!TakeReceived() || !self)
                return;
        }
        // A read that did not fill the room found the socket drained; the
        // next bytes come with the next readiness notification.
        if (n < room || !connected_ || ended_)
            return;
    }
}

bool THttpCli::TakeReceived()
{
    QPointer<THttpCli> self(this);
    if (state_ == httpReceivingBody) {
        // The chunk is handed on from the buffer itself, without a copy.
        BodyStep(rcvBuf_.Data(), rcvBuf_.Count());
        if (self)
            rcvBuf_.Clear();
        return bool(self);
    }
    while (self && rcvBuf_.Count() > 0) {
        QByteArray line;
        const int before = rcvBuf_.Count();
        if (!rcvBuf_.NextLine(line)) {
            if (rcvBuf_.Full()) {
                // A header line that does not fit the buffer cannot be parsed: give up cleanly.
                rcvBuf_.Clear();
                if (connected_) {
                    FailLocally(QStringLiteral("response header line too long"));
                    AbortConnection();
                }
                return false;
            }
            return true;  // the rest of the line is still on its way
        }
        if (state_ == httpConnected && !WithinHeaderBounds(before - rcvBuf_.Count(), line.isEmpty()))
            return false;
        if (state_ == httpConnected || state_ == httpReceivingBody)
            HeaderLineStep(line);
        if (!self)
            return false;
        // Once the connection is gone (an error status, a redirect, a
        // failure) the rest of what arrived belongs to no document.
        if (!connected_) {
            rcvBuf_.Clear();
            return false;
        }
        if (state_ == httpReceivingBody) {
            if (rcvBuf_.Count() > 0) {
                BodyStep(rcvBuf_.Data(), rcvBuf_.Count());
                if (self)
                    rcvBuf_.Clear();
            }
            return bool(self);
        }
    }
    return bool(self);
}

bool THttpCli::WithinHeaderBounds(int bytes, bool blank)
{
    headerBytes_ += bytes;
    if (!blank)
        ++headerLines_;
    if (headerBytes_ <= kMaxHeaderBytes && headerLines_ <= kMaxHeaderLines)
        return true;
    // A header without end would otherwise be collected line by line for as
    // long as the server keeps sending.
    rcvBuf_.Clear();
    FailLocally(QStringLiteral("response header too large"));
    AbortConnection();
    return false;
}

void THttpCli::HeaderLineStep(const QByteArray &line)
{
    if (headerLineCount_ == 0)
        TriggerHeaderBegin();
    ++headerLineCount_;
    if (line.isEmpty()) {
        HeaderEnd();
        return;
    }
    receivedHeader_ << QString::fromLatin1(line);
    int code = 0;
    QString reason;
    switch (ParseStatusLine(line, code, reason)) {
    case TStatusLine::Valid:
        statusCode_ = code;
        reasonPhrase_ = reason;
        break;
    case TStatusLine::BadCode:
        FailLocally(QStringLiteral("invalid status line in response"));
        AbortConnection();
        return;
    case TStatusLine::NotStatus: {
        QByteArray name;
        QString value;
        if (!SplitHeaderLine(line, name, value))
            break;
        if (name == "location") {
            if (redirects_ >= kMaxRedirects) {
                tooManyRedirects_ = true;
            } else {
                locationChange_ = true;
                ApplyLocation(value, !Proxy.isEmpty(), target_);
            }
        } else if (name == "content-length") {
            if (!ParseDecimal(value, contentLength_))
                contentLength_ = -1;
            lengthAnnounced_ = contentLength_ >= 0;
        } else if (name == "content-type") {
            contentType_ = value;
        } else if (name == "www-authenticate") {
            authChallenges_ << value;
        }
        break;
    }
    }
    QPointer<THttpCli> self(this);
    if (auto h = OnHeaderData)
        h(this);
    if (self && statusCode_ >= 400 && connected_)
        AbortConnection();
}

void THttpCli::HeaderEnd()
{
    if (tooManyRedirects_) {
        FailLocally(QStringLiteral("too many redirections"));
        AbortConnection();
        return;
    }
    if (locationChange_) {
        ++redirects_;
        socket_->OnSessionClosed = [this](TCustomWSocket *, quint16) { LocationStep(); };
        AbortConnection();
        return;
    }
    documentName_ = FixExeDocumentName(documentName_, contentType_);
    SetState(httpReceivingBody);
    TriggerHeaderEnd();
}

void THttpCli::BodyStep(const char *data, int len)
{
    const qint64 limit = BodyLimit > 0 && BodyLimit < INT_MAX ? BodyLimit : INT_MAX;
    if (len > limit - receivedCount_) {
        // Nothing past the limit is handed on: the caller's stream never
        // holds more than it asked for.
        FailLocally(QStringLiteral("document larger than the limit of %1 bytes").arg(limit));
        AbortConnection();
        return;
    }
    QPointer<THttpCli> self(this);
    if (bodyDataCount_ == 0)
        TriggerDocBegin();
    if (!self)
        return;
    ++bodyDataCount_;
    receivedCount_ += len;
    TriggerDocData(data, len);
    if (self && ReceiveStream && len > 0)
        ReceiveStream->write(data, len);
}

QString THttpCli::UnfinishedReason(quint16 error) const
{
    if (statusCode_ >= 400)
        return {};  // already a failure: the server's error status or a local one
    if (state_ == httpConnected)
        return QStringLiteral("connection closed before the end of the reply header");
    if (state_ != httpReceivingBody)
        return {};
    // Replies that never carry a body, whatever length they announce.
    const bool bodyExpected = requestType_ != httpHEAD && statusCode_ != 204 && statusCode_ != 304
        && (statusCode_ < 100 || statusCode_ >= 200);
    if (lengthAnnounced_ && bodyExpected && receivedCount_ < contentLength_)
        return QStringLiteral("connection closed before the end of the document (%1 of %2 bytes)")
            .arg(receivedCount_).arg(contentLength_);
    // Without an announced length only an orderly close ends a document; a
    // reset may have taken its last bytes with it.
    if (!lengthAnnounced_ && error != 0)
        return QStringLiteral("%1 (Error #%2)").arg(SocketErrorText(error)).arg(error);
    return {};
}

void THttpCli::SessionClosedStep(quint16 error)
{
    if (!ended_) {
        const QString unfinished = UnfinishedReason(error);
        if (!unfinished.isEmpty())
            FailLocally(unfinished);
    }
    connected_ = false;
    ended_ = true;
    QPointer<THttpCli> self(this);
    if (bodyDataCount_ > 0)
        TriggerDocEnd();
    if (!self)
        return;  // a handler destroyed the client
    QMetaObject::invokeMethod(this, [this] { SetState(httpReady); }, Qt::QueuedConnection);
}

void THttpCli::LocationStep()
{
    connected_ = false;
    locationChange_ = false;
    socket_->OnSessionClosed = [this](TCustomWSocket *, quint16 e) { SessionClosedStep(e); };
    if (auto h = OnLocationChange)
        h(this);
    QMetaObject::invokeMethod(this, [this] { StartLookup(); }, Qt::QueuedConnection);
}

void THttpCli::DataSentStep()
{
    if (!posting_ || !PostStream)
        return;
    char chunk[8192];
    qint64 n = PostStream->read(chunk, sizeof chunk);
    if (n > 0) {
        sentCount_ += n;
        wireSent_ += n;
        TriggerSendData(chunk, static_cast<int>(n));
        socket_->Send(chunk, static_cast<int>(n));
    } else {
        posting_ = false;
        TriggerSendEnd();
    }
}

void THttpCli::TriggerHeaderBegin() { if (auto h = OnHeaderBegin) h(this); }
void THttpCli::TriggerHeaderEnd() { if (auto h = OnHeaderEnd) h(this); }
void THttpCli::TriggerDocBegin() { if (auto h = OnDocBegin) h(this); }
void THttpCli::TriggerDocData(const char *d, int n) { if (auto h = OnDocData) h(this, d, n); }
void THttpCli::TriggerDocEnd() { if (auto h = OnDocEnd) h(this); }
void THttpCli::TriggerSendBegin() { if (auto h = OnSendBegin) h(this); }
void THttpCli::TriggerSendData(const char *d, int n) { if (auto h = OnSendData) h(this, d, n); }
void THttpCli::TriggerSendEnd() { if (auto h = OnSendEnd) h(this); }
