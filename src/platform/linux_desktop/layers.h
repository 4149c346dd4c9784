#pragma once
// The ways the Linux platform can drive a desktop, each a record of the seam's calls as one layer
// answers them (the meaning of each is its namesake's in platform/event_services.h). The Wayland
// layers are listed by the build, in the order they are tried; the X11 layer is always there.

#include "platform/event_services.h"

#include <span>
#include <string_view>

namespace vantrel::platform::linux_desktop {

struct Layer {
    std::string_view name; // as refusals name it
    bool (*isProcessTrusted)();
    std::string_view (*untrustedDetail)();
    void (*closeEventServices)();
    Event (*createEvent)();
    void (*postEvent)(EventRecord& event);
    void (*willType)(std::span<const uint16_t> units);
    bool (*canTypeUnicodeString)(std::span<const uint16_t> units);
    void (*pause)(uint32_t microseconds);
    std::string_view (*connectionLost)();
    std::string_view (*undeliveredInput)();
    uint32_t (*whileIdle)();
    int64_t (*largestScrollAmount)();
    MultiClick (*multiClick)();
    Size (*mainDisplaySize)();
    std::string_view (*platformName)();
    void (*replyWritten)(std::string_view line);
};

// The answer of a layer that can deliver any text: X11 binds a spare keycode to whatever keysym
// it needs, wlroots takes a keymap of vantrel's own.
inline bool everyText(std::span<const uint16_t>) {
    return true;
}

// The layers that drive a Wayland compositor, tried in this order; empty in a build without
// libwayland.
std::span<const Layer> waylandLayers();

const Layer& x11Layer();

} // namespace vantrel::platform::linux_desktop
