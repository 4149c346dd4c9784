// Text that key events cannot carry. A key event gives a client one keysym, and some clients
// (Chromium among them) turn its character into a single UTF-16 unit, so a character beyond the
// Basic Multilingual Plane typed on a key arrives cut to its low 16 bits. A client that takes
// text from an input method (text-input) receives such a cluster whole when vantrel, as the
// seat's input method, commits it.
//
// vantrel asks to be the input method only when a text first needs it, so that an input method
// the user starts later is not refused the seat for nothing; once it is, it stays for the
// connection's life, since the compositor tells clients about an input method only while one
// exists. When the seat has one already, the compositor says so and the cluster goes on keys.

#include "input-method-unstable-v2-client-protocol.h"
#include "platform/wayland/compositor.h"

#include <poll.h>

#include <algorithm>

namespace vantrel::platform::wayland {

namespace {

// How long a new input method waits for the focused client to take text from it: the
// compositor announces the input method to the client, which turns its text input on. A client
// that has none never does, and its first such text waits this long once.
constexpr auto activationWait = std::chrono::milliseconds(200);

void activate(void* data, zwp_input_method_v2*) {
    static_cast<InputMethod*>(data)->pendingActive = true;
}
void deactivate(void* data, zwp_input_method_v2*) {
    static_cast<InputMethod*>(data)->pendingActive = false;
}
void surroundingText(void*, zwp_input_method_v2*, const char*, uint32_t, uint32_t) {}
void textChangeCause(void*, zwp_input_method_v2*, uint32_t) {}
void contentType(void*, zwp_input_method_v2*, uint32_t, uint32_t) {}
void done(void* data, zwp_input_method_v2*) {
    auto* method = static_cast<InputMethod*>(data);
    method->active = method->pendingActive;
    ++method->serial;
}
void unavailable(void* data, zwp_input_method_v2*) {
    auto* method = static_cast<InputMethod*>(data);
    method->unavailable = true;
    method->active = method->pendingActive = false;
}
const zwp_input_method_v2_listener listener = {
    activate, deactivate, surroundingText, textChangeCause, contentType, done, unavailable};

bool outsideTheBasicPlane(std::span<const uint16_t> units) {
    return std::any_of(units.begin(), units.end(),
                       [](uint16_t unit) { return unit >= 0xD800 && unit < 0xE000; });
}

// UTF-16 to UTF-8; a lone surrogate becomes U+FFFD, as nothing can carry it.
std::string utf8Of(std::span<const uint16_t> units) {
    std::string text;
    for (size_t i = 0; i < units.size(); ++i) {
        char32_t c = units[i];
        if (c >= 0xD800 && c < 0xDC00 && i + 1 < units.size() && units[i + 1] >= 0xDC00 &&
            units[i + 1] < 0xE000) {
            c = 0x10000 + ((c - 0xD800) << 10) + (units[++i] - 0xDC00);
        } else if (c >= 0xD800 && c < 0xE000) {
            c = 0xFFFD;
        }
        if (c < 0x80) {
            text += static_cast<char>(c);
        } else if (c < 0x800) {
            text += static_cast<char>(0xC0 | (c >> 6));
            text += static_cast<char>(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            text += static_cast<char>(0xE0 | (c >> 12));
            text += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            text += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            text += static_cast<char>(0xF0 | (c >> 18));
            text += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
            text += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            text += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return text;
}

// Reads what the compositor sends until the focused client takes text, the seat is refused, or
// `until` passes.
void awaitActivation(Compositor& c, Clock::time_point until) {
    wl_display* display = c.display.get();
    const InputMethod& method = c.inputMethod;
    while (!method.active && !method.unavailable && wl_display_get_error(display) == 0) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - Clock::now());
        if (left.count() <= 0) return;
        while (wl_display_prepare_read(display) != 0)
            wl_display_dispatch_pending(display);
        wl_display_flush(display);
        pollfd in{wl_display_get_fd(display), POLLIN, 0};
        if (::poll(&in, 1, static_cast<int>(left.count())) > 0) {
            wl_display_read_events(display);
        } else {
            wl_display_cancel_read(display);
        }
        wl_display_dispatch_pending(display);
    }
}

} // namespace

bool commitThroughInputMethod(Compositor& c, std::span<const uint16_t> units) {
    InputMethod& method = c.inputMethod;
    if (!outsideTheBasicPlane(units) || !c.inputMethodManager) return false;
    if (method.unavailable) {
        // The compositor sends nothing more to a refused input method; it is only destroyed.
        if (method.object) zwp_input_method_v2_destroy(method.object);
        method.object = nullptr;
        return false;
    }
    if (!method.object) {
        method.object = zwp_input_method_manager_v2_get_input_method(c.inputMethodManager, c.seat);
        zwp_input_method_v2_add_listener(method.object, &listener, &method);
        awaitActivation(c, Clock::now() + activationWait);
    } else {
        // Focus may have moved since: the compositor has told vantrel by now.
        wl_display_roundtrip(c.display.get());
    }
    if (!method.active || method.unavailable) return false;
    zwp_input_method_v2_commit_string(method.object, utf8Of(units).c_str());
    zwp_input_method_v2_commit(method.object, method.serial);
    return true;
}

void destroyInputMethod(Compositor& c) {
    if (c.inputMethod.object) zwp_input_method_v2_destroy(c.inputMethod.object);
    if (c.inputMethodManager) zwp_input_method_manager_v2_destroy(c.inputMethodManager);
    c.inputMethod = {};
    c.inputMethodManager = nullptr;
}

} // namespace vantrel::platform::wayland
