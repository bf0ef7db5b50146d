// Which silences the idle-timer finder tries, and when it knows enough.
// Trials run side by side: first one at every doubling of the first silence
// (15 s, 30 s, 60 s, ...) up to the longest one asked for; as soon as one is
// lost the longer ones cannot tell anything more and are dropped, and the
// span between the longest silence that was outlived and the shortest that
// was not is cut at evenly spaced points (as many at once as the span needs,
// up to a limit) until it is no wider than 5 s or 5 % of its lower end,
// whichever is larger. Pure: the caller starts the trials it is given and
// reports their outcomes, so a test drives it with a table of outcomes.
#pragma once

#include <optional>
#include <set>
#include <vector>

namespace idletimer {

class TTrialPlan {
public:
    struct TSettings {
        int First = 15;          // seconds of the first silence
        int Longest = 1800;      // --max: nothing longer is tried
        int Floor = 5;           // the span is narrowed to this many seconds...
        double Fraction = 0.05;  // ...or this share of its lower end, whichever is larger
        int Parallel = 7;        // points tried at once when the span is cut
    };

    explicit TTrialPlan(const TSettings &settings);

    // Silences to start now (each once); empty while the plan waits.
    std::vector<int> Next();
    // The outcome of a trial: whether the answer came after the silence.
    void Outcome(int silence, bool alive);
    // A trial that measured nothing (no acknowledgement): it is tried again
    // by the next Next(), at most 'retries' times in all, then the plan fails.
    void Failed(int silence);
    // Trials started whose outcome cannot change the verdict any more.
    std::vector<int> Moot() const;
    // A moot trial the caller ended without an outcome.
    void Dropped(int silence) { running_.erase(silence); }

    enum class TState { Running, Found, AtLeast, Failed };
    TState State() const { return state_; }
    // The longest silence outlived (0: none yet) and the shortest lost.
    int Alive() const { return alive_; }
    std::optional<int> Gone() const { return gone_; }
    // The timer, once found: the middle of the last span, in whole seconds.
    int Estimate() const;
    int Started() const { return started_; }
    const TSettings &Settings() const { return settings_; }

private:
    bool Narrow() const;
    void Decide();

    TSettings settings_;
    TState state_ = TState::Running;
    int alive_ = 0;
    std::optional<int> gone_;
    std::set<int> queued_;     // to be handed out by Next()
    std::set<int> running_;    // handed out, no outcome yet
    int failures_ = 0;
    int started_ = 0;
};

} // namespace idletimer
