#pragma once
// Keyboard synthesis: the key-name table, modifier flags, combinations, typing and media keys.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace vantrel {

// Key name to macOS virtual key code (an ANSI key position, not a character): 75 lowercase
// names, built on first use, which the request loop makes happen at start-up.
const std::unordered_map<std::string, uint16_t>& keyCodes();

// The key table's names and the modifier names, each sorted, for clients to check names against.
const std::vector<std::string>& keyNames();
const std::vector<std::string>& modifierNames();

// The row of `name`, compared under canonical equivalence (the Greek question mark finds ";").
std::optional<uint16_t> lookUpKey(std::string_view name);

// A modifier pressed as a key of its own: the virtual key code of its left-hand key and its flag.
struct ModifierKey {
    uint16_t keyCode;
    uint64_t flag;
};
// The modifier of `name`, compared exactly (the caller lowercases); nothing for other names.
std::optional<ModifierKey> lookUpModifierKey(std::string_view name);

// The union of the flag bits of the modifier names in `from`; unknown names add nothing. Names
// are compared exactly: the caller lowercases.
uint64_t flags(const std::vector<std::string>& from);

// Lowercases the combination, splits it at every "+" that stands alone as a character, and posts
// the key's down and up events with the modifiers as flags, `holdMs` apart when it is 1 or more.
// A single piece that is no key name is typed as text, and answers as typeText does; otherwise
// an unknown key posts nothing.
std::optional<std::string> pressCombo(std::string_view combination, int64_t holdMs);

// Presses the pieces of a combination (lowercased and split as pressCombo does) in order and
// leaves them held; a modifier name is its own key here, and adds its flag to every later event
// until it is released. A piece already held, or that names no key, posts nothing.
void keyDown(std::string_view combination);
// Releases the named pieces, last first; pieces vantrel does not hold post nothing.
void keyUp(std::string_view combination);

// The modifier keys of `combination` (a "+"-separated list of modifier names, as pressCombo
// reads them; other names add nothing) for the length of one action. The keys are pressed just
// before the action's first event, so an action refused by a limit posts nothing, and released,
// last first, when the scope ends; keys already held stay as they are.
class ModifierScope {
  public:
    explicit ModifierScope(std::string_view combination);
    ~ModifierScope();
    ModifierScope(const ModifierScope&) = delete;
    ModifierScope& operator=(const ModifierScope&) = delete;

  private:
    std::vector<uint16_t> keys_;
};

// The longest hold a combination can take: its microseconds must fit 32 bits.
inline constexpr int64_t longestHoldMs = 4294967;

// Types `text` one extended grapheme cluster at a time: a press and a release carrying the
// cluster's UTF-16 units, then 8 ms. A cluster of more than 20 units is sent as several such
// pairs, never splitting a surrogate pair. When the platform cannot type some of its characters,
// nothing is posted and the answer says which ("the keyboard layout has no key for é, 中").
std::optional<std::string> typeText(std::string_view text);

// Posts the press and the release of a media or special key, by the platform's key type.
void mediaKey(int32_t code);

} // namespace vantrel
