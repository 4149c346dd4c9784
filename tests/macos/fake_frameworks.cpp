// The fake frameworks. Only this file defines the Apple symbols; it includes the declaration
// headers to be held to their signatures, except objc_msgSend, which it defines with the full
// argument list of otherEventWithType: and serves the CGEvent getter from too: both calls pass
// self and the selector in the same registers and return a pointer, on x86_64 and arm64 alike.

#include "fake_frameworks.h"

#include <ApplicationServices/ApplicationServices.h>
#include <Carbon/Carbon.h>
#include <CoreFoundation/CoreFoundation.h>
#include <CoreGraphics/CoreGraphics.h>
#include <objc/runtime.h>

#include <cstring>
#include <memory>
#include <optional>
#include <poll.h>
#include <set>
#include <sys/select.h>
#include <unistd.h>

struct __CGEvent {
    enum class Kind { empty, mouse, key, scroll, system } kind = Kind::empty;
    CGPoint location{0, 0};
    CGEventType type = kCGEventNull;
    CGMouseButton button = kCGMouseButtonLeft;
    std::optional<int64_t> clickState;
    CGKeyCode keyCode = 0;
    std::optional<CGEventFlags> flags;
    std::optional<std::vector<uint16_t>> text;
    CGScrollEventUnit units = kCGScrollEventUnitPixel;
    uint32_t wheelCount = 0;
    int32_t wheels[3] = {0, 0, 0};
    bool fromNSEvent = false;
    bool poolPopped = false; // an NSEvent's CGEvent, gone with its autorelease pool
    int releases = 0;
    vantrel::fake::OtherEventCall system{};
};

namespace vantrel::fake {
namespace {

struct FakeNSEvent {
    __CGEvent* quartz = nullptr;
};

struct State {
    Settings settings;
    std::vector<std::unique_ptr<__CGEvent>> events;
    std::vector<std::unique_ptr<FakeNSEvent>> nsEvents;
    std::vector<nlohmann::json> lines;
    std::vector<std::string> problems;
    std::vector<OtherEventCall> otherEvents;
    std::vector<uintptr_t> pools;
    uintptr_t nextPool = 1;
    Counts counts;
    size_t trustAnswer = 0;
};
State state;
int nsEventClass; // its address stands for the class object
std::set<std::string> selectors;

__CGEvent* make(__CGEvent::Kind kind, CGEventSourceRef source) {
    if (source) state.problems.push_back("an event source was passed");
    auto event = std::make_unique<__CGEvent>();
    event->kind = kind;
    ++state.counts.created;
    state.events.push_back(std::move(event));
    return state.events.back().get();
}

void check(CGEventRef event, const char* call) {
    if (!event)
        state.problems.push_back(std::string(call) + " on a null event");
    else if (event->releases)
        state.problems.push_back(std::string(call) + " after release");
    else if (event->poolPopped)
        state.problems.push_back(std::string(call) + " after its autorelease pool was popped");
}

// The keyboard layouts the fake knows: what each key code types unshifted. French AZERTY moves
// a, q, z, w and m, and types no digit without Shift.
struct FakeLayout {
    char16_t typed[128] = {};
};
FakeLayout layoutNamed(const std::string& name) {
    FakeLayout layout;
    const std::pair<uint16_t, char16_t> us[] = {
        {0, u'a'},   {1, u's'},  {2, u'd'},  {3, u'f'},   {4, u'h'},  {5, u'g'},  {6, u'z'},
        {7, u'x'},   {8, u'c'},  {9, u'v'},  {11, u'b'},  {12, u'q'}, {13, u'w'}, {14, u'e'},
        {15, u'r'},  {16, u'y'}, {17, u't'}, {18, u'1'},  {19, u'2'}, {20, u'3'}, {21, u'4'},
        {22, u'6'},  {23, u'5'}, {24, u'='}, {25, u'9'},  {26, u'7'}, {27, u'-'}, {28, u'8'},
        {29, u'0'},  {30, u']'}, {31, u'o'}, {32, u'u'},  {33, u'['}, {34, u'i'}, {35, u'p'},
        {36, u'\r'}, {37, u'l'}, {38, u'j'}, {39, u'\''}, {40, u'k'}, {41, u';'}, {42, u'\\'},
        {43, u','},  {44, u'/'}, {45, u'n'}, {46, u'm'},  {47, u'.'}, {65, u'.'}, {82, u'0'},
        {83, u'1'},  {84, u'2'}};
    for (const auto& [code, c] : us)
        layout.typed[code] = c;
    if (name == "azerty") {
        const std::pair<uint16_t, char16_t> moved[] = {
            {0, u'q'},       {12, u'a'},     {6, u'w'},       {13, u'z'},      {41, u'm'},
            {46, u','},      {43, u';'},     {18, u'&'},      {19, u'\u00e9'}, {20, u'"'},
            {21, u'\''},     {23, u'('},     {22, u'\u00a7'}, {26, u'\u00e8'}, {28, u'!'},
            {25, u'\u00e7'}, {29, u'\u00e0'}};
        for (const auto& [code, c] : moved)
            layout.typed[code] = c;
    }
    return layout;
}
int inputSource; // its address stands for the current input source
int layoutData;  // and this one for its layout data
FakeLayout currentLayout;

} // namespace

void reset(const Settings& settings) {
    state.~State();
    new (&state) State{};
    state.settings = settings;
    currentLayout = layoutNamed(settings.layout);
}
std::vector<nlohmann::json> lines() {
    return state.lines;
}
std::vector<std::string> problems() {
    return state.problems;
}
Counts counts() {
    Counts c = state.counts;
    c.releasedOnce = 0;
    c.nsEventReleases = 0;
    for (const auto& event : state.events) {
        if (event->fromNSEvent)
            c.nsEventReleases += event->releases;
        else if (event->releases == 1)
            ++c.releasedOnce;
    }
    c.poolDepth = static_cast<int>(state.pools.size());
    return c;
}
std::vector<OtherEventCall> otherEventCalls() {
    return state.otherEvents;
}

} // namespace vantrel::fake

