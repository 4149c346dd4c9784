// The Linux platform: one executable for every kind of Linux desktop. When it connects, and again
// after a lost connection, it chooses a layer by the session rule:
//
// - DISPLAY names an X server of its own (not a Wayland compositor's Xwayland): the X11 layer.
//   The program named that server; an Xvfb started inside a desktop session is driven, not the
//   desktop.
// - Otherwise, with WAYLAND_DISPLAY set: the first Wayland layer that can drive the compositor,
//   or a refusal that says why each could not. Never X11 through the compositor's Xwayland: that
//   reaches its X clients only, while the request would answer success.
// - Otherwise the X11 layer, as DISPLAY says, or its refusal.
//
// Every other call goes to the layer in use. The core sees one platform, as on every other
// system.

#include "platform/event_services.h"
#include "platform/linux_desktop/layers.h"
#include "platform/x11/layer.h"

#include <cstdlib>
#include <string>

namespace vantrel::platform {

namespace {

using linux_desktop::Layer;
using linux_desktop::waylandLayers;
using linux_desktop::x11Layer;

const Layer*& active() {
    static const Layer* layer = nullptr;
    return layer;
}

// The layer in use; X11's calls also serve while none is (its pause sleeps, its names are the
// default).
const Layer& current() {
    return active() ? *active() : x11Layer();
}

std::string& refusal() {
    static std::string detail;
    return detail;
}

bool isWaylandLayer(const Layer* layer) {
    for (const Layer& wayland : waylandLayers())
        if (&wayland == layer) return true;
    return false;
}

bool waylandSessionNamed() {
    const char* name = std::getenv("WAYLAND_DISPLAY");
    return name && *name;
}

bool use(const Layer& layer) {
    active() = &layer;
    return true;
}

} // namespace

void openEventServices() {}

void closeEventServices() {
    if (active()) active()->closeEventServices();
    active() = nullptr;
}

bool isProcessTrusted() {
    const Layer* before = active();
    if (before && before->isProcessTrusted()) return true;
    active() = nullptr;
    if (before) {
        // A layer whose connection was just lost keeps that as its reason until the next check,
        // which chooses afresh.
        refusal() = isWaylandLayer(before)
                        ? std::string(before->name) + ": the connection to the compositor was lost"
                        : std::string(before->untrustedDetail());
        before->closeEventServices();
        return false;
    }

    const Layer& x11 = x11Layer();
    bool x11Trusted = x11.isProcessTrusted();
    std::string x11Refusal(x11.untrustedDetail());
    x11::ServerKind server = x11::serverKind();
    bool xwayland = server == x11::ServerKind::xwayland;
    if (server == x11::ServerKind::own) {
        if (x11Trusted) return use(x11);
        refusal() = x11Refusal;
        return false;
    }

    if (waylandSessionNamed()) {
        // Xwayland is not driven; its connection is not kept either.
        if (xwayland) x11.closeEventServices();
        std::string reasons;
        for (const Layer& layer : waylandLayers()) {
            if (layer.isProcessTrusted()) return use(layer);
            reasons += (reasons.empty() ? "" : "; ") + std::string(layer.name) + ": " +
                       std::string(layer.untrustedDetail());
        }
        if (reasons.empty()) reasons = "wayland: this vantrel was built without Wayland";
        if (xwayland)
            reasons += "; x11: DISPLAY names the compositor's Xwayland, which reaches its X "
                       "clients only";
        refusal() = reasons;
        return false;
    }

    if (x11Trusted) return use(x11);
    refusal() = x11Refusal;
    return false;
}

std::string_view untrustedDetail() {
    return refusal();
}

Event createEvent() {
    return active() ? active()->createEvent() : nullptr;
}

void postEvent(EventRecord& event) {
    if (active()) active()->postEvent(event);
}

void willType(std::span<const uint16_t> units) {
    if (active()) active()->willType(units);
}

bool canTypeUnicodeString(std::span<const uint16_t> units) {
    return active() && active()->canTypeUnicodeString(units);
}

std::string_view undeliveredInput() {
    return active() ? active()->undeliveredInput() : std::string_view();
}

uint32_t whileIdle() {
    return active() ? active()->whileIdle() : 0;
}

void pause(uint32_t microseconds) {
    current().pause(microseconds);
}

std::string_view connectionLost() {
    return active() ? active()->connectionLost() : std::string_view();
}

int64_t largestScrollAmount() {
    return current().largestScrollAmount();
}

MultiClick multiClick() {
    return current().multiClick();
}

// Answered from a connection that posting was refused on, too (a display without XTEST still
// has a size).
Size mainDisplaySize() {
    if (!active()) isProcessTrusted();
    return current().mainDisplaySize();
}

// The layer the session rule chooses, so asked for before any request has connected.
std::string_view platformName() {
    if (!active()) isProcessTrusted();
    return current().platformName();
}

void replyWritten(std::string_view line) {
    current().replyWritten(line);
}

} // namespace vantrel::platform
