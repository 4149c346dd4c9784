#pragma once
// From one decoded request to one action and one reply.

#include "support/reply.h"

#include <nlohmann/json.hpp>

#include <string>
#include <unordered_set>

namespace vantrel {

// The actions that post input and so need the platform's trust; built on first use, which
// the process entry makes happen at start-up, after the key table.
const std::unordered_set<std::string>& accessibilityActions();

// Carries out the request and returns its reply, without writing it. A stop signal during the
// action throws Stopped (support/stop.h) instead.
Reply respond(const nlohmann::json& request);

} // namespace vantrel
