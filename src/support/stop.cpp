#include "support/stop.h"

#include "platform/event_services.h"

#include <csignal>
#include <cstdlib>

namespace vantrel {

namespace {

constexpr int stopSignals[] = {SIGTERM, SIGINT, SIGHUP, SIGQUIT};

// The one thing a handler may do: note which signal came. The first one wins.
volatile std::sig_atomic_t recorded = 0;

extern "C" void recordStop(int signal) {
    if (recorded == 0) recorded = signal;
}

sigset_t stopSet() {
    sigset_t set;
    sigemptyset(&set);
    for (int signal : stopSignals)
        sigaddset(&set, signal);
    return set;
}

} // namespace

void catchStopSignals() {
    sigset_t set = stopSet();
    sigprocmask(SIG_BLOCK, &set, nullptr);
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

void stopIfSignalled() {
    if (recorded != 0) throw Stopped{};
}

void pauseOrStop(uint32_t microseconds) {
    platform::pause(microseconds);
    stopIfSignalled();
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
