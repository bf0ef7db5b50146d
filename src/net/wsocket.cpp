#include "net/wsocket.h"

#include "platform/errcodes.h"
#include "platform/hosttext.h"
#include "platform/lookupservice.h"
#include "platform/resolver.h"
#include "platform/statetrace.h"

#include <QCoreApplication>
#include <QSocketNotifier>

using namespace platform;

namespace {
constexpr std::uint32_t kNoAddress = 0xFFFFFFFFu;  // inet_addr's "not an address"
constexpr int kProtoUdp = 17;

// Leading decimal digits of a text, as the port and protocol setters read them.
int leadingNumber(const QString &text)
{
    qint64 n = 0;
    for (QChar c : text) {
        if (!c.isDigit())
            break;
        n = n * 10 + c.digitValue();
        if (n > 0xFFFFFFF)
            break;
    }
    return static_cast<int>(n);
}
} // namespace

TCustomWSocket::TCustomWSocket(QObject *owner) : QObject(owner)
{
    DefaultReset();
}

TCustomWSocket::~TCustomWSocket()
{
    destroying_ = true;
    try {
        CancelDnsLookup();
        if (state_ != wsClosed)
            Close();
    } catch (...) {
        // a destructor must not throw; the handle is released below either way
    }
    if (handle_ != kInvalidSocket) {
        DropNotifiers();
        SockClose(handle_);
    }
}

void TCustomWSocket::DefaultReset()
{
    remoteAddr_ = IpAddress{};
    portAssigned_ = addrAssigned_ = addrResolved_ = false;
    protoAssigned_ = true;
    protoStr_ = QStringLiteral("tcp");
    proto_ = 6;
    type_ = kSockStream;
    LingerOnOff = wsLingerOn;
    LingerTimeout = 0;
    DropNotifiers();
    handle_ = kInvalidSocket;
    state_ = wsClosed;
    paused_ = false;
    allSent_ = true;
    readCount_ = 0;
    closeInvoked_ = false;
    FlushTimeout = 60;
    readArmed_ = true;
}

// ---- properties ----

void TCustomWSocket::SetAddr(const QString &value)
{
    if (addrAssigned_ && value == addrStr_)
        return;
    addrStr_ = value.trimmed();
    if (addrStr_.isEmpty()) {
        addrAssigned_ = false;
        return;
    }
    if (state_ != wsClosed) {
        RaiseException(QStringLiteral("Cannot change Addr if not closed"));
        return;
    }
    addrAssigned_ = true;
    addrResolved_ = false;
}

void TCustomWSocket::SetPort(const QString &value)
{
    if (portAssigned_ && value == portStr_)
        return;
    portStr_ = value;
    if (state_ != wsClosed) {
        RaiseException(QStringLiteral("Cannot change Port if not closed"));
        return;
    }
    QString text = value.trimmed();
    if (text.isEmpty()) {
        portAssigned_ = false;
        return;
    }
    if (text.at(0).isDigit()) {
        int n = leadingNumber(text);
        // A number past the last port would silently wrap to another port.
        if (n > 0xFFFF) {
            portAssigned_ = false;
            SetSocketLastError(kErrInvalid);
            SocketError(QStringLiteral("SetPort: Cannot convert port '%1'").arg(text));
            return;
        }
        portNum_ = static_cast<quint16>(n);
        portAssigned_ = true;
        return;
    }
    QByteArray name = text.toLatin1();
    QByteArray proto = protoStr_.toLatin1();
    int p = ServicePort(name.constData(), proto.isEmpty() ? nullptr : proto.constData());
    if (p < 0) {
        portAssigned_ = false;
        SetSocketLastError(kErrNoData);
        SocketError(QStringLiteral("SetPort: Cannot convert port '%1'").arg(text));
        return;
    }
    portNum_ = static_cast<quint16>(p);
    portAssigned_ = true;
}

