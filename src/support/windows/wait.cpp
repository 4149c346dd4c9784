// The waits of support/wait.h on Windows: WaitForMultipleObjects on the stop event, a waitable
// timer for the deadline and, for the input wait, the event of standard input's reader.

#include "support/wait.h"

#include "support/windows/handles.h"

#include <algorithm>

namespace vantrel {

namespace {

// CREATE_WAITABLE_TIMER_HIGH_RESOLUTION (Windows 10 1803 on): the timer keeps its time to well
// under a millisecond. Older systems refuse the flag, and an ordinary timer ends at the next
// tick of the system clock instead.
constexpr DWORD highResolutionTimer = 0x2;

HANDLE waitTimer() {
    static HANDLE timer = [] {
        HANDLE made =
            CreateWaitableTimerExW(nullptr, nullptr, highResolutionTimer, TIMER_ALL_ACCESS);
        return made != nullptr ? made : CreateWaitableTimerW(nullptr, TRUE, nullptr);
    }();
    return timer;
}

// How often a long wait asks whether the reader of standard output has gone: a pipe's closing
// cannot be waited for.
constexpr auto readerCheck = std::chrono::milliseconds(50);

} // namespace

namespace windows {

Wake waitHandles(HANDLE extra, WaitClock::time_point deadline) {
    for (;;) {
        if (WaitForSingleObject(stopEvent(), 0) == WAIT_OBJECT_0 || outputPipeClosing())
            return Wake::stop;
        auto now = WaitClock::now();
        if (deadline <= now) return Wake::elapsed;
        auto until =
            std::min(deadline, now + std::chrono::duration_cast<WaitClock::duration>(readerCheck));
        // Relative due times are negative, in units of 100 ns.
        LARGE_INTEGER due;
        due.QuadPart = -std::max<long long>(
            1, std::chrono::duration_cast<std::chrono::nanoseconds>(until - now).count() / 100);
        // The stop event first, then the input when there is one, then the timer; without a
        // timer, a wait of whole milliseconds, rounded up.
        HANDLE handles[3] = {stopEvent(), extra, nullptr};
        DWORD count = extra != nullptr ? 2 : 1;
        DWORD timeout =
            static_cast<DWORD>(std::chrono::ceil<std::chrono::milliseconds>(until - now).count());
        if (SetWaitableTimer(waitTimer(), &due, 0, nullptr, nullptr, FALSE)) {
            handles[count++] = waitTimer();
            timeout = INFINITE;
        }
        DWORD result = WaitForMultipleObjects(count, handles, FALSE, timeout);
        if (result == WAIT_OBJECT_0) return Wake::stop;
        if (extra != nullptr && result == WAIT_OBJECT_0 + 1) return Wake::readable;
        if (result == WAIT_FAILED) return Wake::stop;
    }
}

} // namespace windows

bool sleepUntil(WaitClock::time_point deadline) {
    return windows::waitHandles(nullptr, deadline) != Wake::stop;
}

bool sleepFor(uint32_t microseconds) {
    return sleepUntil(WaitClock::now() + std::chrono::microseconds(microseconds));
}

bool takePendingSignals() {
    return WaitForSingleObject(windows::stopEvent(), 0) != WAIT_OBJECT_0 &&
           !windows::outputPipeClosing();
}

bool outputReaderGone() {
    return windows::outputPipeClosing();
}

} // namespace vantrel
