#pragma once
// Declarations of the Carbon interfaces the macOS layer uses to find the key that types a
// character in the current keyboard layout: Text Input Sources (HIToolbox) and UCKeyTranslate
// (CarbonCore), written from Apple's documented prototypes and values. Not Apple's header.

#include <CoreFoundation/CoreFoundation.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef struct __TISInputSource* TISInputSourceRef;
typedef struct UCKeyboardLayout UCKeyboardLayout;

extern const CFStringRef kTISPropertyUnicodeKeyLayoutData;

TISInputSourceRef TISCopyCurrentKeyboardLayoutInputSource(void);
void* TISGetInputSourceProperty(TISInputSourceRef inputSource, CFStringRef propertyKey);
UInt8 LMGetKbdType(void);

enum { kUCKeyActionDown = 0, kUCKeyActionUp = 1, kUCKeyActionAutoKey = 2, kUCKeyActionDisplay = 3 };
enum { kUCKeyTranslateNoDeadKeysBit = 0 };
enum { kUCKeyTranslateNoDeadKeysMask = 1L << kUCKeyTranslateNoDeadKeysBit };

OSStatus UCKeyTranslate(const UCKeyboardLayout* keyLayoutPtr, UInt16 virtualKeyCode,
                        UInt16 keyAction, UInt32 modifierKeyState, UInt32 keyboardType,
                        OptionBits keyTranslateOptions, UInt32* deadKeyState,
                        UniCharCount maxStringLength, UniCharCount* actualStringLength,
                        UniChar unicodeString[]);

#ifdef __cplusplus
}
#endif
