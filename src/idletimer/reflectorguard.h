// What the reflector checks of a request whose tag is good, before it
// answers: that it is fresh (the sender's clock within a window of ours),
// that its nonce was not seen before (a request heard on the way and sent
// again, from anywhere, gets nothing), and that its source address has not
// used up its answers (a token bucket per address). Pure: the caller gives
// the times, so tests run it on a clock of their own. Everything it keeps
// is bounded; when a table is full it refuses rather than forgets.
#pragma once

#include "idletimer/reflectorproto.h"

#include <QString>

#include <cstdint>
#include <map>
#include <unordered_map>

namespace idletimer {

enum class TAdmit { Accept, Stale, Replayed, RateLimited, Busy };

const char *AdmitText(TAdmit verdict);

class TReflectorGuard {
public:
    struct TLimits {
        std::int64_t ClockWindowMs = 120'000;   // |their clock - ours| allowed
        double Burst = 16;                      // answers a source may get at once
        double PerSecond = 4;                   // and then per second
        std::size_t MaxNonces = 65536;          // remembered nonces
        std::size_t MaxSources = 4096;          // addresses with a bucket
    };

    TReflectorGuard() = default;
    explicit TReflectorGuard(const TLimits &limits) : limits_(limits) {}

    // Decides on one authenticated request from 'source' (an address, no
    // port: a NAT gives every trial a port of its own). 'wallMs' is our
    // clock (UTC, ms since 1970), 'monoMs' a monotonic one.
    TAdmit Admit(const QString &source, const TMessage &request, std::int64_t wallMs,
                 std::int64_t monoMs);

    std::size_t Nonces() const { return nonces_.size(); }
    std::size_t Sources() const { return buckets_.size(); }

private:
    struct TBucket {
        double Tokens = 0;
        std::int64_t AtMs = 0;
    };
    void Forget(std::int64_t monoMs);
    double Refill(TBucket &b, std::int64_t monoMs) const;

    TLimits limits_;
    std::unordered_map<std::uint64_t, std::int64_t> nonces_;   // nonce -> forget after
    std::multimap<std::int64_t, std::uint64_t> expiry_;        // forget after -> nonce
    std::map<QString, TBucket> buckets_;
};

} // namespace idletimer
