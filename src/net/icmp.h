// TICMP: one ICMP echo at a time through the platform's echo service,
// blocking until the reply or the time-out. Address may be a name, an IPv4
// or an IPv6 address; the echo goes out as ICMP or ICMPv6 accordingly.
#pragma once

#include "platform/icmpecho.h"

#include <QObject>
#include <QString>
#include <cstdint>
#include <functional>
#include <stdexcept>

// Raised by the echo components: lookup start and cancel failures.
class TICMPException : public std::runtime_error {
public:
    explicit TICMPException(const QString &msg) : std::runtime_error(msg.toStdString()) {}
};

// Raised by Ping when Size or TTL lies outside what the request can carry.
class EICMPRangeError : public std::out_of_range {
public:
    EICMPRangeError() : std::out_of_range("Range check error") {}
};

using TICMPDisplay = std::function<void(QObject *Sender, const QString &Msg)>;
using TICMPNotify = std::function<void(QObject *Sender)>;
// Replies: how many replies came back (0 = none, and ErrorText says why).
using TICMPReply = std::function<void(QObject *Sender, int Replies)>;

// The fixed sentence that opens every request's data (45 characters).
extern const char kEchoSentence[];
constexpr int kEchoSentenceLen = 45;
// Code of the echo that could not be sent because this process may not use
// ICMP at all (the socket layer's "access denied").
constexpr int kIcmpNotPermitted = 10013;
// Code of an echo to an address of a family this system or the address
// family setting does not allow (the socket layer's "family not supported").
constexpr int kIcmpFamilyNotSupported = 10047;

class TICMP {
public:
    TICMP();
    ~TICMP();
    TICMP(const TICMP &) = delete;
    TICMP &operator=(const TICMP &) = delete;

    // Sends one echo to Address; returns the number of replies (0 = none).
    int Ping();

    QString Address() const { return m_address; }
    // A different text clears the resolved state; the same text keeps it.
    void SetAddress(const QString &value);

    // Text for LastError.
    QString ErrorText() const { return ErrorTextFor(LastError); }
    static QString ErrorTextFor(int code);

    // The last reply record as the service filled it.
    const platform::IcmpEchoReply &Reply() const { return m_reply; }
    // The last answer's round trip in microseconds (Reply().RoundTripTime is
    // it rounded to whole milliseconds); -1 when nothing answered.
    qint64 ReplyUs() const { return m_replyUs; }
    QString HostName() const { return m_hostName; }  // official name, or Address if an address
    QString HostIP() const { return m_hostIP; }      // canonical text of the target
    // IPv4 target in network order; all ones when unknown or IPv6.
    std::uint32_t HostAddress() const { return m_target.v4(); }
    const platform::IpAddress &Target() const { return m_target; }
    // Who answered the last echo (the target, a router, or the target itself
    // when nothing came back); IPv6 included, with its zone.
    const platform::IpAddress &ReplyAddress() const { return m_replier; }
    bool Resolved() const { return m_resolved; }
    // False when the ICMP echo handle could not be opened; every IPv4 Ping
    // then fails with OpenError() (kIcmpNotPermitted when ICMP is not allowed).
    bool HandleOpen() const { return m_handle != platform::kInvalidIcmpHandle; }
    int OpenError() const { return m_openError; }
    // The same for the ICMPv6 handle and IPv6 targets.
    bool Handle6Open() const { return m_handle6 != platform::kInvalidIcmpHandle; }
    int Open6Error() const { return m_openError6; }
    // True when the ICMP (IPv4) echoes go through a raw socket.
    bool UsesRawSocket() const { return platform::IcmpHandleIsRaw(m_handle); }
    // True when the ICMPv6 echoes do.
    bool UsesRawSocket6() const { return platform::IcmpHandleIsRaw(m_handle6); }

    int Size = 56;        // data bytes per request
    int Timeout = 4000;   // ms to wait for the reply
    int TTL = 64;         // time to live of the request
    TICMPDisplay OnDisplay;
    TICMPNotify OnEchoRequest;  // just before sending
    TICMPReply OnEchoReply;     // after the send returned, with the number of replies
    int LastError = 0;    // IP status or error code of the last operation; 0 = none
    QObject *Sender = nullptr;  // what the events name as their sender

private:
    void Resolve();

    platform::IcmpHandle m_handle = platform::kInvalidIcmpHandle;
    platform::IcmpHandle m_handle6 = platform::kInvalidIcmpHandle;
    int m_openError = 0;
    int m_openError6 = 0;
    platform::IcmpEchoReply m_reply;
    qint64 m_replyUs = -1;
    platform::IpAddress m_replier;
    QString m_address;
    QString m_hostName;
    QString m_hostIP;
    platform::IpAddress m_target;
    bool m_resolved = false;
};
