// The deadlines of a request's pauses, on a clock the test drives: no real time passes, so what
// is checked is the chain itself, not the speed of this machine.

#include "support/pace.h"

#include <gtest/gtest.h>

namespace vantrel {
namespace {

using std::chrono::microseconds;
using Time = std::chrono::steady_clock::time_point;

TEST(Pace, OvershootAndPostingBetweenPausesDoNotAddUp) {
    Pace pace;
    const Time start{std::chrono::seconds(100)};
    const microseconds step(2500);
    Time now = start;
    Time deadline{};
    for (int i = 1; i <= 140; ++i) {
        deadline = nextDeadline(pace, now, step);
        EXPECT_EQ(deadline, start + i * step) << "pause " << i;
        // Each sleep ends 90 µs late, and posting the next step takes 40 µs.
        now = deadline + microseconds(90) + microseconds(40);
    }
    // 140 pauses of 2.5 ms end 350 ms after the first began, not 140 × 130 µs later.
    EXPECT_EQ(deadline - start, microseconds(350000));
}

TEST(Pace, AChainStartsAfreshAtARestartAndAfterAStallLongerThanThePause) {
    Pace pace;
    const Time start{std::chrono::seconds(5)};
    const microseconds step(8000);
    EXPECT_EQ(nextDeadline(pace, start, step), start + step);

    // The platform waited on its own (a binding settling): the next pause is measured from now.
    restartPace(pace);
    Time later = start + microseconds(50000);
    EXPECT_EQ(nextDeadline(pace, later, step), later + step);

    // Behind by exactly one pause is still made up for ...
    Time behind = later + step + step;
    EXPECT_EQ(nextDeadline(pace, behind, step), later + step + step);
    // ... but a stall longer than the pause is not turned into a burst of events.
    Time stalled = later + 2 * step + step + microseconds(1);
    EXPECT_EQ(nextDeadline(pace, stalled, step), stalled + step);
}

} // namespace
} // namespace vantrel
