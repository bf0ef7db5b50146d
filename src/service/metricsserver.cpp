#include "service/metricsserver.h"

#include "net/wsextra.h"
#include "platform/errcodes.h"
#include "platform/socket.h"
#include "service/httprequest.h"

#include <QMutexLocker>
#include <QSocketNotifier>
#include <QTimer>

#include <map>

namespace service {

namespace {

// Connections the system may hold for us before they are accepted.
constexpr int kBacklog = 16;

// One client's connection: its request head as it arrives, then the
// response as it leaves, then closed.
struct TConnection {
    platform::SocketHandle Socket = platform::kInvalidSocket;
    std::unique_ptr<QSocketNotifier> Readable, Writable;
    std::unique_ptr<QTimer> Deadline;
    QByteArray Received;
    QByteArray Response;
    qsizetype Sent = 0;
    quint64 Order = 0;   // when it was accepted, among the others

    // A connection ends from inside its own notifier's or timer's signal:
    // those objects are silenced at once and deleted once the signal is
    // done, and the socket closes when nothing watches it any more.
    ~TConnection()
    {
        for (QSocketNotifier *n : {Readable.release(), Writable.release()}) {
            n->setEnabled(false);
            n->deleteLater();
        }
        Deadline->stop();
        Deadline.release()->deleteLater();
        platform::SockClose(Socket);
    }
};

} // namespace

// The server's half on its own thread: the listening socket and the
// connections, each one request long.
class TMetricsListener : public QObject {
public:
    TMetricsListener(const TMetricsServer::TLimits &limits, std::shared_ptr<TMetricsServer::TShared> shared)
        : limits_(limits), shared_(std::move(shared))
    {
    }
    ~TMetricsListener() override { Close(); }

    bool Listen(const TListenAddress &at, QString *error, TMetricsServer::TListenError *why,
                std::uint16_t *port)
    {
        Close();
        auto failed = [&] {
            const int code = platform::SocketLastError();
            *error = SocketErrorText(code);
            *why = code == platform::kErrAddrInUse ? TMetricsServer::TListenError::AddressInUse
                                                   : TMetricsServer::TListenError::Other;
            Close();
            return false;
        };
        listener_ = platform::SockOpen(at.Address.family, platform::kSockStream, 0);
        if (listener_ == platform::kInvalidSocket)
            return failed();
        // A restarted service takes its port again at once.
        platform::SockSetOption(listener_, platform::SockOption::ReuseAddr, true);
        if (platform::SockBind(listener_, at.Address, at.Port) < 0 || platform::SockListen(listener_, kBacklog) < 0)
            return failed();
        platform::IpAddress bound;
        if (platform::SockLocalAddr(listener_, bound, *port) < 0)
            return failed();
        acceptor_ = std::make_unique<QSocketNotifier>(listener_, QSocketNotifier::Read);
        connect(acceptor_.get(), &QSocketNotifier::activated, this, [this] { Accept(); });
        return true;
    }

    void Close()
    {
        acceptor_.reset();
        if (listener_ != platform::kInvalidSocket)
            platform::SockClose(listener_);
        listener_ = platform::kInvalidSocket;
        connections_.clear();
        shared_->Open = 0;
    }

private:
    void Accept()
    {
        for (;;) {
            const platform::SocketHandle s = platform::SockAccept(listener_);
            if (s == platform::kInvalidSocket)
                return;   // none left (or the system refused one: the next try tells)
            if (int(connections_.size()) >= limits_.MaxConnections && !GiveWay()) {
                // Over the cap, every connection being answered: closed
                // before a byte is read.
                platform::SockClose(s);
                continue;
            }
            Serve(s);
        }
    }

    // At the cap, the oldest connection that has not sent its whole request
    // yet makes room for the new one: idle connections held open cannot
    // keep a scrape out. False when every connection is being answered.
    bool GiveWay()
    {
        const TConnection *oldest = nullptr;
        for (const auto &[socket, c] : connections_) {
            if (c->Response.isEmpty() && (!oldest || c->Order < oldest->Order))
                oldest = c.get();
        }
        if (!oldest)
            return false;
        Drop(oldest->Socket);
        return true;
    }

    void Serve(platform::SocketHandle s)
    {
        auto c = std::make_unique<TConnection>();
        c->Socket = s;
        c->Order = ++accepted_;
        c->Readable = std::make_unique<QSocketNotifier>(s, QSocketNotifier::Read);
        c->Writable = std::make_unique<QSocketNotifier>(s, QSocketNotifier::Write);
        c->Writable->setEnabled(false);
        c->Deadline = std::make_unique<QTimer>();
        c->Deadline->setSingleShot(true);
        // However slowly it sends or reads, a client is done with by then.
        connect(c->Deadline.get(), &QTimer::timeout, this, [this, s] { Drop(s); });
        connect(c->Readable.get(), &QSocketNotifier::activated, this, [this, s] { Read(s); });
        connect(c->Writable.get(), &QSocketNotifier::activated, this, [this, s] { Write(s); });
        c->Deadline->start(limits_.TimeoutMs);
        connections_[s] = std::move(c);
        shared_->Open = int(connections_.size());
    }

