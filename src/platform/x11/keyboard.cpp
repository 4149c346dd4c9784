// Keyboard rendering for X11: the core's key codes and typed text become XTEST key presses on
// the keycodes the server's current keymap has for them, in whatever layout and group is active.
//
// A character the keymap lacks is bound to a spare keycode (one with no symbols). Clients decode
// a key event with the keymap they hold when they read it, so changing a binding soon after its
// key was pressed can make a client decode that press with the new symbol. Bindings are therefore
// kept and reused, least recently used first, and a keycode is rebound only once it has been
// left alone for `rebindDelay`; each new binding is confirmed by a round trip before its key is
// pressed, so every client has the change notice queued ahead of the key event.

#include "platform/x11/display.h"

#include "platform/x11/xkb_protocol.h"
#include "support/posix/fd_wait.h"
#include <xcb/xcb.h>
#include <xcb/xtest.h>
#include <xkbcommon/xkbcommon-x11.h>

#include <algorithm>
#include <bit>
#include <bitset>
#include <cstdio>
#include <ctime>
#include <thread>

namespace vantrel::platform::x11 {

using xkb::exactly;
using xkb::keysymForKeyCode;
using xkb::keysymsOf;
using xkb::mediaKeysym;
using xkb::modifierKeys;
using xkb::Wanted;

namespace {

constexpr auto rebindDelay = std::chrono::milliseconds(100);
// How long a new binding is left before its key is pressed. A round trip only proves that
// vantrel's own connection saw the change; other clients (Chromium, through GDK's keymap) read
// the mapping notice and fetch the new keymap in their own time, and decode a key pressed before
// that with the old symbol.
constexpr auto settleDelay = std::chrono::milliseconds(20);
// How many of the characters to come are bound ahead: enough that the 8 ms pauses of the
// clusters before them cover the settling time.
constexpr size_t bindAheadCount = 4;

xkb_context* context() {
    // One context for the process: the keymap is read from the server, never from files, and
    // nothing is logged.
    static std::unique_ptr<xkb_context, ContextUnref> shared = [] {
        std::unique_ptr<xkb_context, ContextUnref> made(
            xkb_context_new(static_cast<xkb_context_flags>(XKB_CONTEXT_NO_DEFAULT_INCLUDES |
                                                           XKB_CONTEXT_NO_ENVIRONMENT_NAMES)));
        if (made) {
            xkb_context_set_log_fn(made.get(),
                                   [](xkb_context*, xkb_log_level, const char*, va_list) {});
            xkb_context_set_log_level(made.get(), XKB_LOG_LEVEL_CRITICAL);
        }
        return made;
    }();
    return shared.get();
}

bool isLockKeysym(xkb_keysym_t sym) {
    return sym == XKB_KEY_Caps_Lock || sym == XKB_KEY_Shift_Lock || sym == XKB_KEY_Num_Lock ||
           sym == XKB_KEY_Scroll_Lock;
}

// The keys whose modifier applications read as a command rather than a character.
bool isShortcutKeysym(xkb_keysym_t sym) {
    return sym == XKB_KEY_Control_L || sym == XKB_KEY_Control_R || sym == XKB_KEY_Alt_L ||
           sym == XKB_KEY_Alt_R || sym == XKB_KEY_Meta_L || sym == XKB_KEY_Meta_R ||
           sym == XKB_KEY_Super_L || sym == XKB_KEY_Super_R || sym == XKB_KEY_Hyper_L ||
           sym == XKB_KEY_Hyper_R;
}

xkb_keysym_t firstSym(xkb_keymap* keymap, xkb_keycode_t keycode) {
    const xkb_keysym_t* syms = nullptr;
    if (xkb_keymap_num_layouts_for_key(keymap, keycode) == 0) return XKB_KEY_NoSymbol;
    int count = xkb_keymap_key_get_syms_by_level(keymap, keycode, 0, 0, &syms);
    return count > 0 ? syms[0] : XKB_KEY_NoSymbol;
}

bool hasSymbols(xkb_keymap* keymap, xkb_keycode_t keycode) {
    xkb_layout_index_t layouts = xkb_keymap_num_layouts_for_key(keymap, keycode);
    for (xkb_layout_index_t layout = 0; layout < layouts; ++layout) {
        xkb_level_index_t levels = xkb_keymap_num_levels_for_key(keymap, keycode, layout);
        for (xkb_level_index_t level = 0; level < levels; ++level) {
            const xkb_keysym_t* syms = nullptr;
            if (xkb_keymap_key_get_syms_by_level(keymap, keycode, layout, level, &syms) > 0)
                return true;
        }
    }
    return false;
}

// Reads the server's keymap and works out where each keysym can be typed, which key holds each
// real modifier, and which keycodes are free. Bindings the new keymap no longer shows are
// forgotten (a layout change wipes them).
void readKeymap(Display& d) {
    // xkbcommon waits for its replies on its own, where a stop cannot end the wait: a server
    // that has just answered is asked; while one does not answer (frozen, or a stop came), the
    // keymap read before stays in use, still marked stale, so that what is held can be released.
    if (d.xkb && context() && !roundTrip(d)) return;
    d.keymapStale = false;
    d.places.clear();
    d.spare.clear();
    d.keymap.reset();
    if (!d.xkb || !context()) return;
    d.keymap.reset(xkb_x11_keymap_new_from_device(context(), d.connection.get(), d.keyboardDevice,
                                                  XKB_KEYMAP_COMPILE_NO_FLAGS));
    xkb_keymap* keymap = d.keymap.get();
    if (!keymap) return;

    Reply<xcb_get_modifier_mapping_reply_t> modmap = ask<xcb_get_modifier_mapping_reply_t>(
        d, [&] { return xcb_get_modifier_mapping(d.connection.get()); });
    std::vector<bool> inModmap(256, false);
    std::fill(std::begin(d.holdable), std::end(d.holdable), 0);
    std::fill(std::begin(d.modifierOf), std::end(d.modifierOf), 0);
    d.shortcutModifiers = XCB_MOD_MASK_CONTROL;
    uint8_t setByOtherKeys = 0, setByLocks = 0;
    if (modmap) {
        int perModifier = modmap->keycodes_per_modifier;
        const xcb_keycode_t* codes = xcb_get_modifier_mapping_keycodes(modmap.get());
        for (int mod = 0; mod < 8; ++mod) {
            auto bit = static_cast<uint8_t>(1u << mod);
            for (int i = 0; i < perModifier; ++i) {
                xcb_keycode_t code = codes[mod * perModifier + i];
                if (!code) continue;
                inModmap[code] = true;
                d.modifierOf[code] |= bit;
                xkb_keysym_t sym = firstSym(keymap, code);
                (isLockKeysym(sym) ? setByLocks : setByOtherKeys) |= bit;
                if (isShortcutKeysym(sym)) d.shortcutModifiers |= bit;
                if (!d.holdable[mod] && !isLockKeysym(sym)) d.holdable[mod] = code;
            }
        }
    }
    d.lockModifiers = static_cast<uint8_t>(XCB_MOD_MASK_LOCK | (setByLocks & ~setByOtherKeys));
    uint8_t usable = 0;
    for (int mod = 0; mod < 8; ++mod)
        if (d.holdable[mod]) usable |= static_cast<uint8_t>(1u << mod);

    xkb_keycode_t lowest = std::max<xkb_keycode_t>(8, xkb_keymap_min_keycode(keymap));
    xkb_keycode_t highest = std::min<xkb_keycode_t>(255, xkb_keymap_max_keycode(keymap));
    for (xkb_keycode_t keycode = lowest; keycode <= highest; ++keycode) {
        if (!hasSymbols(keymap, keycode)) {
            if (!inModmap[keycode]) d.spare.push_back(static_cast<xcb_keycode_t>(keycode));
            continue;
        }
        xkb_layout_index_t layouts = xkb_keymap_num_layouts_for_key(keymap, keycode);
        for (xkb_layout_index_t layout = 0; layout < layouts; ++layout) {
            xkb_level_index_t levels = xkb_keymap_num_levels_for_key(keymap, keycode, layout);
            for (xkb_level_index_t level = 0; level < levels; ++level) {
                const xkb_keysym_t* syms = nullptr;
                if (xkb_keymap_key_get_syms_by_level(keymap, keycode, layout, level, &syms) != 1)
                    continue;
                xkb_mod_mask_t masks[16];
                size_t count =
                    xkb_keymap_key_get_mods_for_level(keymap, keycode, layout, level, masks, 16);
                // The mask with the fewest modifiers that can all be held; levels reached only
                // through a lock (Caps Lock, Num Lock) are left alone.
                std::optional<uint8_t> best;
                for (size_t i = 0; i < count; ++i) {
                    if (masks[i] & ~static_cast<xkb_mod_mask_t>(usable)) continue;
                    auto mask = static_cast<uint8_t>(masks[i]);
                    if (!best || std::popcount(mask) < std::popcount(*best)) best = mask;
                }
                if (!best) continue;
                d.places[syms[0]].push_back(
                    KeyPlace{static_cast<xcb_keycode_t>(keycode), layout, *best});
            }
        }
    }

    std::erase_if(d.bindings, [&](const Binding& binding) {
        auto found = d.places.find(binding.keysym);
        return found == d.places.end() ||
               std::none_of(found->second.begin(), found->second.end(),
                            [&](const KeyPlace& p) { return p.keycode == binding.keycode; });
    });
}

void refreshKeymap(Display& d) {
    drainEvents(d);
    if (d.keymapStale) readKeymap(d);
}

struct GroupState {
    uint32_t effective = 0;
    uint32_t locked = 0;
};

// The group from the state notices the server sends, read with a round trip only when unknown.
GroupState groupState(Display& d) {
    if (!d.xkb) return {};
    if (!d.groupKnown) {
        Reply<xcb_xkb_get_state_reply_t> state = ask<xcb_xkb_get_state_reply_t>(
            d, [&] { return xcb_xkb_get_state(d.connection.get(), XCB_XKB_ID_USE_CORE_KBD); });
        if (!state) return {};
        d.group = state->group;
        d.lockedGroup = state->lockedGroup;
        d.groupKnown = true;
        // Notices read afterwards are newer than this answer.
    }
    return {d.group, d.lockedGroup};
}

void lockGroup(Display& d, uint32_t group) {
    d.groupKnown = false;
    xcb_xkb_latch_lock_state(d.connection.get(), XCB_XKB_ID_USE_CORE_KBD, 0, 0, 1,
                             static_cast<uint8_t>(group), 0, 0, 0);
}

bool isBound(const Display& d, xcb_keycode_t keycode) {
    return std::any_of(d.bindings.begin(), d.bindings.end(),
                       [&](const Binding& b) { return b.keycode == keycode; });
}

// A spare keycode that no binding of vantrel's, and no other vantrel on the display, uses, if
// any is left; claimed in the display's shared record.
std::optional<xcb_keycode_t> freeSpare(Display& d) {
    std::vector<xcb_keycode_t> candidates;
    for (xcb_keycode_t candidate : d.spare)
        if (!isBound(d, candidate)) candidates.push_back(candidate);
    return claimSpare(d, candidates);
}

// A keycode for a keysym the keymap lacks: its existing binding, a spare keycode, or the least
// recently used binding once it has rested long enough.
std::optional<xcb_keycode_t> bind(Display& d, xkb_keysym_t keysym) {
    for (Binding& binding : d.bindings) {
        if (binding.keysym == keysym) {
            if (Clock::now() < binding.boundAt + settleDelay)
                restUntil(d, binding.boundAt + settleDelay);
            binding.lastUsed = Clock::now();
            return binding.keycode;
        }
    }
    std::optional<xcb_keycode_t> keycode = freeSpare(d);
    if (!keycode) {
        if (d.bindings.empty()) return std::nullopt;
        auto oldest = std::min_element(
            d.bindings.begin(), d.bindings.end(),
            [](const Binding& a, const Binding& b) { return a.lastUsed < b.lastUsed; });
        if (Clock::now() < oldest->lastUsed + rebindDelay)
            restUntil(d, oldest->lastUsed + rebindDelay);
        keycode = oldest->keycode;
        d.bindings.erase(oldest);
    }
    // The same symbol on both levels, so that a held Shift does not change it.
    xcb_keysym_t syms[2] = {keysym, keysym};
    xcb_change_keyboard_mapping(d.connection.get(), 1, *keycode, 2, syms);
    if (!roundTrip(d)) return std::nullopt;
    Clock::time_point now = Clock::now();
    d.bindings.push_back(Binding{*keycode, keysym, now, now});
    restUntil(d, now + settleDelay);
    d.bindings.back().lastUsed = Clock::now();
    return keycode;
}

// The keycode, group and modifier keys that type `wanted` now, binding a spare keycode when the
// keymap has no place for it. `foreign` are the modifiers in effect that vantrel cannot release
// (another program's): a place is taken only if it still types the keysym with them added; the
// binding of a spare keycode, the same keysym on both levels, does.
std::optional<Stroke> strokeFor(Display& d, Wanted wanted, bool mayBind = true,
                                uint8_t foreign = 0) {
    if (wanted.keysym == XKB_KEY_NoSymbol) return std::nullopt;
    refreshKeymap(d);
    if (!d.keymap) return std::nullopt;
    GroupState group = groupState(d);
    Stroke stroke;
    auto found = d.places.find(wanted.keysym);
    if (found == d.places.end() && wanted.alternative != XKB_KEY_NoSymbol)
        found = d.places.find(wanted.alternative);
    // A key of one group types its symbol in every group; a key of several only in its own.
    auto typesNow = [&](const KeyPlace& p) {
        return p.group == group.effective ||
               xkb_keymap_num_layouts_for_key(d.keymap.get(), p.keycode) == 1;
    };
    std::unique_ptr<xkb_state, StateUnref> trial;
    if (foreign && found != d.places.end()) trial.reset(xkb_state_new(d.keymap.get()));
    auto typesWithForeign = [&](const KeyPlace& p) {
        if (!foreign || !trial) return true;
        uint32_t layout = typesNow(p) ? group.effective : p.group;
        xkb_state_update_mask(trial.get(), foreign | p.mods, 0, 0, 0, 0, layout);
        return xkb_state_key_get_one_sym(trial.get(), p.keycode) == found->first;
    };
    const KeyPlace* best = nullptr;
    if (found != d.places.end()) {
        auto rank = [&](const KeyPlace& p) {
            return std::make_tuple(!typesNow(p), std::popcount(p.mods), p.keycode);
        };
        for (const KeyPlace& place : found->second)
            if (typesWithForeign(place) && (!best || rank(place) < rank(*best))) best = &place;
    }
    if (best) {
        for (Binding& binding : d.bindings)
            if (binding.keycode == best->keycode) binding.lastUsed = Clock::now();
        stroke.keycode = best->keycode;
        for (int mod = 0; mod < 8; ++mod)
            if (best->mods & (1u << mod)) stroke.modifiers.push_back(d.holdable[mod]);
        if (!typesNow(*best)) {
            stroke.group = best->group;
            stroke.restoreGroup = group.locked;
        }
        return stroke;
    }
    if (!mayBind) return std::nullopt;
    std::optional<xcb_keycode_t> keycode = bind(d, wanted.bindAs);
    if (!keycode) return std::nullopt;
    stroke.keycode = *keycode;
    return stroke;
}

void press(Display& d, const Stroke& stroke, const std::vector<xcb_keycode_t>& before = {}) {
    if (stroke.group) lockGroup(d, *stroke.group);
    for (xcb_keycode_t modifier : before)
        fakeInput(d, XCB_KEY_PRESS, modifier);
    for (xcb_keycode_t modifier : stroke.modifiers)
        fakeInput(d, XCB_KEY_PRESS, modifier);
    fakeInput(d, XCB_KEY_PRESS, stroke.keycode);
}

void release(Display& d, const Stroke& stroke) {
    fakeInput(d, XCB_KEY_RELEASE, stroke.keycode);
    for (auto modifier = stroke.modifiers.rbegin(); modifier != stroke.modifiers.rend(); ++modifier)
        fakeInput(d, XCB_KEY_RELEASE, *modifier);
    if (stroke.restoreGroup) lockGroup(d, *stroke.restoreGroup);
    for (Binding& binding : d.bindings)
        if (binding.keycode == stroke.keycode) binding.lastUsed = Clock::now();
}

// The Unicode keysyms of the characters announced to come next that the keymap lacks, in order.
std::vector<xkb_keysym_t> absentKeysyms(Display& d, const std::vector<uint16_t>& units) {
    std::vector<xkb_keysym_t> absent;
    for (const Wanted& wanted : keysymsOf(units))
        if (!d.places.count(wanted.keysym) && !d.places.count(wanted.alternative))
            absent.push_back(wanted.bindAs);
    return absent;
}

// Held keys are tracked by the core's key code; typed text and media keys by their own ranges.
constexpr uint32_t typedTextKey = 0x10000;
constexpr uint32_t mediaKeyBase = 0x20000;

// Whether a held stroke has `keycode` down, as its key or as one of its modifiers.
bool isDown(const Display& d, xcb_keycode_t keycode) {
    for (const auto& [slot, stroke] : d.held)
        if (stroke.keycode == keycode || std::find(stroke.modifiers.begin(), stroke.modifiers.end(),
                                                   keycode) != stroke.modifiers.end())
            return true;
    return false;
}

// The keys the server has down now, from every device: keys a person or another program holds
// as well as vantrel's own. Empty when the server does not answer.
std::bitset<256> downInServer(Display& d) {
    std::bitset<256> down;
    Reply<xcb_query_keymap_reply_t> keymap =
        ask<xcb_query_keymap_reply_t>(d, [&] { return xcb_query_keymap(d.connection.get()); });
    if (!keymap) return down;
    for (size_t i = 0; i < 256; ++i)
        down[i] = (keymap->keys[i / 8] >> (i % 8)) & 1;
    return down;
}

// The modifiers in effect that vantrel's own held keys do not explain: keys a person or another
// program holds, and latches and locks. One round trip, which also brings the group up to date.
uint8_t foreignModifiers(Display& d) {
    if (!d.xkb) return 0;
    Reply<xcb_xkb_get_state_reply_t> state = ask<xcb_xkb_get_state_reply_t>(
        d, [&] { return xcb_xkb_get_state(d.connection.get(), XCB_XKB_ID_USE_CORE_KBD); });
    if (!state) return 0;
    d.group = state->group;
    d.lockedGroup = state->lockedGroup;
    d.groupKnown = true;
    uint8_t own = 0;
    for (const auto& [slot, stroke] : d.held) {
        own |= d.modifierOf[stroke.keycode];
        for (xcb_keycode_t modifier : stroke.modifiers)
            own |= d.modifierOf[modifier];
    }
    return static_cast<uint8_t>((state->baseMods & ~own) | state->latchedMods | state->lockedMods);
}

// Records that keys were not pressed because modifiers vantrel may not release are in effect.
void refuseUnder(Display& d, uint8_t modifiers, std::string_view consequence) {
    static const char* const realNames[8] = {"Shift", "Lock", "Control", "Mod1",
                                             "Mod2",  "Mod3", "Mod4",    "Mod5"};
    std::string names;
    for (int mod = 0; mod < 8; ++mod) {
        if (!(modifiers & (1u << mod))) continue;
        char name[64] = {};
        xkb_keysym_t sym = d.holdable[mod] && d.keymap ? firstSym(d.keymap.get(), d.holdable[mod])
                                                       : XKB_KEY_NoSymbol;
        if (sym == XKB_KEY_NoSymbol || xkb_keysym_get_name(sym, name, sizeof name) <= 0)
            std::snprintf(name, sizeof name, "%s", realNames[mod]);
        names += (names.empty() ? "" : ", ") + std::string(name);
    }
    if (d.undelivered.empty())
        d.undelivered = "x11: " + names +
                        " held by another program or a person (vantrel does not release "
                        "what it did not press); " +
                        std::string(consequence);
}

void releaseHeld(Display& d, uint32_t slot) {
    auto found = d.held.find(slot);
    if (found == d.held.end()) return;
    release(d, found->second);
    d.held.erase(found);
}

} // namespace

void expectText(Display& d, const std::vector<uint16_t>& units) {
    refreshKeymap(d);
    d.upcoming = absentKeysyms(d, units);
    d.nextUpcoming = 0;
}

// Binds, during a pause that is taken anyway, the next few characters the keymap lacks, so that
// their settling time has passed when their keys are pressed. Only a keycode that can be had
// without waiting is taken: a spare one, or a binding that has rested and is not about to be
// typed itself.
void bindAhead(Display& d) {
    refreshKeymap(d);
    if (!d.keymap) return;
    size_t end = std::min(d.upcoming.size(), d.nextUpcoming + bindAheadCount);
    for (size_t i = d.nextUpcoming; i < end; ++i) {
        xkb_keysym_t keysym = d.upcoming[i];
        if (std::any_of(d.bindings.begin(), d.bindings.end(),
                        [&](const Binding& b) { return b.keysym == keysym; }))
            continue;
        std::optional<xcb_keycode_t> keycode = freeSpare(d);
        Clock::time_point now = Clock::now();
        if (!keycode) {
            auto soon = [&](const Binding& b) {
                for (size_t j = d.nextUpcoming; j < d.upcoming.size() && j < i + bindAheadCount;
                     ++j)
                    if (d.upcoming[j] == b.keysym) return true;
                return isDown(d, b.keycode);
            };
            auto oldest = d.bindings.end();
            for (auto b = d.bindings.begin(); b != d.bindings.end(); ++b)
                if (!soon(*b) && (oldest == d.bindings.end() || b->lastUsed < oldest->lastUsed))
                    oldest = b;
            if (oldest == d.bindings.end() || now < oldest->lastUsed + rebindDelay) return;
            keycode = oldest->keycode;
            d.bindings.erase(oldest);
        }
        xcb_keysym_t syms[2] = {keysym, keysym};
        xcb_change_keyboard_mapping(d.connection.get(), 1, *keycode, 2, syms);
        if (!roundTrip(d)) return;
        d.bindings.push_back(Binding{*keycode, keysym, Clock::now(), Clock::now()});
    }
}

void liftLocks(Display& d) {
    if (!d.xkb || d.capsLockLifted) return;
    Reply<xcb_xkb_get_state_reply_t> state = ask<xcb_xkb_get_state_reply_t>(
        d, [&] { return xcb_xkb_get_state(d.connection.get(), XCB_XKB_ID_USE_CORE_KBD); });
    if (!state || !(state->lockedMods & XCB_MOD_MASK_LOCK)) return;
    xcb_xkb_latch_lock_state(d.connection.get(), XCB_XKB_ID_USE_CORE_KBD, XCB_MOD_MASK_LOCK, 0, 0,
                             0, 0, 0, 0);
    d.capsLockLifted = true;
}

void restoreLocks(Display& d) {
    if (!d.capsLockLifted) return;
    d.capsLockLifted = false;
    xcb_xkb_latch_lock_state(d.connection.get(), XCB_XKB_ID_USE_CORE_KBD, XCB_MOD_MASK_LOCK,
                             XCB_MOD_MASK_LOCK, 0, 0, 0, 0, 0);
}

// Once part of a request could not be delivered, nothing more of it is pressed: the request
// fails, and keys typed after a gap (or under another program's Control) would only do harm.
// What is held is still released.
void postKey(Display& d, const EventRecord& event) {
    if (event.keyDown && !d.undelivered.empty()) return;
    if (event.keyDown) liftLocks(d);
    if (event.text) {
        // The key down types the characters and holds the last one; the key up releases it.
        if (!event.keyDown) return releaseHeld(d, typedTextKey);
        releaseHeld(d, typedTextKey);
        std::vector<Wanted> syms = keysymsOf(*event.text);
        for (const Wanted& wanted : syms)
            if (d.nextUpcoming < d.upcoming.size() && d.upcoming[d.nextUpcoming] == wanted.bindAs)
                ++d.nextUpcoming;
        // Modifiers another program holds change what keys type. Shift and the level shifts
        // are typed around (keys and levels that still yield the character); Control, Alt and
        // Super would make the text shortcuts, and vantrel may not release them.
        uint8_t foreign = foreignModifiers(d);
        if (uint8_t blocking = foreign & d.shortcutModifiers & ~d.lockModifiers) {
            return refuseUnder(d, blocking,
                               "typing would send shortcuts, so nothing more was typed");
        }
        for (size_t i = 0; i < syms.size(); ++i) {
            std::optional<Stroke> stroke = strokeFor(d, syms[i], true, foreign);
            if (!stroke) {
                if (d.keymap && d.undelivered.empty() && syms[i].bindAs != XKB_KEY_NoSymbol) {
                    char code[16];
                    std::snprintf(code, sizeof code, "U+%04X",
                                  static_cast<unsigned>(xkb_keysym_to_utf32(syms[i].bindAs)));
                    d.undelivered = std::string("x11: the keymap has no key for ") + code +
                                    " and no spare keycode is free";
                }
                continue;
            }
            // A modifier key that is down already, whoever holds it, is neither pressed nor
            // released: releasing it would let go of what vantrel did not press.
            std::bitset<256> down;
            if (!stroke->modifiers.empty()) down = downInServer(d);
            std::erase_if(stroke->modifiers,
                          [&](xcb_keycode_t code) { return isDown(d, code) || down[code]; });
            press(d, *stroke);
            if (i + 1 < syms.size()) {
                release(d, *stroke);
            } else {
                d.held[typedTextKey] = std::move(*stroke);
            }
        }
        return;
    }
    uint32_t slot = event.keyCode;
    if (!event.keyDown) return releaseHeld(d, slot);
    releaseHeld(d, slot);
    std::optional<Stroke> stroke = strokeFor(d, exactly(keysymForKeyCode(event.keyCode)));
    if (!stroke) return;
    // X has no per-event flags: the modifier keys of the mask are pressed around the key.
    std::vector<xcb_keycode_t> modifiers;
    std::bitset<256> down;
    if (event.flags || !stroke->modifiers.empty()) down = downInServer(d);
    uint8_t named = 0;
    for (xcb_keycode_t code : stroke->modifiers)
        named |= d.modifierOf[code];
    for (const auto& [flag, keysym] : modifierKeys) {
        if (!(event.flags & flag)) continue;
        std::optional<Stroke> modifier = strokeFor(d, exactly(keysym), false);
        if (modifier) named |= d.modifierOf[modifier->keycode];
        // A modifier down already (pressed on its own, this very key, or held by a person or
        // another program) is in effect: pressing it again would release it with this key.
        if (modifier && modifier->keycode != stroke->keycode && !isDown(d, modifier->keycode) &&
            !down[modifier->keycode] &&
            std::find(modifiers.begin(), modifiers.end(), modifier->keycode) == modifiers.end())
            modifiers.push_back(modifier->keycode);
    }
    std::erase_if(stroke->modifiers, [&](xcb_keycode_t code) {
        return down[code] || std::find(modifiers.begin(), modifiers.end(), code) != modifiers.end();
    });
    // A combination carries exactly the modifiers it names (the locks aside, which applications
    // ignore in shortcuts and Caps Lock is lifted anyway); a key is itself a modifier of its own.
    named |= d.modifierOf[stroke->keycode];
    if (uint8_t extra = foreignModifiers(d) & ~d.lockModifiers & ~named) {
        return refuseUnder(d, extra, "the combination would carry it, so it was not pressed");
    }
    press(d, *stroke, modifiers);
    stroke->modifiers.insert(stroke->modifiers.begin(), modifiers.begin(), modifiers.end());
    d.held[slot] = std::move(*stroke);
}

void postSystem(Display& d, const EventRecord& event) {
    auto word = static_cast<uint32_t>(event.system.data1);
    uint32_t keyType = (word >> 16) & 0xFFFF, state = (word >> 8) & 0xFF;
    if (mediaKeysym(keyType) == XKB_KEY_NoSymbol) return;
    uint32_t slot = mediaKeyBase + keyType;
    if (state == 0x0B) return releaseHeld(d, slot);
    if (state != 0x0A || !d.undelivered.empty()) return;
    releaseHeld(d, slot);
    std::optional<Stroke> stroke = strokeFor(d, exactly(mediaKeysym(keyType)));
    if (!stroke) return;
    press(d, *stroke);
    d.held[slot] = std::move(*stroke);
}

Clock::time_point lastUse(const Display& d) {
    return std::max_element(
               d.bindings.begin(), d.bindings.end(),
               [](const Binding& a, const Binding& b) { return a.lastUsed < b.lastUsed; })
        ->lastUsed;
}

void unbindAll(Display& d) {
    if (d.bindings.empty()) return;
    // Clients may still be decoding the last keys: let the bindings rest before removing them.
    xcb_flush(d.connection.get());
    std::this_thread::sleep_until(lastUse(d) + rebindDelay);
    for (const Binding& binding : d.bindings) {
        xcb_keysym_t none[2] = {XKB_KEY_NoSymbol, XKB_KEY_NoSymbol};
        xcb_change_keyboard_mapping(d.connection.get(), 1, binding.keycode, 2, none);
    }
    d.bindings.clear();
    releaseClaims(d);
    xcb_flush(d.connection.get());
}

void releaseEverything(Display& d) {
    while (!d.held.empty())
        releaseHeld(d, d.held.begin()->first);
    restoreLocks(d);
    unbindAll(d);
    roundTrip(d);
}

} // namespace vantrel::platform::x11
