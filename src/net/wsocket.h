// Event-driven TCP/UDP socket with asynchronous name lookup. It never blocks
// on network input or output: the kernel's readiness is watched with socket
// notifiers on the GUI thread and turned into the component's events, in the
// order a client connection expects (connected, data available, data sent,
// session closed). Sends go through a queue of 1514-byte blocks so that Send
// accepts everything at once and the rest leaves as the network takes it.
#pragma once

#include "net/netexception.h"
#include "net/wsextra.h"
#include "net/wsockbuf.h"

#include "platform/socket.h"

#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <stdexcept>

class QSocketNotifier;
class TCustomWSocket;

enum TSocketState {
    wsInvalidState, wsOpened, wsBound, wsConnecting, wsConnected, wsAccepting, wsListening, wsClosed
};
enum TSocketSendFlags { wsSendNormal, wsSendUrgent };
enum TSocketLingerOnOff { wsLingerOff, wsLingerOn, wsLingerNoSet };

// Wrong use of a socket or a failed socket call nobody handles through OnError.
class ESocketException : public ENetError {
public:
    using ENetError::ENetError;
};

// Event types; Error 0 means success, otherwise a socket-layer error code.
using TSocketEvent = std::function<void(TCustomWSocket *Sender, quint16 Error)>;
using TDataAvailable = TSocketEvent;
using TDataSent = TSocketEvent;
using TSessionClosed = TSocketEvent;
using TSessionAvailable = TSocketEvent;
using TSessionConnected = TSocketEvent;
using TDnsLookupDone = TSocketEvent;
using TChangeState =
    std::function<void(TCustomWSocket *Sender, TSocketState OldState, TSocketState NewState)>;
using TSocketNotify = std::function<void(TCustomWSocket *Sender)>;

class TCustomWSocket : public QObject {
    Q_OBJECT
public:
    explicit TCustomWSocket(QObject *owner = nullptr);
    ~TCustomWSocket() override;

    // Host name or address (IPv4, or IPv6 with or without brackets and
    // zone); may only change while closed.
    QString Addr() const { return addrStr_; }
    void SetAddr(const QString &value);
    // Service name or decimal port; may only change while closed.
    QString Port() const { return portStr_; }
    void SetPort(const QString &value);
    // Protocol name or number ("tcp" after every close).
    QString Proto() const { return protoStr_; }
    void SetProto(const QString &value);
    TSocketSendFlags SendFlags() const;
    void SetSendFlags(int value);

    // Result of the last lookup: the canonical text of the first address
    // (forward) or the name (reverse).
    QString DnsResult() const { return dnsResult_; }
    // Every address found, both families in the order the system prefers
    // (forward), or the one name (reverse).
    QStringList DnsResultList() const { return dnsResultList_; }
    // The address the last Connect went to (family None before one).
    const platform::IpAddress &RemoteAddress() const { return remoteAddr_; }
    TSocketState State() const { return state_; }
    // Bytes returned by Receive since the last close.
    int ReadCount() const { return readCount_; }
    // Bytes the kernel holds ready to read; -1 after reporting an error.
    int RcvdCount();
    int LastError() const { return lastError_; }
    // Local port learned after binding a datagram socket.
    quint16 LocalPort() const { return localPort_; }

    // Settings a form may set; kept and reported back, but this socket never
    // waits on them (see each).
    bool MultiThreaded = false;          // waits pump the loop either way
    QObject *WaitCtrl = nullptr;         // no blocking waits use it
    int FlushTimeout = 60;               // seconds; no blocking flush uses it
    TSocketLingerOnOff LingerOnOff = wsLingerOn;
    int LingerTimeout = 0;               // seconds

    TDataAvailable OnDataAvailable;
    TDataSent OnDataSent;
    TSessionClosed OnSessionClosed;
    TSessionAvailable OnSessionAvailable;
    TSessionConnected OnSessionConnected;
    TChangeState OnChangeState;
    TSocketNotify OnLineTooLong;
    TDnsLookupDone OnDnsLookupDone;
    TSocketNotify OnError;

