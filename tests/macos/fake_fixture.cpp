// The recording layer behind the core tests when they check the macOS implementation: the real
// layer over the fake frameworks, configured as the trace would be.

#include "fake_fixture.h"

#include "dispatch/dispatcher.h"
#include "support/held.h"

#include <gtest/gtest.h>

namespace vantrel::testing {

std::vector<Outcome> runOnFrameworks(const std::vector<std::string>& requests,
                                     const fake::Settings& settings) {
    fake::reset(settings);
    forgetAllHeld();
    std::vector<Outcome> outcomes;
    size_t seen = 0;
    for (const std::string& request : requests) {
        Outcome outcome;
        outcome.reply = json::parse(serialize(respond(json::parse(request))));
        std::vector<json> lines = fake::lines();
        outcome.trace.assign(lines.begin() + static_cast<std::ptrdiff_t>(seen), lines.end());
        seen = lines.size();
        outcomes.push_back(std::move(outcome));
    }
    fake::Counts counts = fake::counts();
    EXPECT_EQ(counts.releasedOnce, counts.created) << "every event made is released once";
    EXPECT_EQ(counts.nsEventReleases, 0) << "an NSEvent's CGEvent is its own";
    EXPECT_EQ(counts.poolDepth, 0) << "every autorelease pool is popped";
    EXPECT_EQ(fake::problems(), std::vector<std::string>{});
    return outcomes;
}

std::vector<Outcome> runAll(const std::vector<std::string>& requests,
                            const platform::trace::Config& config) {
    fake::Settings settings;
    settings.pointerX = config.cursor.x;
    settings.pointerY = config.cursor.y;
    settings.trusted = config.trusted;
    settings.screenWidth = config.screen.width;
    settings.screenHeight = config.screen.height;
    settings.failLocation = config.failLocation;
    settings.failMouse = config.failMouse;
    settings.failKeyboard = config.failKeyboard;
    settings.failScroll = config.failScroll;
    settings.failNSEvent = config.failSystem;
    return runOnFrameworks(requests, settings);
}

} // namespace vantrel::testing
