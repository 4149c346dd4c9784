#pragma once
// objc_msgSend as Apple declares it without the old dispatch prototypes: a function of no
// declared arguments, to be cast to the exact type of each call. Not Apple's header.

#include <objc/runtime.h>

#ifdef __cplusplus
extern "C" {
#endif

void objc_msgSend(void);

#ifdef __cplusplus
}
#endif
