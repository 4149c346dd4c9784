#pragma once
// libdispatch's umbrella header, as far as the SDK headers declared here use it. CoreFoundation's
// umbrella includes it as <dispatch/dispatch.h>, as Apple's does (CFStream.h, CFMessagePort.h),
// so a project header that this name could find instead breaks the build here as on a Mac.
// Not Apple's header.

#ifdef __cplusplus
extern "C" {
#endif

typedef struct dispatch_queue_s* dispatch_queue_t;
typedef struct dispatch_object_s* dispatch_object_t;

#ifdef __cplusplus
}
#endif
