// The macOS implementation of the event services: Quartz event services (CoreGraphics) for mouse,
// keyboard and scroll events posted at the HID event tap, AppKit's NSEvent for the
// system-defined events that carry media keys, and the Accessibility check for trust. Every event
// is created with no event source; every event this file creates is released once, by its
// handle. It posts only what the core hands it: the core checks trust before any posting action.
//
// AppKit is reached through the Objective-C runtime so that the file stays C++. objc_msgSend is
// always cast to the exact, non-variadic type of the method called, as arm64 requires.

#include "platform/event_services.h"
#include "support/wait.h"

#include <ApplicationServices/ApplicationServices.h>
#include <Carbon/Carbon.h>
#include <CoreFoundation/CoreFoundation.h>
#include <CoreGraphics/CoreGraphics.h>
#include <objc/message.h>
#include <objc/runtime.h>

#include <optional>
#include <utility>

// The autorelease pool entry points of the Objective-C runtime; no public header declares them.
extern "C" void* objc_autoreleasePoolPush(void);
extern "C" void objc_autoreleasePoolPop(void* pool);

namespace vantrel::platform {

// A Quartz event this file owns and releases with CFRelease. A media event's CGEvent belongs to
// its NSEvent and dies with the autorelease pool it was made in, so the layer keeps an owned copy
// and pops the pool before handing the event over: no order of release can pop pools out of
// order.
struct EventRecord {
    CGEventRef event = nullptr;
};

namespace {

Event owning(CGEventRef event) {
    if (!event) return nullptr;
    return Event(new EventRecord{event});
}

// The character each ANSI key position of the key-name table types on a US layout. Mac
// applications match a shortcut by the character its key types in the current layout, so these
// keys are posted where the current layout types the same character; the named keys (return,
// arrows, F-keys) are positions already.
constexpr std::pair<uint16_t, char16_t> ansiCharacters[] = {
    {0, u'a'},  {1, u's'},  {2, u'd'},   {3, u'f'},  {4, u'h'},  {5, u'g'},   {6, u'z'},
    {7, u'x'},  {8, u'c'},  {9, u'v'},   {11, u'b'}, {12, u'q'}, {13, u'w'},  {14, u'e'},
    {15, u'r'}, {16, u'y'}, {17, u't'},  {18, u'1'}, {19, u'2'}, {20, u'3'},  {21, u'4'},
    {22, u'6'}, {23, u'5'}, {24, u'='},  {25, u'9'}, {26, u'7'}, {27, u'-'},  {28, u'8'},
    {29, u'0'}, {30, u']'}, {31, u'o'},  {32, u'u'}, {33, u'['}, {34, u'i'},  {35, u'p'},
    {37, u'l'}, {38, u'j'}, {39, u'\''}, {40, u'k'}, {41, u';'}, {42, u'\\'}, {43, u','},
    {44, u'/'}, {45, u'n'}, {46, u'm'},  {47, u'.'},
};

// The key code that types `character` unshifted in the current keyboard layout, read with the
// Text Input Sources and UCKeyTranslate; nothing when no key does (or the layout has no Unicode
// data, as some input methods have not).
std::optional<uint16_t> keyTypingInCurrentLayout(char16_t character) {
    TISInputSourceRef source = TISCopyCurrentKeyboardLayoutInputSource();
    if (!source) return std::nullopt;
    std::optional<uint16_t> found;
    auto data =
        static_cast<CFDataRef>(TISGetInputSourceProperty(source, kTISPropertyUnicodeKeyLayoutData));
    if (data) {
        auto layout = reinterpret_cast<const UCKeyboardLayout*>(CFDataGetBytePtr(data));
        UInt32 keyboardType = LMGetKbdType();
        // The main block only: the keypad (65 on) types digits under layouts that type none
        // unshifted, but a shortcut on the keypad is another shortcut.
        for (uint16_t code = 0; code < 65 && !found; ++code) {
            UInt32 deadKeyState = 0;
            UniChar typed[4];
            UniCharCount length = 0;
            OSStatus status =
                UCKeyTranslate(layout, code, kUCKeyActionDown, 0, keyboardType,
                               kUCKeyTranslateNoDeadKeysMask, &deadKeyState, 4, &length, typed);
            if (status == noErr && length == 1 && typed[0] == character) found = code;
        }
    }
    CFRelease(source);
    return found;
}

// Where the key at ANSI position `virtualKey` is to be posted under the current layout.
uint16_t keyForLayout(uint16_t virtualKey) {
    for (const auto& [position, character] : ansiCharacters) {
        if (position != virtualKey) continue;
        // The US key is the common case and needs no search when it types its own character.
        return keyTypingInCurrentLayout(character).value_or(virtualKey);
    }
    return virtualKey;
}

// NSEventTypeSystemDefined events made by otherEventWithType:location:modifierFlags:timestamp:
// windowNumber:context:subtype:data1:data2:, with NSUInteger, NSPoint, NSEventModifierFlags,
// NSTimeInterval, NSInteger, NSGraphicsContext *, short, NSInteger and NSInteger arguments.
using OtherEventWithType = id (*)(id, SEL, unsigned long, CGPoint, unsigned long, double, long, id,
                                  short, long, long);
using CGEventOf = CGEventRef (*)(id, SEL);

} // namespace

void EventRelease::operator()(EventRecord* record) const noexcept {
    if (record->event) CFRelease(record->event);
    delete record;
}

void openEventServices() {}
void closeEventServices() {}

Event createEvent() {
    return owning(CGEventCreate(nullptr));
}

Point eventLocation(const EventRecord& record) {
    CGPoint at = CGEventGetLocation(record.event);
    return {at.x, at.y};
}

Event createMouseEvent(uint32_t type, Point location, uint32_t button) {
    return owning(CGEventCreateMouseEvent(nullptr, static_cast<CGEventType>(type),
                                          CGPoint{location.x, location.y},
                                          static_cast<CGMouseButton>(button)));
}

void setIntegerValueField(EventRecord& record, uint32_t field, int64_t value) {
    CGEventSetIntegerValueField(record.event, static_cast<CGEventField>(field), value);
}

Event createKeyboardEvent(uint16_t virtualKey, bool keyDown) {
    return owning(CGEventCreateKeyboardEvent(
        nullptr, static_cast<CGKeyCode>(keyForLayout(virtualKey)), keyDown));
}

void setFlags(EventRecord& record, uint64_t flags) {
    CGEventSetFlags(record.event, static_cast<CGEventFlags>(flags));
}

void keyboardSetUnicodeString(EventRecord& record, std::span<const uint16_t> units) {
    // Typed text rides on key code 0 whatever character that key types here.
    CGEventSetIntegerValueField(record.event, kCGKeyboardEventKeycode, 0);
    CGEventKeyboardSetUnicodeString(record.event, static_cast<UniCharCount>(units.size()),
                                    reinterpret_cast<const UniChar*>(units.data()));
}

Event createScrollWheelEvent2(uint32_t units, uint32_t wheelCount, int32_t wheel1, int32_t wheel2,
                              int32_t wheel3) {
    return owning(CGEventCreateScrollWheelEvent2(nullptr, static_cast<CGScrollEventUnit>(units),
                                                 wheelCount, wheel1, wheel2, wheel3));
}

Event createSystemDefinedEvent(const SystemDefinedFields& fields) {
    // A class is an object to message; the runtime types the two apart.
    id nsEvent = reinterpret_cast<id>(objc_getClass("NSEvent"));
    if (!nsEvent) return nullptr; // AppKit is not loaded
    void* pool = objc_autoreleasePoolPush();
    auto make = reinterpret_cast<OtherEventWithType>(&objc_msgSend);
    id event =
        make(nsEvent,
             sel_registerName("otherEventWithType:location:modifierFlags:timestamp:"
                              "windowNumber:context:subtype:data1:data2:"),
             static_cast<unsigned long>(fields.type), CGPoint{fields.location.x, fields.location.y},
             static_cast<unsigned long>(fields.modifierFlags), fields.timestamp,
             static_cast<long>(fields.windowNumber), nullptr, fields.subtype,
             static_cast<long>(fields.data1), static_cast<long>(fields.data2));
    CGEventRef quartz =
        event ? reinterpret_cast<CGEventOf>(&objc_msgSend)(event, sel_registerName("CGEvent"))
              : nullptr;
    CGEventRef copy = quartz ? CGEventCreateCopy(quartz) : nullptr;
    objc_autoreleasePoolPop(pool);
    return owning(copy);
}

void postEvent(EventRecord& record) {
    CGEventPost(kCGHIDEventTap, record.event);
}

bool isProcessTrusted() {
    return AXIsProcessTrusted() != 0;
}

void pause(uint32_t microseconds) {
    sleepFor(microseconds);
}

// Every mouse event carries its click number (the click state field), and AppKit counts clicks
// by it: a first click is a first click however soon it follows another.
MultiClick multiClick() {
    return {};
}

// The event services are the system's own, not a connection that can close under vantrel.
std::string_view connectionLost() {
    return {};
}

// A scroll event carries its line deltas in a 16.16 fixed-point field: 32767 lines at most.
int64_t largestScrollAmount() {
    return 32767;
}

Size mainDisplaySize() {
    CGRect bounds = CGDisplayBounds(CGMainDisplayID());
    return {bounds.size.width, bounds.size.height};
}

void willType(std::span<const uint16_t>) {}

// A keyboard event's Unicode string is delivered as it is, whatever the layout.
bool canTypeUnicodeString(std::span<const uint16_t>) {
    return true;
}

uint32_t whileIdle() {
    return 0;
}

std::string_view undeliveredInput() {
    return {};
}

std::string_view untrustedDetail() {
    return {};
}

std::string_view platformName() {
    return "macos";
}

void replyWritten(std::string_view) {}

} // namespace vantrel::platform
