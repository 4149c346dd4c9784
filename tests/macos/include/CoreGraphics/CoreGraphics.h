#pragma once
// Declarations of the Quartz event services the macOS layer uses, written from Apple's documented
// prototypes, widths and values, so that the layer compiles and is checked on Linux. Not Apple's
// header.

#include <CoreFoundation/CoreFoundation.h>

#include <stdbool.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef double CGFloat;
struct CGPoint {
    CGFloat x;
    CGFloat y;
};
typedef struct CGPoint CGPoint;

typedef struct __CGEvent* CGEventRef;
typedef struct __CGEventSource* CGEventSourceRef;

typedef uint32_t CGEventType;
enum {
    kCGEventNull = 0,
    kCGEventLeftMouseDown = 1,
    kCGEventLeftMouseUp = 2,
    kCGEventRightMouseDown = 3,
    kCGEventRightMouseUp = 4,
    kCGEventMouseMoved = 5,
    kCGEventLeftMouseDragged = 6,
    kCGEventKeyDown = 10,
    kCGEventKeyUp = 11,
    kCGEventScrollWheel = 22,
    kCGEventOtherMouseDown = 25,
    kCGEventOtherMouseUp = 26,
};

typedef uint32_t CGMouseButton;
enum { kCGMouseButtonLeft = 0, kCGMouseButtonRight = 1, kCGMouseButtonCenter = 2 };

typedef uint32_t CGEventField;
enum { kCGMouseEventNumber = 0, kCGMouseEventClickState = 1 };

typedef uint16_t CGKeyCode;

typedef uint64_t CGEventFlags;
enum : uint64_t {
    kCGEventFlagMaskShift = 0x00020000,
    kCGEventFlagMaskControl = 0x00040000,
    kCGEventFlagMaskAlternate = 0x00080000,
    kCGEventFlagMaskCommand = 0x00100000,
    kCGEventFlagMaskSecondaryFn = 0x00800000,
};

typedef uint32_t CGScrollEventUnit;
enum { kCGScrollEventUnitPixel = 0, kCGScrollEventUnitLine = 1 };

typedef uint32_t CGEventTapLocation;
enum { kCGHIDEventTap = 0, kCGSessionEventTap = 1, kCGAnnotatedSessionEventTap = 2 };

CGEventRef CGEventCreate(CGEventSourceRef source);
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

#ifdef __cplusplus
}
#endif