    // Creates the socket and starts connecting to Addr:Port with Proto.
    virtual void Connect();
    // Graceful close (shutdown, then close).
    virtual void Close();
    // Immediate close: pending lookup cancelled, queued data dropped.
    virtual void Abort();
    // Reads at most size bytes: the count, 0 when the peer has closed, -1 with LastError set.
    virtual int Receive(void *buffer, int size);
    // Queues len bytes and sends what the network takes; returns len, or -1 when not connected.
    virtual int Send(const void *data, int len);
    virtual int SendStr(const QByteArray &s);
    // Starts a forward lookup that follows the address family setting;
    // completion through OnDnsLookupDone. An address completes inside the
    // call, with its canonical text and an empty DnsResultList.
    virtual void DnsLookup(const QString &hostName);
    // Starts an address-to-name lookup of an address text of either family
    // (IPv6 through ip6.arpa).
    virtual void ReverseDnsLookup(const QString &address);
    // Cancels a pending lookup; OnDnsLookupDone fires with 10004 at once.
    virtual void CancelDnsLookup();

protected:
    virtual bool TriggerDataAvailable(quint16 error);
    virtual void TriggerSessionAvailable(quint16 error);
    virtual void TriggerSessionConnected(quint16 error);
    virtual void TriggerSessionClosed(quint16 error);
    virtual void TriggerDataSent(quint16 error);
    virtual void TriggerChangeState(TSocketState oldState, TSocketState newState);
    virtual void TriggerDnsLookupDone(quint16 error);
    virtual void TriggerError();

private:
    // Network event bits, as the notifications are numbered.
    enum : int { kFdRead = 0x01, kFdWrite = 0x02, kFdAccept = 0x08, kFdConnect = 0x10,
                 kFdClose = 0x20 };

    void DefaultReset();
    void ChangeState(TSocketState s);
    void RaiseException(const QString &msg);  // error path 1
    void SocketError(const QString &func);     // error path 2
    void SetLingerOption();
    void ResolveAddr();
    bool IsBroadcast() const;
    void NetworkEvent(int events, int error);
    void DataAvailableLoop(int error);
    void TryToSend();
    void InternalClose(bool shutdown);
    void DeleteBufferList();
    void ReadReady();
    void WriteReady();
    void ArmNotifiers();
    void DropNotifiers();
    void LookupDone(unsigned handle, int error, const QStringList &results);
    bool BeginLookup(const QString &text);
    void CheckLookupStarted(const QString &text);

    platform::SocketHandle handle_ = platform::kInvalidSocket;
    bool portAssigned_ = false;
    bool addrAssigned_ = false;
    bool addrResolved_ = false;
    bool protoAssigned_ = false;
    QString protoStr_;
    QString addrStr_;
    QString portStr_;
    quint16 portNum_ = 0;
    quint16 localPort_ = 0;
    int proto_ = 6;
    int type_ = platform::kSockStream;
    QString dnsResult_;
    QStringList dnsResultList_;
    TSocketState state_ = wsClosed;
    std::deque<std::unique_ptr<TBuffer>> bufList_;
    int bufSize_ = 1514;
    int sendFlags_ = 0;
    int lastError_ = 0;
    bool paused_ = false;
    bool allSent_ = true;
    int readCount_ = 0;
    bool closeInvoked_ = false;  // OnSessionClosed already fired for this connection
    bool destroying_ = false;
    unsigned pendingLookup_ = 0;
    platform::IpAddress remoteAddr_;
    QSocketNotifier *readNotifier_ = nullptr;
    QSocketNotifier *writeNotifier_ = nullptr;
    bool readArmed_ = true;  // off after a read event nobody read from; Receive re-arms it
};

// The component as placed on a window: all of the above, nothing added.
class TWSocket : public TCustomWSocket {
    Q_OBJECT
public:
    using TCustomWSocket::TCustomWSocket;
};
