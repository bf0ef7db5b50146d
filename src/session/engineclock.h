// The clock a session stamps its events with: the wall clock in UTC and the
// monotonic clock. The program runs on the system's clocks; a test hands the
// engine a clock it moves by hand, so that outage lengths and the times of
// results are figures it chose rather than whatever the machine took.
#pragma once

#include "session/sessionevents.h"

class TEngineClock {
public:
    virtual ~TEngineClock() = default;
    // The moment now, on both clocks.
    virtual TStamp Now() const = 0;
    // The monotonic clock in whole milliseconds.
    qint64 MonoMs() const { return Now().MonoNs / 1'000'000; }
};

// The system's clocks (TStamp::Now).
class TSystemClock final : public TEngineClock {
public:
    TStamp Now() const override { return TStamp::Now(); }
    // The one the engine uses unless it is given another.
    static TSystemClock &Instance()
    {
        static TSystemClock clock;
        return clock;
    }
};
