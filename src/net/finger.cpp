#include "net/finger.h"

#include "net/fingertext.h"
#include "platform/errcodes.h"
#include "platform/hosttext.h"
#include "platform/lookupservice.h"
#include "platform/resolver.h"
#include "platform/statetrace.h"

#include <QEventLoop>
#include <QPointer>
#include <QScopeGuard>
#include <QSocketNotifier>
#include <QTimer>
#include <algorithm>

namespace {

constexpr quint16 kDefaultFingerPort = 79;

} // namespace

TFinger::TFinger(QObject *owner) : QObject(owner)
{
    countdown_ = new QTimer(this);
    countdown_->setObjectName(QStringLiteral("Countdown"));
    countdown_->setInterval(tickMs_);
    connect(countdown_, &QTimer::timeout, this, &TFinger::Tick);
}

// A query still waiting in its nested loop notices through its QPointer that
// the component is gone; it closes its socket itself and touches nothing else.
TFinger::~TFinger() = default;

QString TFinger::ErrorText(int code)
{
    return QStringLiteral("WinSock Error No. %1").arg(code & 0xFFFF);
}

void TFinger::SetState(TFingerState s)
{
    static constexpr const char *Names[] = {"idle", "resolving", "connecting", "sending", "receiving"};
    platform::TraceState("finger", this, state_, s, Names);
    state_ = s;
}

void TFinger::SetQuery(const QString &value)
{
    const qsizetype at = value.indexOf(QLatin1Char('@'));
    if (at < 0)
        throw EFingerError(
            QStringLiteral("Invalid query string format.\r\nValid format is user@domain"));
    // The request buffer holds the name, CR LF and a terminating zero in 255
    // bytes, so longer names are refused here, before anything is sent.
    if (at >= kFingerRequestLimit)
        throw EFingerError(QStringLiteral("Invalid query string format.\r\n"
                                          "The \"@\" must be within the first %1 characters")
                               .arg(kFingerRequestLimit));
    const QString user = value.left(at);
    if (user.toUtf8().size() + 3 > kFingerRequestLimit)
        throw EFingerError(QStringLiteral("User name too long.\r\n"
                                          "The part before the \"@\" may hold at most %1 bytes")
                               .arg(kFingerRequestLimit - 3));
    // The request is exactly one line; a break inside the name would make the
    // server read a second request of our sender's choosing.
    if (user.contains(QLatin1Char('\r')) || user.contains(QLatin1Char('\n'))
        || user.contains(QChar(0)))
        throw EFingerError(QStringLiteral("Invalid query string format.\r\n"
                                          "The user name must not hold a line break"));
    userPart_ = user;
    hostPart_ = value.mid(at + 1);
    query_ = value;
}

quint16 TFinger::FingerPort() const
{
    if (portOverride_)
        return portOverride_;
    const int port = platform::ServicePort("finger", "tcp");
    return port > 0 ? quint16(port) : kDefaultFingerPort;
}

void TFinger::SetTickInterval(int ms)
{
    tickMs_ = std::max(1, ms);
    countdown_->setInterval(tickMs_);
}

void TFinger::CancelQuery()
{
    // The waiting loop looks at the flag as soon as the event that called us
    // has been handled.
    if (state_ != fsIdle)
        cancelled_ = true;
}

void TFinger::StartStep()
{
    ticksLeft_ = TimeOut;
    if (TimeOut > 0)
        countdown_->start(tickMs_);
}

void TFinger::EndStep()
{
    countdown_->stop();
}

void TFinger::Tick()
{
    if (ticksLeft_-- == 1) {
        countdown_->stop();
        timedOut_ = true;
    }
}

TFinger::WaitEnd TFinger::Wait(const bool &ready)
{
    QPointer<TFinger> self(this);
    StartStep();
    QEventLoop loop;
    while (!ready && self && !cancelled_ && !timedOut_)
        loop.processEvents(QEventLoop::WaitForMoreEvents);
    if (!self)
        return WaitEnd::Gone;
    EndStep();
    if (ready)
        return WaitEnd::Ready;
    return timedOut_ ? WaitEnd::TimedOut : WaitEnd::Cancelled;
}

