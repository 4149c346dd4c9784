#pragma once
// Runs requests in-process through the macOS layer over the fake frameworks.

#include "../trace_fixture.h"
#include "fake_frameworks.h"

namespace vantrel::testing {

// Runs the requests from a fresh fake, then checks that the layer used the frameworks as Apple
// documents: every event it made released once, no NSEvent's CGEvent released, every pool popped.
std::vector<Outcome> runOnFrameworks(const std::vector<std::string>& requests,
                                     const fake::Settings& settings = {});

} // namespace vantrel::testing
