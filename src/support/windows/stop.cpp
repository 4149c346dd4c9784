// Stop requests on Windows: the console's control events. Ctrl+C and Ctrl+Break come to a
// console process's handler on a thread of their own; the close, log-off and shut-down events
// too, and the system ends the process once the handler returns (or some seconds later), so
// that handler holds on while the main thread releases what vantrel holds and exits.
// TerminateProcess cannot be caught: what vantrel holds then stays held.

#include "support/stop.h"

#include "support/windows/handles.h"

#include <atomic>
#include <csignal>
#include <cstdlib>

namespace vantrel {

const std::string_view stopRequestNames =
    "Ctrl+C, Ctrl+Break, or the console's close, log-off or shut-down event";

namespace {

std::atomic<int> recorded{0};

// The exit status of a console process that Ctrl+C ended.
constexpr UINT controlCExit = 0xC000013A;

// How long the handler of a closing console holds on: the system waits about five seconds.
constexpr DWORD closingGrace = 4500;

BOOL WINAPI recordStop(DWORD type) {
    int signal = type == CTRL_C_EVENT ? SIGINT : type == CTRL_BREAK_EVENT ? SIGBREAK : SIGTERM;
    int none = 0;
    recorded.compare_exchange_strong(none, signal);
    SetEvent(windows::stopEvent());
    if (type != CTRL_C_EVENT && type != CTRL_BREAK_EVENT) Sleep(closingGrace);
    return TRUE;
}

} // namespace

HANDLE windows::stopEvent() {
    static HANDLE event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    return event;
}

void catchStopSignals() {
    (void)windows::stopEvent();
    SetConsoleCtrlHandler(recordStop, TRUE);
}

int stopSignal() {
    return recorded.load();
}

void dieOf(int) {
    ExitProcess(controlCExit);
}

} // namespace vantrel
