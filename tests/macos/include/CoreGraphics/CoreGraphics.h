#pragma once
// Declarations of the Quartz event services the macOS layer uses, written from Apple's documented
// prototypes, widths and values, so that the layer compiles and is checked on Linux. Not Apple's
// header.

#include <CoreFoundation/CoreFoundation.h>

#include <stdint.h>

extern "C" {

typedef double CGFloat;
struct CGPoint {
    CGFloat x;
    CGFloat y;
};
typedef struct CGPoint CGPoint;
struct CGSize {
    CGFloat width;
    CGFloat height;
};
typedef struct CGSize CGSize;
struct CGRect {
    CGPoint origin;
    CGSize size;
};
typedef struct CGRect CGRect;
typedef uint32_t CGDirectDisplayID;

typedef struct __CGEvent* CGEventRef;
typedef struct __CGEventSource* CGEventSourceRef;

// Apple declares these with CF_ENUM, which in C++ is an enumeration with a fixed underlying type:
// an integer does not convert to them implicitly, so the layer must say each conversion, as it
// must against the real headers. CGEventFlags is CF_OPTIONS: a plain uint64_t.
typedef CF_ENUM(uint32_t, CGEventType) {
    kCGEventNull = 0,
    kCGEventLeftMouseDown = 1,
    kCGEventLeftMouseUp = 2,
    kCGEventRightMouseDown = 3,
    kCGEventRightMouseUp = 4,
    kCGEventMouseMoved = 5,
    kCGEventLeftMouseDragged = 6,
    kCGEventRightMouseDragged = 7,
    kCGEventKeyDown = 10,
    kCGEventKeyUp = 11,
    kCGEventScrollWheel = 22,
    kCGEventOtherMouseDown = 25,
    kCGEventOtherMouseUp = 26,
    kCGEventOtherMouseDragged = 27,
};

typedef CF_ENUM(uint32_t, CGMouseButton) {
    kCGMouseButtonLeft = 0,
    kCGMouseButtonRight = 1,
    kCGMouseButtonCenter = 2,
};

typedef CF_ENUM(uint32_t, CGEventField) {
    kCGMouseEventNumber = 0,
    kCGMouseEventClickState = 1,
    kCGKeyboardEventKeycode = 9,
};

typedef uint16_t CGKeyCode;

typedef CF_OPTIONS(uint64_t, CGEventFlags) {
    kCGEventFlagMaskShift = 0x00020000,
    kCGEventFlagMaskControl = 0x00040000,
    kCGEventFlagMaskAlternate = 0x00080000,
    kCGEventFlagMaskCommand = 0x00100000,
    kCGEventFlagMaskSecondaryFn = 0x00800000,
};

typedef CF_ENUM(uint32_t, CGScrollEventUnit) {
    kCGScrollEventUnitPixel = 0,
    kCGScrollEventUnitLine = 1,
};

typedef CF_ENUM(uint32_t, CGEventTapLocation) {
    kCGHIDEventTap = 0,
    kCGSessionEventTap = 1,
    kCGAnnotatedSessionEventTap = 2,
};

CGEventRef CGEventCreate(CGEventSourceRef source);
CGEventRef CGEventCreateCopy(CGEventRef event);
CGPoint CGEventGetLocation(CGEventRef event);
CGEventRef CGEventCreateMouseEvent(CGEventSourceRef source, CGEventType mouseType,
                                   CGPoint mouseCursorPosition, CGMouseButton mouseButton);
void CGEventSetIntegerValueField(CGEventRef event, CGEventField field, int64_t value);
CGEventRef CGEventCreateKeyboardEvent(CGEventSourceRef source, CGKeyCode virtualKey, bool keyDown);
void CGEventSetFlags(CGEventRef event, CGEventFlags flags);
void CGEventKeyboardSetUnicodeString(CGEventRef event, UniCharCount stringLength,
                                     const UniChar* unicodeString);
CGEventRef CGEventCreateScrollWheelEvent2(CGEventSourceRef source, CGScrollEventUnit units,
                                          uint32_t wheelCount, int32_t wheel1, int32_t wheel2,
                                          int32_t wheel3);
void CGEventPost(CGEventTapLocation tap, CGEventRef event);
CGDirectDisplayID CGMainDisplayID(void);
CGRect CGDisplayBounds(CGDirectDisplayID display);

} // extern "C"
