// The monotonic clock the stopwatch threads wait on. Deadlines are absolute,
// so a late wake-up never shifts the ticks that follow it.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>

namespace platform {

// Nanoseconds on CLOCK_MONOTONIC (unaffected by changes of the wall clock).
std::int64_t MonoNowNs();

// Sleeps until the monotonic clock reaches deadlineNs (clock_nanosleep with
// TIMER_ABSTIME, resumed after signals). Returns at once for a past deadline.
void SleepUntilNs(std::int64_t deadlineNs);

// Waits on cv (lk held) until it is notified or the monotonic clock reaches
// deadlineNs, whichever comes first; true when the deadline has been reached.
// Spurious wake-ups return false like a notification: callers check their
// own condition and wait again.
bool WaitUntilNs(std::condition_variable &cv, std::unique_lock<std::mutex> &lk,
                 std::int64_t deadlineNs);

} // namespace platform
