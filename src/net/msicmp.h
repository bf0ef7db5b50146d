// TMSicmp: one traceroute echo through the platform's echo service, on a
// short-lived worker (TPingThread) or blocking on the caller's thread, and the
// classification of its result. Kept apart from the echo engine (TPing): each
// echo opens its own handle.
#pragma once

#include "net/dns.h"
#include "platform/icmpecho.h"

#include <QObject>
#include <QString>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>

using TError = std::function<void(QObject *Sender, std::int32_t Error, const QString &Msg)>;
using TDataRt = std::function<void(QObject *Sender, std::int32_t Status)>;

// One blocking echo of size bytes of 0xAA with options->Ttl (the hop limit
// for IPv6) through a handle of dest's family. Returns 0 when the network
// answered (an echo reply, or an ICMP or ICMPv6 error from a router or the
// target: reply then holds the record, its Status saying which, Options.Ttl
// the TTL or hop limit it arrived with, and *replier who sent it), otherwise
// the IP status (11010 no answer in time, 11009 too big, ...) with reply and
// *replier left as they were.
int IcmpEcho(platform::IcmpHandle handle, const platform::IpOptionInformation &options,
             platform::IcmpEchoReply &reply, const platform::IpAddress &dest, int size,
             int timeoutMs, platform::IpAddress *replier = nullptr);
// The same to an IPv4 address in network order.
int IcmpEcho(platform::IcmpHandle handle, const platform::IpOptionInformation &options,
             platform::IcmpEchoReply &reply, std::uint32_t dest, int size, int timeoutMs);
// Opens an echo handle of the family of 'dest' (ICMP or ICMPv6).
platform::IcmpHandle IcmpCreateFileFor(const platform::IpAddress &dest);

// One echo on its own short-lived thread. The creator opens the echo handle
// and fixes every parameter; the worker sends and waits, then hands the
// result to the owner's thread. The result lives in the worker object, not in
// the owner, and is delivered only while the owner is attached: Detach()
// (from the owner's destructor) makes a late echo write nowhere.
class TPingThread : public std::enable_shared_from_this<TPingThread> {
public:
    using Completion = std::function<void(std::int32_t ResultCode,
                                          const platform::IcmpEchoReply &EchoReply,
                                          const platform::IpAddress &Replier)>;

    // Opens the echo handle of DestAddr's family; ResultCode is kMsNoIcmp
    // when that failed (the worker then reports at once without sending).
    TPingThread(const platform::IpAddress &DestAddr, int PacketSize,
                const platform::IpOptionInformation &ProbeOptions, int TimeOut);
    // Closes the echo handle.
    ~TPingThread();
    TPingThread(const TPingThread &) = delete;
    TPingThread &operator=(const TPingThread &) = delete;

    // Starts the thread; OnTerminate runs on owner's thread after the echo,
    // unless the owner detached or is gone. False when no thread could be had.
    static bool Start(const std::shared_ptr<TPingThread> &thread, QObject *owner,
                      Completion OnTerminate);
    // Cuts the link to the owner; from now on the result is dropped.
    void Detach();

    // Workers still running in this process (their echo not yet answered).
    static int Running() { return s_running.load(); }

    const platform::IpOptionInformation &Options() const { return m_options; }

private:
    void Execute();

    platform::IcmpHandle m_handle;
    platform::IpAddress m_dest;
    int m_packetSize;
    platform::IpOptionInformation m_options;  // copied at creation: TTL fixed per thread
    int m_timeOut;
    std::int32_t m_resultCode = 0;
    platform::IcmpEchoReply m_echoReply;
    platform::IpAddress m_replier;   // who answered; family None when nobody did
    std::mutex m_lock;               // guards m_owner and m_onTerminate
    QObject *m_owner = nullptr;
    Completion m_onTerminate;
    static inline std::atomic<int> s_running{0};
};

class TMSicmp : public QObject {
    Q_OBJECT
public:
    explicit TMSicmp(QObject *owner = nullptr);
    // An echo still out on a worker is detached: it finishes on its own and
    // writes nowhere.
    ~TMSicmp() override;

    // Sends one echo with ProbeOptions.Ttl; EchoDone follows on this thread.
    void SendEcho();
    // Classifies ResultCode and sets ResultText; true when the probe produced
    // an answer to report.
    bool CheckResult();
    // OnData(this, ResultCode) if set.
    void DoData();
    // OnError(this, code, text) if set, else a message box.
    void DoError(std::int32_t code, const QString &text);

    int PacketSize() const { return m_packetSize; }
    // Stores at least 8.
    void SetPacketSize(int value);
    int TimeOut() const { return m_timeOut; }
    // Stores 0..65535 ms: a longer wait is clamped to 65535.
    void SetTimeOut(int ms);
    int TimeToLive() const { return m_timeToLive; }
    // Stores 1..255.
    void SetTimeToLive(int value);

    // Text the window shows once per process when ICMP is not allowed at all
    // (the same hint and the same once as the echo engine's); empty otherwise.
    static QString AccessHintOnce();

    std::uint32_t DestAddr = 0xFFFFFFFFu;   // IPv4 target (network order); all ones for IPv6
    platform::IpAddress DestIp;             // target of either family, where the echoes go
    TDataRt OnData;
    TError OnError;
    platform::IpOptionInformation ProbeOptions;  // Ttl = the current TTL / hop number
    QString ResultText;                     // text of ResultCode
    TWSMode Mode = wsmAsync;
    std::int32_t ResultCode = 0;            // result of the last probe
    platform::IcmpEchoReply EchoReply;      // copy of the last reply record
    platform::IpAddress ReplyIp;            // who sent it (with its zone); family None when nobody answered

protected:
    // Completion of one echo, on this object's thread.
    virtual void EchoDone();
    // ResultCode := 0; EchoReply := zero with the replying address all ones;
    // ReplyIp := none.
    virtual void ClearReply();
    // Sends one echo on a worker whatever Mode says; done runs on completion.
    void SendOnWorker(std::function<void()> done);
    // Cuts the link to an echo still out.
    void DetachWorker();

private:
    int m_packetSize = 56;
    int m_timeOut = 2500;
    int m_timeToLive = 32;
    std::shared_ptr<TPingThread> m_worker;  // the echo out on a worker, if any
    int m_blockingDepth = 0;   // inside the blocking send loop
    bool m_sendAgain = false;  // a blocking echo asked for from its own completion
};
