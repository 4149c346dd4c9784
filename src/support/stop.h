#pragma once
// Stopping. SIGTERM, SIGINT, SIGHUP and SIGQUIT are recorded by a handler that does nothing else,
// and the action in progress unwinds at its next pause, so that what vantrel holds can be released
// before the process dies of the same signal. The reader of standard output going away stops an
// action the same way, and so does the loss of the connection the action posts through, which
// ends only that action.

#include <cstdint>
#include <string>

namespace vantrel {

// Thrown at the first pause after a stop signal was recorded; caught by the request loop. The
// interrupted request gets no reply.
struct Stopped {};

// Thrown at the first pause after the reader of standard output has gone; caught by the request
// loop, which ends as when a reply cannot be written.
struct ReaderGone {};

// Thrown at the first pause after the connection to the input services broke; caught by the
// dispatcher, which answers the request with the "input connection lost" error and `detail`.
struct ConnectionLost {
    std::string detail;
};

// Blocks the stop signals (they are taken only inside the waits of support/wait.h) and installs
// their recording handlers. Called once, first thing.
void catchStopSignals();

// The stop signal recorded, or 0.
int stopSignal();

// Pauses `microseconds` through the platform, then throws what stops the action, if anything
// does: Stopped, ReaderGone or ConnectionLost, in that order.
void pauseOrStop(uint32_t microseconds);

// Throws Stopped if a stop signal came, ReaderGone if the reader of standard output has gone.
void stopIfSignalled();

// Throws ConnectionLost if the platform says its connection broke.
void stopIfConnectionLost();

// Restores the signal's default disposition, unblocks it and raises it, so that the parent sees
// the process die of the signal it sent.
[[noreturn]] void dieOf(int signal);

} // namespace vantrel
