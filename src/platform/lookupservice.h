// TLookupService: every name lookup of the program, on one bounded pool of
// threads. The system resolver (getaddrinfo/getnameinfo, so nsswitch,
// /etc/hosts and resolv.conf) blocks its caller and cannot be interrupted,
// so each lookup needs a thread of its own while it runs; the pool holds at
// most kMaxThreads of them for the whole program (an ISP tree asks 64 names
// at once; the session and the other tools share what is left of the bound
// with it) and queues the rest, first come first asked.
//
// Answers reach the asker on the thread of a context QObject through its
// event loop, or on the asker's own thread when it waits (Wait). A request
// is known by its handle: Cancel takes a queued one out before it is asked,
// and a started one's answer is dropped (the thread finishes the question
// on its own; the asker no longer waits for it).
#pragma once

#include "platform/resolver.h"

#include <QObject>
#include <functional>
#include <memory>
#include <string>

namespace platform {

// One question for the resolver.
struct TLookupRequest {
    enum TKind { Forward, Reverse };
    TKind Kind = Forward;
    std::string Host;             // forward: a host text (ReadHostText rules)
    IpAddress Address;            // reverse: the address whose name is wanted
    // Forward: which families may come back (an address literal of another
    // family fails with 10047).
    FamilyChoice Family = FamilyChoice::Automatic;
    // Answers of a context's ordered requests are handed on in the order they
    // were asked, an early one held back until those before it are answered
    // or cancelled. Requests without it are handed on as they come.
    bool Ordered = false;

    static TLookupRequest ForName(std::string host, FamilyChoice family, bool ordered = false);
    static TLookupRequest ForAddress(const IpAddress &address, bool ordered = false);
};

// Asks one request of the system resolver on the calling thread; 0 or a
// resolver code. What the pool's threads run; nothing else should block on it.
int ResolveOnThisThread(const TLookupRequest &request, HostEntry &entry);

// The queue, the handle table and the threads, shared with the threads and
// the answers on their way (lookupservice.cpp).
struct TLookupState;

class TLookupService {
public:
    // The most lookups on their threads at once, program-wide: an ISP tree's
    // block is asked 64 at a time. (QtNetwork's own host lookups stop at 20.)
    static constexpr int kMaxThreads = 64;

    explicit TLookupService(int maxThreads = kMaxThreads);
    // Shuts down (see Shutdown).
    ~TLookupService();
    TLookupService(const TLookupService &) = delete;
    TLookupService &operator=(const TLookupService &) = delete;

    // Queues a request. Returns its non-zero handle, or 0 without a context
    // or after Shutdown. done runs on context's thread, never inside this
    // call, and not at all once the request is cancelled or context is gone.
    unsigned Submit(QObject *context, TLookupRequest request, LookupDone done);
    // Asks a request on the pool and blocks the calling thread (never one of
    // the pool's) until it is answered; 0 or a resolver code, 10004 when the
    // service shuts down first.
    int Wait(TLookupRequest request, HostEntry &entry);
    // Forgets a request: a queued one is never asked, a started one's answer
    // is dropped. 0, or 10022 when the handle is not pending.
    int Cancel(unsigned handle);
    // Drops every queued request and every answer still to come, and joins
    // the threads (a question already with the resolver ends within the
    // resolver's own time-out). Submit refuses from here on.
    void Shutdown();

    // The run's address family ([Network] AddressFamily, or -4/-6 for the
    // whole run), which the composition sets on its service: the family the
    // program's components ask with. Automatic until set. A request keeps
    // the family it was made with.
    void SetRunFamily(FamilyChoice choice);
    FamilyChoice RunFamily() const;

    // Threads made so far (made one at a time, when a request finds none idle).
    int Threads() const;
    // Lookups on threads now (cancelled ones included: their thread is still
    // with the resolver).
    int Busy() const;
    // The most lookups that were on threads at the same time.
    int MostBusy() const;
    // Requests queued, not yet on a thread.
    int Queued() const;
    // For tests: runs on the pool thread with the handle just before the
    // resolver is asked. May block to hold the lookup there.
    void SetStartHook(std::function<void(unsigned handle)> hook);

    // The service the program's lookups go through. The composition (the
    // window's, the service program's) installs its own for its lifetime
    // with TInstall; without one (the tests, the one-shot commands) a
    // service of the process's own is made on first use and joined at exit.
    // A function rather than a parameter because the lookups are asked deep
    // inside sockets, pings and the tools' engines, which the composition
    // creates through the features and never sees.
    static TLookupService &Installed();

    // Installs a service for the lifetime of this object (the one before
    // comes back afterwards).
    class TInstall {
    public:
        explicit TInstall(TLookupService &service);
        ~TInstall();
        TInstall(const TInstall &) = delete;
        TInstall &operator=(const TInstall &) = delete;

    private:
        TLookupService *m_previous;
    };

private:
    std::shared_ptr<TLookupState> m_state;
};

// The installed service: what the program's components ask through.
inline TLookupService &Lookups() { return TLookupService::Installed(); }

} // namespace platform
