#pragma once
// Declarations of the CoreFoundation interfaces the macOS layer uses, written from Apple's
// documented prototypes, so that the layer compiles and is checked on Linux. Not Apple's header.

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

typedef const void* CFTypeRef;
typedef unsigned char Boolean;
typedef uint16_t UniChar;
typedef unsigned long UniCharCount;

void CFRelease(CFTypeRef cf);

#ifdef __cplusplus
}
#endif
