#pragma once
// Waiting that a stop cuts short, the same on every operating system: every platform's pause and
// the end-of-input grace wait through these. Two things stop vantrel while it waits: a stop
// request (a signal, or a console control event on Windows), and the reader of its standard
// output going away (the driving program has ended, however it ended). Every wait here watches
// both, so a hold of minutes or an idle process notices either at once. Once a stop has come,
// every later wait returns at once.
//
// Each operating system has its variant (support/posix, support/windows); the build picks one.

#include <chrono>
#include <cstdint>

namespace vantrel {

using WaitClock = std::chrono::steady_clock;

// Why a wait ended.
enum class Wake {
    elapsed,  // its deadline passed
    readable, // what it watched can be read (data, its end, or an error)
    stop,     // a stop request was taken, or the reader of standard output has gone
};

// Sleeps until `deadline`; false as soon as a stop comes.
bool sleepUntil(WaitClock::time_point deadline);

// Sleeps `microseconds` (at least), with as few clock reads as the system allows; false as soon
// as a stop comes.
bool sleepFor(uint32_t microseconds);

// Takes any stop request that is pending, without waiting; false when a stop has come.
bool takePendingSignals();

// Whether the reader of standard output has gone, asked without waiting.
bool outputReaderGone();

} // namespace vantrel
