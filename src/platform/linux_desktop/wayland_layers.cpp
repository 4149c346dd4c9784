// The Wayland layers of a build with libwayland: wlroots' virtual input protocols.

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
        .canTypeUnicodeString = everyText,
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
