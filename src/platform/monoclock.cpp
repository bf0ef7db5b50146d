#include "platform/monoclock.h"

#include <cerrno>
#include <chrono>
#include <ctime>

namespace platform {

std::int64_t MonoNowNs()
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return std::int64_t(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

void SleepUntilNs(std::int64_t deadlineNs)
{
    timespec ts{};
    ts.tv_sec = time_t(deadlineNs / 1000000000);
    ts.tv_nsec = long(deadlineNs % 1000000000);
    // With an absolute deadline an interrupted sleep is simply repeated.
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &ts, nullptr) == EINTR) {
    }
}

bool WaitUntilNs(std::condition_variable &cv, std::unique_lock<std::mutex> &lk,
                 std::int64_t deadlineNs)
{
    // steady_clock is CLOCK_MONOTONIC here, and the library waits on it with
    // an absolute deadline (pthread_cond_clockwait), so the time points are
    // the same numbers MonoNowNs returns and nothing drifts between the two.
    using Clock = std::chrono::steady_clock;
    const Clock::time_point due{std::chrono::nanoseconds(deadlineNs)};
    return cv.wait_until(lk, due) == std::cv_status::timeout || MonoNowNs() >= deadlineNs;
}

} // namespace platform
