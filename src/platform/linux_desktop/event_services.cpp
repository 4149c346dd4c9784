// The Linux platform: one executable for both kinds of desktop. At connection time, and again
// after a lost connection, it uses the Wayland layer when WAYLAND_DISPLAY names a compositor that
// offers a virtual pointer and a virtual keyboard, and the X11 layer otherwise; every other call
// goes to the layer in use. The core sees one platform, as on every other system.

#include "platform/event_services.h"
#include "platform/x11/layer.h"
#if VANTREL_WAYLAND
#include "platform/wayland/layer.h"
#endif

#include <string>

namespace vantrel::platform {

namespace {

enum class Layer { none, x11, wayland };

Layer& active() {
    static Layer layer = Layer::none;
    return layer;
}

std::string& refusal() {
    static std::string detail;
    return detail;
}

#if VANTREL_WAYLAND
bool waylandTrusted() {
    return wayland::isProcessTrusted();
}
std::string waylandRefusal() {
    return std::string(wayland::untrustedDetail());
}
#else
bool waylandTrusted() {
    return false;
}
std::string waylandRefusal() {
    return "WAYLAND_DISPLAY is not set";
}
#endif

void closeLayer(Layer layer) {
    if (layer == Layer::x11) x11::closeEventServices();
#if VANTREL_WAYLAND
    if (layer == Layer::wayland) wayland::closeEventServices();
#endif
}

} // namespace

// The layer in use answers; X11's calls also serve while none is connected (its pause sleeps, its
// names are the default).
#if VANTREL_WAYLAND
#define VANTREL_ON_LAYER(call) (active() == Layer::wayland ? wayland::call : x11::call)
#else
#define VANTREL_ON_LAYER(call) (x11::call)
#endif

void openEventServices() {}

void closeEventServices() {
    closeLayer(active());
    active() = Layer::none;
}

Event createEvent() {
    if (active() == Layer::none) return nullptr;
    return VANTREL_ON_LAYER(createEvent());
}

void postEvent(EventRecord& event) {
    if (active() != Layer::none) VANTREL_ON_LAYER(postEvent(event));
}

void willType(std::span<const uint16_t> units) {
    if (active() != Layer::none) VANTREL_ON_LAYER(willType(units));
}

std::string_view undeliveredInput() {
    if (active() == Layer::none) return {};
    return VANTREL_ON_LAYER(undeliveredInput());
}

uint32_t whileIdle() {
    if (active() == Layer::none) return 0;
    return VANTREL_ON_LAYER(whileIdle());
}

bool isProcessTrusted() {
    if (active() == Layer::x11 && x11::isProcessTrusted()) return true;
    if (active() == Layer::wayland && waylandTrusted()) return true;
    // No layer yet, or its connection was lost: choose afresh, Wayland first.
    Layer before = active();
    active() = Layer::none;
    if (before != Layer::wayland && waylandTrusted()) {
        closeLayer(before);
        active() = Layer::wayland;
        return true;
    }
    std::string wayland =
        before == Layer::wayland ? "the connection to the compositor was lost" : waylandRefusal();
    // A layer whose connection was just lost keeps that as its reason until the next check.
    if (before != Layer::x11 && x11::isProcessTrusted()) {
        closeLayer(before);
        active() = Layer::x11;
        return true;
    }
    std::string x11(x11::untrustedDetail());
    // Without WAYLAND_DISPLAY this is an X11 session, and only X11's reason matters.
    refusal() =
        wayland == "WAYLAND_DISPLAY is not set" ? x11 : "wayland: " + wayland + "; x11: " + x11;
    return false;
}

std::string_view untrustedDetail() {
    return refusal();
}

void pause(uint32_t microseconds) {
    VANTREL_ON_LAYER(pause(microseconds));
}

std::string_view connectionLost() {
    if (active() == Layer::none) return {};
    return VANTREL_ON_LAYER(connectionLost());
}

int64_t largestScrollAmount() {
    return VANTREL_ON_LAYER(largestScrollAmount());
}

MultiClick multiClick() {
    return VANTREL_ON_LAYER(multiClick());
}

// Answered from a connection that posting was refused on, too (a display without XTEST still
// has a size).
Size mainDisplaySize() {
    if (active() == Layer::none) isProcessTrusted();
    return VANTREL_ON_LAYER(mainDisplaySize());
}

std::string_view platformName() {
    return VANTREL_ON_LAYER(platformName());
}

void replyWritten(std::string_view line) {
    VANTREL_ON_LAYER(replyWritten(line));
}

} // namespace vantrel::platform
