#include "idletimer/reflectorguard.h"

#include <algorithm>
#include <cstdlib>

namespace idletimer {

const char *AdmitText(TAdmit verdict)
{
    switch (verdict) {
    case TAdmit::Accept: return "accepted";
    case TAdmit::Stale: return "clock outside the window (stale or replayed)";
    case TAdmit::Replayed: return "replayed";
    case TAdmit::RateLimited: return "over the rate limit";
    case TAdmit::Busy: return "too busy";
    }
    return "refused";
}

double TReflectorGuard::Refill(TBucket &b, std::int64_t monoMs) const
{
    const double seconds = double(std::max<std::int64_t>(0, monoMs - b.AtMs)) / 1000.0;
    b.Tokens = std::min(limits_.Burst, b.Tokens + seconds * limits_.PerSecond);
    b.AtMs = monoMs;
    return b.Tokens;
}

void TReflectorGuard::Forget(std::int64_t monoMs)
{
    while (!expiry_.empty() && expiry_.begin()->first <= monoMs) {
        nonces_.erase(expiry_.begin()->second);
        expiry_.erase(expiry_.begin());
    }
    // Sources whose bucket is full again are as good as new.
    if (buckets_.size() >= limits_.MaxSources) {
        for (auto it = buckets_.begin(); it != buckets_.end();) {
            if (Refill(it->second, monoMs) >= limits_.Burst)
                it = buckets_.erase(it);
            else
                ++it;
        }
    }
}

TAdmit TReflectorGuard::Admit(const QString &source, const TMessage &request, std::int64_t wallMs,
                              std::int64_t monoMs)
{
    Forget(monoMs);
    // Outside the window a nonce is no longer remembered, so such a request
    // could be a replay: it is refused whatever its nonce.
    if (std::llabs(request.ClockMs - wallMs) > limits_.ClockWindowMs)
        return TAdmit::Stale;
    if (nonces_.count(request.Nonce))
        return TAdmit::Replayed;

    auto bucket = buckets_.find(source);
    if (bucket == buckets_.end()) {
        if (buckets_.size() >= limits_.MaxSources)
            return TAdmit::Busy;
        bucket = buckets_.emplace(source, TBucket{limits_.Burst, monoMs}).first;
    }
    if (Refill(bucket->second, monoMs) < 1.0)
        return TAdmit::RateLimited;
    if (nonces_.size() >= limits_.MaxNonces)
        return TAdmit::Busy;

    bucket->second.Tokens -= 1.0;
    // Remembered as long as its clock could still pass the window check.
    const std::int64_t forgetAt = monoMs + 2 * limits_.ClockWindowMs + 1000;
    nonces_.emplace(request.Nonce, forgetAt);
    expiry_.emplace(forgetAt, request.Nonce);
    return TAdmit::Accept;
}

} // namespace idletimer
