#pragma once
// Declarations of the Objective-C runtime functions the macOS layer uses, written from Apple's
// documented prototypes. Not Apple's header.

#ifdef __cplusplus
extern "C" {
#endif

typedef struct objc_object* id;
typedef struct objc_class* Class;
typedef struct objc_selector* SEL;

Class objc_getClass(const char* name);
SEL sel_registerName(const char* str);

#ifdef __cplusplus
}
#endif
