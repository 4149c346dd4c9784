// A build without sd-bus has no way to GNOME's remote desktop session: the GNOME layer refuses,
// saying so.

#include "platform/wayland/remote_desktop.h"

namespace vantrel::platform::wayland {

struct RemoteDesktop {};

void RemoteDesktopClose::operator()(RemoteDesktop* remote) const noexcept {
    delete remote;
}

RemoteDesktopSession openRemoteDesktop(const std::vector<std::string>&, std::string& why) {
    why = "this vantrel was built without sd-bus, which GNOME's remote desktop needs";
    return nullptr;
}

void remoteKey(RemoteDesktop&, uint32_t, bool) {}
void remoteButton(RemoteDesktop&, uint32_t, bool) {}
void remoteWheel(RemoteDesktop&, uint32_t, int32_t) {}
void remoteMotion(RemoteDesktop&, size_t, double, double) {}

std::string_view settleRemoteDesktop(RemoteDesktop&, bool) {
    return {};
}

bool remoteDesktopClosed(const RemoteDesktop&) {
    return true;
}

void forgetRemoteRefusal(RemoteDesktop&) {}

} // namespace vantrel::platform::wayland
