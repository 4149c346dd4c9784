#pragma once
// Posting, and the one record of what vantrel holds pressed.
//
// Every press that leaves something down (a key of a combination, a typed cluster's key, a media
// key, a mouse button) is posted through postPress, and its release through postRelease, so the
// record always says what the system has down because of vantrel, in the order of pressing.
// releaseAllHeld can then undo it through the event services like any other input, on every
// platform: at a stop signal, when the reader has gone, and for the "release_all" action.

#include "platform/event_services.h"

#include <chrono>
#include <cstdint>
#include <optional>
#include <vector>

namespace vantrel {

// Posts a created event where hardware input enters; a null event (the platform could not make
// it) is skipped. The creator still owns and releases the event.
void post(const platform::Event& event);

// One thing held down, and what it takes to release it.
struct Held {
    enum class Kind { key, text, button, media } kind = Kind::key;
    // key: the virtual key code; button: the mouse button; media: the key type; text: unused.
    uint32_t code = 0;
    // key and text: the flags the press carried. The release carries them too, less the key's
    // own modifier flag.
    uint64_t flags = 0;
    bool setsFlags = true; // whether the key's events carry flags at all (typed text: only if any)
    // The flag this key adds to every event posted while it is down: set for modifier keys that
    // are held on their own, 0 for every other key.
    uint64_t modifierFlag = 0;
    // A key held on its own (key_down), whose release carries the flags held at that moment.
    bool ownKey = false;
    uint32_t releaseType = 0;              // button: the mouse event type that releases it
    std::vector<uint16_t> units;           // text: the cluster's units, carried by the release too
    platform::SystemDefinedFields release; // media: the release event's fields
};

// Posts a press and records what it holds. A null event records nothing: nothing went down.
void postPress(const platform::Event& event, Held what);

// Posts a release and forgets what it releases (the held entry of the same kind and code).
void postRelease(const platform::Event& event, Held::Kind kind, uint32_t code);

bool isHeld(Held::Kind kind, uint32_t code);
// Whether any mouse button is held.
bool isAnyButtonHeld();

// Presses a key on its own (key_down) and records it; `modifierFlag` is the flag it adds to every
// later event while down, for a modifier key, or 0. A key already held posts nothing.
void postKeyDown(uint16_t keyCode, uint64_t modifierFlag);
// Releases a key held on its own; a key vantrel does not hold posts nothing.
void postKeyUp(uint16_t keyCode);

// A key press that waits for the next event posted: it is posted and recorded just before that
// event, so that an action refused before its first event posts nothing at all. Its flag counts
// in heldModifierFlags at once, so the waiting event already carries it.
void deferKeyDown(uint16_t keyCode, uint64_t modifierFlag);
// Forgets the deferred presses not yet posted; true when there were any.
bool dropDeferred();

// The union of the modifier flags of the keys held on their own (and deferred).
uint64_t heldModifierFlags();

// The event type of a pointer move now: a drag of the lowest held button, a plain move when
// none is held.
uint32_t moveType();

// Releases everything held, last pressed first, through the event services. With nothing held,
// posts nothing.
void releaseAllHeld();

// Releases the keys held (not the mouse buttons, which a later process may release), last
// pressed first.
void releaseHeldKeys();

// Forgets the record without posting: for tests that start over, and when the connection that
// held it is gone.
void forgetAllHeld();

// The last release of a mouse button that vantrel posted: where and when (once posted), so that
// the next action's first press can be kept from counting as a further click of it.
struct ButtonRelease {
    Point at;
    std::chrono::steady_clock::time_point time;
};
std::optional<ButtonRelease> lastRelease(uint32_t button);

} // namespace vantrel
