#include "keyboard/keyboard.h"

#include "keyboard/unicode.h"
#include "platform/event_services.h"

#include <algorithm>
#include <array>
#include <utility>

namespace vantrel {

namespace {

// Virtual key codes of the ANSI layout, by the names requests use. Three keys have two names.
constexpr std::array<std::pair<const char*, uint16_t>, 75> keyRows{{
    {"a", 0},       {"s", 1},          {"d", 2},          {"f", 3},     {"h", 4},
    {"g", 5},       {"z", 6},          {"x", 7},          {"c", 8},     {"v", 9},
    {"b", 11},      {"q", 12},         {"w", 13},         {"e", 14},    {"r", 15},
    {"y", 16},      {"t", 17},         {"o", 31},         {"u", 32},    {"i", 34},
    {"p", 35},      {"l", 37},         {"j", 38},         {"k", 40},    {"n", 45},
    {"m", 46},      {"1", 18},         {"2", 19},         {"3", 20},    {"4", 21},
    {"6", 22},      {"5", 23},         {"9", 25},         {"7", 26},    {"8", 28},
    {"0", 29},      {"=", 24},         {"-", 27},         {"]", 30},    {"[", 33},
    {"'", 39},      {";", 41},         {"\\", 42},        {",", 43},    {"/", 44},
    {".", 47},      {"return", 36},    {"enter", 36},     {"tab", 48},  {"space", 49},
    {"delete", 51}, {"backspace", 51}, {"escape", 53},    {"esc", 53},  {"forwarddelete", 117},
    {"left", 123},  {"right", 124},    {"down", 125},     {"up", 126},  {"home", 115},
    {"end", 119},   {"pageup", 116},   {"pagedown", 121}, {"f1", 122},  {"f2", 120},
    {"f3", 99},     {"f4", 118},       {"f5", 96},        {"f6", 97},   {"f7", 98},
    {"f8", 100},    {"f9", 101},       {"f10", 109},      {"f11", 103}, {"f12", 111},
}};

// Modifier names, their flag, and the virtual key code of the left-hand key that sets it, for
// when a modifier is pressed as a key of its own.
struct Modifier {
    std::string_view name;
    uint64_t flag;
    uint16_t keyCode;
};
constexpr std::array<Modifier, 12> modifiers{{
    {"cmd", platform::flagMaskCommand, 55},
    {"command", platform::flagMaskCommand, 55},
    {"meta", platform::flagMaskCommand, 55},
    {"super", platform::flagMaskCommand, 55},
    {"ctrl", platform::flagMaskControl, 59},
    {"control", platform::flagMaskControl, 59},
    {"alt", platform::flagMaskAlternate, 58},
    {"option", platform::flagMaskAlternate, 58},
    {"opt", platform::flagMaskAlternate, 58}, // the short Option name people write
    {"shift", platform::flagMaskShift, 56},
    {"fn", platform::flagMaskSecondaryFn, 63},
    {"function", platform::flagMaskSecondaryFn, 63},
}};

template <typename Rows, typename Name>
std::vector<std::string> sortedNames(const Rows& rows, Name name) {
    std::vector<std::string> names;
    for (const auto& row : rows)
        names.push_back(name(row));
    std::sort(names.begin(), names.end());
    return names;
}

bool isAscii(std::string_view text) {
    for (char c : text)
        if (static_cast<unsigned char>(c) >= 0x80) return false;
    return true;
}

} // namespace

const std::unordered_map<std::string, uint16_t>& keyCodes() {
    static const std::unordered_map<std::string, uint16_t> table = [] {
        std::unordered_map<std::string, uint16_t> rows;
        for (const auto& [name, code] : keyRows)
            rows.emplace(name, code);
        return rows;
    }();
    return table;
}

const std::vector<std::string>& keyNames() {
    static const std::vector<std::string> names =
        sortedNames(keyRows, [](const auto& row) { return std::string(row.first); });
    return names;
}

const std::vector<std::string>& modifierNames() {
    static const std::vector<std::string> names =
        sortedNames(modifiers, [](const Modifier& modifier) { return std::string(modifier.name); });
    return names;
}

std::optional<uint16_t> lookUpKey(std::string_view name) {
    const auto& table = keyCodes();
    // ASCII is already composed; anything else is compared in its composed form.
    std::string key = isAscii(name) ? std::string(name) : toUtf8(composed(toUtf16(name)));
    auto row = table.find(key);
    if (row == table.end()) return std::nullopt;
    return row->second;
}

std::optional<ModifierKey> lookUpModifierKey(std::string_view name) {
    for (const Modifier& modifier : modifiers)
        if (modifier.name == name) return ModifierKey{modifier.keyCode, modifier.flag};
    return std::nullopt;
}

uint64_t flags(const std::vector<std::string>& from) {
    uint64_t mask = 0;
    for (const std::string& name : from) {
        if (name.empty()) continue;
        for (const Modifier& modifier : modifiers)
            if (modifier.name == name) mask |= modifier.flag;
    }
    return mask;
}

} // namespace vantrel
