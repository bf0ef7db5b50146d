// TPing: the echo component. Owns one TICMP and adds an asynchronous name
// lookup whose completion arrives through the event loop.
#pragma once

#include "net/icmp.h"

#include <QObject>
#include <QString>
#include <functional>
#include <memory>

namespace platform { struct HostEntry; }

using TPingDnsLookupDone = std::function<void(QObject *Sender, quint16 Error)>;

class TPing : public QObject {
    Q_OBJECT
public:
    explicit TPing(QObject *owner = nullptr);
    // Cancels a pending lookup first (OnDnsLookupDone fires with 10004).
    ~TPing() override;

    // Starts a lookup of a host name or address (IPv4, or IPv6 with or
    // without brackets and zone); an address completes inside the call, a
    // name through the event loop. DnsResult is then the canonical text of
    // the address, or of the name's first address in the order the system
    // prefers, of the families the address family setting allows. A pending
    // lookup is dropped silently.
    virtual void DnsLookup(const QString &HostName);
    // Ends a pending lookup with OnDnsLookupDone(10004); nothing when idle.
    void CancelDnsLookup();
    // One echo to Address: fires OnEchoRequest, blocks, fires OnEchoReply.
    int Ping();
    platform::IcmpEchoReply Reply() const;
    // The last answer's round trip in microseconds; -1 when nothing answered.
    qint64 ReplyUs() const { return m_engine->ReplyUs(); }
    QString ErrorText() const;
    QString DnsResult() const { return m_dnsResult; }
    int LastError() const;
    bool LookupPending() const { return m_pending != 0; }
    // The engine, for what the properties do not show (resolved state, handle).
    const TICMP &Engine() const { return *m_engine; }

    QString Address() const;
    void SetAddress(const QString &value);
    int Size() const;
    void SetSize(int value);
    int Timeout() const;
    void SetTimeout(int value);
    int TTL() const;
    void SetTTL(int value);

    TICMPDisplay OnDisplay;
    TICMPNotify OnEchoRequest;
    TICMPReply OnEchoReply;
    TPingDnsLookupDone OnDnsLookupDone;

    // Empty when ICMP echoes can be sent; otherwise, the first time it is
    // asked in this process only, a paragraph telling the user how to allow
    // them (so the window says it once, however many components it has).
    static QString AccessHintOnce();

private:
    void LookupDone(unsigned handle, int error, const platform::HostEntry &entry);

    std::unique_ptr<TICMP> m_engine;
    unsigned m_pending = 0;
    QString m_dnsResult;
};