using vantrel::fake::state;
using Kind = __CGEvent::Kind;

extern "C" {

void CFRelease(CFTypeRef cf) {
    if (cf == &vantrel::fake::inputSource) {
        ++state.counts.inputSourceReleases;
        return;
    }
    auto* event = static_cast<__CGEvent*>(const_cast<void*>(cf));
    if (event->fromNSEvent) state.problems.push_back("released the CGEvent an NSEvent owns");
    if (event->releases) state.problems.push_back("released an event twice");
    ++event->releases;
}

CGEventRef CGEventCreate(CGEventSourceRef source) {
    if (state.settings.failLocation) return nullptr;
    __CGEvent* event = vantrel::fake::make(Kind::empty, source);
    event->location = {state.settings.pointerX, state.settings.pointerY};
    return event;
}

CGPoint CGEventGetLocation(CGEventRef event) {
    vantrel::fake::check(event, "CGEventGetLocation");
    return event->location;
}

CGEventRef CGEventCreateMouseEvent(CGEventSourceRef source, CGEventType mouseType,
                                   CGPoint mouseCursorPosition, CGMouseButton mouseButton) {
    if (state.settings.failMouse) return nullptr;
    __CGEvent* event = vantrel::fake::make(Kind::mouse, source);
    event->type = mouseType;
    event->location = mouseCursorPosition;
    event->button = mouseButton;
    return event;
}

void CGEventSetIntegerValueField(CGEventRef event, CGEventField field, int64_t value) {
    vantrel::fake::check(event, "CGEventSetIntegerValueField");
    if (field == kCGMouseEventClickState)
        event->clickState = value;
    else if (field == kCGKeyboardEventKeycode && event->kind == Kind::key)
        event->keyCode = static_cast<CGKeyCode>(value);
    else
        state.problems.push_back("an unexpected integer field");
}

CGEventRef CGEventCreateKeyboardEvent(CGEventSourceRef source, CGKeyCode virtualKey, bool keyDown) {
    if (state.settings.failKeyboard) return nullptr;
    __CGEvent* event = vantrel::fake::make(Kind::key, source);
    event->type = keyDown ? kCGEventKeyDown : kCGEventKeyUp;
    event->keyCode = virtualKey;
    return event;
}

void CGEventSetFlags(CGEventRef event, CGEventFlags flags) {
    vantrel::fake::check(event, "CGEventSetFlags");
    event->flags = flags;
}

void CGEventKeyboardSetUnicodeString(CGEventRef event, UniCharCount stringLength,
                                     const UniChar* unicodeString) {
    vantrel::fake::check(event, "CGEventKeyboardSetUnicodeString");
    event->text.emplace(unicodeString, unicodeString + stringLength);
}

CGEventRef CGEventCreateScrollWheelEvent2(CGEventSourceRef source, CGScrollEventUnit units,
                                          uint32_t wheelCount, int32_t wheel1, int32_t wheel2,
                                          int32_t wheel3) {
    if (state.settings.failScroll) return nullptr;
    __CGEvent* event = vantrel::fake::make(Kind::scroll, source);
    event->type = kCGEventScrollWheel;
    event->units = units;
    event->wheelCount = wheelCount;
    event->wheels[0] = wheel1;
    event->wheels[1] = wheel2;
    event->wheels[2] = wheel3;
    return event;
}

void CGEventPost(CGEventTapLocation tap, CGEventRef event) {
    vantrel::fake::check(event, "CGEventPost");
    if (tap != kCGHIDEventTap) state.problems.push_back("posted at another tap");
    ++state.counts.posts;
    nlohmann::json line;
    switch (event->kind) {
    case Kind::empty:
        state.problems.push_back("posted an empty event");
        return;
    case Kind::mouse:
        line = {{"post", "mouse"},
                {"type", event->type},
                {"x", event->location.x},
                {"y", event->location.y},
                {"button", event->button}};
        if (event->clickState) line["clickState"] = *event->clickState;
        if (event->flags) line["flags"] = *event->flags;
        state.settings.pointerX = event->location.x;
        state.settings.pointerY = event->location.y;
        break;
    case Kind::key:
        line = {{"post", "key"}, {"type", event->type}, {"keyCode", event->keyCode}};
        if (event->flags) line["flags"] = *event->flags;
        if (event->text) line["text"] = *event->text;
        break;
    case Kind::scroll:
        line = {{"post", "scroll"},           {"type", 22},
                {"units", event->units},      {"wheelCount", event->wheelCount},
                {"wheel1", event->wheels[0]}, {"wheel2", event->wheels[1]},
                {"wheel3", event->wheels[2]}};
        if (event->flags) line["flags"] = *event->flags;
        break;
    case Kind::system: {
        const vantrel::fake::OtherEventCall& s = event->system;
        line = {{"post", "system"},
                {"type", s.type},
                {"subtype", s.subtype},
                {"x", s.x},
                {"y", s.y},
                {"modifierFlags", s.modifierFlags},
                {"timestamp", s.timestamp},
                {"windowNumber", s.windowNumber},
                {"data1", s.data1},
                {"data2", s.data2}};
        break;
    }
    }
    state.lines.push_back(std::move(line));
}

CGDirectDisplayID CGMainDisplayID(void) {
    return 1;
}

CGRect CGDisplayBounds(CGDirectDisplayID display) {
    if (display != 1) state.problems.push_back("bounds of a display other than the main one");
    return CGRect{{0, 0}, {state.settings.screenWidth, state.settings.screenHeight}};
}

CGEventRef CGEventCreateCopy(CGEventRef event) {
    vantrel::fake::check(event, "CGEventCreateCopy");
    __CGEvent* copy = vantrel::fake::make(event->kind, nullptr);
    CGEventRef made = copy;
    *copy = *event;
    copy->fromNSEvent = false;
    copy->poolPopped = false;
    copy->releases = 0;
    return made;
}

const CFStringRef kTISPropertyUnicodeKeyLayoutData =
    reinterpret_cast<CFStringRef>(&vantrel::fake::layoutData);

TISInputSourceRef TISCopyCurrentKeyboardLayoutInputSource(void) {
    ++state.counts.inputSourceCopies;
    return reinterpret_cast<TISInputSourceRef>(&vantrel::fake::inputSource);
}

void* TISGetInputSourceProperty(TISInputSourceRef source, CFStringRef key) {
    if (source != reinterpret_cast<TISInputSourceRef>(&vantrel::fake::inputSource))
        state.problems.push_back("a property of another input source");
    if (key != kTISPropertyUnicodeKeyLayoutData || state.settings.layout == "none") return nullptr;
    return &vantrel::fake::layoutData;
}

const UInt8* CFDataGetBytePtr(CFDataRef data) {
    if (data != reinterpret_cast<CFDataRef>(&vantrel::fake::layoutData))
        state.problems.push_back("the bytes of unknown data");
    return reinterpret_cast<const UInt8*>(&vantrel::fake::currentLayout);
}

UInt8 LMGetKbdType(void) {
    return 40; // an ANSI keyboard
}

OSStatus UCKeyTranslate(const UCKeyboardLayout* layout, UInt16 code, UInt16 action,
                        UInt32 modifiers, UInt32, OptionBits options, UInt32* deadKeyState,
                        UniCharCount maxLength, UniCharCount* length, UniChar text[]) {
    if (reinterpret_cast<const void*>(layout) != &vantrel::fake::currentLayout)
        state.problems.push_back("UCKeyTranslate over something else than the layout data");
    if (action != kUCKeyActionDown || modifiers != 0 || !(options & kUCKeyTranslateNoDeadKeysMask))
        state.problems.push_back("UCKeyTranslate asked for another action or state");
    *deadKeyState = 0;
    *length = 0;
    if (code >= 128 || maxLength < 1) return -50; // paramErr
    char16_t typed = vantrel::fake::currentLayout.typed[code];
    if (typed) {
        text[0] = typed;
        *length = 1;
    }
    return noErr;
}

Boolean AXIsProcessTrusted(void) {
    const std::vector<bool>& answers = state.settings.trusted;
    bool trusted = answers[std::min(state.trustAnswer++, answers.size() - 1)];
    ++state.counts.trustChecks;
    state.lines.push_back({{"trusted", trusted}});
    return trusted ? 1 : 0;
}

// The layer pauses with at most one poll for whole milliseconds and then one select for the
// rest; such a pair is recorded as one sleep, not slept. A poll that does not wait (the check
// whether standard output's reader has gone) finds nothing.
uint64_t pollPart = 0;

int poll(struct pollfd*, nfds_t, int timeout) {
    if (timeout > 0) pollPart = static_cast<uint64_t>(timeout) * 1000;
    return 0;
}

int select(int, fd_set*, fd_set*, fd_set*, struct timeval* timeout) {
    uint64_t microseconds = pollPart + static_cast<uint64_t>(timeout->tv_sec) * 1000000 +
                            static_cast<uint64_t>(timeout->tv_usec);
    pollPart = 0;
    state.lines.push_back({{"sleep", microseconds}});
    return 0;
}

Class objc_getClass(const char* name) {
    if (state.settings.noNSEventClass || std::strcmp(name, "NSEvent") != 0) return nullptr;
    return reinterpret_cast<Class>(&vantrel::fake::nsEventClass);
}

SEL sel_registerName(const char* str) {
    auto [at, inserted] = vantrel::fake::selectors.insert(str);
    return reinterpret_cast<SEL>(const_cast<char*>(at->c_str()));
}

void* objc_autoreleasePoolPush(void) {
    ++state.counts.poolPushes;
    state.pools.push_back(state.nextPool++);
    return reinterpret_cast<void*>(state.pools.back());
}

void objc_autoreleasePoolPop(void* pool) {
    ++state.counts.poolPops;
    if (state.pools.empty() || state.pools.back() != reinterpret_cast<uintptr_t>(pool)) {
        state.problems.push_back("popped a pool out of order");
        return;
    }
    state.pools.pop_back();
    // What the pool held is gone: the NSEvents made inside it, and their CGEvents.
    for (const auto& event : state.events)
        if (event->fromNSEvent) event->poolPopped = true;
}

id objc_msgSend(id self, SEL op, unsigned long type, CGPoint location, unsigned long modifierFlags,
                double timestamp, long windowNumber, id context, short subtype, long data1,
                long data2) {
    std::string selector = reinterpret_cast<const char*>(op);
    if (selector == "otherEventWithType:location:modifierFlags:timestamp:windowNumber:context:"
                    "subtype:data1:data2:") {
        if (self != reinterpret_cast<id>(&vantrel::fake::nsEventClass))
            state.problems.push_back("otherEventWithType sent to something else than NSEvent");
        vantrel::fake::OtherEventCall call{type,
                                           location.x,
                                           location.y,
                                           modifierFlags,
                                           timestamp,
                                           windowNumber,
                                           context,
                                           subtype,
                                           data1,
                                           data2,
                                           static_cast<int>(state.pools.size())};
        state.otherEvents.push_back(call);
        if (state.settings.failNSEvent) return nullptr;
        auto nsEvent = std::make_unique<vantrel::fake::FakeNSEvent>();
        if (!state.settings.failCGEventOfNSEvent) {
            auto quartz = std::make_unique<__CGEvent>();
            quartz->kind = Kind::system;
            quartz->fromNSEvent = true;
            quartz->system = call;
            nsEvent->quartz = quartz.get();
            state.events.push_back(std::move(quartz));
            ++state.counts.fromNSEvent;
        }
        state.nsEvents.push_back(std::move(nsEvent));
        return reinterpret_cast<id>(state.nsEvents.back().get());
    }
    if (selector == "CGEvent") {
        return reinterpret_cast<id>(reinterpret_cast<vantrel::fake::FakeNSEvent*>(self)->quartz);
    }
    state.problems.push_back("an unexpected message: " + selector);
    return nullptr;
}

} // extern "C"