    void Drop(platform::SocketHandle s)
    {
        connections_.erase(s);   // closes the socket
        shared_->Open = int(connections_.size());
    }

    void Read(platform::SocketHandle s)
    {
        TConnection &c = *connections_.at(s);
        // Never more than the limit (and one byte to see it passed) is kept.
        char buf[4096];
        const qsizetype room = limits_.MaxRequestBytes + 1 - c.Received.size();
        const int n = platform::SockRecv(s, buf, int(std::min<qsizetype>(room, qsizetype(sizeof buf))));
        if (n < 0) {
            if (platform::SocketLastError() != platform::kErrWouldBlock)
                Drop(s);
            return;
        }
        if (n == 0) {
            Drop(s);   // gone before its request was whole
            return;
        }
        c.Received.append(buf, n);
        const TRequestHead head = ParseRequestHead(c.Received, limits_.MaxRequestBytes);
        if (head.State == TRequestHead::TState::Incomplete)
            return;
        // Whatever the client sends after its head stays unread.
        c.Readable->setEnabled(false);
        c.Received = QByteArray();
        QByteArray metrics;
        {
            QMutexLocker lock(&shared_->Lock);
            metrics = shared_->Metrics;   // implicitly shared, not copied
        }
        c.Response = BuildResponse(head, metrics);
        ++shared_->Served;
        Write(s);
    }

    void Write(platform::SocketHandle s)
    {
        TConnection &c = *connections_.at(s);
        while (c.Sent < c.Response.size()) {
            const int n = platform::SockSend(s, c.Response.constData() + c.Sent,
                                             int(c.Response.size() - c.Sent), platform::kSendNormal);
            if (n < 0) {
                if (platform::SocketLastError() == platform::kErrWouldBlock) {
                    c.Writable->setEnabled(true);   // a slow reader: go on when it has room
                    return;
                }
                Drop(s);
                return;
            }
            c.Sent += n;
        }
        // All out: "Connection: close" said so.
        platform::SockShutdown(s, 1);
        Drop(s);
    }

    TMetricsServer::TLimits limits_;
    std::shared_ptr<TMetricsServer::TShared> shared_;
    platform::SocketHandle listener_ = platform::kInvalidSocket;
    std::unique_ptr<QSocketNotifier> acceptor_;
    std::map<platform::SocketHandle, std::unique_ptr<TConnection>> connections_;
    quint64 accepted_ = 0;
};

TMetricsServer::TMetricsServer(const TLimits &limits, QObject *parent)
    : QObject(parent), limits_(limits), shared_(std::make_shared<TShared>())
{
    thread_.setObjectName(QStringLiteral("MetricsThread"));
    listener_ = new TMetricsListener(limits_, shared_);
    listener_->moveToThread(&thread_);
    connect(&thread_, &QThread::finished, listener_, &QObject::deleteLater);
    thread_.start();
}

TMetricsServer::~TMetricsServer()
{
    Close();
    thread_.quit();
    thread_.wait();
}

bool TMetricsServer::Listen(const TListenAddress &at, QString *error, TListenError *why)
{
    QString reason;
    TListenError kind = TListenError::None;
    std::uint16_t port = 0;
    bool ok = false;
    QMetaObject::invokeMethod(
        listener_, [&] { ok = listener_->Listen(at, &reason, &kind, &port); }, Qt::BlockingQueuedConnection);
    listening_ = ok;
    if (ok) {
        address_ = at;
        address_.Port = port;
    }
    if (error)
        *error = reason;
    if (why)
        *why = kind;
    return ok;
}

void TMetricsServer::Close()
{
    if (!listening_)
        return;
    QMetaObject::invokeMethod(listener_, [this] { listener_->Close(); }, Qt::BlockingQueuedConnection);
    listening_ = false;
}

bool TMetricsServer::Listening() const
{
    return listening_;
}

TListenAddress TMetricsServer::Address() const
{
    return address_;
}

void TMetricsServer::Publish(const QByteArray &metrics)
{
    QMutexLocker lock(&shared_->Lock);
    shared_->Metrics = metrics;
}

int TMetricsServer::OpenConnections() const
{
    return shared_->Open;
}

quint64 TMetricsServer::Served() const
{
    return shared_->Served;
}

} // namespace service
