// A build without libwayland has no Wayland layer: a Wayland session is refused, never driven
// through its Xwayland.

#include "platform/linux_desktop/layers.h"

namespace vantrel::platform::linux_desktop {

std::span<const Layer> waylandLayers() {
    return {};
}

} // namespace vantrel::platform::linux_desktop
