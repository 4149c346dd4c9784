#pragma once
// From one decoded request to one action and one reply.

#include "channel/reply.h"

#include <nlohmann/json.hpp>

#include <string>
#include <unordered_set>

namespace vantrel {

// The 14 actions that post input and so need the platform's trust; built on first use, which
// the request loop makes happen at start-up, after the key table.
const std::unordered_set<std::string>& accessibilityActions();

// Carries out the request and returns its reply, without writing it.
Reply respond(const nlohmann::json& request);

// Carries out the request and writes its one reply.
void handle(const nlohmann::json& request);

} // namespace vantrel
