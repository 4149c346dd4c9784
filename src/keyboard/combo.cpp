#include "keyboard/keyboard.h"

#include "keyboard/unicode.h"
#include "platform/event_services.h"
#include "support/held.h"
#include "support/stop.h"

#include <exception>

namespace vantrel {

namespace {

// The pieces of a lowercased combination: split at every cluster that is a lone "+", so a "+"
// carrying a combining mark stays inside its piece; empty pieces vanish.
std::vector<std::u16string> splitPieces(const std::u16string& text) {
    std::vector<std::u16string> pieces;
    std::u16string piece;
    size_t start = 0;
    for (size_t end : clusterEnds(text)) {
        std::u16string_view cluster(text.data() + start, end - start);
        if (cluster == u"+") {
            if (!piece.empty()) pieces.push_back(std::move(piece));
            piece.clear();
        } else {
            piece.append(cluster);
        }
        start = end;
    }
    if (!piece.empty()) pieces.push_back(std::move(piece));
    return pieces;
}

// Each piece of a lowercased, split combination as a key of its own: a modifier's left-hand key,
// or the key the name names; nothing for other names.
struct OwnKey {
    uint16_t code;
    uint64_t modifierFlag;
};
std::vector<OwnKey> ownKeys(std::string_view combination) {
    std::vector<OwnKey> keys;
    for (const std::u16string& piece : splitPieces(lowercase(toUtf16(combination)))) {
        std::string name = toUtf8(composed(piece));
        if (std::optional<ModifierKey> modifier = lookUpModifierKey(name))
            keys.push_back({modifier->keyCode, modifier->flag});
        else if (std::optional<uint16_t> key = lookUpKey(name))
            keys.push_back({*key, 0});
    }
    return keys;
}

} // namespace

void keyDown(std::string_view combination) {
    for (const OwnKey& key : ownKeys(combination))
        postKeyDown(key.code, key.modifierFlag);
}

void keyUp(std::string_view combination) {
    std::vector<OwnKey> keys = ownKeys(combination);
    for (auto key = keys.rbegin(); key != keys.rend(); ++key)
        postKeyUp(key->code);
}

ModifierScope::ModifierScope(std::string_view combination) {
    for (const OwnKey& key : ownKeys(combination)) {
        if (!key.modifierFlag || isHeld(Held::Kind::key, key.code)) continue;
        deferKeyDown(key.code, key.modifierFlag);
        keys_.push_back(key.code);
    }
}

ModifierScope::~ModifierScope() {
    // Not pressed when the action posted nothing; left to the release of everything when the
    // action is unwinding from a stop.
    if (dropDeferred() || std::uncaught_exceptions() > 0) return;
    for (auto key = keys_.rbegin(); key != keys_.rend(); ++key)
        postKeyUp(*key);
}

std::optional<std::string> pressCombo(std::string_view combination, int64_t holdMs) {
    std::vector<std::u16string> pieces = splitPieces(lowercase(toUtf16(combination)));
    if (pieces.empty()) return std::nullopt;
    std::string keyName = toUtf8(pieces.back());
    std::vector<std::string> modifierNames;
    for (size_t i = 0; i + 1 < pieces.size(); ++i)
        modifierNames.push_back(toUtf8(composed(pieces[i])));
    uint64_t mask = flags(modifierNames);
    std::optional<uint16_t> key = lookUpKey(keyName);
    if (!key) {
        if (modifierNames.empty()) return typeText(keyName);
        return std::nullopt;
    }
    // Keys held on their own (key_down) count as if pressed with the combination.
    mask |= heldModifierFlags();
    platform::Event down = platform::createKeyboardEvent(*key, true);
    if (down) platform::setFlags(*down, mask);
    Held held;
    held.code = *key;
    held.flags = mask;
    postPress(down, held);
    if (holdMs >= 1) pauseOrStop(static_cast<uint32_t>(holdMs * 1000));
    platform::Event up = platform::createKeyboardEvent(*key, false);
    if (up) platform::setFlags(*up, mask);
    postRelease(up, Held::Kind::key, *key);
    return std::nullopt;
}

} // namespace vantrel
