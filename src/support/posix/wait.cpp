// The waits of support/wait.h on POSIX systems: a poll or a select that watches the stop pipe
// and standard output (support/posix/fd_wait.h).

#include "support/wait.h"

#include "support/posix/fd_wait.h"

namespace vantrel {

bool sleepUntil(WaitClock::time_point deadline) {
    return waitUntil(deadline) != Wake::stop;
}

// At most two calls, with no clock read: a wait from 50 ms up watches standard output with a
// poll for its milliseconds, and a select on the stop pipe always takes the rest (or nothing).
bool sleepFor(uint32_t microseconds) {
    uint32_t ms = microseconds >= 50000 ? microseconds / 1000 : 0;
    if (ms > 0 && detail::pollOnce(-1, static_cast<int>(ms)) == Wake::stop) return false;
    return detail::selectOnce(std::chrono::microseconds(microseconds - ms * 1000)) != Wake::stop;
}

bool takePendingSignals() {
    return detail::pollOnce(-1, 0) != Wake::stop;
}

bool outputReaderGone() {
    if (detail::watchedOutputFd() < 0) return false;
    pollfd out{detail::watchedOutputFd(), detail::outputEvents, 0};
    return ::poll(&out, 1, 0) > 0 && detail::readerGoneIn(out.revents);
}

} // namespace vantrel
