#pragma once
// What the two xkbcommon-based layers (X11, Wayland) share: the keysyms of the core's key codes,
// typed text and media keys. Both render keysyms on the keys of a keymap; they differ only in
// where the keymap comes from and how a key press is sent.

#include "platform/record/event_record.h"

#include <xkbcommon/xkbcommon.h>

#include <optional>
#include <span>
#include <utility>
#include <vector>

namespace vantrel::platform::xkb {

// Releases of xkbcommon's objects, for the layers' unique_ptrs.
struct KeymapUnref {
    void operator()(xkb_keymap* keymap) const noexcept { xkb_keymap_unref(keymap); }
};
struct StateUnref {
    void operator()(xkb_state* state) const noexcept { xkb_state_unref(state); }
};

// A character to type: the keysyms the keymap may hold it under, and the one to add when it
// holds neither.
struct Wanted {
    xkb_keysym_t keysym = XKB_KEY_NoSymbol;
    xkb_keysym_t alternative = XKB_KEY_NoSymbol;
    xkb_keysym_t bindAs = XKB_KEY_NoSymbol;
};

inline Wanted exactly(xkb_keysym_t keysym) {
    return {keysym, XKB_KEY_NoSymbol, keysym};
}

// The unshifted keysym of a virtual key code of the key-name table, or of a left-hand modifier
// key that key_down presses on its own; no symbol for any other code (Fn has no counterpart).
xkb_keysym_t keysymForKeyCode(uint16_t code);

// The keysyms of typed text, one per character (see keysyms.cpp).
std::vector<Wanted> keysymsOf(std::span<const uint16_t> units);

// The keysym of a Quartz media key type; no symbol for a type without one.
xkb_keysym_t mediaKeysym(uint32_t keyType);

// The button a mouse event of `type` for `button` presses or releases, numbered as X numbers them
// (1 left, 2 middle, 3 right, 8 back, 9 forward); 0 for a move or a drag, which are motions.
struct ButtonChange {
    uint8_t button = 0;
    bool press = false;
};
ButtonChange buttonChange(uint32_t type, uint32_t button);

// The modifier keys of an event's flags, in the order they are pressed.
inline constexpr std::pair<uint64_t, xkb_keysym_t> modifierKeys[] = {
    {flagMaskCommand, XKB_KEY_Super_L},
    {flagMaskControl, XKB_KEY_Control_L},
    {flagMaskAlternate, XKB_KEY_Alt_L},
    {flagMaskShift, XKB_KEY_Shift_L}};

} // namespace vantrel::platform::xkb
