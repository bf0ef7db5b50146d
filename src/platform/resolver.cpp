// System resolver access and the asynchronous lookups built on it.
#include "platform/resolver.h"
#include "platform/errcodes.h"

#include <QMetaObject>
#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <system_error>
#include <thread>
#include <unistd.h>

namespace platform {

std::uint32_t InetAddr(const std::string &text)
{
    return inet_addr(text.c_str());
}

std::string InetNtoa(std::uint32_t addr)
{
    // Same text as inet_ntoa, without its static buffer shared by the
    // lookup workers.
    in_addr in{};
    in.s_addr = addr;
    char buf[INET_ADDRSTRLEN] = {};
    inet_ntop(AF_INET, &in, buf, sizeof buf);
    return buf;
}

int LookupName(const std::string &host, HostEntry &entry)
{
    entry = HostEntry{};
    if (host.empty())
        return kErrHostNotFound;
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;  // one entry per address, not one per socket type
    hints.ai_flags = AI_CANONNAME;
    addrinfo *res = nullptr;
    errno = 0;
    const int rc = getaddrinfo(host.c_str(), nullptr, &hints, &res);
    if (rc != 0)
        return ResolverToCode(rc, errno);
    for (addrinfo *ai = res; ai; ai = ai->ai_next) {
        if (ai->ai_family != AF_INET || !ai->ai_addr)
            continue;
        if (entry.name.empty() && ai->ai_canonname)
            entry.name = ai->ai_canonname;
        const auto *sin = reinterpret_cast<const sockaddr_in *>(ai->ai_addr);
        const std::uint32_t a = sin->sin_addr.s_addr;
        bool seen = false;
        for (auto x : entry.addrs)
            seen = seen || x == a;
        if (!seen)
            entry.addrs.push_back(a);
    }
    freeaddrinfo(res);
    if (entry.addrs.empty())
        return kErrNoData;
    if (entry.name.empty())
        entry.name = host;
    return 0;
}

int LookupAddr(std::uint32_t addr, HostEntry &entry)
{
    entry = HostEntry{};
    sockaddr_in sin{};
    sin.sin_family = AF_INET;
    sin.sin_addr.s_addr = addr;
    char name[NI_MAXHOST] = {};
    errno = 0;
    const int rc = getnameinfo(reinterpret_cast<const sockaddr *>(&sin), sizeof sin, name,
                               sizeof name, nullptr, 0, NI_NAMEREQD);
    if (rc != 0)
        return ResolverToCode(rc, errno);
    entry.name = name;
    entry.addrs.push_back(addr);
    return 0;
}

std::string LocalHostName()
{
    char buf[256] = {};
    if (gethostname(buf, sizeof buf - 1) != 0)
        return {};
    return buf;
}

namespace {

// Requests still waiting for their completion. A worker only posts while its
// request is in here, under the lock; cancelling or destroying the context
// takes the request out under the same lock, so nothing is posted to an object
// that is gone, and a completion already posted finds no entry and is dropped.
struct Pending {
    QObject *context;
    LookupDone done;
    QMetaObject::Connection guard;  // drops the request when the context dies
};

struct Registry {
    std::mutex lock;
    std::map<unsigned, Pending> pending;
    unsigned next = 0;
};

Registry &registry()
{
    // Never destroyed: detached workers may still finish while the process exits.
    static Registry *r = new Registry;
    return *r;
}

unsigned startLookup(QObject *context, LookupDone done,
                     std::function<int(HostEntry &)> work)
{
    if (!context)
        return 0;
    Registry &r = registry();
    unsigned handle;
    {
        std::lock_guard<std::mutex> g(r.lock);
        do {
            handle = ++r.next;
        } while (handle == 0 || r.pending.count(handle));
        r.pending[handle] = Pending{context, std::move(done), {}};
    }
    // Runs on the context's thread, inside ~QObject, before its posted events
    // are discarded.
    auto guard = QObject::connect(context, &QObject::destroyed, [handle] {
        Registry &reg = registry();
        std::lock_guard<std::mutex> g(reg.lock);
        reg.pending.erase(handle);
    });
    {
        std::lock_guard<std::mutex> g(r.lock);
        auto it = r.pending.find(handle);
        if (it != r.pending.end())
            it->second.guard = guard;
    }

    auto worker = [handle, work = std::move(work)] {
        auto entry = std::make_shared<HostEntry>();
        const int error = work(*entry);
        Registry &reg = registry();
        std::lock_guard<std::mutex> g(reg.lock);
        auto it = reg.pending.find(handle);
        if (it == reg.pending.end())
            return;  // cancelled or context gone
        QMetaObject::invokeMethod(
            it->second.context,
            [handle, error, entry] {
                Registry &rr = registry();
                LookupDone cb;
                {
                    std::lock_guard<std::mutex> g2(rr.lock);
                    auto p = rr.pending.find(handle);
                    if (p == rr.pending.end())
                        return;  // cancelled after the post
                    QObject::disconnect(p->second.guard);
                    cb = std::move(p->second.done);
                    rr.pending.erase(p);
                }
                if (cb)
                    cb(handle, error, *entry);
            },
            Qt::QueuedConnection);
    };
    try {
        std::thread(std::move(worker)).detach();
    } catch (const std::system_error &) {
        CancelLookup(handle);  // no thread to be had: the request never started
        return 0;
    }
    return handle;
}

} // namespace

unsigned AsyncLookupName(QObject *context, const std::string &host, LookupDone done)
{
    return startLookup(context, std::move(done),
                       [host](HostEntry &e) { return LookupName(host, e); });
}

unsigned AsyncLookupAddr(QObject *context, std::uint32_t addr, LookupDone done)
{
    return startLookup(context, std::move(done),
                       [addr](HostEntry &e) { return LookupAddr(addr, e); });
}

int CancelLookup(unsigned handle)
{
    Registry &r = registry();
    QMetaObject::Connection guard;
    {
        std::lock_guard<std::mutex> g(r.lock);
        auto it = r.pending.find(handle);
        if (it == r.pending.end())
            return kErrInvalid;
        guard = it->second.guard;
        r.pending.erase(it);
    }
    QObject::disconnect(guard);
    return 0;
}

} // namespace platform
