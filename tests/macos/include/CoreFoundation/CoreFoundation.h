#pragma once
// Declarations of the CoreFoundation interfaces the macOS layer uses, written from Apple's
// documented prototypes, so that the layer compiles and is checked on Linux. Not Apple's header.

#include <dispatch/dispatch.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

// MacTypes.h, which CoreFoundation includes, declares QuickDraw's Point in the global namespace;
// it is here so that the layer is compiled beside the same name as on a Mac.
struct Point {
    short v;
    short h;
};
typedef struct Point Point;

typedef unsigned char UInt8;
typedef uint16_t UInt16;
typedef uint32_t UInt32;
typedef int32_t SInt32;
typedef SInt32 OSStatus;
typedef UInt32 OptionBits;
enum { noErr = 0 };

typedef const void* CFTypeRef;
typedef unsigned char Boolean;
typedef uint16_t UniChar;
typedef unsigned long UniCharCount;
typedef long CFIndex;
typedef const struct __CFString* CFStringRef;
typedef const struct __CFData* CFDataRef;
typedef struct __CFReadStream* CFReadStreamRef;

// As Apple's macros expand in C++ (CFAvailability.h): CF_ENUM is an enumeration with a fixed
// underlying type; CF_OPTIONS is a typedef of the integer type plus an anonymous enumeration of
// its values, so an option set is a plain integer and its constants are not of its type.
// Apple's CF_ENUM opens with an opaque enumeration inside the typedef, which clang accepts and
// GCC does not; GCC gets a typedef of the same meaning in C++.
#if defined(__clang__)
#define CF_ENUM(_type, _name)                                                                      \
    enum _name : _type _name;                                                                      \
    enum _name : _type
#else
#define CF_ENUM(_type, _name)                                                                      \
    _type _name##_underlying;                                                                      \
    enum _name : _type
#endif
#define CF_OPTIONS(_type, _name)                                                                   \
    _type _name;                                                                                   \
    enum : _type

void CFRelease(CFTypeRef cf);
const UInt8* CFDataGetBytePtr(CFDataRef theData);
// CFStream.h: the reason the umbrella needs libdispatch.
void CFReadStreamSetDispatchQueue(CFReadStreamRef stream, dispatch_queue_t q);

#ifdef __cplusplus
}
#endif