void TCustomWSocket::SetProto(const QString &value)
{
    if (protoAssigned_ && value == protoStr_)
        return;
    if (state_ != wsClosed) {
        RaiseException(QStringLiteral("Cannot change Proto if not closed"));
        return;
    }
    protoStr_ = value.trimmed();
    if (protoStr_.isEmpty()) {
        protoAssigned_ = false;
        return;
    }
    if (protoStr_.at(0).isDigit()) {
        proto_ = leadingNumber(protoStr_);
    } else {
        QByteArray name = protoStr_.toLatin1();
        int p = ProtocolNumber(name.constData());
        if (p < 0) {
            protoAssigned_ = false;
            SetSocketLastError(kErrNoData);
            SocketError(QStringLiteral("SetProto: Cannot convert protocol '%1'").arg(protoStr_));
            return;
        }
        proto_ = p;
    }
    type_ = proto_ == kProtoUdp ? kSockDatagram : kSockStream;
    protoAssigned_ = true;
}

TSocketSendFlags TCustomWSocket::SendFlags() const
{
    if (sendFlags_ == kSendNormal)
        return wsSendNormal;
    if (sendFlags_ == kSendOutOfBand)
        return wsSendUrgent;
    throw ESocketException(QStringLiteral("Invalid internal SendFlags"));
}

void TCustomWSocket::SetSendFlags(int value)
{
    if (value == wsSendNormal)
        sendFlags_ = kSendNormal;
    else if (value == wsSendUrgent)
        sendFlags_ = kSendOutOfBand;
    else
        RaiseException(QStringLiteral("Invalid SendFlags"));
}

int TCustomWSocket::RcvdCount()
{
    if (handle_ == kInvalidSocket)
        return 0;
    int n = 0;
    if (SockBytesReadable(handle_, n) < 0) {
        SocketError(QStringLiteral("ioctlSocket"));
        return -1;
    }
    return n;
}

// ---- events and errors ----

bool TCustomWSocket::TriggerDataAvailable(quint16 error)
{
    // Handlers run through a copy: one may replace itself or destroy the socket.
    auto h = OnDataAvailable;
    if (!h)
        return false;
    h(this, error);
    return true;
}

void TCustomWSocket::TriggerSessionAvailable(quint16 error)
{
    if (auto h = OnSessionAvailable)
        h(this, error);
}

void TCustomWSocket::TriggerSessionConnected(quint16 error)
{
    if (auto h = OnSessionConnected)
        h(this, error);
}

void TCustomWSocket::TriggerSessionClosed(quint16 error)
{
    if (auto h = OnSessionClosed)
        h(this, error);
}

void TCustomWSocket::TriggerDataSent(quint16 error)
{
    if (auto h = OnDataSent)
        h(this, error);
}

void TCustomWSocket::TriggerChangeState(TSocketState oldState, TSocketState newState)
{
    if (auto h = OnChangeState)
        h(this, oldState, newState);
}

void TCustomWSocket::TriggerDnsLookupDone(quint16 error)
{
    if (auto h = OnDnsLookupDone)
        h(this, error);
}

void TCustomWSocket::TriggerError()
{
    if (auto h = OnError)
        h(this);
}

void TCustomWSocket::ChangeState(TSocketState s)
{
    static constexpr const char *Names[] = {"invalid", "opened", "bound", "connecting",
                                            "connected", "accepting", "listening", "closed"};
    TSocketState old = state_;
    platform::TraceState("socket", this, old, s, Names);
    state_ = s;
    TriggerChangeState(old, s);
}

void TCustomWSocket::RaiseException(const QString &msg)
{
    if (OnError)
        TriggerError();
    else
        throw ESocketException(msg);
}

void TCustomWSocket::SocketError(const QString &func)
{
    int e = SocketLastError();
    QString text = QStringLiteral("Error %1 in function %2\r\n%3")
                       .arg(e).arg(func, SocketErrorText(e));
    if (e == kErrConnReset || e == kErrNotConn) {
        if (handle_ != kInvalidSocket) {
            DropNotifiers();
            SockClose(handle_);
        }
        handle_ = kInvalidSocket;
        if (state_ != wsClosed)
            ChangeState(wsClosed);
    }
    lastError_ = e;
    RaiseException(text);
}

// ---- connection ----

