#pragma once
// Declarations of the CoreFoundation interfaces the macOS layer uses, written from Apple's
// documented prototypes, so that the layer compiles and is checked on Linux. Not Apple's header.

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef const void* CFTypeRef;
typedef unsigned char Boolean;
typedef uint16_t UniChar;
typedef unsigned long UniCharCount;

void CFRelease(CFTypeRef cf);

#ifdef __cplusplus
}
#endif
