#pragma once
// Waiting that a stop signal cuts short. Header-only, with nothing of the project below it, so
// every platform's pause and the request loop's wait for input behave alike.
//
// vantrel keeps its stop signals blocked everywhere except inside these waits, which unblock
// them atomically (pselect with an empty mask). A signal can therefore be taken only while
// vantrel waits, never between a check and the wait that follows it, and a wait it ends does not
// resume: EINTR means a stop was recorded. Signals vantrel ignores (SIGPIPE) never end a wait.

#include <sys/select.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdint>

namespace vantrel {

using WaitClock = std::chrono::steady_clock;

namespace detail {
// One pselect with every signal unblocked: its result, -1 with errno set on failure.
inline int selectUnblocked(int fds, fd_set* readable, const timespec* timeout) {
    sigset_t none;
    sigemptyset(&none);
    return ::pselect(fds, readable, nullptr, nullptr, timeout, &none);
}
inline bool signalled(int result) {
    return result < 0 && errno == EINTR;
}
} // namespace detail

// Sleeps until `deadline`; false as soon as a signal handler runs.
inline bool sleepUntil(WaitClock::time_point deadline) {
    for (;;) {
        auto left =
            std::chrono::duration_cast<std::chrono::nanoseconds>(deadline - WaitClock::now());
        if (left.count() <= 0) return true;
        timespec timeout{static_cast<time_t>(left.count() / 1000000000),
                         static_cast<long>(left.count() % 1000000000)};
        if (detail::signalled(detail::selectUnblocked(0, nullptr, &timeout))) return false;
    }
}

// Sleeps `microseconds` (at least, as select promises); false as soon as a signal handler runs.
inline bool sleepFor(uint32_t microseconds) {
    timespec timeout{static_cast<time_t>(microseconds / 1000000),
                     static_cast<long>(microseconds % 1000000) * 1000};
    return !detail::signalled(detail::selectUnblocked(0, nullptr, &timeout));
}

// Takes any signal that is pending, without waiting; false when a handler ran.
inline bool takePendingSignals() {
    timespec now{0, 0};
    return !detail::signalled(detail::selectUnblocked(0, nullptr, &now));
}

// Waits until `fd` can be read (data, end of input, or an error such as a closed descriptor,
// which the read that follows reports); false as soon as a signal handler runs.
inline bool waitReadable(int fd) {
    for (;;) {
        fd_set readable;
        FD_ZERO(&readable);
        FD_SET(fd, &readable);
        int result = detail::selectUnblocked(fd + 1, &readable, nullptr);
        if (detail::signalled(result)) return false;
        if (result < 0 || FD_ISSET(fd, &readable)) return true;
    }
}

} // namespace vantrel