void TCustomWSocket::ResolveAddr()
{
    const HostText text = ReadHostText(addrStr_);
    const FamilyChoice family = Lookups().RunFamily();
    if (text.kind == HostText::Address && FamilyAllows(family, text.address.family)) {
        remoteAddr_ = text.address;
        return;
    }
    // A name (the broadcast address "255.255.255.255" among them, which
    // inet_addr cannot tell from its failure) through the blocking resolver.
    HostEntry entry;
    if (LookupHost(addrStr_.trimmed().toStdString(), family, entry) != 0 || entry.addresses.empty())
        throw ESocketException(
            QStringLiteral("SetAddr: Cannot convert host address '%1'").arg(addrStr_));
    remoteAddr_ = entry.addresses.front();
}

bool TCustomWSocket::IsBroadcast() const
{
    return remoteAddr_.IsV4() && remoteAddr_.v4() == kNoAddress;
}

void TCustomWSocket::SetLingerOption()
{
    if (LingerOnOff == wsLingerNoSet)
        return;
    if (handle_ == kInvalidSocket) {
        RaiseException(QStringLiteral("Cannot set linger option at this time"));
        return;
    }
    if (SockSetLinger(handle_, LingerOnOff == wsLingerOn, LingerTimeout) < 0)
        SocketError(QStringLiteral("setsockopt(SO_LINGER)"));
}

void TCustomWSocket::Connect()
{
    if (handle_ != kInvalidSocket && state_ != wsClosed) {
        RaiseException(QStringLiteral("Connect: Socket already in use"));
        return;
    }
    if (!portAssigned_) {
        RaiseException(QStringLiteral("Connect: No Port Specified"));
        return;
    }
    if (!addrAssigned_) {
        RaiseException(QStringLiteral("Connect: No IP Address Specified"));
        return;
    }
    if (!protoAssigned_) {
        RaiseException(QStringLiteral("Connect: No Protocol Specified"));
        return;
    }
    if (!addrResolved_) {
        ResolveAddr();
        addrResolved_ = true;
    }
    DeleteBufferList();
    handle_ = SockOpen(remoteAddr_.family, type_, proto_);
    if (handle_ == kInvalidSocket) {
        SocketError(QStringLiteral("Connect (socket)"));
        return;
    }
    ChangeState(wsOpened);
    if (type_ == kSockDatagram) {
        IpAddress local;
        if (SockBindAny(handle_, remoteAddr_.family) < 0) {
            RaiseException(QStringLiteral("winsock.bind failed, error #%1").arg(SocketLastError()));
            return;
        }
        if (SockLocalAddr(handle_, local, localPort_) < 0) {
            RaiseException(
                QStringLiteral("winsock.getsockname failed, error #%1").arg(SocketLastError()));
            return;
        }
        if (IsBroadcast() && SockSetOption(handle_, SockOption::Broadcast, true) < 0) {
            SocketError(QStringLiteral("setsockopt(SO_BROADCAST)"));
            return;
        }
    } else {
        SetLingerOption();
        if (SockSetOption(handle_, SockOption::KeepAlive, true) < 0) {
            SocketError(QStringLiteral("setsockopt(SO_KEEPALIVE)"));
            return;
        }
        if (SockSetOption(handle_, SockOption::ReuseAddr, true) < 0) {
            SocketError(QStringLiteral("setsockopt(SO_REUSEADDR)"));
            return;
        }
    }
    ArmNotifiers();
    if (type_ == kSockDatagram) {
        ChangeState(wsConnected);
        ArmNotifiers();
        TriggerSessionConnected(0);
        return;
    }
    if (SockConnect(handle_, remoteAddr_, portNum_) == 0 || SocketLastError() == kErrWouldBlock) {
        ChangeState(wsConnecting);
        ArmNotifiers();
        return;
    }
    lastError_ = SocketLastError();
    SocketError(QStringLiteral("Connect"));
}

// Readiness watching stands in for the asynchronous notifications: writable
// while connecting means the connect has finished; writable later means the
// queue can move; readable means data or the peer's close.
void TCustomWSocket::ArmNotifiers()
{
    if (handle_ == kInvalidSocket)
        return;
    if (!readNotifier_) {
        readNotifier_ = new QSocketNotifier(handle_, QSocketNotifier::Read, this);
        connect(readNotifier_, &QSocketNotifier::activated, this, [this] { ReadReady(); });
        writeNotifier_ = new QSocketNotifier(handle_, QSocketNotifier::Write, this);
        connect(writeNotifier_, &QSocketNotifier::activated, this, [this] { WriteReady(); });
    }
    bool connecting = state_ == wsConnecting;
    bool live = state_ == wsConnected;
    readNotifier_->setEnabled(live && readArmed_);
    writeNotifier_->setEnabled(connecting || (live && !allSent_));
}

