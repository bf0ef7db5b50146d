// The checks of a diagnosis, run on its worker thread, and the state that
// thread shares with the owner's (the lookups' answers, the abandonment).
#pragma once

#include "diagnosis/diagnosis.h"

#include <condition_variable>
#include <cstdint>
#include <mutex>

namespace diagnosis {

struct TRun {
    // A probed name and what the resolver said of it.
    struct TName {
        std::string Host;
        unsigned Handle = 0;   // the lookup's, while it is asked
        bool Done = false;
        int Error = 0;         // 0 or the resolver's code
    };

    TDiagnosisRequest Request;
    std::int64_t StartNs = 0;

    std::mutex Lock;                  // guards what follows
    std::condition_variable Changed;  // a lookup was answered, or the run abandoned
    std::vector<TName> Names;
    bool Closed = false;              // the owner is gone or gave up: tell nobody
};

// Climbs the ladder for every family in use and says what it found. Runs on
// the worker thread; waits for the lookups' answers in 'run' (Names) no later
// than the request's LookupTimeoutMs after StartNs.
TDiagnosisResult RunLadder(TRun &run);

// The names to ask: the targets given as names (not address texts), once each.
std::vector<std::string> ProbedNames(const TDiagnosisRequest &request);

} // namespace diagnosis
