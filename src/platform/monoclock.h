// The monotonic clock the stopwatch threads wait on. Deadlines are absolute,
// so a late wake-up never shifts the ticks that follow it.
#pragma once

#include <cstdint>

namespace platform {

// Nanoseconds on CLOCK_MONOTONIC (unaffected by changes of the wall clock).
std::int64_t MonoNowNs();

// Sleeps until the monotonic clock reaches deadlineNs (clock_nanosleep with
// TIMER_ABSTIME, resumed after signals). Returns at once for a past deadline.
void SleepUntilNs(std::int64_t deadlineNs);

} // namespace platform