TFinger::WaitEnd TFinger::WaitSocket(bool forWrite)
{
    bool ready = false;
    QSocketNotifier notifier(sock_, forWrite ? QSocketNotifier::Write : QSocketNotifier::Read);
    // Level-triggered: switched off at the first event so the loop does not spin.
    QObject::connect(&notifier, &QSocketNotifier::activated, [&] {
        ready = true;
        notifier.setEnabled(false);
    });
    return Wait(ready);
}

platform::IpAddress TFinger::Resolve(const QString &host)
{
    const platform::HostText text = platform::ReadHostText(host);
    const platform::FamilyChoice family = platform::Lookups().RunFamily();
    if (text.kind == platform::HostText::Address && platform::FamilyAllows(family, text.address.family))
        return text.address;  // an address needs no lookup
    const std::string name = host.toStdString();

    bool done = false;
    int error = 0;
    platform::HostEntry entry;
    // The lookup runs on the resolver's worker; its completion arrives through
    // the loop. Cancelling the handle drops a late completion, so the captured
    // locals are never reached after this frame.
    const unsigned handle = platform::Lookups().Submit(
        this, platform::TLookupRequest::ForName(name, family), [&](unsigned, int e, const platform::HostEntry &found) {
            done = true;
            error = e;
            entry = found;
        });
    if (!handle) {
        done = true;
        error = platform::kErrNoBufs;
    }
    if (Wait(done) == WaitEnd::Gone)
        throw EFingerError(QStringLiteral("Operation canceled."));
    if (!done)
        platform::Lookups().Cancel(handle);
    // A cancel handled in the same pass as the lookup's answer still ends the
    // query here, before anything is sent.
    if (cancelled_)
        throw EFingerError(QStringLiteral("Operation canceled."));
    if (done && error == 0 && !entry.addresses.empty()) {
        // The address goes through its text and back, as the address a user
        // could have typed: one that does not survive that is no use.
        const platform::HostText back = platform::ReadHostText(
            QString::fromStdString(platform::AddressText(entry.addresses.front())));
        if (back.kind != platform::HostText::Address)
            throw EFingerError(QStringLiteral("Error resolving remote host"));
        return back.address;
    }
    if (timedOut_)
        throw EFingerError(QStringLiteral("Timed Out"));
    if (cancelled_)
        throw EFingerError(QStringLiteral("Operation canceled."));
    queryError_ = ErrorText(error ? error : platform::kErrNoData);
    return {};
}

bool TFinger::Connect(const platform::IpAddress &addr, quint16 port)
{
    int error = 0;
    if (platform::SockConnect(sock_, addr, port) != 0) {
        error = platform::SocketLastError();
        if (error == platform::kErrWouldBlock) {
            switch (WaitSocket(true)) {
            case WaitEnd::Gone:
                throw EFingerError(QStringLiteral("Operation Canceled."));
            case WaitEnd::Ready:
                error = platform::SockPendingError(sock_);
                break;
            default:
                error = platform::kErrInterrupted;
            }
        }
    }
    if (error == 0)
        return true;
    if (timedOut_)
        throw EFingerError(QStringLiteral("Timed Out"));
    if (cancelled_)
        throw EFingerError(QStringLiteral("Operation Canceled."));
    queryError_ = ErrorText(error);
    return false;
}

void TFinger::Send(const QByteArray &request)
{
    qsizetype sent = 0;
    int error = 0;
    while (sent < request.size()) {
        const int n = platform::SockSend(sock_, request.constData() + sent,
                                         int(request.size() - sent), platform::kSendNormal);
        if (n >= 0) {
            sent += n;
            continue;
        }
        error = platform::SocketLastError();
        if (error != platform::kErrWouldBlock)
            break;
        error = 0;
        const WaitEnd end = WaitSocket(true);
        if (end == WaitEnd::Gone)
            throw EFingerError(QStringLiteral("Operation Canceled."));
        if (end != WaitEnd::Ready) {
            error = platform::kErrInterrupted;
            break;
        }
    }
    if (error != 0) {
        if (cancelled_)
            throw EFingerError(QStringLiteral("Operation Canceled."));
        queryError_ = ErrorText(error);
    }
    if (timedOut_)
        throw EFingerError(QStringLiteral("Timed Out"));
}

