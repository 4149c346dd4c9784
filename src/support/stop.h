#pragma once
// Stopping. Stop requests (on POSIX systems SIGTERM, SIGINT, SIGHUP and SIGQUIT; on Windows the
// console's Ctrl+C, Ctrl+Break, close, log-off and shut-down events) are recorded by a handler
// that does nothing else, and the action in progress unwinds at its next pause, so that what
// vantrel holds can be released before the process ends as the request asks. The reader of
// standard output going away stops an action the same way, and so does the loss of the
// connection the action posts through, which ends only that action.
//
// Recording and ending are per operating system (support/posix, support/windows); the build
// picks one. What follows a stop is the same everywhere.

#include <cstdint>
#include <string>
#include <string_view>

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

// The stop requests of this system, as the usage text names them.
extern const std::string_view stopRequestNames;

// Installs the recording of stop requests. On POSIX systems the stop signals are blocked, and
// taken only inside the waits of support/wait.h. Called once, first thing.
void catchStopSignals();

// The stop request recorded, as a signal number (Windows: SIGINT for Ctrl+C, SIGBREAK for
// Ctrl+Break, SIGTERM for the others), or 0.
int stopSignal();

// Pauses `microseconds` through the platform, then throws what stops the action, if anything
// does: Stopped, ReaderGone or ConnectionLost, in that order.
void pauseOrStop(uint32_t microseconds);

// Throws Stopped if a stop signal came, ReaderGone if the reader of standard output has gone.
void stopIfSignalled();

// Throws ConnectionLost if the platform says its connection broke.
void stopIfConnectionLost();

// Ends the process as the stop request would have: on POSIX systems the signal's default
// disposition is restored and the signal raised, so that the parent sees the process die of the
// signal it sent; on Windows the process exits with the status of a console process that Ctrl+C
// ended (STATUS_CONTROL_C_EXIT).
[[noreturn]] void dieOf(int signal);

} // namespace vantrel
