// TTraceProbes: the echoes of one traceroute run, each out on a short-lived
// thread of its own, and the notes those threads hand back: when the echo
// left, how it ended, then (when hop names are wanted) the replying host's
// name.
//
// The notes wait here, not in the engine, so a thread that ends after its
// run (cancelled, given up, the engine destroyed) writes into this object
// and nowhere else: Close() drops what comes later. The engine either is
// woken through the event loop (asynchronous mode) or waits here itself
// (blocking mode).
#pragma once

#include "platform/icmpecho.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

class TTraceProbes : public std::enable_shared_from_this<TTraceProbes> {
public:
    struct TNote {
        // Left: the echo is about to go on the wire (a thread may start late
        // on a busy machine, and a hop is only waited for from here on).
        enum TKind { Left, Echo, Name } kind = Echo;
        int ttl = 0;                    // the hop
        std::int64_t atUs = 0;          // left: the monotonic clock then, in microseconds
        std::int32_t code = 0;          // echo: its result (0: a reply record came)
        platform::IcmpEchoReply reply;  // echo: the reply record
        platform::IpAddress from;       // echo: who answered (either family); None when nobody did
        std::int64_t rttUs = 0;         // echo: how long it took on its thread
        std::string name;               // name: the replying host's, empty when it has none
    };

    // wake runs on a probe's thread, under this object's lock, when a note
    // arrives and none was waiting: it may post to the owner's thread and
    // must not block or call back in. Empty for an owner that waits here.
    explicit TTraceProbes(std::function<void()> wake);
    ~TTraceProbes();
    TTraceProbes(const TTraceProbes &) = delete;
    TTraceProbes &operator=(const TTraceProbes &) = delete;

    // Sends one echo of size bytes with TTL (IPv6: hop limit) ttl to dest on
    // a thread of its own, waiting at most timeOutMs. The echo handle (ICMP
    // or ICMPv6, as dest is) is opened here, on the caller's thread (and
    // network namespace); when it cannot be, the thread reports the engine's
    // "no handle" code at once. With resolve, a name note follows every echo
    // that NameFollows. False when no thread could be had (nothing was sent).
    bool Send(int ttl, const platform::IpAddress &dest, int size, int timeOutMs, bool resolve);
    // Whether the echo's note is followed by a name note: somebody answered
    // and names are wanted.
    static bool NameFollows(bool resolve, std::int32_t code, const platform::IpAddress &from);

    // The notes that came since the last call, oldest first.
    std::vector<TNote> Take();
    // Blocks the caller until a note is waiting, Close() is called or the
    // monotonic clock reaches untilNs.
    void WaitUntil(std::int64_t untilNs);
    // The run is over: notes that come later are dropped, wake is never
    // called again (it is released here, under the lock), and threads
    // waiting for another one's name lookup stop waiting.
    void Close();

    // Probe threads of all runs still running (their echo or lookup not ended).
    static int Running() { return s_running.load(); }

private:
    // Fills the name of addr (IPv6 through ip6.arpa), asked of the resolver
    // once per run however many hops (every probe beyond the target, for
    // one) are answered from it.
    std::string NameOf(const platform::IpAddress &addr);
    void Push(TNote note);
    bool Closed();
    void Probe(platform::IcmpHandle handle, int ttl, const platform::IpAddress &dest, int size,
               int timeOutMs, bool resolve);

    struct TName {
        bool done = false;
        std::string name;
    };

    std::mutex m_lock;                    // guards everything below
    std::condition_variable m_changed;    // a note came, a name came, or Close
    std::function<void()> m_wake;
    std::deque<TNote> m_notes;
    std::map<std::string, TName> m_names;   // by the address's canonical text
    bool m_closed = false;
    static inline std::atomic<int> s_running{0};
};
