#pragma once
// Standard input and output as the request loop and the reply writer use them: bytes exactly as
// sent, never translated (no line ends added, no end-of-file byte), and waits for input that a
// stop cuts short. Each operating system has its variant (support/posix, support/windows); the
// build picks one.

#include "support/wait.h"

#include <cstddef>
#include <string_view>

namespace vantrel {

// Called once, first thing: standard input and output carry bytes as they are, and a reader
// that closes its end makes a write fail instead of ending the process.
void prepareStandardStreams();

// Waits until standard input can be read (data, its end, or an error), `deadline` passes, or a
// stop comes.
Wake waitForInput(WaitClock::time_point deadline = WaitClock::time_point::max());

// Reads what standard input has, at most `size` bytes, after waitForInput said readable: the
// count read; 0 at the end of input or when it cannot be read; -1 when there is nothing after all
// (the caller waits again).
long readInput(char* buffer, size_t size);

// Writes all of `bytes` to standard output, waiting while it is full. False when they cannot be
// written: the reader has gone, or standard output failed otherwise.
bool writeOutput(std::string_view bytes);

} // namespace vantrel
