#pragma once
// GNOME's input method: gnome-shell hands the focused client's text input to IBus, and the
// global IBus engine may commit any text into it. vantrel registers an engine of its own with
// the IBus daemon, makes it the global engine while a request types characters the keyboard
// layout lacks, commits them, and gives the engine that was there before back at the end of the
// request. Internal to src/platform/wayland.
//
// The engine is served by a thread of its own: while it is the global engine every key pressed
// on the seat passes through it, vantrel's own included, and it must answer at once however long
// the request's own waits last. The thread alone touches its bus connection; the request side
// sends it orders and reads what it has learned (the focused input context, the text around the
// cursor), and waits for news on a descriptor that a stop also ends.

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

namespace vantrel::platform::wayland {

struct IBus;
struct IBusClose {
    void operator()(IBus* ibus) const noexcept;
};
using IBusConnection = std::unique_ptr<IBus, IBusClose>;

// What the engine has learned, as of the moment it is read.
struct IBusState {
    bool closed = false;  // the IBus daemon went away: connect afresh
    bool engaged = false; // vantrel's engine is the global engine
    // The input context the engine serves, while it has one, and the name of its client: a
    // focused text field has a client's context; with none, the daemon's placeholder has the
    // engine (client "fake", the first context the daemon makes).
    bool focused = false;
    std::string context, client;
    uint64_t focusChanges = 0;
    // The text before the cursor, as the focused client last reported it (clients that report
    // none leave it empty), and how many reports have come.
    std::optional<std::string> beforeCursor;
    uint64_t reports = 0;
    uint64_t keysSeen = 0; // key events the engine was handed (presses and releases)
    // Keys of vantrel's that the engine kept from the client, because modifiers vantrel did not
    // press were in effect (see guardKey), and those modifiers (X masks: Shift 1, Lock 2,
    // Control 4, Mod1 8, ...) for the last press kept.
    uint64_t keysKept = 0;
    uint32_t keptUnder = 0;
    uint64_t releases = 0; // switches back to the engine before vantrel's, answered
    std::string problem;   // why the last order failed; empty when none did
};

// Connects to the IBus daemon of the session (the address its own clients read) and registers
// vantrel's engine; null with `why` set when it cannot.
IBusConnection openIBus(std::string& why);

// Makes vantrel's engine the global one, remembering the engine it replaces, and waits until the
// engine knows which input context it serves (or `until`). The state then.
IBusState engageIBus(IBus& ibus, std::chrono::steady_clock::time_point until);

// Commits `text` (UTF-8) into the input context the engine serves.
void commitIBus(IBus& ibus, const std::string& text);

// Gives the engine that was global before back; with `wait`, until the daemon has answered (a
// stop leaves it the grace every answer gets).
void releaseIBus(IBus& ibus, bool wait);

// The next press of evdev key `code` is vantrel's, and should type `keysym` under vantrel's own
// modifiers `own` (X masks). The seat's modifiers are shared by every keyboard, a person's
// included: when the key comes with another keysym, or with Control, Alt or Super that vantrel
// did not press (a shortcut), the engine keeps it, and its release, from the client, and counts
// it in keysKept.
void guardKey(IBus& ibus, uint32_t code, uint32_t keysym, uint32_t own);

IBusState ibusState(IBus& ibus);

// Waits until the engine learns something new; false when `until` passed or a stop came first.
bool awaitIBus(IBus& ibus, std::chrono::steady_clock::time_point until);

} // namespace vantrel::platform::wayland
