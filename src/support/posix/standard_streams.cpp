// Standard input and output on POSIX systems: descriptors 0 and 1, which carry bytes as they are.

#include "support/standard_streams.h"

#include "support/posix/fd_wait.h"

#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>

namespace vantrel {

void prepareStandardStreams() {
    // A reader that closes its end must not kill the process: the failed write tells the loop.
    std::signal(SIGPIPE, SIG_IGN);
}

Wake waitForInput(WaitClock::time_point deadline) {
    if (deadline == WaitClock::time_point::max())
        return waitReadable(STDIN_FILENO) ? Wake::readable : Wake::stop;
    return waitUntil(deadline, STDIN_FILENO);
}

long readInput(char* buffer, size_t size) {
    ssize_t got = ::read(STDIN_FILENO, buffer, size);
    if (got < 0 && (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK)) return -1;
    return got < 0 ? 0 : static_cast<long>(got);
}

bool writeOutput(std::string_view bytes) {
    // One write call where the pipe allows it; the loop covers partial writes, and a
    // non-blocking standard output that is full is waited for rather than taken for gone.
    while (!bytes.empty()) {
        ssize_t written = ::write(STDOUT_FILENO, bytes.data(), bytes.size());
        if (written < 0) {
            if (errno == EINTR) continue;
            if (errno == EAGAIN || errno == EWOULDBLOCK) {
                pollfd out{STDOUT_FILENO, POLLOUT, 0};
                (void)::poll(&out, 1, -1);
                continue;
            }
            return false;
        }
        bytes.remove_prefix(static_cast<size_t>(written));
    }
    return true;
}

} // namespace vantrel
