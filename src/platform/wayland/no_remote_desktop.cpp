// A build without sd-bus has no way to GNOME's remote desktop session or to IBus: the GNOME
// layer refuses, saying so.

#include "platform/wayland/ibus.h"
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

struct IBus {};

void IBusClose::operator()(IBus* ibus) const noexcept {
    delete ibus;
}

IBusConnection openIBus(std::string& why) {
    why = "this vantrel was built without sd-bus, which IBus needs";
    return nullptr;
}

IBusState engageIBus(IBus&, std::chrono::steady_clock::time_point) {
    return {};
}
void commitIBus(IBus&, const std::string&) {}
void releaseIBus(IBus&, bool) {}
IBusState ibusState(IBus&) {
    return {};
}
bool awaitIBus(IBus&, std::chrono::steady_clock::time_point) {
    return false;
}

} // namespace vantrel::platform::wayland
