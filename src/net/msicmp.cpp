#include "net/msicmp.h"

#include "net/ping.h"
#include "net/codetexts.h"
#include "platform/errcodes.h"
#include "platform/icmpcodec.h"
#include "net/errorreport.h"

#include <QPointer>
#include <algorithm>
#include <system_error>
#include <thread>
#include <vector>

int IcmpEcho(platform::IcmpHandle handle, const platform::IpOptionInformation &options,
             platform::IcmpEchoReply &reply, const platform::IpAddress &dest, int size,
             int timeoutMs, platform::IpAddress *replier)
{
    // A size no packet of the family can carry is refused before anything
    // is allocated.
    const std::size_t most =
        dest.IsV6() ? platform::icmp::kMaxPayloadV6 : platform::icmp::kMaxPayload;
    if (size < 0 || std::size_t(size) > most)
        return platform::kIpPacketTooBig;
    const std::vector<std::uint8_t> request(std::size_t(size), 0xAA);
    platform::IcmpEchoReply got;
    platform::IpAddress from;
    const int replies = platform::IcmpSendEchoTo(handle, dest, request.data(), size, &options,
                                                 &got, timeoutMs, &from);
    // A router's "TTL expired" is as much an answer as the target's reply:
    // both come back as a record whose status tells them apart.
    if (replies > 0 || platform::IcmpAnswered(got)) {
        reply = got;
        if (replier)
            *replier = from;
        return 0;
    }
    return platform::IcmpLastError();
}

int IcmpEcho(platform::IcmpHandle handle, const platform::IpOptionInformation &options,
             platform::IcmpEchoReply &reply, std::uint32_t dest, int size, int timeoutMs)
{
    return IcmpEcho(handle, options, reply, platform::IpAddress::V4(dest), size, timeoutMs);
}

platform::IcmpHandle IcmpCreateFileFor(const platform::IpAddress &dest)
{
    return dest.IsV6() ? platform::Icmp6CreateFile() : platform::IcmpCreateFile();
}

// ---------------------------------------------------------------- TPingThread

namespace {
platform::IcmpEchoReply clearedReply()
{
    platform::IcmpEchoReply r;
    r.Address = 0xFFFFFFFFu;
    return r;
}
} // namespace

TPingThread::TPingThread(const platform::IpAddress &DestAddr, int PacketSize,
                         const platform::IpOptionInformation &ProbeOptions, int TimeOut)
    : m_handle(IcmpCreateFileFor(DestAddr)), m_dest(DestAddr), m_packetSize(PacketSize),
      m_options(ProbeOptions), m_timeOut(TimeOut), m_echoReply(clearedReply())
{
    if (m_handle == platform::kInvalidIcmpHandle)
        m_resultCode = kMsNoIcmp;
}

TPingThread::~TPingThread()
{
    if (m_handle != platform::kInvalidIcmpHandle)
        platform::IcmpCloseHandle(m_handle);
}

bool TPingThread::Start(const std::shared_ptr<TPingThread> &thread, QObject *owner,
                        Completion OnTerminate)
{
    thread->m_owner = owner;
    thread->m_onTerminate = std::move(OnTerminate);
    ++s_running;
    try {
        std::thread([self = thread] { self->Execute(); }).detach();
    } catch (const std::system_error &) {
        --s_running;
        thread->Detach();
        return false;
    }
    return true;
}

void TPingThread::Detach()
{
    std::lock_guard<std::mutex> g(m_lock);
    m_owner = nullptr;
    m_onTerminate = nullptr;
}

void TPingThread::Execute()
{
    if (m_resultCode != kMsNoIcmp)
        m_resultCode = IcmpEcho(m_handle, m_options, m_echoReply, m_dest, m_packetSize, m_timeOut,
                                &m_replier);
    {
        // The owner detaches under the same lock before it is destroyed, so
        // nothing is posted to an object that is going; a completion already
        // posted is discarded with the object's pending events.
        std::lock_guard<std::mutex> g(m_lock);
        if (m_owner && m_onTerminate) {
            QMetaObject::invokeMethod(
                m_owner,
                [self = shared_from_this()] {
                    Completion done;
                    {
                        std::lock_guard<std::mutex> g2(self->m_lock);
                        done = std::move(self->m_onTerminate);
                        self->m_onTerminate = nullptr;
                    }
                    if (done)
                        done(self->m_resultCode, self->m_echoReply, self->m_replier);
                },
                Qt::QueuedConnection);
        }
    }
    --s_running;
}

