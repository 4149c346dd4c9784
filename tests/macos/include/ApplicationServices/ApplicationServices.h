#pragma once
// Declarations of the ApplicationServices interfaces the macOS layer uses (the Accessibility
// trust check), written from Apple's documented prototypes. Not Apple's header.

#include <CoreFoundation/CoreFoundation.h>
#include <CoreGraphics/CoreGraphics.h>

#ifdef __cplusplus
extern "C" {
#endif

Boolean AXIsProcessTrusted(void);

#ifdef __cplusplus
}
#endif
