#include "net/traceprobes.h"

#include "net/dns.h"
#include "net/msicmp.h"
#include "platform/monoclock.h"
#include "platform/resolver.h"

#include <system_error>
#include <thread>

namespace {
constexpr std::uint32_t kNone = 0xFFFFFFFFu;

platform::IcmpEchoReply clearedReply()
{
    platform::IcmpEchoReply r;
    r.Address = kNone;
    return r;
}
} // namespace

TTraceProbes::TTraceProbes(std::function<void()> wake) : m_wake(std::move(wake)) {}

TTraceProbes::~TTraceProbes() = default;

bool TTraceProbes::NameFollows(bool resolve, std::int32_t code, const platform::IpAddress &from)
{
    return resolve && code == 0 && from.Valid();
}

bool TTraceProbes::Send(int ttl, const platform::IpAddress &dest, int size, int timeOutMs,
                        bool resolve)
{
    const platform::IcmpHandle handle = IcmpCreateFileFor(dest);
    ++s_running;
    try {
        std::thread([self = shared_from_this(), handle, ttl, dest, size, timeOutMs, resolve] {
            self->Probe(handle, ttl, dest, size, timeOutMs, resolve);
            --s_running;
        }).detach();
    } catch (const std::system_error &) {
        --s_running;
        if (handle != platform::kInvalidIcmpHandle)
            platform::IcmpCloseHandle(handle);
        return false;
    }
    return true;
}

void TTraceProbes::Probe(platform::IcmpHandle handle, int ttl, const platform::IpAddress &dest,
                         int size, int timeOutMs, bool resolve)
{
    TNote echo;
    echo.ttl = ttl;
    echo.reply = clearedReply();
    if (Closed()) {
        // The run ended before this thread got going: nothing to send for.
        if (handle != platform::kInvalidIcmpHandle)
            platform::IcmpCloseHandle(handle);
        return;
    }
    if (handle == platform::kInvalidIcmpHandle) {
        echo.code = kMsNoIcmp;
    } else {
        platform::IpOptionInformation options;
        options.Ttl = std::uint8_t(ttl);
        const std::int64_t t0 = platform::MonoNowNs();
        TNote left;
        left.kind = TNote::Left;
        left.ttl = ttl;
        left.atUs = t0 / 1000;
        Push(std::move(left));
        echo.code = IcmpEcho(handle, options, echo.reply, dest, size, timeOutMs, &echo.from);
        echo.rttUs = (platform::MonoNowNs() - t0) / 1000;
        platform::IcmpCloseHandle(handle);
    }
    const bool named = NameFollows(resolve, echo.code, echo.from);
    const platform::IpAddress from = echo.from;
    Push(std::move(echo));
    if (!named)
        return;
    TNote name;
    name.ttl = ttl;
    name.kind = TNote::Name;
    name.name = NameOf(from);
    Push(std::move(name));
}

std::string TTraceProbes::NameOf(const platform::IpAddress &addr)
{
    const std::string key = platform::AddressText(addr);
    std::unique_lock<std::mutex> lk(m_lock);
    auto it = m_names.find(key);
    if (it != m_names.end()) {
        // Another probe is asking already: its answer is this one's too.
        m_changed.wait(lk, [&] { return m_closed || m_names[key].done; });
        return m_names[key].name;
    }
    m_names[key];
    lk.unlock();
    platform::HostEntry entry;
    const bool found = platform::LookupAddress(addr, entry) == 0;
    lk.lock();
    TName &slot = m_names[key];
    slot.done = true;
    if (found)
        slot.name = entry.name;
    m_changed.notify_all();
    return slot.name;
}

void TTraceProbes::Push(TNote note)
{
    std::lock_guard<std::mutex> g(m_lock);
    if (m_closed)
        return;
    const bool first = m_notes.empty();
    m_notes.push_back(std::move(note));
    m_changed.notify_all();
    if (first && m_wake)
        m_wake();
}

bool TTraceProbes::Closed()
{
    std::lock_guard<std::mutex> g(m_lock);
    return m_closed;
}

std::vector<TTraceProbes::TNote> TTraceProbes::Take()
{
    std::lock_guard<std::mutex> g(m_lock);
    std::vector<TNote> out(std::make_move_iterator(m_notes.begin()),
                           std::make_move_iterator(m_notes.end()));
    m_notes.clear();
    return out;
}

void TTraceProbes::WaitUntil(std::int64_t untilNs)
{
    std::unique_lock<std::mutex> lk(m_lock);
    while (m_notes.empty() && !m_closed) {
        if (platform::WaitUntilNs(m_changed, lk, untilNs))
            return;
    }
}

void TTraceProbes::Close()
{
    std::function<void()> wake;
    {
        std::lock_guard<std::mutex> g(m_lock);
        m_closed = true;
        m_notes.clear();
        wake.swap(m_wake);
        m_changed.notify_all();
    }
}
