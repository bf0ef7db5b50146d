#include "idletimer/trialplan.h"

#include <algorithm>
#include <cmath>

namespace idletimer {

namespace {
// A reflector that acknowledges nothing after this many tries is not there.
constexpr int kRetries = 3;
} // namespace

TTrialPlan::TTrialPlan(const TSettings &settings) : settings_(settings)
{
    settings_.First = std::max(1, settings_.First);
    settings_.Longest = std::max(1, settings_.Longest);
    settings_.Parallel = std::max(1, settings_.Parallel);
    for (long t = settings_.First; t < settings_.Longest; t *= 2)
        queued_.insert(int(t));
    queued_.insert(settings_.Longest);
}

std::vector<int> TTrialPlan::Next()
{
    std::vector<int> out;
    if (state_ != TState::Running)
        return out;
    for (int t : queued_) {
        if (t > alive_ && (!gone_ || t < *gone_)) {
            out.push_back(t);
            running_.insert(t);
        }
    }
    queued_.clear();
    started_ += int(out.size());
    return out;
}

bool TTrialPlan::Narrow() const
{
    const double width = double(*gone_ - alive_);
    return width <= std::max(double(settings_.Floor), settings_.Fraction * alive_);
}

void TTrialPlan::Outcome(int silence, bool alive)
{
    if (!running_.erase(silence) || state_ != TState::Running)
        return;
    // An outcome that contradicts what is known (a mapping outlived a longer
    // silence than one that was lost) is noise: the span stays as it is.
    if (alive && silence > alive_ && (!gone_ || silence < *gone_))
        alive_ = silence;
    else if (!alive && silence > alive_ && (!gone_ || silence < *gone_))
        gone_ = silence;
    Decide();
}

void TTrialPlan::Failed(int silence)
{
    if (!running_.erase(silence) || state_ != TState::Running)
        return;
    if (++failures_ >= kRetries) {
        state_ = TState::Failed;
        return;
    }
    queued_.insert(silence);
}

std::vector<int> TTrialPlan::Moot() const
{
    std::vector<int> out;
    for (int t : running_) {
        if (state_ != TState::Running || t <= alive_ || (gone_ && t >= *gone_))
            out.push_back(t);
    }
    return out;
}

void TTrialPlan::Decide()
{
    if (!gone_) {
        if (alive_ >= settings_.Longest)
            state_ = TState::AtLeast;
        return;
    }
    if (Narrow()) {
        state_ = TState::Found;
        return;
    }
    // Trials still inside the span will narrow it: wait for them.
    for (int t : running_) {
        if (t > alive_ && t < *gone_)
            return;
    }
    for (int t : queued_) {
        if (t > alive_ && t < *gone_)
            return;
    }
    // Fewest points that bring the span within the tolerance in one round.
    const double width = double(*gone_ - alive_);
    const double tolerance = std::max(double(settings_.Floor), settings_.Fraction * alive_);
    int points = int(std::ceil(width / tolerance)) - 1;
    points = std::clamp(points, 1, settings_.Parallel);
    for (int i = 1; i <= points; ++i) {
        const int t = alive_ + int(std::lround(width * i / (points + 1)));
        if (t > alive_ && t < *gone_)
            queued_.insert(t);
    }
    // Whole seconds cannot cut a span of one second: it is as narrow as it gets.
    if (queued_.empty())
        state_ = TState::Found;
}

int TTrialPlan::Estimate() const
{
    if (!gone_)
        return alive_;
    return int(std::lround((alive_ + *gone_) / 2.0));
}

} // namespace idletimer
