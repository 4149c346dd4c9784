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

// What the last trust check connected to, without connecting again: no server, an X server of
// its own, or a Wayland compositor's Xwayland (input posted there reaches its X clients only).
enum class ServerKind { none, own, xwayland };
ServerKind serverKind();

} // namespace vantrel::platform::x11
