#pragma once
// The one writer of standard output.

#include "support/reply.h"

namespace vantrel {

// Writes the reply as one line to standard output at once. False when it cannot be written: the
// reader has gone (EPIPE) or standard output failed otherwise. SIGPIPE is ignored, so that is a
// return value here, not the process's death.
bool emit(const Reply& reply);

} // namespace vantrel