// -------------------------------------------------------------------- TMSicmp

TMSicmp::TMSicmp(QObject *owner) : QObject(owner)
{
    ProbeOptions.Ttl = std::uint8_t(m_timeToLive);
    EchoReply = clearedReply();
}

TMSicmp::~TMSicmp() { DetachWorker(); }

void TMSicmp::DetachWorker()
{
    if (m_worker) {
        m_worker->Detach();
        m_worker.reset();
    }
}

void TMSicmp::SetPacketSize(int value) { m_packetSize = std::max(value, 8); }

void TMSicmp::SetTimeOut(int ms) { m_timeOut = std::clamp(ms, 0, 65535); }

void TMSicmp::SetTimeToLive(int value) { m_timeToLive = std::clamp(value, 1, 255); }

QString TMSicmp::AccessHintOnce() { return TPing::AccessHintOnce(); }

void TMSicmp::ClearReply()
{
    ResultCode = 0;
    EchoReply = clearedReply();
    ReplyIp = platform::IpAddress{};
}

void TMSicmp::SendOnWorker(std::function<void()> done)
{
    DetachWorker();
    auto thread = std::make_shared<TPingThread>(DestIp, m_packetSize, ProbeOptions, m_timeOut);
    m_worker = thread;
    const TPingThread *which = thread.get();
    const bool started = TPingThread::Start(
        thread, this,
        [this, which, done](std::int32_t code, const platform::IcmpEchoReply &reply,
                            const platform::IpAddress &replier) {
            if (m_worker.get() != which)
                return;  // an echo this object no longer waits for
            m_worker.reset();
            ResultCode = code;
            EchoReply = reply;
            ReplyIp = replier;
            done();
        });
    if (!started) {
        m_worker.reset();
        ResultCode = platform::kErrNoBufs;
        done();
    }
}

void TMSicmp::SendEcho()
{
    ClearReply();
    if (Mode == wsmAsync) {
        SendOnWorker([this] { EchoDone(); });
        return;
    }
    // Blocking: the next probe is asked for from within the completion of
    // the previous one; the loop below sends it, so a trace of 255 hops does
    // not nest 255 completions on the stack.
    if (m_blockingDepth > 0) {
        m_sendAgain = true;
        return;
    }
    QPointer<TMSicmp> self(this);
    ++m_blockingDepth;
    do {
        m_sendAgain = false;
        const platform::IcmpHandle handle = IcmpCreateFileFor(DestIp);
        if (handle == platform::kInvalidIcmpHandle) {
            ResultCode = kMsNoIcmp;
        } else {
            ResultCode = IcmpEcho(handle, ProbeOptions, EchoReply, DestIp, m_packetSize,
                                  m_timeOut, &ReplyIp);
            platform::IcmpCloseHandle(handle);
        }
        EchoDone();
        if (!self)
            return;  // a handler freed this object
    } while (m_sendAgain);
    --m_blockingDepth;
}

bool TMSicmp::CheckResult()
{
    if (ResultCode == kMsNoIcmp) {
        ResultText = QStringLiteral("Unable to get a handle for the Ping");
        return false;
    }
    if (ResultCode == 0) {
        ResultCode = std::int32_t(EchoReply.Status);
        ResultText = IcmpStatusText(ResultCode);
        return true;
    }
    if (ResultCode >= 10000 && ResultCode <= 11000) {
        ResultText = WinsockErrorText(ResultCode);
        return false;
    }
    EchoReply.Status = std::uint32_t(ResultCode);
    ResultText = IcmpStatusText(ResultCode);
    return true;
}

void TMSicmp::DoData()
{
    if (auto handler = OnData)
        handler(this, ResultCode);
}

void TMSicmp::DoError(std::int32_t code, const QString &text)
{
    if (auto handler = OnError) {
        handler(this, code, text);
        return;
    }
    net::ReportError(QStringLiteral("Ping Error ") + QString::number(code)
                     + QStringLiteral(": ") + text);
}

void TMSicmp::EchoDone()
{
    if (CheckResult())
        DoData();
    else
        DoError(ResultCode, ResultText);
}
