#pragma once
// What the X11 implementation keeps while it is connected: the connection, the keymap as the
// server currently has it, the keycodes vantrel bound to characters the keymap lacks, and the
// keys it holds pressed. Internal to src/platform/x11.

#include "platform/event_services.h"
#include "platform/xkb/keysyms.h"
#include "support/posix/fd_wait.h"

#include <xcb/xcb.h>
#include <xkbcommon/xkbcommon.h>

#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

namespace vantrel::platform::x11 {

using Clock = std::chrono::steady_clock;

struct ConnectionClose {
    void operator()(xcb_connection_t* connection) const noexcept { xcb_disconnect(connection); }
};
using xkb::KeymapUnref;
using xkb::StateUnref;
struct ContextUnref {
    void operator()(xkb_context* context) const noexcept { xkb_context_unref(context); }
};
// A reply from XCB, which the caller must free.
struct ReplyFree {
    void operator()(void* reply) const noexcept { std::free(reply); }
};
template <typename T> using Reply = std::unique_ptr<T, ReplyFree>;

// Where a keysym can be typed: its keycode, the group it sits in, and the real modifiers its
// level needs.
struct KeyPlace {
    xcb_keycode_t keycode = 0;
    uint32_t group = 0;
    uint8_t mods = 0;
};

// A keycode vantrel bound to a keysym the keymap lacked, when that was, and when it was last
// pressed.
struct Binding {
    xcb_keycode_t keycode = 0;
    xkb_keysym_t keysym = 0;
    Clock::time_point lastUsed;
    Clock::time_point boundAt;
};

// A key held down, and what must be undone when it is released.
struct Stroke {
    xcb_keycode_t keycode = 0;
    std::vector<xcb_keycode_t> modifiers; // pressed before the key, released after it
    std::optional<uint32_t> group; // the group to lock while the key is down, if not the current
    std::optional<uint32_t> restoreGroup; // the locked group to return to afterwards
};

struct Display {
    std::unique_ptr<xcb_connection_t, ConnectionClose> connection;
    xcb_window_t root = 0;
    uint16_t width = 0, height = 0; // of the root window, in pixels
    bool xtest = false;
    bool xkb = false;
    bool xwayland = false; // the server is a Wayland compositor's Xwayland
    uint8_t xkbEventBase = 0;
    int32_t keyboardDevice = -1;

    std::unique_ptr<xkb_keymap, KeymapUnref> keymap;
    bool keymapStale = true;
    std::unordered_map<xkb_keysym_t, std::vector<KeyPlace>> places;
    xcb_keycode_t holdable[8] = {};   // a key that sets each real modifier, 0 when none can be held
    uint8_t modifierOf[256] = {};     // the real modifiers each keycode sets, by the modifier map
    uint8_t lockModifiers = 0;        // the modifiers only lock keys set (Caps Lock, Num Lock)
    uint8_t shortcutModifiers = 0;    // Control, and the modifiers of Alt, Meta, Super and Hyper
    std::vector<xcb_keycode_t> spare; // keycodes with no symbols, free to bind
    std::vector<Binding> bindings;
    // The shared record of bound keycodes (shared_keycodes.cpp): its atom, and this connection's
    // window that names vantrel as the owner of its claims; 0 until first needed.
    xcb_atom_t recordAtom = 0;
    xcb_window_t owner = 0;
    uint32_t ownerToken = 0;

    std::map<uint32_t, Stroke> held; // by the core's key code, or by media key type

    // The keysyms to bind for the text announced to come (expectText), and how far typing is.
    std::vector<xkb_keysym_t> upcoming;
    size_t nextUpcoming = 0;

    // Why something the current request typed could not be delivered; empty when all went out.
    std::string undelivered;

    // Caps Lock was locked when this request began to post keys, and vantrel unlocked it for the
    // request (restoreLocks puts it back).
    bool capsLockLifted = false;

    // The keyboard's group, from the server's state notices; unknown until read or after vantrel
    // locked a group itself (the notice of that comes later).
    bool groupKnown = false;
    uint32_t group = 0, lockedGroup = 0;
};

// Why the last trust check said no ("cannot open display :5", ...); empty when it said yes.
std::string& refusalDetail();

// The layer waited on its own (a binding settling, clicks kept apart): the next pause is measured
// from now, not from the previous pause's deadline.
void restartPace();

// Sends what is buffered, waits until `until` (or a stop signal) and restarts the pace: the layer's
// own waits, which the core's pauses do not know of.
void restUntil(Display& display, Clock::time_point until);

// The one connection, when there is one.
std::optional<Display>& display();

// Connects when there is no connection; nothing when the display cannot be reached.
Display* connected();

// Sends what is buffered and waits until the server has handled it; false when the connection
// broke or a stop came first.
bool roundTrip(Display& display);

// The reply to the request numbered `sequence`; null on an error, a broken connection, or when
// the grace after a stop has run out (support/wait.h: awaitAnswer).
void* awaitReply(Display& display, unsigned int sequence);
// Sends the request `issue` makes and waits for its reply (see awaitReply); null without sending
// once the grace after a stop has run out.
template <typename T, typename Issue> Reply<T> ask(Display& display, Issue issue) {
    if (!mayStillAsk()) return nullptr;
    return Reply<T>(static_cast<T*>(awaitReply(display, issue().sequence)));
}

// Reads pending events: keymap change notices mark the keymap stale; errors are dropped.
void drainEvents(Display& display);

// Renders a keyboard or system-defined event; defined with the keymap code.
void postKey(Display& display, const EventRecord& event);
void postSystem(Display& display, const EventRecord& event);

// The text about to be typed (expectText), and binding ahead for it during a pause (bindAhead).
void expectText(Display& display, const std::vector<uint16_t>& units);
void bindAhead(Display& display);

// A locked Caps Lock changes what letters type, whoever locked it: it is unlocked while a
// request posts keys (liftLocks), and locked again when the request ends (restoreLocks).
void liftLocks(Display& display);
void restoreLocks(Display& display);

// When the most recently pressed binding was last pressed; bindings must not be empty.
Clock::time_point lastUse(const Display& display);

// Removes every binding once it has rested since its last press (so that clients have decoded
// it), waiting for that when it must.
void unbindAll(Display& display);

// How long bindings are kept once vantrel is idle, for a next request that types the same
// characters, before they are given back to the display.
inline constexpr auto idleKeep = std::chrono::seconds(1);

// Takes a keycode for a new binding in the display's shared record: one of `candidates` (the
// keycodes the keymap leaves free) that no vantrel has claimed and the server's keymap still
// leaves free, or one a vantrel that has gone left behind (unbound first). Nothing when none is
// left.
std::optional<xcb_keycode_t> claimSpare(Display& display,
                                        const std::vector<xcb_keycode_t>& candidates);
// Drops every claim of this connection from the shared record (its bindings are removed).
void releaseClaims(Display& display);

// Forgets and, when the server is still there, removes every binding (at the end of input).
void releaseEverything(Display& display);

void fakeInput(Display& display, uint8_t type, uint8_t detail, int16_t x = 0, int16_t y = 0);

} // namespace vantrel::platform::x11
