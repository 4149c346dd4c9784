// The spare keycodes of a display are shared by every vantrel on it (and by other tools): each
// vantrel records the keycodes it binds in one property on the root window, as triples of
// keycode, owner and token, the owner being a window of its own connection that carries the
// token (random) in the same property: a window id is used again by later clients, a token is
// not. The property is read and changed
// only while the server is grabbed, so two vantrels never take the same keycode, and a keycode
// whose owner's window is gone (its vantrel died without unbinding) is reclaimed: unbound and
// taken afresh.

#include "platform/x11/display.h"

#include <xcb/xcb.h>

#include <algorithm>
#include <cstring>
#include <random>

namespace vantrel::platform::x11 {

namespace {

constexpr char recordName[] = "_VANTREL_SPARE_KEYCODES";

struct Claim {
    uint32_t keycode = 0;
    uint32_t owner = 0;
    uint32_t token = 0;
};

bool mine(const Display& d, const Claim& claim) {
    return claim.owner == d.owner && claim.token == d.ownerToken;
}

// The atom of the record and this connection's owner window, made on first need.
bool prepare(Display& d) {
    xcb_connection_t* c = d.connection.get();
    if (!d.recordAtom) {
        Reply<xcb_intern_atom_reply_t> atom = ask<xcb_intern_atom_reply_t>(d, [&] {
            return xcb_intern_atom(c, 0, static_cast<uint16_t>(std::strlen(recordName)),
                                   recordName);
        });
        if (!atom) return false;
        d.recordAtom = atom->atom;
    }
    if (!d.owner) {
        d.owner = xcb_generate_id(c);
        std::random_device random;
        d.ownerToken = random() | 1;
        xcb_create_window(c, XCB_COPY_FROM_PARENT, d.owner, d.root, 0, 0, 1, 1, 0,
                          XCB_WINDOW_CLASS_INPUT_ONLY, XCB_COPY_FROM_PARENT, 0, nullptr);
        xcb_change_property(c, XCB_PROP_MODE_REPLACE, d.owner, d.recordAtom, XCB_ATOM_CARDINAL, 32,
                            1, &d.ownerToken);
    }
    return true;
}

// The 32-bit values of the record's property on `window`.
std::vector<uint32_t> readValues(Display& d, xcb_window_t window) {
    Reply<xcb_get_property_reply_t> property = ask<xcb_get_property_reply_t>(d, [&] {
        return xcb_get_property(d.connection.get(), 0, window, d.recordAtom, XCB_ATOM_CARDINAL, 0,
                                4096);
    });
    if (!property || property->format != 32) return {};
    const auto* values = static_cast<const uint32_t*>(xcb_get_property_value(property.get()));
    return std::vector<uint32_t>(values,
                                 values + xcb_get_property_value_length(property.get()) / 4);
}

std::vector<Claim> readClaims(Display& d) {
    std::vector<Claim> claims;
    std::vector<uint32_t> values = readValues(d, d.root);
    for (size_t i = 0; i + 2 < values.size(); i += 3)
        claims.push_back({values[i], values[i + 1], values[i + 2]});
    return claims;
}

void writeClaims(Display& d, const std::vector<Claim>& claims) {
    std::vector<uint32_t> values;
    for (const Claim& claim : claims) {
        values.push_back(claim.keycode);
        values.push_back(claim.owner);
        values.push_back(claim.token);
    }
    xcb_change_property(d.connection.get(), XCB_PROP_MODE_REPLACE, d.root, d.recordAtom,
                        XCB_ATOM_CARDINAL, 32, static_cast<uint32_t>(values.size()), values.data());
}

// Whether the vantrel that made a claim is still there: its window still carries its token.
bool ownerAlive(Display& d, const Claim& claim) {
    std::vector<uint32_t> token = readValues(d, claim.owner);
    return token.size() == 1 && token[0] == claim.token;
}

// Whether the server's keymap, read now, has no symbol on `keycode`.
bool unboundNow(Display& d, xcb_keycode_t keycode) {
    Reply<xcb_get_keyboard_mapping_reply_t> mapping = ask<xcb_get_keyboard_mapping_reply_t>(
        d, [&] { return xcb_get_keyboard_mapping(d.connection.get(), keycode, 1); });
    if (!mapping) return false;
    const xcb_keysym_t* syms = xcb_get_keyboard_mapping_keysyms(mapping.get());
    int count = xcb_get_keyboard_mapping_keysyms_length(mapping.get());
    return std::all_of(syms, syms + count, [](xcb_keysym_t sym) { return sym == 0; });
}

// Runs `change` with the server grabbed: no other client's request comes between its reads and
// its writes.
template <typename Change> auto grabbed(Display& d, Change change) {
    xcb_grab_server(d.connection.get());
    auto result = change();
    xcb_ungrab_server(d.connection.get());
    xcb_flush(d.connection.get());
    return result;
}

} // namespace

std::optional<xcb_keycode_t> claimSpare(Display& d, const std::vector<xcb_keycode_t>& candidates) {
    if (!prepare(d)) return std::nullopt;
    return grabbed(d, [&]() -> std::optional<xcb_keycode_t> {
        std::vector<Claim> claims = readClaims(d);
        // Keycodes left by a vantrel that has gone are unbound and may be taken again.
        std::vector<xcb_keycode_t> reclaimed;
        std::vector<uint32_t> alive, dead; // by token
        for (const Claim& claim : claims) {
            if (mine(d, claim)) continue;
            bool known = std::count(alive.begin(), alive.end(), claim.token) ||
                         std::count(dead.begin(), dead.end(), claim.token);
            if (!known) (ownerAlive(d, claim) ? alive : dead).push_back(claim.token);
        }
        std::erase_if(claims, [&](const Claim& claim) {
            if (mine(d, claim) || !std::count(dead.begin(), dead.end(), claim.token)) return false;
            xcb_keysym_t none[2] = {0, 0};
            auto keycode = static_cast<xcb_keycode_t>(claim.keycode);
            xcb_change_keyboard_mapping(d.connection.get(), 1, keycode, 2, none);
            reclaimed.push_back(keycode);
            return true;
        });
        std::vector<xcb_keycode_t> pool = reclaimed;
        pool.insert(pool.end(), candidates.begin(), candidates.end());
        std::optional<xcb_keycode_t> taken;
        for (xcb_keycode_t keycode : pool) {
            bool claimed = std::any_of(claims.begin(), claims.end(),
                                       [&](const Claim& c) { return c.keycode == keycode; });
            bool fresh = std::count(reclaimed.begin(), reclaimed.end(), keycode) > 0;
            if (!claimed && (fresh || unboundNow(d, keycode))) {
                taken = keycode;
                claims.push_back({keycode, d.owner, d.ownerToken});
                break;
            }
        }
        if (taken || !reclaimed.empty()) writeClaims(d, claims);
        return taken;
    });
}

void releaseClaims(Display& d) {
    if (!d.recordAtom || !d.owner) return;
    grabbed(d, [&] {
        std::vector<Claim> claims = readClaims(d);
        size_t before = claims.size();
        std::erase_if(claims, [&](const Claim& claim) { return mine(d, claim); });
        if (claims.size() != before) writeClaims(d, claims);
        return true;
    });
}

} // namespace vantrel::platform::x11
