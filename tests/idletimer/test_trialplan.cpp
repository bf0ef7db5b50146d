// The finder's trial plan driven by a simulated clock: every trial ends
// after its silence, and its answer comes back exactly when the silence is
// shorter than the timer the row sets.
#include "idletimer/trialplan.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <map>

using idletimer::TTrialPlan;

namespace {

struct TRun {
    TTrialPlan::TState State;
    int Alive = 0;
    int Gone = 0;
    int Estimate = 0;
    int Trials = 0;
    int Seconds = 0;   // simulated time until the verdict
};

// 'timer' < 0: nothing on the way drops the mapping.
TRun Simulate(const TTrialPlan::TSettings &s, int timer)
{
    TTrialPlan plan(s);
    std::multimap<int, int> ends;   // time -> silence
    int now = 0;
    for (int guard = 0; guard < 1000 && plan.State() == TTrialPlan::TState::Running; ++guard) {
        for (int t : plan.Next())
            ends.emplace(now + t, t);
        if (ends.empty())
            break;
        auto first = ends.begin();
        now = first->first;
        const int silence = first->second;
        ends.erase(first);
        plan.Outcome(silence, timer < 0 || silence < timer);
        for (int moot : plan.Moot()) {
            for (auto it = ends.begin(); it != ends.end(); ++it) {
                if (it->second == moot) {
                    ends.erase(it);
                    plan.Dropped(moot);
                    break;
                }
            }
        }
    }
    return {plan.State(), plan.Alive(), plan.Gone().value_or(0), plan.Estimate(), plan.Started(), now};
}

} // namespace

TEST(TrialPlan, FindsTheTimerWithinItsTolerance)
{
    struct Row {
        int timer;
        int longest;
        int maxSeconds;   // the verdict comes by then
    } rows[] = {
        {30, 1800, 300},  {31, 1800, 300},   {120, 1800, 600},  {300, 1800, 1500},
        {7, 1800, 60},    {1000, 1800, 4000}, {7440, 7800, 23000}, {16, 1800, 120},
    };
    for (const Row &r : rows) {
        SCOPED_TRACE(r.timer);
        TTrialPlan::TSettings s;
        s.Longest = r.longest;
        const TRun run = Simulate(s, r.timer);
        ASSERT_EQ(run.State, TTrialPlan::TState::Found);
        // The timer lies in the last span, and that span is narrow enough.
        EXPECT_LT(run.Alive, r.timer);
        EXPECT_GE(run.Gone, r.timer);
        EXPECT_LE(run.Gone - run.Alive, std::max(5.0, 0.05 * run.Alive));
        EXPECT_LE(std::abs(run.Estimate - r.timer), std::max(5.0, 0.05 * r.timer));
        EXPECT_LE(run.Seconds, r.maxSeconds);
        // Bounded traffic: the 10 KB goal allows about 80 UDP trials.
        EXPECT_LE(run.Trials, 40);
    }
}

TEST(TrialPlan, NothingDropsTheMappingWithinTheLongestSilence)
{
    TTrialPlan::TSettings s;
    s.Longest = 100;
    const TRun run = Simulate(s, -1);
    EXPECT_EQ(run.State, TTrialPlan::TState::AtLeast);
    EXPECT_EQ(run.Alive, 100);
    EXPECT_EQ(run.Seconds, 100);
    // 15, 30, 60 and the longest itself, all at once.
    EXPECT_EQ(run.Trials, 4);
}

TEST(TrialPlan, ShortFirstSilenceAndTightToleranceForTests)
{
    TTrialPlan::TSettings s;
    s.First = 2;
    s.Longest = 60;
    s.Floor = 1;
    const TRun run = Simulate(s, 6);
    ASSERT_EQ(run.State, TTrialPlan::TState::Found);
    EXPECT_EQ(run.Gone - run.Alive, 1);
    EXPECT_EQ(run.Gone, 6);
}

TEST(TrialPlan, LongerTrialsAreMootOnceOneIsLost)
{
    TTrialPlan::TSettings s;
    s.Longest = 240;
    TTrialPlan plan(s);
    EXPECT_EQ(plan.Next(), (std::vector<int>{15, 30, 60, 120, 240}));
    EXPECT_TRUE(plan.Next().empty());
    plan.Outcome(15, true);
    EXPECT_TRUE(plan.Moot().empty());
    plan.Outcome(30, false);
    EXPECT_EQ(plan.Moot(), (std::vector<int>{60, 120, 240}));
    // An outcome that contradicts the span (a longer silence outlived) is noise.
    plan.Outcome(60, true);
    EXPECT_EQ(plan.Alive(), 15);
    EXPECT_EQ(plan.Gone(), 30);
    // The span 15..30 is cut at evenly spaced points, all at once.
    EXPECT_EQ(plan.Next(), (std::vector<int>{20, 25}));
}

TEST(TrialPlan, ThreeTrialsWithoutAcknowledgementFailThePlan)
{
    TTrialPlan::TSettings s;
    s.Longest = 30;
    TTrialPlan plan(s);
    ASSERT_EQ(plan.Next(), (std::vector<int>{15, 30}));
    plan.Failed(15);
    plan.Failed(30);
    EXPECT_EQ(plan.State(), TTrialPlan::TState::Running);
    // Both are tried again; a third failure ends it.
    EXPECT_EQ(plan.Next(), (std::vector<int>{15, 30}));
    plan.Failed(30);
    EXPECT_EQ(plan.State(), TTrialPlan::TState::Failed);
    EXPECT_TRUE(plan.Next().empty());
}
