// The Windows implementation of the event services: renders the core's events as SendInput
// calls. Pointer positions are absolute over the virtual desktop, in physical pixels (the
// process declares itself aware of each monitor's DPI); keys are virtual keys with their scan
// codes; text is KEYEVENTF_UNICODE, which carries any UTF-16 unit whatever the layout. Windows
// keeps no modifier flags on events, so the modifiers of a combination are pressed around its
// key, in the same SendInput call, which no other input can come between.
//
// SendInput answers how many events it inserted. Fewer than were given means the input was
// blocked (a window of a higher integrity level has the foreground, or the secure desktop is
// up): the request then fails with that reason, and nothing more of it is pressed.

#include "platform/event_services.h"
#include "platform/record/event_record.h"
#include "support/pace.h"
#include "support/wait.h"

#include <windows.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace vantrel::platform {

namespace {

// A virtual key and whether it is one of the extended keys, whose scan codes have the E0 prefix
// (the arrows and the navigation block beside them, the Windows keys, the media keys).
struct VirtualKey {
    WORD vk = 0;
    WORD scan = 0; // 0: as MapVirtualKey gives it
    bool extended = false;
};

// The virtual key of each key code of the key-name table, and of the left-hand modifier keys
// that key_down presses on their own. Fn (63) has no counterpart. Letters and digits are the
// same virtual keys in every layout; the punctuation keys are the US layout's positions.
constexpr std::pair<uint16_t, VirtualKey> virtualKeyRows[] = {
    {0, {'A'}},
    {1, {'S'}},
    {2, {'D'}},
    {3, {'F'}},
    {4, {'H'}},
    {5, {'G'}},
    {6, {'Z'}},
    {7, {'X'}},
    {8, {'C'}},
    {9, {'V'}},
    {11, {'B'}},
    {12, {'Q'}},
    {13, {'W'}},
    {14, {'E'}},
    {15, {'R'}},
    {16, {'Y'}},
    {17, {'T'}},
    {31, {'O'}},
    {32, {'U'}},
    {34, {'I'}},
    {35, {'P'}},
    {37, {'L'}},
    {38, {'J'}},
    {40, {'K'}},
    {45, {'N'}},
    {46, {'M'}},
    {18, {'1'}},
    {19, {'2'}},
    {20, {'3'}},
    {21, {'4'}},
    {22, {'6'}},
    {23, {'5'}},
    {25, {'9'}},
    {26, {'7'}},
    {28, {'8'}},
    {29, {'0'}},
    {24, {VK_OEM_PLUS}},
    {27, {VK_OEM_MINUS}},
    {30, {VK_OEM_6}},
    {33, {VK_OEM_4}},
    {39, {VK_OEM_7}},
    {41, {VK_OEM_1}},
    {42, {VK_OEM_5}},
    {43, {VK_OEM_COMMA}},
    {44, {VK_OEM_2}},
    {47, {VK_OEM_PERIOD}},
    {36, {VK_RETURN}},
    {48, {VK_TAB}},
    {49, {VK_SPACE}},
    {51, {VK_BACK}},
    {53, {VK_ESCAPE}},
    {117, {VK_DELETE, 0, true}},
    {123, {VK_LEFT, 0, true}},
    {124, {VK_RIGHT, 0, true}},
    {125, {VK_DOWN, 0, true}},
    {126, {VK_UP, 0, true}},
    {115, {VK_HOME, 0, true}},
    {119, {VK_END, 0, true}},
    {116, {VK_PRIOR, 0, true}},
    {121, {VK_NEXT, 0, true}},
    {122, {VK_F1}},
    {120, {VK_F2}},
    {99, {VK_F3}},
    {118, {VK_F4}},
    {96, {VK_F5}},
    {97, {VK_F6}},
    {98, {VK_F7}},
    {100, {VK_F8}},
    {101, {VK_F9}},
    {109, {VK_F10}},
    {103, {VK_F11}},
    {111, {VK_F12}},
    {55, {VK_LWIN, 0, true}},
    {56, {VK_LSHIFT}},
    {58, {VK_LMENU}},
    {59, {VK_LCONTROL}},
};

// The virtual key a table gives `code`; none when it has no row for it.
template <typename Code, size_t size>
std::optional<VirtualKey> rowFor(const std::pair<Code, VirtualKey> (&rows)[size], Code code) {
    for (const auto& [rowCode, key] : rows)
        if (rowCode == code) return key;
    return std::nullopt;
}

// The modifier keys of an event's flags, in the order they are pressed.
constexpr std::pair<uint64_t, VirtualKey> modifierKeys[] = {{flagMaskCommand, {VK_LWIN, 0, true}},
                                                            {flagMaskControl, {VK_LCONTROL}},
                                                            {flagMaskAlternate, {VK_LMENU}},
                                                            {flagMaskShift, {VK_LSHIFT}}};

// The media keys by their Quartz key types (NX_KEYTYPE_*), with their scan codes: the system
// gives none for them (MapVirtualKey answers 0 under Wine), and applications that read the scan
// code would see a key of nothing. Types without a virtual key are absent.
constexpr std::pair<uint32_t, VirtualKey> mediaRows[] = {
    {0, {VK_VOLUME_UP, 0x30, true}},
    {1, {VK_VOLUME_DOWN, 0x2E, true}},
    {4, {VK_CAPITAL}},
    {5, {VK_HELP}},
    {7, {VK_VOLUME_MUTE, 0x20, true}},
    {8, {VK_UP, 0, true}},
    {9, {VK_DOWN, 0, true}},
    {10, {VK_NUMLOCK, 0, true}},
    {16, {VK_MEDIA_PLAY_PAUSE, 0x22, true}},
    {17, {VK_MEDIA_NEXT_TRACK, 0x19, true}},
    {18, {VK_MEDIA_PREV_TRACK, 0x10, true}},
};

INPUT keyInput(const VirtualKey& key, bool down) {
    INPUT input{};
    input.type = INPUT_KEYBOARD;
    input.ki.wVk = key.vk;
    input.ki.wScan =
        key.scan != 0 ? key.scan : static_cast<WORD>(MapVirtualKeyW(key.vk, MAPVK_VK_TO_VSC));
    input.ki.dwFlags = (key.extended ? KEYEVENTF_EXTENDEDKEY : 0) | (down ? 0 : KEYEVENTF_KEYUP);
    return input;
}

INPUT unitInput(uint16_t unit, bool down) {
    INPUT input{};
    input.type = INPUT_KEYBOARD;
    input.ki.wScan = unit;
    input.ki.dwFlags = KEYEVENTF_UNICODE | (down ? 0 : KEYEVENTF_KEYUP);
    return input;
}

// What vantrel holds, by slot: the releases to send, in order. Slots: a key code, the typed
// text, a media key, a mouse button.
enum : uint32_t { typedTextSlot = 0x10000, mediaSlotBase = 0x20000, buttonSlotBase = 0x30000 };

struct State {
    std::map<uint32_t, std::vector<INPUT>> held;
    // Why input of the current request could not be delivered; empty while all went out.
    std::string undelivered;
    std::string untrusted;
    Pace pace;
};

State& state() {
    static State current;
    return current;
}

// Sends the events at once; records the failure when the system inserted fewer.
bool send(std::vector<INPUT> inputs) {
    if (inputs.empty()) return true;
    UINT inserted = SendInput(static_cast<UINT>(inputs.size()), inputs.data(), sizeof(INPUT));
    if (inserted == inputs.size()) return true;
    State& s = state();
    if (s.undelivered.empty()) {
        char text[160];
        std::snprintf(text, sizeof text,
                      "windows: SendInput inserted %u of %zu events (error %lu): input is blocked",
                      inserted, inputs.size(), GetLastError());
        s.undelivered = text;
    }
    return false;
}

void releaseSlot(uint32_t slot) {
    State& s = state();
    auto found = s.held.find(slot);
    if (found == s.held.end()) return;
    std::vector<INPUT> releases = std::move(found->second);
    s.held.erase(found);
    send(std::move(releases));
}

// Whether the key is down now, whoever pressed it: a person, another program, or vantrel.
bool isDown(WORD vk) {
    return (GetAsyncKeyState(vk) & 0x8000) != 0;
}

// The modifier keys by family, as a combination's flags name them.
struct ModifierFamily {
    uint64_t flag;
    const char* name;
    WORD left, right;
};
constexpr ModifierFamily modifierFamilies[] = {
    {flagMaskShift, "Shift", VK_LSHIFT, VK_RSHIFT},
    {flagMaskControl, "Control", VK_LCONTROL, VK_RCONTROL},
    {flagMaskAlternate, "Alt", VK_LMENU, VK_RMENU},
    {flagMaskCommand, "Windows", VK_LWIN, VK_RWIN}};

// The flags of the modifiers that are down while vantrel holds no key of theirs: a person's,
// another program's, another vantrel's.
uint64_t foreignModifiers() {
    uint64_t foreign = 0;
    for (const ModifierFamily& family : modifierFamilies) {
        if (!isDown(family.left) && !isDown(family.right)) continue;
        bool own = false;
        for (const auto& [slot, releases] : state().held)
            for (const INPUT& input : releases)
                own |= input.type == INPUT_KEYBOARD &&
                       (input.ki.wVk == family.left || input.ki.wVk == family.right);
        if (!own) foreign |= family.flag;
    }
    return foreign;
}

// Records that keys were not pressed because modifiers vantrel may not release are down.
void refuseUnder(uint64_t flags, std::string_view consequence) {
    std::string names;
    for (const ModifierFamily& family : modifierFamilies)
        if (flags & family.flag) names += (names.empty() ? "" : ", ") + std::string(family.name);
    if (state().undelivered.empty())
        state().undelivered = "windows: " + names +
                              " held by another program or a person (vantrel does not release "
                              "what it did not press); " +
                              std::string(consequence);
}

// The keys that type one character of text: the control characters as their keys (a line end,
// whatever its form, is Return), every other UTF-16 unit as itself.
std::vector<INPUT> strokesOf(const std::vector<uint16_t>& units) {
    std::vector<INPUT> strokes; // their downs
    for (size_t i = 0; i < units.size(); ++i) {
        uint16_t unit = units[i];
        std::optional<VirtualKey> key;
        switch (unit) {
        case '\r':
            if (i + 1 < units.size() && units[i + 1] == '\n') ++i;
            key = VirtualKey{VK_RETURN};
            break;
        case '\n':
            key = VirtualKey{VK_RETURN};
            break;
        case '\t':
            key = VirtualKey{VK_TAB};
            break;
        case 0x08:
            key = VirtualKey{VK_BACK};
            break;
        case 0x1B:
            key = VirtualKey{VK_ESCAPE};
            break;
        case 0x7F:
            key = VirtualKey{VK_DELETE, 0, true};
            break;
        default:
            break;
        }
        strokes.push_back(key ? keyInput(*key, true) : unitInput(unit, true));
    }
    return strokes;
}

INPUT upOf(INPUT down) {
    down.ki.dwFlags |= KEYEVENTF_KEYUP;
    return down;
}

// The key down types the character: every unit's down, then every unit's up but the last
// stroke's, which the key up releases (so a held character is held, as a key would be).
void postText(const EventRecord& event) {
    if (!event.keyDown) return releaseSlot(typedTextSlot);
    releaseSlot(typedTextSlot);
    if (!state().undelivered.empty()) return;
    std::vector<INPUT> downs = strokesOf(*event.text);
    if (downs.empty()) return;
    // A character sent as itself arrives whatever modifiers are down, but an application takes
    // it under Control, Alt or Windows as a shortcut; and Shift changes what a key does (Tab
    // goes back).
    uint64_t foreign = foreignModifiers();
    if (uint64_t blocking = foreign & ~flagMaskShift)
        return refuseUnder(blocking, "typing would send shortcuts, so nothing more was typed");
    bool onKeys = std::any_of(downs.begin(), downs.end(),
                              [](const INPUT& input) { return input.ki.wVk != 0; });
    if (foreign && onKeys)
        return refuseUnder(foreign, "the key would arrive shifted, so nothing more was typed");
    std::vector<INPUT> ups;
    for (const INPUT& down : downs)
        ups.push_back(upOf(down));
    std::vector<INPUT> last{ups.back()};
    ups.pop_back();
    downs.insert(downs.end(), ups.begin(), ups.end());
    if (send(std::move(downs))) state().held[typedTextSlot] = std::move(last);
}

void postKey(const EventRecord& event) {
    if (event.text) return postText(event);
    uint32_t slot = event.keyCode;
    if (!event.keyDown) return releaseSlot(slot);
    releaseSlot(slot);
    if (!state().undelivered.empty()) return;
    std::optional<VirtualKey> key = rowFor(virtualKeyRows, event.keyCode);
    if (!key) return;
    // A combination carries exactly the modifiers it names; a key is itself a modifier of its
    // own.
    uint64_t named = event.flags;
    for (const ModifierFamily& family : modifierFamilies)
        if (key->vk == family.left || key->vk == family.right) named |= family.flag;
    if (uint64_t extra = foreignModifiers() & ~named)
        return refuseUnder(extra, "the combination would carry it, so it was not pressed");
    // The modifiers of the flags that are not down already (pressed on their own by key_down,
    // or held by a person or another program) are pressed first; a modifier that is down stays
    // as it is, so vantrel never releases what it did not press.
    std::vector<INPUT> downs, releases{keyInput(*key, false)};
    for (const auto& [flag, modifier] : modifierKeys) {
        if (!(event.flags & flag) || modifier.vk == key->vk || isDown(modifier.vk)) continue;
        downs.push_back(keyInput(modifier, true));
        releases.insert(releases.begin() + 1, keyInput(modifier, false));
    }
    downs.push_back(keyInput(*key, true));
    if (send(std::move(downs))) state().held[slot] = std::move(releases);
}

void postSystem(const EventRecord& event) {
    auto word = static_cast<uint32_t>(event.system.data1);
    uint32_t keyType = (word >> 16) & 0xFFFF, keyState = (word >> 8) & 0xFF;
    uint32_t slot = mediaSlotBase + keyType;
    if (keyState == 0x0B) return releaseSlot(slot);
    if (keyState != 0x0A || !state().undelivered.empty()) return;
    releaseSlot(slot);
    std::optional<VirtualKey> key = rowFor(mediaRows, keyType);
    if (!key) {
        state().undelivered =
            "windows: media key type " + std::to_string(keyType) + " has no virtual key";
        return;
    }
    if (send({keyInput(*key, true)})) state().held[slot] = {keyInput(*key, false)};
}

// The virtual desktop: every monitor, in physical pixels; the primary's top left is (0, 0).
struct Desk {
    LONG left, top, width, height;
};

Desk virtualDesk() {
    return {GetSystemMetrics(SM_XVIRTUALSCREEN), GetSystemMetrics(SM_YVIRTUALSCREEN),
            GetSystemMetrics(SM_CXVIRTUALSCREEN), GetSystemMetrics(SM_CYVIRTUALSCREEN)};
}

// The absolute coordinate (0 to 65535 over the virtual desktop) of a pixel, at the pixel's
// centre: the system maps back by truncation, so a corner that rounds into the next pixel
// misses columns.
LONG normalised(double position, LONG origin, LONG extent) {
    if (extent <= 0) return 0;
    double pixel = std::round(position) - origin;
    pixel = std::clamp(pixel, 0.0, static_cast<double>(extent - 1));
    return static_cast<LONG>(((2 * static_cast<long long>(pixel) + 1) * 65536) / (2 * extent));
}

INPUT moveInput(Point to) {
    Desk desk = virtualDesk();
    INPUT input{};
    input.type = INPUT_MOUSE;
    input.mi.dx = normalised(to.x, desk.left, desk.width);
    input.mi.dy = normalised(to.y, desk.top, desk.height);
    input.mi.dwFlags = MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE | MOUSEEVENTF_VIRTUALDESK;
    return input;
}

// The button flags of a mouse event of `type` for `button`, and the X button for the side
// buttons; none for a move or a drag.
struct ButtonFlags {
    DWORD flags = 0;
    DWORD data = 0;
    bool press = false;
};

ButtonFlags buttonFlags(uint32_t type, uint32_t button) {
    bool side = button == mouseButtonBack || button == mouseButtonForward;
    DWORD xbutton = button == mouseButtonBack ? XBUTTON1 : XBUTTON2;
    switch (type) {
    case leftMouseDown:
        return {MOUSEEVENTF_LEFTDOWN, 0, true};
    case leftMouseUp:
        return {MOUSEEVENTF_LEFTUP, 0, false};
    case rightMouseDown:
        return {MOUSEEVENTF_RIGHTDOWN, 0, true};
    case rightMouseUp:
        return {MOUSEEVENTF_RIGHTUP, 0, false};
    case otherMouseDown:
        return side ? ButtonFlags{MOUSEEVENTF_XDOWN, xbutton, true}
                    : ButtonFlags{MOUSEEVENTF_MIDDLEDOWN, 0, true};
    case otherMouseUp:
        return side ? ButtonFlags{MOUSEEVENTF_XUP, xbutton, false}
                    : ButtonFlags{MOUSEEVENTF_MIDDLEUP, 0, false};
    default:
        return {};
    }
}

std::optional<POINT> cursor() {
    POINT at;
    if (!GetCursorPos(&at)) return std::nullopt;
    return at;
}

void postMouse(const EventRecord& event) {
    ButtonFlags change = buttonFlags(event.type, event.button);
    uint32_t slot = buttonSlotBase + event.button;
    std::vector<INPUT> inputs;
    // A press or release where the pointer is already goes without a move; a move always goes.
    std::optional<POINT> at = change.flags != 0 ? cursor() : std::nullopt;
    if (!at || at->x != std::lround(event.location.x) || at->y != std::lround(event.location.y))
        inputs.push_back(moveInput(event.location));
    if (change.flags != 0) {
        INPUT button{};
        button.type = INPUT_MOUSE;
        button.mi.dwFlags = change.flags;
        button.mi.mouseData = change.data;
        if (change.press) {
            if (!state().undelivered.empty()) return;
            INPUT release = button;
            release.mi.dwFlags = change.flags << 1; // each UP flag is its DOWN flag's next bit
            inputs.push_back(button);
            if (send(std::move(inputs))) state().held[slot] = {release};
            return;
        }
        state().held.erase(slot);
        inputs.push_back(button);
    }
    send(std::move(inputs));
}

// One wheel event per line, 120 (WHEEL_DELTA) each, as a notched wheel sends them. Quartz's
// horizontal wheel is positive to the left, Windows' to the right.
void postScroll(const EventRecord& event) {
    std::vector<INPUT> inputs;
    auto lines = [&](int32_t delta, DWORD flag) {
        int64_t count = std::abs(static_cast<int64_t>(delta));
        for (int64_t i = 0; i < count; ++i) {
            INPUT input{};
            input.type = INPUT_MOUSE;
            input.mi.dwFlags = flag;
            input.mi.mouseData = static_cast<DWORD>(delta > 0 ? WHEEL_DELTA : -WHEEL_DELTA);
            inputs.push_back(input);
        }
    };
    lines(event.wheels[0], MOUSEEVENTF_WHEEL);
    lines(-event.wheels[1], MOUSEEVENTF_HWHEEL);
    send(std::move(inputs));
}

// The integrity level of a process's token (SECURITY_MANDATORY_*_RID). None when it cannot be
// read; `denied` then says whether the system refused to show it, as it does for a process of a
// higher level than the caller's.
std::optional<DWORD> integrityOf(HANDLE process, bool& denied) {
    HANDLE token = nullptr;
    if (!OpenProcessToken(process, TOKEN_QUERY, &token)) {
        denied = GetLastError() == ERROR_ACCESS_DENIED;
        return std::nullopt;
    }
    std::optional<DWORD> level;
    DWORD size = 0;
    GetTokenInformation(token, TokenIntegrityLevel, nullptr, 0, &size);
    std::vector<unsigned char> buffer(size);
    if (size > 0 && GetTokenInformation(token, TokenIntegrityLevel, buffer.data(), size, &size)) {
        auto* label = reinterpret_cast<TOKEN_MANDATORY_LABEL*>(buffer.data());
        PSID sid = label->Label.Sid;
        level = *GetSidSubAuthority(sid, *GetSidSubAuthorityCount(sid) - 1);
    }
    CloseHandle(token);
    return level;
}

// Whether the foreground window belongs to a process of a higher integrity level than this
// one's: one whose level is higher, or, for a process below the high level, one whose level
// the system will not show.
bool foregroundIsAbove() {
    HWND foreground = GetForegroundWindow();
    DWORD owner = 0;
    if (foreground != nullptr) GetWindowThreadProcessId(foreground, &owner);
    if (owner == 0 || owner == GetCurrentProcessId()) return false;
    bool ownDenied = false, denied = false;
    std::optional<DWORD> ours = integrityOf(GetCurrentProcess(), ownDenied);
    if (!ours) return false;
    HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, owner);
    std::optional<DWORD> theirs;
    if (process != nullptr) {
        theirs = integrityOf(process, denied);
        CloseHandle(process);
    } else {
        denied = GetLastError() == ERROR_ACCESS_DENIED;
    }
    if (theirs) return *theirs > *ours;
    return denied && *ours < SECURITY_MANDATORY_HIGH_RID;
}

} // namespace

