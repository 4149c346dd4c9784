// The Wayland layers of a build with libwayland: wlroots' virtual input protocols, then KWin's
// fake input. Both are one implementation (platform/wayland) that renders events on either.

#include "platform/linux_desktop/layers.h"
#include "platform/wayland/layer.h"

namespace vantrel::platform::linux_desktop {

std::span<const Layer> waylandLayers() {
    static const Layer layers[] = {{
                                       .name = "wayland",
                                       .isProcessTrusted = wayland::isProcessTrusted,
                                       .untrustedDetail = wayland::untrustedDetail,
                                       .closeEventServices = wayland::closeEventServices,
                                       .createEvent = wayland::createEvent,
                                       .postEvent = wayland::postEvent,
                                       .willType = wayland::willType,
                                       .canTypeUnicodeString = wayland::canTypeUnicodeString,
                                       .pause = wayland::pause,
                                       .connectionLost = wayland::connectionLost,
                                       .undeliveredInput = wayland::undeliveredInput,
                                       .whileIdle = wayland::whileIdle,
                                       .largestScrollAmount = wayland::largestScrollAmount,
                                       .multiClick = wayland::multiClick,
                                       .mainDisplaySize = wayland::mainDisplaySize,
                                       .platformName = wayland::platformName,
                                       .replyWritten = wayland::replyWritten,
                                   },
                                   {
                                       .name = "kde",
                                       .isProcessTrusted = wayland::isTrustedOnKWin,
                                       .untrustedDetail = wayland::untrustedDetail,
                                       .closeEventServices = wayland::closeEventServices,
                                       .createEvent = wayland::createEvent,
                                       .postEvent = wayland::postEvent,
                                       .willType = wayland::willType,
                                       .canTypeUnicodeString = wayland::canTypeUnicodeString,
                                       .pause = wayland::pause,
                                       .connectionLost = wayland::connectionLost,
                                       .undeliveredInput = wayland::undeliveredInput,
                                       .whileIdle = wayland::whileIdle,
                                       .largestScrollAmount = wayland::largestScrollAmount,
                                       .multiClick = wayland::multiClick,
                                       .mainDisplaySize = wayland::mainDisplaySize,
                                       .platformName = wayland::platformName,
                                       .replyWritten = wayland::replyWritten,
                                   }};
    return layers;
}

} // namespace vantrel::platform::linux_desktop