void TCustomWSocket::DropNotifiers()
{
    // The notifiers may be the very senders whose signal is running: disable
    // them now (before the descriptor closes) and delete them later.
    for (QSocketNotifier **n : {&readNotifier_, &writeNotifier_}) {
        if (*n) {
            (*n)->setEnabled(false);
            (*n)->disconnect(this);
            (*n)->deleteLater();
            *n = nullptr;
        }
    }
}

void TCustomWSocket::ReadReady()
{
    if (handle_ == kInvalidSocket || paused_)
        return;
    try {
        int n = 0;
        if (SockBytesReadable(handle_, n) == 0 && n > 0) {
            NetworkEvent(kFdRead, 0);
            return;
        }
        // Readable with nothing waiting: the peer closed, or the connection failed.
        char c;
        int r = SockPeek(handle_, &c, 1);
        if (r > 0)
            NetworkEvent(kFdRead, 0);
        else if (r == 0)
            NetworkEvent(kFdClose, 0);
        else if (SocketLastError() != kErrWouldBlock)
            NetworkEvent(kFdClose, SocketLastError());
    } catch (const std::exception &e) {
        qWarning("socket event: %s", e.what());
    }
}

void TCustomWSocket::WriteReady()
{
    if (handle_ == kInvalidSocket || paused_)
        return;
    try {
        if (state_ == wsConnecting) {
            int err = SockPendingError(handle_);
            NetworkEvent(kFdConnect, err);
        } else {
            NetworkEvent(kFdWrite, 0);
        }
    } catch (const std::exception &e) {
        qWarning("socket event: %s", e.what());
    }
}

void TCustomWSocket::NetworkEvent(int events, int error)
{
    QPointer<TCustomWSocket> self(this);
    auto gone = [&] { return !self || handle_ == kInvalidSocket; };
    if (events & kFdConnect) {
        ChangeState(wsConnected);
        if (!self)
            return;
        ArmNotifiers();
        TriggerSessionConnected(static_cast<quint16>(error));
        if (!self)
            return;
        if (error != 0 && state_ != wsClosed)
            Close();
    }
    if ((events & kFdRead) && !gone()) {
        DataAvailableLoop(error);
    }
    if ((events & kFdWrite) && !gone()) {
        TryToSend();
        if (self && allSent_ && OnDataSent)
            TriggerDataSent(static_cast<quint16>(error));
    }
    if ((events & kFdAccept) && !gone())
        TriggerSessionAvailable(static_cast<quint16>(error));
    if ((events & kFdClose) && !gone() && state_ != wsConnecting) {
        DataAvailableLoop(error);
        if (!self)
            return;
        if (OnSessionClosed && !closeInvoked_) {
            closeInvoked_ = true;
            TriggerSessionClosed(static_cast<quint16>(error));
        }
        if (self && state_ != wsClosed)
            Close();
    }
}

void TCustomWSocket::DataAvailableLoop(int error)
{
    QPointer<TCustomWSocket> self(this);
    for (;;) {
        lastError_ = 0;
        bool consumed = false;
        try {
            int before = readCount_;
            if (!TriggerDataAvailable(static_cast<quint16>(error))) {
                if (handle_ == kInvalidSocket)
                    return;
                char scratch[1024];
                int r = SockRecv(handle_, scratch, sizeof scratch);
                if (r < 0 && SocketLastError() == kErrWouldBlock) {
                    lastError_ = 0;
                    return;
                }
                consumed = r > 0;
            } else {
                if (!self)
                    return;
                consumed = readCount_ != before;
            }
        } catch (...) {
            return;  // a handler's exception ends this round, it does not reach the loop
        }
        if (!self || handle_ == kInvalidSocket || lastError_ != 0)
            return;
        int n = 0;
        if (SockBytesReadable(handle_, n) < 0) {
            lastError_ = SocketLastError();
            return;
        }
        if (n == 0)
            return;
        // The handler left the bytes where they are: stop watching for input
        // until it calls Receive, instead of being called again and again.
        if (!consumed) {
            readArmed_ = false;
            ArmNotifiers();
            return;
        }
    }
}

