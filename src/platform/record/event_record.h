#pragma once
// The event record of the platforms that keep the core's events as values until they post them
// (X11, Wayland, Windows): what the core filled, rendered by the layer when it is posted. Its
// builders are in events.cpp.

#include "platform/event_services.h"

#include <optional>
#include <vector>

namespace vantrel::platform {

// An event as the core filled it; rendered by the layer when it is posted.
struct EventRecord {
    enum class Kind { position, mouse, key, scroll, system } kind = Kind::position;
    Point location;
    uint32_t type = 0;
    uint32_t button = 0;
    std::optional<int64_t> clickState;
    uint16_t keyCode = 0;
    bool keyDown = false;
    uint64_t flags = 0;
    std::optional<std::vector<uint16_t>> text;
    int32_t wheels[3] = {0, 0, 0};
    SystemDefinedFields system;
};

} // namespace vantrel::platform
