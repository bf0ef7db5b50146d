// THopTable: where each hop of one traceroute stands while several probes
// are out at once, which hop may be sent next, whose turn it is to be
// reported, and when a hop that keeps silent is given up. Pure bookkeeping:
// no sockets, no threads and no clock of its own (times are passed in, in
// microseconds of the monotonic clock), so every rule here is tested alone.
#pragma once

#include "platform/icmpecho.h"

#include <cstdint>
#include <string>
#include <vector>

class THopTable {
public:
    enum class TStage {
        Unsent,   // not sent yet
        Out,      // its echo is out, nothing came back
        Done,     // its echo ended: an answer, the worker's own time-out or a failure
        GivenUp,  // silent while a later hop answered, and waited for long enough
    };

    struct THop {
        TStage stage = TStage::Unsent;
        bool left = false;              // Out: its echo is known to be on the wire
        std::int64_t sentUs = 0;        // when its echo was sent, then when it left
        std::int64_t rttUs = -1;        // Done: how long the echo took
        std::int32_t code = 0;          // Done: the echo's result (0: a reply record came)
        platform::IcmpEchoReply reply;  // Done: the reply record
        platform::IpAddress from;       // Done: who sent it (either family); None when nobody did
        bool nameDue = false;           // Done: the replying host's name is still being looked up
        std::string name;               // the replying host's name; empty when it has none
    };

    // Probes out at once, counted from the hop whose turn it is, as traceroute
    // sends its "simultaneous" probes: the hops already answered but not yet
    // reported hold their place, so what waits for its turn stays bounded.
    static constexpr int kWindow = 16;
    // A silent hop is waited for this many times the round trip of the
    // nearest later hop that answered (traceroute's "near" factor) ...
    static constexpr int kNearFactor = 10;
    // ... but never less than this: round trips on a LAN are a fraction of a
    // millisecond, while a router's own ICMP may come a few ms late.
    static constexpr std::int64_t kMinSilentWaitUs = 10'000;

    // A new run: hops 1..hopLimit, each waited for at most timeOutMs.
    void Reset(int hopLimit, int timeOutMs);

    // The hop that may be sent now, or 0: hops go out in order, within the
    // window, and none beyond the target once it has answered.
    int NextToSend() const;
    // Hop ttl (the one NextToSend gave) was handed to its thread at nowUs.
    void Sent(int ttl, std::int64_t nowUs);
    // Hop ttl's echo went on the wire at atUs. Only from then on may a
    // silent hop be given up: a probe whose thread started late is not
    // taken for a silent router.
    void Left(int ttl, std::int64_t atUs);
    // The echo of hop ttl ended with 'code' after rttUs, answered by 'from'
    // (None when nobody answered); nameDue when its name follows through
    // Named. An echo reply (code 0, status 0) marks the target's hop:
    // nothing beyond it is sent or reported. False when the hop is no longer
    // waited for (given up, or beyond the target).
    bool Answered(int ttl, std::int32_t code, const platform::IcmpEchoReply &reply,
                  std::int64_t rttUs, bool nameDue, const platform::IpAddress &from = {});
    // The name of hop ttl's replying host came (empty: it has none).
    void Named(int ttl, const std::string &name);
    // Gives up the silent hops whose wait is over at nowUs. Returns when the
    // next silent hop's wait will be over, or -1 when no hop waits for a
    // give-up (a hop with no later answer waits for its echo's own time-out).
    std::int64_t GiveUp(std::int64_t nowUs);

    // The hop whose turn it is when everything about it is known, else 0.
    int Ready() const;
    // The hop whose turn it was has been reported.
    void Reported();
    // The hop whose turn it is (1 at the start).
    int NextToReport() const { return report_; }
    // The last hop of the run: the hop limit, or the target's hop once known.
    int LastHop() const { return last_; }
    // Hops sent and not yet Done or given up, below the last hop.
    int OutCount() const;
    const THop &Hop(int ttl) const { return hops_[std::size_t(ttl - 1)]; }

    // How long a silent hop is waited for: the whole time-out while no later
    // hop has answered (laterRttUs < 0), else kNearFactor times the round
    // trip of the nearest later hop that answered, at least
    // kMinSilentWaitUs and at most the time-out.
    static std::int64_t SilentWaitUs(std::int64_t laterRttUs, int timeOutMs);

private:
    THop &At(int ttl) { return hops_[std::size_t(ttl - 1)]; }
    bool Counts(int ttl) const { return ttl >= 1 && ttl <= last_; }

    std::vector<THop> hops_;
    int timeOutMs_ = 0;
    int next_ = 1;     // next hop to send
    int report_ = 1;   // hop whose turn it is
    int last_ = 0;     // hop limit, or the target's hop
};