int TCustomWSocket::Receive(void *buffer, int size)
{
    if (!readArmed_) {
        readArmed_ = true;
        ArmNotifiers();
    }
    int r = SockRecv(handle_, buffer, size);
    if (r < 0)
        lastError_ = SocketLastError();
    else
        readCount_ += r;
    return r;
}

int TCustomWSocket::Send(const void *data, int len)
{
    if (state_ != wsConnected) {
        SetSocketLastError(kErrNotConn);
        SocketError(QStringLiteral("Send"));
        return -1;
    }
    allSent_ = false;
    if (len > 0) {
        const char *p = static_cast<const char *>(data);
        int left = len;
        while (left > 0) {
            if (bufList_.empty() || bufList_.back()->WriteCount() >= bufList_.back()->Size())
                bufList_.push_back(std::make_unique<TBuffer>(bufSize_));
            int n = bufList_.back()->Write(p, left);
            p += n;
            left -= n;
        }
    } else {
        len = 0;
    }
    TryToSend();
    if (allSent_ && handle_ != kInvalidSocket) {
        // OnDataSent comes from the loop, never from inside Send.
        platform::SocketHandle h = handle_;
        QMetaObject::invokeMethod(this, [this, h] {
            if (h == handle_ && !paused_)
                NetworkEvent(kFdWrite, 0);
        }, Qt::QueuedConnection);
    }
    return len;
}

int TCustomWSocket::SendStr(const QByteArray &s)
{
    return Send(s.constData(), static_cast<int>(s.size()));
}

void TCustomWSocket::TryToSend()
{
    if (handle_ == kInvalidSocket || bufList_.empty())
        return;
    for (;;) {
        TBuffer &b = *bufList_.front();
        int len = 0;
        const char *p = b.Peek(len);
        if (len == 0) {
            if (bufList_.size() > 1) {
                bufList_.pop_front();
                continue;
            }
            allSent_ = true;
            break;
        }
        int r = type_ == kSockDatagram
                    ? SockSendTo(handle_, p, len, sendFlags_, remoteAddr_, portNum_)
                    : SockSend(handle_, p, len, sendFlags_);
        if (r == 0)
            break;
        if (r < 0) {
            int e = SocketLastError();
            if (e == kErrConnReset || e == kErrNotSocket || e == kErrNotConn || e == kErrInvalid) {
                closeInvoked_ = true;
                Close();
                TriggerSessionClosed(static_cast<quint16>(e));
                return;
            }
            if (e != kErrWouldBlock)
                SocketError(QStringLiteral("TryToSend failed"));
            break;
        }
        b.Remove(r);
        if (r < len)
            break;
    }
    ArmNotifiers();
}

void TCustomWSocket::DeleteBufferList()
{
    bufList_.clear();
}

void TCustomWSocket::Close()
{
    InternalClose(true);
}

void TCustomWSocket::Abort()
{
    CancelDnsLookup();
    DeleteBufferList();
    if (state_ == wsConnected) {
        LingerOnOff = wsLingerOff;
        SetLingerOption();
    }
    InternalClose(false);
}

void TCustomWSocket::InternalClose(bool shutdown)
{
    if (handle_ == kInvalidSocket) {
        if (state_ != wsClosed) {
            ChangeState(wsClosed);
            DefaultReset();
        }
        return;
    }
    if (state_ == wsClosed)
        return;
    DropNotifiers();
    if (shutdown)
        SockShutdown(handle_, 2);
    int rc = SockClose(handle_);
    handle_ = kInvalidSocket;
    // Linux never answers close() with would-block, so there is no retry loop here.
    if (rc < 0) {
        lastError_ = SocketLastError();
        SocketError(QStringLiteral("Disconnect (closesocket)"));
        return;
    }
    QPointer<TCustomWSocket> self(this);
    ChangeState(wsClosed);
    if (!self)
        return;
    if (!destroying_ && !closeInvoked_ && OnSessionClosed) {
        closeInvoked_ = true;
        TriggerSessionClosed(0);
        if (!self)
            return;
    }
    DefaultReset();
}
