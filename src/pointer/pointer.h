#pragma once
// Pointer synthesis: posting, the pointer position, clicks, eased motion, drags and scrolling.
//
// The functions that can meet a limit return the refusal's message, or nullptr when they went
// ahead. A refusal is always decided before the first event is posted, so a refused request
// leaves nothing pressed and nothing moved.

#include "platform/event_services.h"
#include "support/held.h"

#include <cstdint>
#include <string_view>

namespace vantrel {

// The pointer position; (0, 0) when it cannot be read.
Point currentLocation();

// Presses and releases `button` at `at` max(clicks, 1) times, numbering the clicks 1, 2, ...;
// 40 ms after each pair. Button 1 uses the right-button types, 2 the other-button types, every
// other value the left-button types, always carrying the value itself as the event's button.
void mouseClick(Point at, uint32_t button, int64_t clicks);
// A lone press or release of `button` at `at`: no click number, no pause. The press is held
// until a release of the same button (here, by a click, or by releaseAllHeld).
void mouseDown(Point at, uint32_t button);
void mouseUp(Point at, uint32_t button);

// Every mouse and scroll event carries the flags of the modifier keys held on their own, when
// there are any; posted through the held record.
void postMouse(uint32_t type, Point at, uint32_t button);

// An eased move from the current position, worked out before anything is posted.
struct MovePlan {
    Point start;
    Point target;
    int64_t steps = 1;
    uint32_t pauseMicroseconds = 0;
    const char* refusal = nullptr; // "point out of range" or "durationMs out of range"
};
// Reads the position once; the plan's start is where the move begins.
MovePlan planMove(Point to, int64_t durationMs);
void runMove(const MovePlan& plan);

// Moves the pointer to `to` in 1 to 140 eased steps (one per 7 points), paced over durationMs
// (negative counts as 0). Ends with a moved event exactly at `to`. While a button is held the
// moves are drags of it (moveType).
const char* animatedMove(Point to, int64_t durationMs);

// Approaches `from` over 200 ms, presses the left button, drags in 40 even steps paced over
// durationMs and releases exactly at `to`. Every limit is checked before the approach: the
// approach's, a span from `from` to `to` too long for a double, then the step pause.
const char* dragLeft(Point from, Point to, int64_t durationMs);

// Approaches `point` over 200 ms, then posts one line-unit scroll event turning the vertical
// wheel ("up" +n, "down" -n) or the horizontal one ("left" +n, "right" -n) by n = max(amount, 1)
// lines; any other direction turns neither. Refuses an amount the platform cannot carry out.
const char* scrollAt(Point point, std::string_view direction, int64_t amount);

} // namespace vantrel
