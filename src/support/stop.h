#pragma once
// Stopping on a signal: SIGTERM, SIGINT, SIGHUP and SIGQUIT are recorded by a handler that does
// nothing else, and the action in progress unwinds at its next pause, so that what vantrel holds
// can be released before the process dies of the same signal.

#include <cstdint>

namespace vantrel {

// Thrown at the first pause after a stop signal was recorded; caught by the request loop. The
// interrupted request gets no reply.
struct Stopped {};

// Blocks the stop signals (they are taken only inside the waits of support/wait.h) and installs
// their recording handlers. Called once, first thing.
void catchStopSignals();

// The stop signal recorded, or 0.
int stopSignal();

// Pauses `microseconds` through the platform, then throws Stopped if a stop signal came.
void pauseOrStop(uint32_t microseconds);

// Throws Stopped if a stop signal came.
void stopIfSignalled();

// Restores the signal's default disposition, unblocks it and raises it, so that the parent sees
// the process die of the signal it sent.
[[noreturn]] void dieOf(int signal);

} // namespace vantrel
