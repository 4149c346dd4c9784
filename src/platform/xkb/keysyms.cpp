#include "platform/xkb/keysyms.h"

#include <iterator>

namespace vantrel::platform::xkb {

namespace {

// The unshifted keysym of each virtual key code of the key-name table, and of the left-hand
// modifier keys that key_down presses on their own. Fn (63) has no X counterpart.
constexpr std::pair<uint16_t, xkb_keysym_t> keysymRows[] = {
    {0, XKB_KEY_a},
    {1, XKB_KEY_s},
    {2, XKB_KEY_d},
    {3, XKB_KEY_f},
    {4, XKB_KEY_h},
    {5, XKB_KEY_g},
    {6, XKB_KEY_z},
    {7, XKB_KEY_x},
    {8, XKB_KEY_c},
    {9, XKB_KEY_v},
    {11, XKB_KEY_b},
    {12, XKB_KEY_q},
    {13, XKB_KEY_w},
    {14, XKB_KEY_e},
    {15, XKB_KEY_r},
    {16, XKB_KEY_y},
    {17, XKB_KEY_t},
    {31, XKB_KEY_o},
    {32, XKB_KEY_u},
    {34, XKB_KEY_i},
    {35, XKB_KEY_p},
    {37, XKB_KEY_l},
    {38, XKB_KEY_j},
    {40, XKB_KEY_k},
    {45, XKB_KEY_n},
    {46, XKB_KEY_m},
    {18, XKB_KEY_1},
    {19, XKB_KEY_2},
    {20, XKB_KEY_3},
    {21, XKB_KEY_4},
    {22, XKB_KEY_6},
    {23, XKB_KEY_5},
    {25, XKB_KEY_9},
    {26, XKB_KEY_7},
    {28, XKB_KEY_8},
    {29, XKB_KEY_0},
    {24, XKB_KEY_equal},
    {27, XKB_KEY_minus},
    {30, XKB_KEY_bracketright},
    {33, XKB_KEY_bracketleft},
    {39, XKB_KEY_apostrophe},
    {41, XKB_KEY_semicolon},
    {42, XKB_KEY_backslash},
    {43, XKB_KEY_comma},
    {44, XKB_KEY_slash},
    {47, XKB_KEY_period},
    {36, XKB_KEY_Return},
    {48, XKB_KEY_Tab},
    {49, XKB_KEY_space},
    {51, XKB_KEY_BackSpace},
    {53, XKB_KEY_Escape},
    {117, XKB_KEY_Delete},
    {123, XKB_KEY_Left},
    {124, XKB_KEY_Right},
    {125, XKB_KEY_Down},
    {126, XKB_KEY_Up},
    {115, XKB_KEY_Home},
    {119, XKB_KEY_End},
    {116, XKB_KEY_Prior},
    {121, XKB_KEY_Next},
    {122, XKB_KEY_F1},
    {120, XKB_KEY_F2},
    {99, XKB_KEY_F3},
    {118, XKB_KEY_F4},
    {96, XKB_KEY_F5},
    {97, XKB_KEY_F6},
    {98, XKB_KEY_F7},
    {100, XKB_KEY_F8},
    {101, XKB_KEY_F9},
    {109, XKB_KEY_F10},
    {103, XKB_KEY_F11},
    {111, XKB_KEY_F12},
    {55, XKB_KEY_Super_L},
    {56, XKB_KEY_Shift_L},
    {58, XKB_KEY_Alt_L},
    {59, XKB_KEY_Control_L},
};

} // namespace

xkb_keysym_t keysymForKeyCode(uint16_t code) {
    for (const auto& [virtualKey, keysym] : keysymRows)
        if (virtualKey == code) return keysym;
    return XKB_KEY_NoSymbol;
}

// The keysyms of typed text, one per character: line ends (CR, LF, CR LF) are one Return, other
// control characters their named keys. A character is looked for in the keymap under its legacy
// keysym (xkbcommon's conversion) and its Unicode keysym; when it is in neither it is bound as
// its Unicode keysym, 0x01000000 + the code point, which every client decodes alike. The legacy
// keysyms of characters beyond Latin-1 (U+2030 is XK_permille) are decoded by tables of each
// client's own, which disagree. Latin-1's keysyms are its code points.
std::vector<Wanted> keysymsOf(std::span<const uint16_t> units) {
    std::vector<Wanted> syms;
    for (size_t i = 0; i < units.size(); ++i) {
        char32_t c = units[i];
        if ((c & 0xFC00) == 0xD800 && i + 1 < units.size() && (units[i + 1] & 0xFC00) == 0xDC00) {
            c = 0x10000 + ((c - 0xD800) << 10) + (units[i + 1] - 0xDC00);
            ++i;
        }
        switch (c) {
        case '\r':
            if (i + 1 < units.size() && units[i + 1] == '\n') ++i;
            syms.push_back(exactly(XKB_KEY_Return));
            break;
        case '\n':
            syms.push_back(exactly(XKB_KEY_Return));
            break;
        case '\t':
            syms.push_back(exactly(XKB_KEY_Tab));
            break;
        case 0x08:
            syms.push_back(exactly(XKB_KEY_BackSpace));
            break;
        case 0x1B:
            syms.push_back(exactly(XKB_KEY_Escape));
            break;
        case 0x7F:
            syms.push_back(exactly(XKB_KEY_Delete));
            break;
        default: {
            bool latin1 = (c >= 0x20 && c < 0x7F) || (c >= 0xA0 && c <= 0xFF);
            xkb_keysym_t unicode = latin1 ? c : 0x01000000 + c;
            xkb_keysym_t legacy = xkb_utf32_to_keysym(c);
            if (legacy == XKB_KEY_NoSymbol) legacy = unicode;
            syms.push_back({legacy, unicode, unicode});
            break;
        }
        }
    }
    return syms;
}

namespace {
// The keysym of each Quartz media key type (NX_KEYTYPE_*); no symbol for the types X lacks.
constexpr xkb_keysym_t mediaKeysyms[] = {XKB_KEY_XF86AudioRaiseVolume,
                                         XKB_KEY_XF86AudioLowerVolume,
                                         XKB_KEY_XF86MonBrightnessUp,
                                         XKB_KEY_XF86MonBrightnessDown,
                                         XKB_KEY_Caps_Lock,
                                         XKB_KEY_Help,
                                         XKB_KEY_XF86PowerOff,
                                         XKB_KEY_XF86AudioMute,
                                         XKB_KEY_Up,
                                         XKB_KEY_Down,
                                         XKB_KEY_Num_Lock,
                                         XKB_KEY_NoSymbol,
                                         XKB_KEY_NoSymbol,
                                         XKB_KEY_XF86LaunchB,
                                         XKB_KEY_XF86Eject,
                                         XKB_KEY_XF86Display,
                                         XKB_KEY_XF86AudioPlay,
                                         XKB_KEY_XF86AudioNext,
                                         XKB_KEY_XF86AudioPrev,
                                         XKB_KEY_XF86AudioForward,
                                         XKB_KEY_XF86AudioRewind,
                                         XKB_KEY_XF86KbdBrightnessUp,
                                         XKB_KEY_XF86KbdBrightnessDown,
                                         XKB_KEY_XF86KbdLightOnOff};
} // namespace

ButtonChange buttonChange(uint32_t type, uint32_t button) {
    // The other buttons: middle, back and forward.
    uint8_t other = button == mouseButtonBack ? 8 : button == mouseButtonForward ? 9 : 2;
    switch (type) {
    case leftMouseDown:
        return {1, true};
    case leftMouseUp:
        return {1, false};
    case rightMouseDown:
        return {3, true};
    case rightMouseUp:
        return {3, false};
    case otherMouseDown:
        return {other, true};
    case otherMouseUp:
        return {other, false};
    default:
        return {};
    }
}

xkb_keysym_t mediaKeysym(uint32_t keyType) {
    return keyType < std::size(mediaKeysyms) ? mediaKeysyms[keyType] : XKB_KEY_NoSymbol;
}

} // namespace vantrel::platform::xkb
