// The Wayland layers of a build with libwayland: wlroots' virtual input protocols, KWin's fake
// input, then mutter's remote desktop session. All are one implementation (platform/wayland)
// that renders events on whichever connected.

#include "platform/linux_desktop/layers.h"
#include "platform/wayland/layer.h"

namespace vantrel::platform::linux_desktop {

namespace {

// The layers answer every call but the trust check the same way: the connection records which
// device it drives.
constexpr Layer waylandLayer(std::string_view name, bool (*isProcessTrusted)()) {
    return {
        .name = name,
        .isProcessTrusted = isProcessTrusted,
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
    };
}

} // namespace

std::span<const Layer> waylandLayers() {
    static const Layer layers[] = {waylandLayer("wayland", wayland::isProcessTrusted),
                                   waylandLayer("kde", wayland::isTrustedOnKWin),
                                   waylandLayer("gnome", wayland::isTrustedOnGnome)};
    return layers;
}

} // namespace vantrel::platform::linux_desktop
