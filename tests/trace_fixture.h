#pragma once
// Runs requests in-process against a recording layer and hands back what it recorded. The core
// tests are built twice: against the trace implementation (trace_fixture.cpp), and against the
// macOS implementation over fake frameworks (macos/fake_fixture.cpp), which renders what reaches
// the frameworks in the trace's line format. Both take the trace's configuration.

#include "platform/trace/trace_control.h"
#include "support/reply.h"

#include <nlohmann/json.hpp>

#include <string>
#include <vector>

namespace vantrel::testing {

using nlohmann::json;

struct Outcome {
    std::vector<json> trace; // every recorded effect, in order, trust checks included
    json reply;              // the reply, as a reader would parse it

    // The trace without its trust-check lines.
    std::vector<json> posts() const;
};

// Runs one request line (a JSON object) from a fresh state.
Outcome run(const std::string& request, const platform::trace::Config& config = {});
// Runs several in one state, returning the outcome of each.
std::vector<Outcome> runAll(const std::vector<std::string>& requests,
                            const platform::trace::Config& config = {});

json ok(int64_t id = 0);
json error(const std::string& message, int64_t id = 0);

json mouse(int type, double x, double y, int button = 0);
json click(int type, double x, double y, int button, int64_t clickState);
json keyEvent(int type, int keyCode, uint64_t flags);
json textEvent(int type, const std::vector<uint16_t>& units);
json sleepFor(uint32_t microseconds);
json scrollEvent(int32_t wheel1, int32_t wheel2);

// The press and release of one typed piece, then its 8 ms.
std::vector<json> typed(const std::vector<uint16_t>& units);
// typed() for each character of ASCII text.
std::vector<json> typedAscii(const std::string& text);

std::vector<json> concat(std::initializer_list<std::vector<json>> parts);

} // namespace vantrel::testing
