// Standard input and output on Windows. Both are used through their handles, never through the
// C runtime's text mode, which would write "\r\n" for "\n" and end the input at a 0x1A byte.
//
// A ReadFile blocked on a pipe or a console does not return for Ctrl+C, so standard input is
// read by a thread of its own into a buffer, and the request loop waits for the buffer's event
// together with the stop event: an idle vantrel takes a stop at once.

#include "support/standard_streams.h"

#include "support/windows/handles.h"

#include <fcntl.h>
#include <io.h>
#include <winternl.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>

namespace vantrel {

namespace {

// What the reader thread has read and the request loop has not taken yet. The thread stops
// reading while this much waits, so a driver that writes faster than vantrel acts is held back
// by the pipe, as on other systems, rather than by vantrel's memory.
constexpr size_t bufferLimit = 1 << 20;

struct Input {
    std::mutex lock;
    std::string bytes;
    bool ended = false;
    HANDLE ready = CreateEventW(nullptr, TRUE, FALSE, nullptr); // bytes or the end are there
    HANDLE room = CreateEventW(nullptr, TRUE, TRUE, nullptr);   // the buffer is below its limit
    bool started = false;
};

Input& input() {
    static Input state;
    return state;
}

DWORD WINAPI readStandardInput(void*) {
    Input& in = input();
    HANDLE handle = GetStdHandle(STD_INPUT_HANDLE);
    static char chunk[64 * 1024];
    for (;;) {
        WaitForSingleObject(in.room, INFINITE);
        DWORD got = 0;
        BOOL ok = ReadFile(handle, chunk, sizeof chunk, &got, nullptr);
        // A read of nothing is the end, as the C runtime takes it: a file's end, a console's
        // Ctrl+Z, and a pipe's end under Wine, which reports it so (Windows fails the read
        // with ERROR_BROKEN_PIPE instead).
        std::lock_guard<std::mutex> guard(in.lock);
        if (!ok || got == 0) {
            in.ended = true;
            SetEvent(in.ready);
            return 0;
        }
        in.bytes.append(chunk, got);
        if (in.bytes.size() >= bufferLimit) ResetEvent(in.room);
        SetEvent(in.ready);
    }
}

void startReader() {
    Input& in = input();
    if (in.started) return;
    in.started = true;
    HANDLE thread = CreateThread(nullptr, 0, readStandardInput, nullptr, 0, nullptr);
    if (thread == nullptr) {
        std::lock_guard<std::mutex> guard(in.lock);
        in.ended = true;
        SetEvent(in.ready);
        return;
    }
    // Never joined: at the end of the process it may still be blocked in its read.
    CloseHandle(thread);
}

// The state of a pipe's end, as the system reports it; FILE_PIPE_CLOSING_STATE once the other
// end has closed.
struct PipeLocalInformation {
    ULONG namedPipeType, namedPipeConfiguration, maximumInstances, currentInstances;
    ULONG inboundQuota, readDataAvailable, outboundQuota, writeQuotaAvailable;
    ULONG namedPipeState, namedPipeEnd;
};
constexpr ULONG filePipeLocalInformation = 24;
constexpr ULONG pipeClosingState = 4;
using QueryInformationFile = NTSTATUS(NTAPI*)(HANDLE, PIO_STATUS_BLOCK, PVOID, ULONG, ULONG);

} // namespace

bool windows::outputPipeClosing() {
    static const HANDLE output = GetStdHandle(STD_OUTPUT_HANDLE);
    static const bool pipe = GetFileType(output) == FILE_TYPE_PIPE;
    static const auto query = reinterpret_cast<QueryInformationFile>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtQueryInformationFile")));
    if (!pipe || query == nullptr) return false;
    IO_STATUS_BLOCK status{};
    PipeLocalInformation information{};
    if (query(output, &status, &information, sizeof information, filePipeLocalInformation) != 0)
        return false;
    return information.namedPipeState == pipeClosingState;
}

void prepareStandardStreams() {
    // vantrel reads and writes its standard input and output through their handles; the trace's
    // record goes to standard error through the C runtime, which must not translate it either.
    _setmode(_fileno(stdin), _O_BINARY);
    _setmode(_fileno(stdout), _O_BINARY);
    _setmode(_fileno(stderr), _O_BINARY);
    // No dialog box for a failure: there is nobody to answer it.
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX);
}

Wake waitForInput(WaitClock::time_point deadline) {
    startReader();
    return windows::waitHandles(input().ready, deadline);
}

long readInput(char* buffer, size_t size) {
    Input& in = input();
    std::lock_guard<std::mutex> guard(in.lock);
    if (in.bytes.empty()) return in.ended ? 0 : -1;
    size_t taken = std::min(size, in.bytes.size());
    std::memcpy(buffer, in.bytes.data(), taken);
    in.bytes.erase(0, taken);
    if (in.bytes.empty() && !in.ended) ResetEvent(in.ready);
    if (in.bytes.size() < bufferLimit) SetEvent(in.room);
    return static_cast<long>(taken);
}

bool writeOutput(std::string_view bytes) {
    HANDLE output = GetStdHandle(STD_OUTPUT_HANDLE);
    while (!bytes.empty()) {
        DWORD written = 0;
        DWORD size = static_cast<DWORD>(std::min<size_t>(bytes.size(), 1u << 30));
        if (!WriteFile(output, bytes.data(), size, &written, nullptr)) return false;
        bytes.remove_prefix(written);
    }
    return true;
}

} // namespace vantrel
