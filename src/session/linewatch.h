// "Only when the line is idle": whether the line a probe goes over carried
// traffic other than the probes, both ways, since the last probe. The
// counters are those of the interface the route to the probe's target
// leaves by, remembered each time a probe ends or is skipped.
#pragma once

#include "platform/linetraffic.h"

#include <QString>
#include <QString>

#include <functional>
#include <map>
#include <optional>

// Whether packets other than the probes' own went both out and in between
// two readings of the same interface's counters. 'ownTx'/'ownRx': packets
// the probes still sent/received after the first reading (a web probe's
// connection closing). Counters that went back (the interface was
// recreated) or another interface: no.
bool OtherTraffic(const platform::TLineCounters &before, const platform::TLineCounters &now, quint64 ownTx,
                  quint64 ownRx);

class TLineWatch {
public:
    // Reads the counters of the line 'target' is reached over; the kernel's
    // route and /sys by default.
    std::function<std::optional<platform::TLineCounters>(const QString &target)> Read;

    TLineWatch();
    // A probe to 'target' ended or was skipped: the counters from here on.
    void Mark(const QString &target);
    // Whether the line to 'target' carried other traffic since it was last
    // marked; 'ownTail' packets each way are the probes' own. No when it
    // was never marked or cannot be read.
    bool Busy(const QString &target, quint64 ownTail) const;
    void Clear() { marks_.clear(); }

private:
    std::map<QString, platform::TLineCounters> marks_;   // by interface
};