void TFinger::Receive()
{
    char buf[4096];
    int lastResult = 1;
    int lastError = 0;
    for (;;) {
        const WaitEnd end = WaitSocket(false);
        if (end == WaitEnd::Gone)
            throw EFingerError(QStringLiteral("Operation has been canceled."));
        if (end != WaitEnd::Ready)
            break;  // timed out or cancelled while no call had failed
        const int n = platform::SockRecv(sock_, buf, int(sizeof buf));
        if (n > 0) {
            // Whatever the server sends, at most kFingerReplyLimit bytes are
            // kept; the first byte beyond it ends the read.
            const int room = kFingerReplyLimit - int(reply_.size());
            reply_.append(buf, std::min(n, room));
            if (n > room) {
                cut_ = true;
                break;
            }
            if (cancelled_)
                break;
            continue;
        }
        if (n == 0) {
            lastResult = 0;  // the server closed: the reply is complete
            break;
        }
        const int e = platform::SocketLastError();
        if (e == platform::kErrWouldBlock)
            continue;  // woken without data after all
        lastResult = -1;
        lastError = e;
        break;
    }
    replyLines_ = FingerReplyLines(reply_);
    if (cut_)
        replyLines_.append(QString::fromLatin1(kFingerCutLine));
    if (timedOut_)
        throw EFingerError(QStringLiteral("Timed Out."));
    if (lastResult < 0)
        throw ESocketError(ErrorText(lastError));
    if (cancelled_)
        throw EFingerError(QStringLiteral("Operation has been canceled."));
}

void TFinger::CloseSocket()
{
    if (sock_ == platform::kInvalidSocket)
        return;
    // close() releases the descriptor even when it reports an error, so the
    // handle is forgotten either way.
    if (platform::SockClose(sock_) != 0)
        queryError_ = ErrorText(platform::SocketLastError());
    sock_ = platform::kInvalidSocket;
}

void TFinger::RunQuery()
{
    if (state_ != fsIdle)
        throw EFingerError(QStringLiteral("A finger query is already running."));
    cancelled_ = false;
    timedOut_ = false;
    queryError_.clear();
    EndStep();
    replyLines_.clear();
    reply_.clear();
    cut_ = false;
    // The parts as they are now: a handler that sets Query while this query
    // waits changes the next query, not this one.
    const QString host = hostPart_;
    const QByteArray request = userPart_.toUtf8() + "\r\n";

    QPointer<TFinger> self(this);
    platform::SocketHandle fd = platform::kInvalidSocket;
    // Whatever ends the query, its socket is closed and the component is idle
    // again; when the component was destroyed meanwhile only the socket is left.
    auto finish = qScopeGuard([this, self, &fd] {
        if (!self) {
            if (fd != platform::kInvalidSocket)
                platform::SockClose(fd);
            return;
        }
        EndStep();
        CloseSocket();
        state_ = fsIdle;
    });

    SetState(fsResolving);
    const platform::IpAddress addr = Resolve(host);
    if (!queryError_.isEmpty())
        return;
    const quint16 port = FingerPort();
    fd = sock_ = platform::SockOpen(addr.family, platform::kSockStream, 0);
    if (sock_ == platform::kInvalidSocket)
        throw ESocketError(ErrorText(platform::SocketLastError()));
    SetState(fsConnecting);
    if (!Connect(addr, port))
        return;
    SetState(fsSending);
    Send(request);
    if (!queryError_.isEmpty())
        return;
    SetState(fsReceiving);
    Receive();
}
