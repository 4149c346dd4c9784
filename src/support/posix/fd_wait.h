#pragma once
// Waiting on descriptors that a stop cuts short, on POSIX systems: the waits of support/wait.h,
// and the waits for a peer (a display server, a compositor, a bus) of the platforms that have
// one. Header-only, with nothing of the project below it but support/wait.h.
//
// Two things stop vantrel while it waits: a stop signal, and the reader of its standard output
// going away (its end of the pipe or socket closed: the driving program has ended, however it
// ended). Both are watched by every wait here, so a hold of minutes or an idle process notices
// either at once.
//
// vantrel keeps its stop signals blocked everywhere except inside these waits, which unblock them
// only around the one poll that waits. The handler writes a byte to a pipe that every wait
// watches (installStopWake), so a signal taken between the unblocking and the poll still ends
// the poll at once, and a signal left pending while blocked is taken when the next wait begins.
// The byte is never read: once a stop has come, every later wait returns at once. Signals vantrel
// ignores (SIGPIPE) never end a wait.

#include "support/wait.h"

#include <poll.h>
#include <sys/select.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <optional>

namespace vantrel {

namespace detail {

// The read end of the pipe the stop handler writes to; -1 until installStopWake.
inline int& stopWakeFd() {
    static int fd = -1;
    return fd;
}

// Standard output when it is a pipe or a socket, the kinds whose reader can go away; -1 for a
// file, a terminal (whose hang-up comes as SIGHUP) or anything else, which is not watched: some
// systems' poll answers a terminal with POLLNVAL, which would end every wait at once.
inline int& watchedOutputFd() {
    static int fd = -1;
    return fd;
}

// Whether poll's answer for standard output says its reader has gone: a pipe whose reading end
// closed reports an error, a socket whose peer closed a hang-up (asked for, since some systems
// report it only then; reported unasked on Linux), and a descriptor no longer open is taken
// the same way.
inline constexpr short outputEvents = POLLHUP;
inline bool readerGoneIn(short revents) {
    return (revents & (POLLERR | POLLHUP | POLLNVAL)) != 0;
}

// One poll with the stop signals unblocked: the stop pipe, standard output and `fd` (when not
// -1) are watched for `timeoutMs` (-1: no limit).
inline Wake pollOnce(int fd, int timeoutMs) {
    pollfd fds[3] = {
        {stopWakeFd(), POLLIN, 0}, {watchedOutputFd(), outputEvents, 0}, {fd, POLLIN, 0}};
    nfds_t count = fd >= 0 ? 3 : 2;
    sigset_t none, before;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, &before);
    int result = ::poll(fds, count, timeoutMs);
    sigprocmask(SIG_SETMASK, &before, nullptr);
    if (result < 0) return errno == EINTR ? Wake::stop : Wake::readable;
    if (fds[0].revents != 0 || readerGoneIn(fds[1].revents)) return Wake::stop;
    if (count == 3 && fds[2].revents != 0) return Wake::readable;
    return Wake::elapsed;
}

// A wait on the stop pipe alone, whose timeout has microseconds: the rest of a wait shorter than
// poll's millisecond, so short pauses keep their length.
inline Wake selectOnce(std::chrono::microseconds left) {
    fd_set readable;
    FD_ZERO(&readable);
    int wake = stopWakeFd();
    if (wake >= 0) FD_SET(wake, &readable);
    timeval timeout{static_cast<time_t>(left.count() / 1000000),
                    static_cast<suseconds_t>(left.count() % 1000000)};
    sigset_t none, before;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, &before);
    int result = ::select(wake + 1, &readable, nullptr, nullptr, &timeout);
    sigprocmask(SIG_SETMASK, &before, nullptr);
    if ((result < 0 && errno == EINTR) || (result > 0)) return Wake::stop;
    return Wake::elapsed;
}

} // namespace detail

// Called once, by the stop handling, with the read end of its wake pipe; from then on standard
// output is watched too, when it is a pipe or a socket.
inline void installStopWake(int readEnd) {
    detail::stopWakeFd() = readEnd;
    struct stat out {};
    if (::fstat(STDOUT_FILENO, &out) == 0 && (S_ISFIFO(out.st_mode) || S_ISSOCK(out.st_mode)))
        detail::watchedOutputFd() = STDOUT_FILENO;
}

// Waits until `deadline`, or until `fd` (when not -1) can be read, or a stop.
inline Wake waitUntil(WaitClock::time_point deadline, int fd = -1) {
    for (;;) {
        auto left =
            std::chrono::duration_cast<std::chrono::microseconds>(deadline - WaitClock::now());
        if (left.count() <= 0) return Wake::elapsed;
        auto whole = std::chrono::duration_cast<std::chrono::milliseconds>(left);
        Wake wake;
        if (whole.count() > 0) {
            // poll's timeout is an int of milliseconds; a longer wait goes round again.
            int ms = whole.count() > 1000000 ? 1000000 : static_cast<int>(whole.count());
            wake = detail::pollOnce(fd, ms);
        } else {
            wake = detail::selectOnce(left);
        }
        if (wake != Wake::elapsed) return wake;
    }
}

// Waits until `fd` can be read or `deadline` passes, whatever else happens: for the little a
// stopping process still waits for. True when `fd` can be read.
inline bool waitReadableUntil(int fd, WaitClock::time_point deadline) {
    for (;;) {
        auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - WaitClock::now());
        if (left.count() <= 0) return false;
        pollfd in{fd, POLLIN, 0};
        int ms = left.count() > 1000000 ? 1000000 : static_cast<int>(left.count());
        int result = ::poll(&in, 1, ms);
        if (result > 0) return true;
        if (result < 0 && errno != EINTR) return false;
    }
}

// Waiting for a peer's answer (a display server, a compositor) is a wait that a stop ends, as
// every other: a frozen peer must not hold vantrel. A stopping process still asks the peer what
// releasing needs, so once a stop has come the peer has this long in all to answer, after which
// nothing more is waited for, or asked.
inline constexpr auto answerGrace = std::chrono::milliseconds(500);

namespace detail {
// When the grace after a stop runs out; none before a stop.
inline std::optional<WaitClock::time_point>& answerDeadline() {
    static std::optional<WaitClock::time_point> deadline;
    return deadline;
}
} // namespace detail

// Whether a question that needs an answer may still be sent: not once the grace has run out (a
// peer that later answers a connection that has closed may drop what came with it).
inline bool mayStillAsk() {
    const auto& deadline = detail::answerDeadline();
    return !deadline || WaitClock::now() < *deadline;
}

// Waits until the peer's `fd` can be read, or `until` passes (when the caller has a time-out of
// its own to handle); false when the grace after a stop has run out.
inline bool awaitAnswer(int fd, WaitClock::time_point until = WaitClock::time_point::max()) {
    std::optional<WaitClock::time_point>& deadline = detail::answerDeadline();
    while (!deadline) {
        Wake wake = waitUntil(std::min(until, WaitClock::now() + std::chrono::hours(24)), fd);
        if (wake == Wake::readable || WaitClock::now() >= until) return true;
        if (wake == Wake::stop) deadline = WaitClock::now() + answerGrace;
    }
    return waitReadableUntil(fd, std::min(until, *deadline)) || WaitClock::now() < *deadline;
}

// Waits until `fd` can be read (data, end of input, or an error such as a closed descriptor,
// which the read that follows reports); false as soon as a stop comes.
inline bool waitReadable(int fd) {
    for (;;) {
        Wake wake = detail::pollOnce(fd, -1);
        if (wake == Wake::stop) return false;
        if (wake == Wake::readable) return true;
    }
}

} // namespace vantrel
