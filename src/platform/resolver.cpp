// System resolver access and the asynchronous lookups built on it.
#include "platform/resolver.h"
#include "platform/errcodes.h"
#include "platform/hosttext.h"

#include <QMetaObject>
#include <arpa/inet.h>
#include <atomic>
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

namespace {

std::atomic<FamilyChoice> gFamilyChoice{FamilyChoice::Automatic};

int familyHint(FamilyChoice choice)
{
    switch (choice) {
    case FamilyChoice::IPv4Only: return AF_INET;
    case FamilyChoice::IPv6Only: return AF_INET6;
    case FamilyChoice::Automatic: break;
    }
    return AF_UNSPEC;
}

bool allowedBy(FamilyChoice choice, Family family)
{
    switch (choice) {
    case FamilyChoice::IPv4Only: return family == Family::IPv4;
    case FamilyChoice::IPv6Only: return family == Family::IPv6;
    case FamilyChoice::Automatic: break;
    }
    return family != Family::None;
}

void addAddress(HostEntry &entry, const IpAddress &a)
{
    for (const IpAddress &seen : entry.addresses)
        if (seen == a)
            return;
    entry.addresses.push_back(a);
    if (a.IsV4())
        entry.addrs.push_back(a.v4());
}

// The forward lookup behind LookupHost and LookupName: 'choice' says which
// families may come back.
int lookupForward(const std::string &host, FamilyChoice choice, HostEntry &entry)
{
    entry = HostEntry{};
    const HostText text = ReadHostText(QString::fromStdString(host));
    switch (text.kind) {
    case HostText::Empty:
    case HostText::Invalid:
        return kErrHostNotFound;
    case HostText::Address:
        if (!allowedBy(choice, text.address.family))
            return kErrAfNoSupport;
        addAddress(entry, text.address);
        entry.name = AddressText(text.address);
        return 0;
    case HostText::Name:
        break;
    }
    addrinfo hints{};
    hints.ai_family = familyHint(choice);
    hints.ai_socktype = SOCK_STREAM;  // one entry per address, not one per socket type
    hints.ai_flags = AI_CANONNAME;
    addrinfo *res = nullptr;
    errno = 0;
    const int rc = getaddrinfo(text.lookup.c_str(), nullptr, &hints, &res);
    if (rc != 0)
        return ResolverToCode(rc, errno);
    for (addrinfo *ai = res; ai; ai = ai->ai_next) {
        const IpAddress a = FromSockaddr(ai->ai_addr);
        if (!allowedBy(choice, a.family))
            continue;
        if (entry.name.empty() && ai->ai_canonname)
            entry.name = ai->ai_canonname;
        addAddress(entry, a);
    }
    freeaddrinfo(res);
    if (entry.addresses.empty())
        return kErrNoData;
    if (entry.name.empty())
        entry.name = text.lookup;
    return 0;
}

} // namespace

void SetFamilyChoice(FamilyChoice choice) { gFamilyChoice.store(choice); }
FamilyChoice CurrentFamilyChoice() { return gFamilyChoice.load(); }
bool FamilyAllowed(Family family) { return allowedBy(CurrentFamilyChoice(), family); }

int LookupHost(const std::string &host, HostEntry &entry)
{
    return lookupForward(host, CurrentFamilyChoice(), entry);
}

int LookupName(const std::string &host, HostEntry &entry)
{
    return lookupForward(host, FamilyChoice::IPv4Only, entry);
}

int LookupAddress(const IpAddress &address, HostEntry &entry)
{
    entry = HostEntry{};
    sockaddr_storage ss;
    const unsigned len = ToSockaddr(address, 0, ss);
    if (len == 0)
        return kErrInvalid;
    char name[NI_MAXHOST] = {};
    errno = 0;
    const int rc = getnameinfo(reinterpret_cast<const sockaddr *>(&ss), len, name, sizeof name,
                               nullptr, 0, NI_NAMEREQD);
    if (rc != 0)
        return ResolverToCode(rc, errno);
    entry.name = name;
    addAddress(entry, address);
    return 0;
}

int LookupAddr(std::uint32_t addr, HostEntry &entry)
{
    return LookupAddress(IpAddress::V4(addr), entry);
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

unsigned AsyncLookupHost(QObject *context, const std::string &host, LookupDone done)
{
    // The choice as it is now: changing it later does not change this request.
    const FamilyChoice choice = CurrentFamilyChoice();
    return startLookup(context, std::move(done), [host, choice](HostEntry &e) {
        return lookupForward(host, choice, e);
    });
}

unsigned AsyncLookupName(QObject *context, const std::string &host, LookupDone done)
{
    return startLookup(context, std::move(done),
                       [host](HostEntry &e) { return LookupName(host, e); });
}

unsigned AsyncLookupAddress(QObject *context, const IpAddress &address, LookupDone done)
{
    return startLookup(context, std::move(done),
                       [address](HostEntry &e) { return LookupAddress(address, e); });
}

unsigned AsyncLookupAddr(QObject *context, std::uint32_t addr, LookupDone done)
{
    return AsyncLookupAddress(context, IpAddress::V4(addr), std::move(done));
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
