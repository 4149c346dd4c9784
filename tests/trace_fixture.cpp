// The recording layer behind the core tests: the trace implementation, capturing in memory.

#include "trace_fixture.h"

#include "dispatch/dispatcher.h"
#include "support/held.h"

namespace vantrel::testing {

std::vector<Outcome> runAll(const std::vector<std::string>& requests,
                            const platform::trace::Config& config) {
    platform::trace::configure(config, true);
    forgetAllHeld();
    std::vector<Outcome> outcomes;
    for (const std::string& request : requests) {
        Outcome outcome;
        outcome.reply = json::parse(serialize(respond(json::parse(request))));
        for (const std::string& line : platform::trace::takeLines())
            outcome.trace.push_back(json::parse(line));
        outcomes.push_back(std::move(outcome));
    }
    return outcomes;
}

} // namespace vantrel::testing
