// Stop requests on POSIX systems: SIGTERM, SIGINT, SIGHUP and SIGQUIT.

#include "support/stop.h"

#include "support/posix/fd_wait.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>

namespace vantrel {

const std::string_view stopRequestNames = "SIGTERM, SIGINT, SIGHUP or SIGQUIT";

namespace {

constexpr int stopSignals[] = {SIGTERM, SIGINT, SIGHUP, SIGQUIT};

// What a handler may do: note which signal came (the first one wins) and wake the wait in
// progress through the pipe every wait watches.
volatile std::sig_atomic_t recorded = 0;
volatile std::sig_atomic_t wakeWriteEnd = -1;

extern "C" void recordStop(int signal) {
    if (recorded == 0) recorded = signal;
    int saved = errno;
    if (wakeWriteEnd >= 0) (void)!::write(wakeWriteEnd, "s", 1);
    errno = saved;
}

sigset_t stopSet() {
    sigset_t set;
    sigemptyset(&set);
    for (int signal : stopSignals)
        sigaddset(&set, signal);
    return set;
}

// Neither end is inherited by a child, and the write end never blocks the handler: a full pipe
// already wakes every wait.
// Both ends are moved above the standard descriptors, which a parent may have started vantrel
// without: a pipe on descriptor 0 would be read as the requests.
bool makeWakePipe(int ends[2]) {
    int made[2];
    if (::pipe(made) != 0) return false;
    for (int i = 0; i < 2; ++i) {
        ends[i] = ::fcntl(made[i], F_DUPFD_CLOEXEC, 3);
        ::fcntl(ends[i], F_SETFL, ::fcntl(ends[i], F_GETFL) | O_NONBLOCK);
    }
    ::close(made[0]);
    ::close(made[1]);
    return ends[0] >= 0 && ends[1] >= 0;
}

} // namespace

void catchStopSignals() {
    sigset_t set = stopSet();
    sigprocmask(SIG_BLOCK, &set, nullptr);
    int ends[2];
    if (makeWakePipe(ends)) {
        installStopWake(ends[0]);
        wakeWriteEnd = ends[1];
    }
    struct sigaction action {};
    action.sa_handler = recordStop;
    action.sa_mask = set; // one handler at a time
    action.sa_flags = 0;  // no SA_RESTART: the wait that took the signal returns
    for (int signal : stopSignals)
        sigaction(signal, &action, nullptr);
}

int stopSignal() {
    return recorded;
}

void dieOf(int signal) {
    struct sigaction action {};
    action.sa_handler = SIG_DFL;
    sigemptyset(&action.sa_mask);
    sigaction(signal, &action, nullptr);
    sigset_t only;
    sigemptyset(&only);
    sigaddset(&only, signal);
    // Raised while still blocked, it stays pending and is delivered the moment it is unblocked.
    raise(signal);
    sigprocmask(SIG_UNBLOCK, &only, nullptr);
    std::_Exit(128 + signal); // not reached: the default action ends the process
}

} // namespace vantrel
