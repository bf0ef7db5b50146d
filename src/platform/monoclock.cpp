#include "platform/monoclock.h"

#include <cerrno>
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

} // namespace platform
