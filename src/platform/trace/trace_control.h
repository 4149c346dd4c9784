#pragma once
// Control of the trace implementation beyond the seam, for its tests and its own start-up.

#include "platform/event_services.h"

#include <optional>
#include <string>
#include <vector>

namespace vantrel::platform::trace {

struct Config {
    std::vector<bool> trusted{true}; // successive trust answers; the last one repeats
    Point cursor;
    bool failLocation = false, failMouse = false, failKeyboard = false, failScroll = false,
         failSystem = false;
    // Every request that posts loses its connection with its first post, as a display server
    // that goes away would: the core then answers "input connection lost".
    bool loseConnection = false;
    bool realtime = false;
    MultiClick multiClick; // none: the trace's events carry their click numbers
    Size screen{1920, 1080};
    // Characters (UTF-8) its keyboard has no key for, as a layout without them would: text with
    // any of them is refused before anything is posted.
    std::string untypeable;
};

// Reads the VANTREL_TRACE_* variables; on a malformed value, returns nothing and sets `problem`
// to a one-line description.
std::optional<Config> configFromEnvironment(std::string& problem);

// Starts over with `config`. With `capture`, lines are kept in memory for takeLines instead of
// being written to standard error.
void configure(const Config& config, bool capture);
std::vector<std::string> takeLines();

} // namespace vantrel::platform::trace
