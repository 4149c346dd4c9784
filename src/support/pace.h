#pragma once
// The deadlines of one request's pauses. Header-only, with nothing of the project below it, so
// every platform that sleeps for its pauses keeps the same pace.
//
// Each pause ends at its deadline: the previous pause's deadline plus this pause. The time spent
// posting between pauses and each sleep's overshoot therefore do not add up over a request: a
// 350 ms move of 140 steps ends 350 ms after its first step, not 140 overshoots later. The chain
// starts afresh at a request's first pause, after a wait of the platform's own, and after a stall
// longer than the pause itself (a busy server): a stall is not made up for by a burst of events.

#include <chrono>
#include <optional>

namespace vantrel {

struct Pace {
    // The deadline of the previous pause of the chain; none when the next pause starts one.
    std::optional<std::chrono::steady_clock::time_point> mark;
};

// Where the pause of `length` that starts `now` is to end, and the chain's new mark.
inline std::chrono::steady_clock::time_point nextDeadline(Pace& pace,
                                                          std::chrono::steady_clock::time_point now,
                                                          std::chrono::microseconds length) {
    bool chained = pace.mark && now - *pace.mark <= length;
    std::chrono::steady_clock::time_point deadline = (chained ? *pace.mark : now) + length;
    pace.mark = deadline;
    return deadline;
}

// The next pause starts a chain of its own.
inline void restartPace(Pace& pace) {
    pace.mark.reset();
}

} // namespace vantrel
