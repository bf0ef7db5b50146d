// The shared check that a completion still belongs to its run.
#include "components/runguard.h"

#include <gtest/gtest.h>

#include <vector>

TEST(RunGuard, ACompletionIsRefusedOnceItsRunEndedOrWasReplaced)
{
    enum Step { Begin, End };
    struct Case {
        const char *name;
        std::vector<Step> after;   // what happens between taking the ticket and completing
        bool current;              // IsCurrent: the run goes on and is the ticket's
        bool latest;               // IsLatest: no newer run began
    };
    const Case cases[] = {
        {"nothing happened", {}, true, true},
        {"switched off", {End}, false, true},
        {"switched off and on again", {End, Begin}, false, false},
        {"restarted without an end", {Begin}, false, false},
        {"switched off twice", {End, End}, false, true},
        {"restarted, then off", {Begin, End}, false, false},
    };
    for (const Case &c : cases) {
        TRunGuard run;
        const TRunGuard::TTicket ticket = run.Begin();
        for (Step s : c.after) {
            if (s == Begin)
                run.Begin();
            else
                run.End();
        }
        EXPECT_EQ(run.IsCurrent(ticket), c.current) << c.name;
        EXPECT_EQ(run.IsLatest(ticket), c.latest) << c.name;
    }
}

TEST(RunGuard, NoTicketBelongsToARunBeforeTheFirstOne)
{
    TRunGuard run;
    EXPECT_FALSE(run.Active());
    EXPECT_EQ(run.Current(), TRunGuard::NoRun);
    EXPECT_FALSE(run.IsCurrent(TRunGuard::NoRun));
    const TRunGuard::TTicket first = run.Begin();
    EXPECT_NE(first, TRunGuard::NoRun);
    EXPECT_TRUE(run.Active());
    EXPECT_FALSE(run.IsCurrent(TRunGuard::NoRun));
    // Every run gets a ticket of its own.
    const TRunGuard::TTicket second = run.Begin();
    EXPECT_NE(first, second);
    EXPECT_EQ(run.Current(), second);
    run.End();
    EXPECT_FALSE(run.Active());
    EXPECT_EQ(run.Current(), second);
}
