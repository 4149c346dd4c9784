// The X11 layer as the Linux platform calls it.

#include "platform/linux_desktop/layers.h"
#include "platform/x11/layer.h"

namespace vantrel::platform::linux_desktop {

const Layer& x11Layer() {
    static const Layer layer{
        .name = "x11",
        .isProcessTrusted = x11::isProcessTrusted,
        .untrustedDetail = x11::untrustedDetail,
        .closeEventServices = x11::closeEventServices,
        .createEvent = x11::createEvent,
        .postEvent = x11::postEvent,
        .willType = x11::willType,
        .canTypeUnicodeString = everyText,
        .pause = x11::pause,
        .connectionLost = x11::connectionLost,
        .undeliveredInput = x11::undeliveredInput,
        .whileIdle = x11::whileIdle,
        .largestScrollAmount = x11::largestScrollAmount,
        .multiClick = x11::multiClick,
        .mainDisplaySize = x11::mainDisplaySize,
        .platformName = x11::platformName,
        .replyWritten = x11::replyWritten,
    };
    return layer;
}

} // namespace vantrel::platform::linux_desktop