void openEventServices() {
    // Coordinates are physical pixels: without this, a scaled display would hand the process
    // (and take from it) positions in its own scaled units.
    using SetContext = BOOL(WINAPI*)(HANDLE);
    auto setContext = reinterpret_cast<SetContext>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleW(L"user32.dll"), "SetProcessDpiAwarenessContext")));
    // DPI_AWARENESS_CONTEXT_PER_MONITOR_AWARE_V2, from Windows 10 1703; before it, the system
    // DPI awareness of Vista on.
    if (!setContext || !setContext(reinterpret_cast<HANDLE>(static_cast<intptr_t>(-4))))
        SetProcessDPIAware();
}

void closeEventServices() {
    State& s = state();
    while (!s.held.empty())
        releaseSlot(s.held.rbegin()->first);
}

Event createEvent() {
    std::optional<POINT> at = cursor();
    if (!at) return nullptr;
    Event event(new EventRecord);
    event->location = {static_cast<double>(at->x), static_cast<double>(at->y)};
    return event;
}

void postEvent(EventRecord& event) {
    switch (event.kind) {
    case EventRecord::Kind::position:
        return;
    case EventRecord::Kind::mouse:
        return postMouse(event);
    case EventRecord::Kind::scroll:
        return postScroll(event);
    case EventRecord::Kind::key:
        return postKey(event);
    case EventRecord::Kind::system:
        return postSystem(event);
    }
}

