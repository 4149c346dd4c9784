#pragma once
// The seam's calls as the X11 layer answers them, for the Linux platform that forwards
// to whichever layer is connected (platform/linux_desktop). Each has the meaning its namesake has
// in platform/event_services.h; the event record and its builders are shared (platform/xkb).

#include "platform/event_services.h"

namespace vantrel::platform::x11 {

void openEventServices();
void closeEventServices();
Event createEvent();
void postEvent(EventRecord& event);
void willType(std::span<const uint16_t> units);
uint32_t whileIdle();
std::string_view undeliveredInput();
bool isProcessTrusted();
std::string_view untrustedDetail();
void pause(uint32_t microseconds);
std::string_view connectionLost();
int64_t largestScrollAmount();
MultiClick multiClick();
Size mainDisplaySize();
std::string_view platformName();
void replyWritten(std::string_view line);

// Whether DISPLAY names a Wayland compositor's Xwayland (connecting first when needed): input
// posted there reaches the compositor's X clients only.
bool isXwayland();
// Whether a server answers at DISPLAY (connecting first when needed).
bool isConnected();

} // namespace vantrel::platform::x11
