#pragma once
// What the Windows variants of the waits, the stop requests and the standard streams share.

#include "support/wait.h"

#include <windows.h>

namespace vantrel::windows {

// A manual-reset event, set when a stop request is recorded and never reset: once a stop has
// come, every later wait returns at once. Made on first use, so that waits work before the
// stop requests are caught (the core's tests wait without them).
HANDLE stopEvent();

// Whether the reader of standard output has gone, asked without waiting: known where standard
// output is a pipe whose state the system reports; where it cannot tell (Wine's pipes), a
// failed write tells instead.
bool outputPipeClosing();

// Waits until `deadline`, until `extra` (when not null) is signalled, or a stop comes.
Wake waitHandles(HANDLE extra, WaitClock::time_point deadline);

} // namespace vantrel::windows