void willType(std::span<const uint16_t>) {}

// KEYEVENTF_UNICODE carries any UTF-16 unit, whatever the layout.
bool canTypeUnicodeString(std::span<const uint16_t>) {
    return true;
}

uint32_t whileIdle() {
    return 0;
}

// Input goes to the input desktop only, and not to a window of a higher integrity level than
// vantrel's (an elevated program, when vantrel is not): the system drops it there without a
// word. Both are asked afresh each time; there is no permission to prompt for.
bool isProcessTrusted() {
    State& s = state();
    s.untrusted.clear();
    HDESK desk = OpenInputDesktop(0, FALSE, DESKTOP_READOBJECTS);
    if (desk == nullptr) {
        s.untrusted = "windows: the input desktop is not this session's (locked, or a secure "
                      "desktop is up)";
        return false;
    }
    CloseDesktop(desk);
    if (foregroundIsAbove()) {
        s.untrusted = "windows: the foreground window belongs to a program of a higher integrity "
                      "level (elevated), which refuses input from this process";
        return false;
    }
    return true;
}

std::string_view untrustedDetail() {
    return state().untrusted;
}

std::string_view connectionLost() {
    return {};
}

std::string_view undeliveredInput() {
    return state().undelivered;
}

void pause(uint32_t microseconds) {
    auto now = WaitClock::now();
    sleepUntil(nextDeadline(state().pace, now, std::chrono::microseconds(microseconds)));
}

// Windows counts a press within the double-click time of the previous one, inside a rectangle
// of SM_CXDOUBLECLK by SM_CYDOUBLECLK around it, as the next click. Its message times have the
// system clock's tick (about 16 ms), so two ticks more keep separate requests' clicks apart.
MultiClick multiClick() {
    double distance = std::max(GetSystemMetrics(SM_CXDOUBLECLK), GetSystemMetrics(SM_CYDOUBLECLK));
    return {(GetDoubleClickTime() + 32) * 1000, distance / 2};
}

int64_t largestScrollAmount() {
    return 10000;
}

// The primary monitor, in physical pixels.
Size mainDisplaySize() {
    return {static_cast<double>(GetSystemMetrics(SM_CXSCREEN)),
            static_cast<double>(GetSystemMetrics(SM_CYSCREEN))};
}

std::string_view platformName() {
    return "windows";
}

void replyWritten(std::string_view) {
    State& s = state();
    s.undelivered.clear();
    restartPace(s.pace);
}

} // namespace vantrel::platform
