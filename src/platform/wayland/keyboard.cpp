// Keyboard rendering for Wayland: the virtual keyboard carries a keymap vantrel uploads, so
// typing changes no keymap another client shares. The keymap is the layout's (xkbcommon's
// defaults) plus, on keys of a full keyboard that vantrel never names (F13 to F24, the keypad,
// ...), the keysyms of characters the layout lacks. A text's missing characters are added
// together before its first key, as many as there are such keys (48); a text that needs more
// takes a new keymap when it comes to them.
//
// A client decodes each key with the keymap it last received, and the compositor sends it the
// new keymap before any key pressed after the upload: a round trip proves the compositor has
// taken the keymap and passed it on, and a short rest lets the focused client read it.
//
// A cluster beyond the Basic Multilingual Plane goes to a client that takes text input through
// the input method instead (input_method.cpp); it is typed on keys only when that cannot be.

#include "fake-input-client-protocol.h"
#include "platform/wayland/compositor.h"
#include "support/posix/fd_wait.h"
#include "virtual-keyboard-unstable-v1-client-protocol.h"

#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>

namespace vantrel::platform::wayland {

namespace {

using xkb::exactly;
using xkb::Wanted;

// The least time between two keys sent to mutter, and after a key that changed the modifiers:
// gnome-shell hands each key to IBus before it applies the key, and sends the client the
// modifiers as they are then; a key that follows a modifier's release within 5 ms or so arrives
// with that modifier still on now and then ("~`" typed as "~~").
constexpr auto mutterKeyPace = std::chrono::milliseconds(5);
constexpr auto mutterModifierPace = std::chrono::milliseconds(20);

// How long a client is given to take a new keymap before a key is pressed on it.
constexpr auto settleDelay = std::chrono::milliseconds(20);

// Held keys are tracked by the core's key code; typed text and media keys by their own ranges.
constexpr uint32_t typedTextKey = 0x10000;
constexpr uint32_t mediaKeyBase = 0x20000;

// The evdev codes of keys every toolkit knows by name (they have DOM codes in Chromium) that
// vantrel's key names never use: F13 to F24, the keypad, the language and international keys,
// and the editing keys (Again, Undo, Select, Copy, Open, Paste, Find, Cut).
constexpr xkb_keycode_t knownUnnamedKeys[] = {
    183, 184, 185, 186, 187, 188, 189, 190, 191, 192, 193, 194,             // F13 to F24
    55,  71,  72,  73,  74,  75,  76,  77,  78,  79,  80,  81,  82, 83, 96, // the keypad
    98,  117, 121, 179, 180,                                                //
    85,  89,  90,  91,  92,  93,  94,  122, 123, 124,                       // languages
    129, 131, 132, 133, 134, 135, 136, 137};                                // editing

xkb_context* context() {
    static std::unique_ptr<xkb_context, void (*)(xkb_context*)> shared(
        xkb_context_new(XKB_CONTEXT_NO_FLAGS), xkb_context_unref);
    return shared.get();
}

// Sends the keymap in a memory file, as the protocol takes it.
bool upload(Compositor& c, const std::string& text) {
    int fd = memfd_create("vantrel-keymap", MFD_CLOEXEC);
    if (fd < 0) return false;
    const char* data = text.c_str();
    size_t left = text.size() + 1, size = left; // with its terminating NUL, as clients expect
    while (left > 0) {
        ssize_t written = ::write(fd, data, left);
        if (written < 0) {
            if (errno == EINTR) continue;
            ::close(fd);
            return false;
        }
        data += written;
        left -= static_cast<size_t>(written);
    }
    zwp_virtual_keyboard_v1_keymap(c.keyboard, WL_KEYBOARD_KEYMAP_FORMAT_XKB_V1, fd,
                                   static_cast<uint32_t>(size));
    ::close(fd); // the request holds a duplicate until it is sent
    return true;
}

// KWin and mutter keep the modifier state of the keys they are sent themselves.
void sendModifiers(Compositor& c) {
    if (c.device != Device::wlroots) return;
    xkb_state* s = c.state.get();
    zwp_virtual_keyboard_v1_modifiers(c.keyboard,
                                      xkb_state_serialize_mods(s, XKB_STATE_MODS_DEPRESSED),
                                      xkb_state_serialize_mods(s, XKB_STATE_MODS_LATCHED),
                                      xkb_state_serialize_mods(s, XKB_STATE_MODS_LOCKED),
                                      xkb_state_serialize_layout(s, XKB_STATE_LAYOUT_EFFECTIVE));
}

void sendKey(Compositor& c, xkb_keycode_t keycode, bool down) {
    // Both protocols carry evdev codes: xkb keycodes less 8.
    uint32_t state = down ? WL_KEYBOARD_KEY_STATE_PRESSED : WL_KEYBOARD_KEY_STATE_RELEASED;
    if (c.device == Device::kwin) {
        org_kde_kwin_fake_input_keyboard_key(c.fakeInput, keycode - 8, state);
    } else if (c.device == Device::mutter) {
        // gnome-shell hands each key to its input method before applying it: keys faster than
        // that arrive with the modifiers of the keys before them. The release of the key just
        // pressed, which changed no modifier, goes at once: the modifiers are the same for it,
        // and a client that reads a press alone and then stalls (a GTK 4 entry loading a font)
        // repeats the key when its repeat delay passes before it reads the release (a space
        // doubled, in about 1 of 15 runs, when the release trailed by the engine's answer).
        if (down || keycode != c.lastPressed || c.modifiersChanged)
            sleepUntil(
                std::max(c.lastKey + (c.modifiersChanged ? mutterModifierPace : mutterKeyPace),
                         ibusHasKeys(c) + mutterKeyPace));
        // The engine has been handed the keys before (unless it is not serving a field): once
        // it kept one, nothing more is pressed, and a press not sent is not released either.
        if (auto unsent = std::find(c.unsent.begin(), c.unsent.end(), keycode);
            !down && unsent != c.unsent.end()) {
            c.unsent.erase(unsent);
            return;
        }
        if (down && ibusKeptKeys(c)) {
            c.unsent.push_back(keycode);
            return;
        }
        if (down) ibusGuardKey(c, keycode);
        remoteKey(*c.remote, keycode - 8, down);
        if (c.ibusAsked) ++c.keysSinceEngaged;
    } else
        zwp_virtual_keyboard_v1_key(c.keyboard, now(), keycode - 8, state);
    constexpr auto modifiers = XKB_STATE_MODS_DEPRESSED | XKB_STATE_MODS_LATCHED |
                               XKB_STATE_MODS_LOCKED | XKB_STATE_LAYOUT_EFFECTIVE;
    c.modifiersChanged =
        (xkb_state_update_key(c.state.get(), keycode, down ? XKB_KEY_DOWN : XKB_KEY_UP) &
         modifiers) != 0;
    sendModifiers(c);
    c.lastKey = Clock::now();
    c.lastPressed = down ? keycode : 0;
}

// The modifiers a place needs, by how many keys they add: the place with the fewest wins.
int weight(const KeyPlace& place) {
    return place.shift + 2 * place.levelThree;
}

// The modifiers vantrel can press to reach a level: Shift, and in a keymap it did not make, the
// third-level shift (Mod5 in the layouts' keymaps). Its own keymap is typed on its first two
// levels only.
struct Reach {
    xkb_mod_mask_t shift = 0, levelThree = 0, usable = 0;
};
Reach reachOf(xkb_keymap* k, Device device) {
    xkb_mod_index_t shiftIndex = xkb_keymap_mod_get_index(k, XKB_MOD_NAME_SHIFT);
    xkb_mod_index_t levelThreeIndex = xkb_keymap_mod_get_index(k, "Mod5");
    Reach reach;
    reach.shift = shiftIndex == XKB_MOD_INVALID ? 0 : 1u << shiftIndex;
    reach.levelThree = levelThreeIndex == XKB_MOD_INVALID ? 0 : 1u << levelThreeIndex;
    reach.usable = device == Device::wlroots ? reach.shift : reach.shift | reach.levelThree;
    return reach;
}

// Where `level` of a key is typed with what vantrel can press; nothing for a level reached
// otherwise.
std::optional<KeyPlace> placeOf(xkb_keymap* k, xkb_keycode_t code, xkb_level_index_t level,
                                const Reach& reach) {
    xkb_mod_mask_t masks[8];
    size_t count = xkb_keymap_key_get_mods_for_level(k, code, 0, level, masks, 8);
    std::optional<KeyPlace> best;
    for (size_t i = 0; i < count; ++i) {
        if (masks[i] & ~reach.usable) continue;
        KeyPlace place{code, (masks[i] & reach.shift) != 0, (masks[i] & reach.levelThree) != 0};
        if (!best || weight(place) < weight(*best)) best = place;
    }
    return best;
}

// Takes `text` as the keymap: compiles it as clients will, uploads it, and works out where each
// keysym is typed. The keys held stay held in the new state.
bool useKeymap(Compositor& c, const std::string& text) {
    std::unique_ptr<xkb_keymap, KeymapUnref> keymap(xkb_keymap_new_from_string(
        context(), text.c_str(), XKB_KEYMAP_FORMAT_TEXT_V1, XKB_KEYMAP_COMPILE_NO_FLAGS));
    if (!keymap || (c.device == Device::wlroots && !upload(c, text))) return false;
    c.keymap = std::move(keymap);
    c.state.reset(xkb_state_new(c.keymap.get()));
    for (const auto& [slot, stroke] : c.held) {
        for (xkb_keycode_t modifier : stroke.modifiers)
            xkb_state_update_key(c.state.get(), modifier, XKB_KEY_DOWN);
        xkb_state_update_key(c.state.get(), stroke.keycode, XKB_KEY_DOWN);
    }
    sendModifiers(c);
    c.places.clear();
    xkb_keymap* k = c.keymap.get();
    Reach reach = reachOf(k, c.device);
    for (xkb_keycode_t code = xkb_keymap_min_keycode(k); code <= xkb_keymap_max_keycode(k);
         ++code) {
        if (code < 9 || xkb_keymap_num_layouts_for_key(k, code) == 0) continue;
        // The layout's keys beyond 255 (EuroSign on 443) are out of reach of X clients and
        // dropped by Chromium: a character found only there is added on a spare key.
        if (code > 255) continue;
        for (xkb_level_index_t level = 0; level < xkb_keymap_num_levels_for_key(k, code, 0);
             ++level) {
            const xkb_keysym_t* syms = nullptr;
            if (xkb_keymap_key_get_syms_by_level(k, code, 0, level, &syms) != 1) continue;
            std::optional<KeyPlace> place = placeOf(k, code, level, reach);
            if (!place) continue;
            auto [at, inserted] = c.places.try_emplace(syms[0], *place);
            if (!inserted && weight(*place) < weight(at->second)) at->second = *place;
        }
    }
    auto shift = c.places.find(XKB_KEY_Shift_L);
    c.shiftKey = shift == c.places.end() ? 0 : shift->second.keycode;
    auto levelThree = c.places.find(XKB_KEY_ISO_Level3_Shift);
    c.levelThreeKey = levelThree == c.places.end() ? 0 : levelThree->second.keycode;
    return true;
}

// The layout's keymap text with `added` on the spare keycodes, one keysym on both levels (a held
// Shift does not change it). A key the layout defines already is defined again after it, which
// replaces it.
std::string keymapText(const Compositor& c) {
    std::string names, keys;
    char name[16], sym[64];
    for (size_t i = 0; i < c.added.size(); ++i) {
        xkb_keycode_t code = c.spare[i];
        const char* existing = xkb_keymap_key_get_name(c.base.get(), code);
        std::string keyName = existing ? existing : "";
        if (!existing) {
            std::snprintf(name, sizeof name, "V%u", code);
            keyName = name;
            names += "\t<" + keyName + "> = " + std::to_string(code) + ";\n";
        }
        if (xkb_keysym_get_name(c.added[i], sym, sizeof sym) < 0) continue;
        keys += "\tkey <" + keyName + "> { [ " + sym + ", " + sym + " ] };\n";
    }
    std::string text = c.baseText;
    size_t symbols = text.find("xkb_symbols");
    size_t symbolsEnd = symbols == std::string::npos ? symbols : text.find("\n};", symbols);
    if (symbolsEnd != std::string::npos) text.insert(symbolsEnd + 1, keys);
    size_t keycodes = text.find("xkb_keycodes");
    size_t keycodesEnd = keycodes == std::string::npos ? keycodes : text.find("\n};", keycodes);
    if (keycodesEnd != std::string::npos) text.insert(keycodesEnd + 1, names);
    return text;
}

// Adds the keysyms the keymap lacks, as many as there are spare keys; those added before and
// not needed now fill the rest. A round trip and a rest follow, so the focused client has the
// keymap before the next key.
void addKeysyms(Compositor& c, const std::vector<xkb_keysym_t>& wanted) {
    std::vector<xkb_keysym_t> next;
    for (xkb_keysym_t sym : wanted)
        if (next.size() < c.spare.size() && std::find(next.begin(), next.end(), sym) == next.end())
            next.push_back(sym);
    if (next.empty()) return;
    for (xkb_keysym_t sym : c.added)
        if (next.size() < c.spare.size() && std::find(next.begin(), next.end(), sym) == next.end())
            next.push_back(sym);
    c.added = std::move(next);
    if (!useKeymap(c, keymapText(c))) return;
    roundTrip(c);
    sleepUntil(Clock::now() + settleDelay);
}

bool present(const Compositor& c, const Wanted& wanted) {
    for (xkb_keysym_t sym : {wanted.keysym, wanted.alternative}) {
        auto found = c.places.find(sym);
        if (found != c.places.end() && (!found->second.levelThree || c.levelThreeKey)) return true;
    }
    return false;
}

std::optional<Stroke> strokeFor(const Compositor& c, const Wanted& wanted) {
    auto found = c.places.find(wanted.keysym);
    if (found == c.places.end() && wanted.alternative != XKB_KEY_NoSymbol)
        found = c.places.find(wanted.alternative);
    if (found == c.places.end()) return std::nullopt;
    Stroke stroke{found->second.keycode, {}};
    if (found->second.levelThree) {
        if (!c.levelThreeKey) return std::nullopt;
        stroke.modifiers.push_back(c.levelThreeKey);
    }
    if (found->second.shift && c.shiftKey) stroke.modifiers.push_back(c.shiftKey);
    return stroke;
}

bool isDown(const Compositor& c, xkb_keycode_t keycode) {
    for (const auto& [slot, stroke] : c.held)
        if (stroke.keycode == keycode || std::find(stroke.modifiers.begin(), stroke.modifiers.end(),
                                                   keycode) != stroke.modifiers.end())
            return true;
    return false;
}

void press(Compositor& c, const Stroke& stroke) {
    for (xkb_keycode_t modifier : stroke.modifiers)
        sendKey(c, modifier, true);
    sendKey(c, stroke.keycode, true);
}

void release(Compositor& c, const Stroke& stroke) {
    sendKey(c, stroke.keycode, false);
    for (auto modifier = stroke.modifiers.rbegin(); modifier != stroke.modifiers.rend(); ++modifier)
        sendKey(c, *modifier, false);
}

void releaseHeld(Compositor& c, uint32_t slot) {
    auto found = c.held.find(slot);
    if (found == c.held.end()) return;
    Stroke stroke = std::move(found->second);
    c.held.erase(found);
    release(c, stroke);
}

void hold(Compositor& c, uint32_t slot, Stroke stroke) {
    // A modifier held already (on its own, or by another key) is down: pressing it again would
    // release it with this key.
    std::erase_if(stroke.modifiers, [&](xkb_keycode_t code) { return isDown(c, code); });
    press(c, stroke);
    c.held[slot] = std::move(stroke);
}

// Whether KWin takes keysyms as well as keys (fake input version 6, KWin 6): it then finds or makes
// a key for any keysym itself.
bool takesKeysyms(const Compositor& c) {
    return c.device == Device::kwin && c.fakeInputVersion >= 6;
}

// A keysym the seat's keymap lacks, by keysym: KWin presses it with exactly the modifiers its
// level needs.
void sendKeysym(Compositor& c, xkb_keysym_t keysym) {
    org_kde_kwin_fake_input_keyboard_keysym(c.fakeInput, keysym, WL_KEYBOARD_KEY_STATE_PRESSED);
    org_kde_kwin_fake_input_keyboard_keysym(c.fakeInput, keysym, WL_KEYBOARD_KEY_STATE_RELEASED);
    c.lastKey = Clock::now();
}

// A key the seat's keymap lacks, where vantrel cannot add one: the request fails, naming it.
void noKeyFor(Compositor& c, xkb_keysym_t keysym) {
    if (!c.undelivered.empty()) return;
    char name[64];
    if (xkb_keysym_get_name(keysym, name, sizeof name) < 0) std::snprintf(name, sizeof name, "?");
    const char* layer = c.device == Device::kwin     ? "kde"
                        : c.device == Device::mutter ? "gnome"
                                                     : "wayland";
    c.undelivered = std::string(layer) + ": the keyboard layout has no key for " + name;
}

} // namespace

bool loadLayout(Compositor& c) {
    if (c.device != Device::wlroots) {
        // The seat's keymap, as KWin and mutter decode the keys; it is never changed, and there
        // are no spare keys.
        c.base.reset(xkb_keymap_new_from_string(context(), c.seatKeymap.c_str(),
                                                XKB_KEYMAP_FORMAT_TEXT_V1,
                                                XKB_KEYMAP_COMPILE_NO_FLAGS));
        if (!c.base) return false;
        c.baseText = c.seatKeymap;
        c.spare.clear();
        c.added.clear();
        return useKeymap(c, c.baseText);
    }
    c.base.reset(xkb_keymap_new_from_names(context(), nullptr, XKB_KEYMAP_COMPILE_NO_FLAGS));
    if (!c.base) return false;
    std::unique_ptr<char, void (*)(void*)> text(
        xkb_keymap_get_as_string(c.base.get(), XKB_KEYMAP_FORMAT_TEXT_V1), std::free);
    if (!text) return false;
    c.baseText = text.get();
    // Spare keys: keys of a full keyboard that vantrel never names. Only keys every toolkit knows
    // by name will do: Chromium drops a key whose code it has no name for, which rules out the
    // codes the layout leaves without symbols, and X clients (through XWayland) see no code
    // beyond 255. A text that needs more keysyms than this takes a new keymap when it comes to
    // them.
    xkb_keymap* k = c.base.get();
    c.spare.clear();
    for (xkb_keycode_t evdev : knownUnnamedKeys)
        if (evdev + 8 <= xkb_keymap_max_keycode(k)) c.spare.push_back(evdev + 8);
    c.added.clear();
    return useKeymap(c, c.baseText);
}

bool onKeys(const Compositor& c, std::span<const uint16_t> units) {
    for (const Wanted& wanted : xkb::keysymsOf(units))
        if (!present(c, wanted)) return false;
    return true;
}

bool canType(Compositor& c, std::span<const uint16_t> units) {
    if (c.device == Device::wlroots || takesKeysyms(c)) return true;
    bool keys = onKeys(c, units);
    if (c.device == Device::mutter) return ibusRoute(c, !keys) || keys;
    return keys;
}

void expectText(Compositor& c, std::span<const uint16_t> units) {
    // While the focused client takes text from the input method, characters beyond the Basic
    // Multilingual Plane go there and need no key (one that does after all is added when it
    // comes).
    bool committed = c.inputMethod.active;
    std::vector<xkb_keysym_t> absent;
    for (const Wanted& wanted : xkb::keysymsOf(units))
        if (!present(c, wanted) && !(committed && wanted.bindAs >= 0x1010000))
            absent.push_back(wanted.bindAs);
    addKeysyms(c, absent);
    c.upcoming = std::move(absent);
}

// Once part of a request could not be delivered, nothing more of it is pressed: the request
// fails, and text typed after a gap would only do harm. What is held is still released.
void postKey(Compositor& c, const EventRecord& event) {
    if (event.keyDown) checkCommits(c, false);
    if (event.keyDown && !c.undelivered.empty()) return;
    if (event.text) {
        // The key down types the characters and holds the last one; the key up releases it.
        if (!event.keyDown) return releaseHeld(c, typedTextKey);
        releaseHeld(c, typedTextKey);
        if (c.device == Device::mutter && !onKeys(c, *event.text)) {
            commitThroughIBus(c, *event.text);
            return;
        }
        if (commitThroughInputMethod(c, *event.text) != Commit::keys) return;
        typedOnKeys(c, *event.text);
        std::vector<Wanted> syms = xkb::keysymsOf(*event.text);
        for (size_t i = 0; i < syms.size(); ++i) {
            // More characters than spare keys: the keymap takes the next ones when they come.
            if (!present(c, syms[i]) && takesKeysyms(c)) {
                sendKeysym(c, syms[i].keysym);
                continue;
            }
            if (!present(c, syms[i])) {
                auto next = std::find(c.upcoming.begin(), c.upcoming.end(), syms[i].bindAs);
                if (next == c.upcoming.end()) {
                    addKeysyms(c, {syms[i].bindAs});
                } else {
                    c.upcoming.erase(c.upcoming.begin(), next);
                    addKeysyms(c, c.upcoming);
                }
            }
            std::optional<Stroke> stroke = strokeFor(c, syms[i]);
            if (!stroke) continue;
            if (i + 1 < syms.size()) {
                std::erase_if(stroke->modifiers,
                              [&](xkb_keycode_t code) { return isDown(c, code); });
                press(c, *stroke);
                release(c, *stroke);
            } else {
                hold(c, typedTextKey, std::move(*stroke));
            }
        }
        return;
    }
    uint32_t slot = event.keyCode;
    if (!event.keyDown) return releaseHeld(c, slot);
    typedOnKeys(c, {});
    releaseHeld(c, slot);
    xkb_keysym_t keysym = xkb::keysymForKeyCode(event.keyCode);
    std::optional<Stroke> stroke = strokeFor(c, exactly(keysym));
    if (!stroke) return noKeyFor(c, keysym);
    // The modifier keys of the event's flags are pressed around the key.
    std::vector<xkb_keycode_t> modifiers;
    for (const auto& [flag, keysym] : xkb::modifierKeys) {
        if (!(event.flags & flag)) continue;
        std::optional<Stroke> modifier = strokeFor(c, exactly(keysym));
        if (modifier && modifier->keycode != stroke->keycode &&
            std::find(modifiers.begin(), modifiers.end(), modifier->keycode) == modifiers.end())
            modifiers.push_back(modifier->keycode);
    }
    for (xkb_keycode_t code : stroke->modifiers)
        if (std::find(modifiers.begin(), modifiers.end(), code) == modifiers.end())
            modifiers.push_back(code);
    stroke->modifiers = std::move(modifiers);
    hold(c, slot, std::move(*stroke));
}

void postSystem(Compositor& c, const EventRecord& event) {
    auto word = static_cast<uint32_t>(event.system.data1);
    uint32_t keyType = (word >> 16) & 0xFFFF, state = (word >> 8) & 0xFF;
    xkb_keysym_t keysym = xkb::mediaKeysym(keyType);
    if (keysym == XKB_KEY_NoSymbol) return;
    uint32_t slot = mediaKeyBase + keyType;
    if (state == 0x0B) return releaseHeld(c, slot);
    if (state != 0x0A || !c.undelivered.empty()) return;
    releaseHeld(c, slot);
    if (!present(c, exactly(keysym)) && takesKeysyms(c)) return sendKeysym(c, keysym);
    if (!present(c, exactly(keysym))) addKeysyms(c, {keysym});
    std::optional<Stroke> stroke = strokeFor(c, exactly(keysym));
    if (!stroke) return noKeyFor(c, keysym);
    hold(c, slot, std::move(*stroke));
}

void releaseKeys(Compositor& c) {
    while (!c.held.empty())
        releaseHeld(c, c.held.rbegin()->first);
}

} // namespace vantrel::platform::wayland
