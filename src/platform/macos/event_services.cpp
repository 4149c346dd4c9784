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
#include <CoreFoundation/CoreFoundation.h>
#include <CoreGraphics/CoreGraphics.h>
#include <objc/message.h>
#include <objc/runtime.h>

// The autorelease pool entry points of the Objective-C runtime; no public header declares them.
extern "C" void* objc_autoreleasePoolPush(void);
extern "C" void objc_autoreleasePoolPop(void* pool);

namespace vantrel::platform {

// A Quartz event and how it is to be let go. An event created here is owned and released with
// CFRelease. The CGEvent of an NSEvent belongs to the NSEvent, which the autorelease pool pushed
// for it owns: releasing that record pops the pool instead. Pools nest, so such records must be
// released in the reverse order of their making; the core makes, posts and lets go of one media
// event before it makes the next.
struct EventRecord {
    CGEventRef event = nullptr;
    bool owned = true;
    void* pool = nullptr;
};

namespace {

Event owning(CGEventRef event) {
    if (!event) return nullptr;
    return Event(new EventRecord{event, true, nullptr});
}

// NSEventTypeSystemDefined events made by otherEventWithType:location:modifierFlags:timestamp:
// windowNumber:context:subtype:data1:data2:, with NSUInteger, NSPoint, NSEventModifierFlags,
// NSTimeInterval, NSInteger, NSGraphicsContext *, short, NSInteger and NSInteger arguments.
using OtherEventWithType = id (*)(id, SEL, unsigned long, CGPoint, unsigned long, double, long, id,
                                  short, long, long);
using CGEventOf = CGEventRef (*)(id, SEL);

} // namespace

void EventRelease::operator()(EventRecord* record) const noexcept {
    if (record->owned && record->event) CFRelease(record->event);
    if (record->pool) objc_autoreleasePoolPop(record->pool);
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
    return owning(CGEventCreateKeyboardEvent(nullptr, static_cast<CGKeyCode>(virtualKey), keyDown));
}

void setFlags(EventRecord& record, uint64_t flags) {
    CGEventSetFlags(record.event, static_cast<CGEventFlags>(flags));
}

void keyboardSetUnicodeString(EventRecord& record, std::span<const uint16_t> units) {
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
    if (!quartz) {
        objc_autoreleasePoolPop(pool);
        return nullptr;
    }
    return Event(new EventRecord{quartz, false, pool});
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

int64_t largestScrollAmount() {
    return 2147483647;
}

Size mainDisplaySize() {
    CGRect bounds = CGDisplayBounds(CGMainDisplayID());
    return {bounds.size.width, bounds.size.height};
}

std::string_view platformName() {
    return "macos";
}

void replyWritten(std::string_view) {}

} // namespace vantrel::platform
