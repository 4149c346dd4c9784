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
#include "support/wait.h"

#include <algorithm>

namespace vantrel::platform::wayland {

namespace {

// How long a new input method waits for the focused client to take text from it: the
// compositor announces the input method to the client, which turns its text input on. A client
// that has none never does, and its first such text waits this long once.
constexpr auto activationWait = std::chrono::milliseconds(200);

// Key events and commits reach a client by different objects, and a client may not handle them
// in the order they came: GTK emits a commit as it reads it, but a key event only when its main
// loop takes it from its queue, so a commit right after a key overtakes it. A commit therefore
// waits until the client has handled the keys before it: until the text before its cursor, which
// a client that takes text input reports after each change, ends with what they typed (at most
// keysHandledWait), or, for a client that reports no text or keys that typed none, for
// keysRest after the last key. A client whose report does not come in time is given the rest
// for as long as its text input stays active.
constexpr auto keysHandledWait = std::chrono::milliseconds(100);
constexpr auto keysRest = std::chrono::milliseconds(20);
// How much of the text typed since the last commit is compared: enough to tell the report that
// follows the last key from the ones before it, and within what clients report around a cursor.
constexpr size_t comparedCharacters = 8;

void activate(void* data, zwp_input_method_v2*) {
    auto* method = static_cast<InputMethod*>(data);
    method->pendingActive = true;
    method->pendingBeforeCursor.reset(); // a new text input states its text afresh
    // Keys sent before went to the client that had the focus then.
    method->keysSinceCommit = false;
    method->expected.clear();
    method->reportsKeys = true;
}
void deactivate(void* data, zwp_input_method_v2*) {
    static_cast<InputMethod*>(data)->pendingActive = false;
}
void surroundingText(void* data, zwp_input_method_v2*, const char* text, uint32_t cursor,
                     uint32_t) {
    std::string_view all(text ? text : "");
    static_cast<InputMethod*>(data)->pendingBeforeCursor =
        std::string(all.substr(0, std::min<size_t>(cursor, all.size())));
}
void textChangeCause(void*, zwp_input_method_v2*, uint32_t) {}
void contentType(void*, zwp_input_method_v2*, uint32_t, uint32_t) {}
void done(void* data, zwp_input_method_v2*) {
    auto* method = static_cast<InputMethod*>(data);
    method->active = method->pendingActive;
    method->beforeCursor = method->pendingBeforeCursor;
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

// The end of `text`: its last `characters` code points.
std::string lastCharacters(const std::string& text, size_t characters) {
    size_t at = text.size();
    while (at > 0 && characters > 0) {
        --at;
        if ((static_cast<unsigned char>(text[at]) & 0xC0) != 0x80) --characters;
    }
    return text.substr(at);
}

// Sends what is queued and waits until `until`, so that the client has that long to handle it.
void restUntil(Compositor& c, Clock::time_point until) {
    if (Clock::now() >= until) return;
    wl_display_flush(c.display.get());
    sleepUntil(until);
}

bool keysHandled(const InputMethod& method) {
    return method.beforeCursor && method.beforeCursor->ends_with(method.expected);
}

// Waits until the client has handled the keys sent since the last commit (see keysHandledWait).
void awaitKeys(Compositor& c) {
    InputMethod& method = c.inputMethod;
    if (!method.keysSinceCommit) return;
    wl_display* display = c.display.get();
    if (method.beforeCursor && !method.expected.empty() && method.reportsKeys) {
        Clock::time_point until = Clock::now() + keysHandledWait;
        while (!keysHandled(method) && method.active && wl_display_get_error(display) == 0) {
            auto left = std::chrono::ceil<std::chrono::milliseconds>(until - Clock::now());
            if (left.count() <= 0) {
                // No report came for them: this client is given the rest from now on.
                method.reportsKeys = false;
                break;
            }
            readEvents(c, left);
        }
    } else {
        restUntil(c, c.lastKey + keysRest);
    }
}

// Reads what the compositor sends until the focused client takes text, the seat is refused, or
// `until` passes.
void awaitActivation(Compositor& c, Clock::time_point until) {
    const InputMethod& method = c.inputMethod;
    while (!method.active && !method.unavailable && wl_display_get_error(c.display.get()) == 0) {
        auto left = std::chrono::ceil<std::chrono::milliseconds>(until - Clock::now());
        if (left.count() <= 0) return;
        readEvents(c, left);
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
        // A key or a click just sent may move the focus, to a field or away from one, and the
        // client tells the compositor only once it has handled them: it is given the rest after
        // them before the compositor is asked, and, when its text input is off then, what is
        // left of the activation wait since them (a field it turns text input on for).
        Clock::time_point moved = method.focusMayMove;
        restUntil(c, moved + keysRest);
        roundTrip(c);
        if (!method.active) awaitActivation(c, moved + activationWait);
    }
    if (!method.active || method.unavailable) return false;
    awaitKeys(c);
    if (!method.active) return false; // focus moved meanwhile
    std::string text = utf8Of(units);
    zwp_input_method_v2_commit_string(method.object, text.c_str());
    zwp_input_method_v2_commit(method.object, method.serial);
    method.expected = lastCharacters(text, comparedCharacters);
    method.keysSinceCommit = false;
    return true;
}

void typedOnKeys(Compositor& c, std::span<const uint16_t> units) {
    InputMethod& method = c.inputMethod;
    // A line end or a tab moves the cursor or the focus rather than adding itself to the text.
    bool text = !units.empty() &&
                std::none_of(units.begin(), units.end(), [](uint16_t unit) { return unit < 0x20; });
    if (!text) {
        method.expected.clear();
        method.focusMayMove = Clock::now();
    } else if (!method.keysSinceCommit || !method.expected.empty()) {
        method.expected = lastCharacters(method.expected + utf8Of(units), comparedCharacters);
    }
    method.keysSinceCommit = true;
}

void clicked(Compositor& c) {
    c.inputMethod.focusMayMove = Clock::now();
}

void destroyInputMethod(Compositor& c) {
    if (c.inputMethod.object) zwp_input_method_v2_destroy(c.inputMethod.object);
    if (c.inputMethodManager) zwp_input_method_manager_v2_destroy(c.inputMethodManager);
    c.inputMethod = {};
    c.inputMethodManager = nullptr;
}

} // namespace vantrel::platform::wayland
