// Finger client (RFC 1288): one query as one call. RunQuery resolves the host,
// connects to the finger port, sends the user name and CR LF, reads the reply
// until the server closes and splits it into lines. The socket is
// non-blocking; while a step waits (lookup, connect, send, each read) a nested
// event loop keeps the window alive, so timers run and CancelQuery can end the
// wait. Each wait is bounded by a countdown of TimeOut ticks of one second.
#pragma once

#include "net/netexception.h"
#include "platform/socket.h"

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QStringList>
#include <cstdint>

class QTimer;

// A query that cannot run or that ended by time-out or cancel.
class EFingerError : public ENetError {
public:
    using ENetError::ENetError;
};

// A socket call failed where the query cannot carry on (no socket, a read failed).
class ESocketError : public ENetError {
public:
    using ENetError::ENetError;
};

// The step a query is in.
enum TFingerState { fsIdle, fsResolving, fsConnecting, fsSending, fsReceiving };

// Longest reply kept, in bytes; the rest is dropped and kFingerCutLine ends the lines.
inline constexpr int kFingerReplyLimit = 16384;
// Room for the request: user name, CR LF and a terminating zero.
inline constexpr int kFingerRequestLimit = 255;
// Last line of a reply that was longer than kFingerReplyLimit.
inline constexpr const char *kFingerCutLine =
    "[Reply cut here: the server sent more than 16384 bytes]";

class TFinger : public QObject {
    Q_OBJECT
public:
    explicit TFinger(QObject *owner = nullptr);
    ~TFinger() override;

    // One-second ticks allowed for each waiting step; 0 or less: no limit.
    int TimeOut = 40;

    // The whole query text as set ("user@host").
    QString Query() const { return query_; }
    // Splits at the first "@": user part before it, host part after it.
    // Raises EFingerError, keeping the previous parts, when there is no "@",
    // when the first "@" lies beyond the 255th character, when the request
    // would not fit kFingerRequestLimit bytes, or when the user part holds a
    // line break or a zero character.
    void SetQuery(const QString &value);
    QString UserPart() const { return userPart_; }
    QString HostPart() const { return hostPart_; }

    // Runs the query; returns when it is over. Returns normally with
    // ReplyLines filled (possibly empty; QueryError tells a step failure that
    // ended it early), or raises EFingerError / ESocketError. ReplyLines
    // already holds the lines received when a read fails, times out or is
    // cancelled. Raises EFingerError when a query is already running.
    void RunQuery();
    // Ends the running query at its current wait; does nothing when idle.
    void CancelQuery();

    // The reply as display-safe lines (see FingerDisplayText); cleared when a query starts.
    QStringList &ReplyLines() { return replyLines_; }
    const QStringList &ReplyLines() const { return replyLines_; }
    // Raw bytes of the last reply, at most kFingerReplyLimit.
    QByteArray ReplyBytes() const { return reply_; }
    // The last reply was longer than kFingerReplyLimit and was cut.
    bool ReplyCut() const { return cut_; }
    // "WinSock Error No. N" of a step failure that ended the last query
    // without an exception; empty when none.
    QString QueryError() const { return queryError_; }
    TFingerState State() const { return state_; }
    // The port the next query connects to: the services database's "finger"
    // over TCP, 79 when it has none (or the override below).
    quint16 FingerPort() const;

    // Length of one countdown tick in ms (1000); tests shorten it.
    void SetTickInterval(int ms);
    // Connect to this port instead of the finger port; 0 = the finger port.
    // For tests whose scripted server cannot own port 79.
    void SetPortOverride(quint16 port) { portOverride_ = port; }

    // "WinSock Error No. " and the code's low 16 bits in decimal.
    static QString ErrorText(int code);

private:
    enum class WaitEnd { Ready, TimedOut, Cancelled, Gone };

    void SetState(TFingerState s);
    void StartStep();
    void EndStep();
    void Tick();
    WaitEnd Wait(const bool &ready);
    WaitEnd WaitSocket(bool forWrite);
    platform::IpAddress Resolve(const QString &host);
    bool Connect(const platform::IpAddress &addr, quint16 port);
    void Send(const QByteArray &request);
    void Receive();
    void CloseSocket();

    QString query_;
    QString userPart_;
    QString hostPart_;
    QTimer *countdown_ = nullptr;
    int ticksLeft_ = 0;
    int tickMs_ = 1000;
    quint16 portOverride_ = 0;
    platform::SocketHandle sock_ = platform::kInvalidSocket;
    QByteArray reply_;
    bool cut_ = false;
    bool cancelled_ = false;
    bool timedOut_ = false;
    QStringList replyLines_;
    QString queryError_;
    TFingerState state_ = fsIdle;
};
