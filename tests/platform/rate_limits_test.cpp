// The limits on what others may cause over and over: lines about it (CNoticeLimiter) and commands
// (CTokenBucket), driven by a clock of the test's own.
#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "platform/notice_limiter.h"
#include "platform/token_bucket.h"

namespace {
using Clock = std::chrono::steady_clock;

Clock::time_point At(double seconds) {
    return Clock::time_point() +
           std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
}

// Two lines at once, then a count every 10 s; a quiet period starts a new burst.
TEST(NoticeLimiter, SaysTheFirstFewThenCountsEveryPeriod) {
    const struct {
        double time;
        char call;           // 'n': Note, 't': TakeCount, 'f': TakeCount at the end
        const char* output;  // Note: its count line, then "said" or "-"; TakeCount: its line
    } steps[] = {
        {0.0, 'n', "said"},  {0.1, 'n', "said"},
        {0.2, 'n', "-"},     {5.0, 'n', "-"},
        {9.0, 't', ""},      {10.3, 'n', "... and 2 more bad payloads in 5 s|-"},
        {15.0, 't', ""},     {20.3, 't', "... and 1 more bad payloads in 1 s"},
        {30.4, 'n', "said"},  // 20.1 s without one: a new burst
        {30.5, 'n', "said"}, {30.6, 'n', "-"},
        {31.0, 'n', "-"},    {31.5, 'f', "... and 2 more bad payloads in 1 s"},
        {31.6, 'f', ""},
    };
    CNoticeLimiter limiter("bad payloads", 2, std::chrono::seconds(10));
    for (const auto& step : steps) {
        std::string output;
        if (step.call == 'n') {
            const CNoticeLimiter::Turn turn = limiter.Note(At(step.time));
            output =
                (turn.countLine.empty() ? "" : turn.countLine + "|") + (turn.isSaid ? "said" : "-");
        } else {
            output = limiter.TakeCount(At(step.time), step.call == 'f');
        }
        EXPECT_EQ(output, step.output) << "at " << step.time << " s";
    }
}

TEST(TokenBucket, PassesABurstThenTheSteadyRate) {
    CTokenBucket bucket(5, 10);
    const struct {
        double time;
        int tries;
        int passed;
    } steps[] = {
        {0.0, 12, 10}, {0.1, 1, 0}, {0.2, 2, 1}, {1.2, 10, 5}, {100.0, 30, 10},
    };
    for (const auto& step : steps) {
        int passed = 0;
        for (int i = 0; i < step.tries; ++i) {
            passed += bucket.Take(At(step.time)) ? 1 : 0;
        }
        EXPECT_EQ(passed, step.passed) << "at " << step.time << " s";
    }
}

}  // namespace
