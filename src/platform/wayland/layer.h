#pragma once
// The seam's calls as the Wayland layer answers them, for the Linux platform that forwards
// to whichever layer is connected (platform/linux_desktop). Each has the meaning its namesake has
// in platform/event_services.h; the event record and its builders are shared (platform/xkb).

#include "platform/event_services.h"

namespace vantrel::platform::wayland {

void openEventServices();
void closeEventServices();
Event createEvent();
void postEvent(EventRecord& event);
void willType(std::span<const uint16_t> units);
// The trust check of each device: wlroots' virtual pointer and keyboard, KWin's fake input, or
// mutter's remote desktop session.
// The calls after it serve whichever connected.
bool isProcessTrusted();
bool isTrustedOnKWin();
bool isTrustedOnGnome();
bool canTypeUnicodeString(std::span<const uint16_t> units);
std::string_view untrustedDetail();
void pause(uint32_t microseconds);
std::string_view connectionLost();
int64_t largestScrollAmount();
MultiClick multiClick();
Size mainDisplaySize();
std::string_view platformName();
void replyWritten(std::string_view line);
std::string_view undeliveredInput();
uint32_t whileIdle();

} // namespace vantrel::platform::wayland
