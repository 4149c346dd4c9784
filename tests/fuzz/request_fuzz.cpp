// A fuzz target for the request path: any bytes as one request line, through repair, trimming,
// parsing, dispatch and every action, against the trace implementation capturing in memory (so
// nothing sleeps and nothing reaches standard error). Replies go to /dev/null.
//
//   cmake -S . -B build-fuzz -DCMAKE_CXX_COMPILER=clang++ -DVANTREL_FUZZ=ON
//   cmake --build build-fuzz --target request_fuzz && build-fuzz/tests/request_fuzz -max_len=4096

#include "channel/request_loop.h"
#include "dispatch/dispatcher.h"
#include "keyboard/keyboard.h"
#include "platform/trace/trace_control.h"
#include "support/held.h"

#include <cstddef>
#include <cstdint>
#include <fcntl.h>
#include <string_view>
#include <unistd.h>

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    int null = open("/dev/null", O_WRONLY);
    dup2(null, STDOUT_FILENO);
    vantrel::keyCodes();
    vantrel::accessibilityActions();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view line(reinterpret_cast<const char*>(data), size);
    // The loop hands on lines without their line feed.
    if (line.find('\n') != std::string_view::npos) return -1;
    vantrel::platform::trace::Config config;
    config.cursor = {100, 100};
    vantrel::platform::trace::configure(config, true);
    vantrel::forgetAllHeld();
    vantrel::handleLine(line);
    vantrel::platform::trace::takeLines();
    return 0;
}
