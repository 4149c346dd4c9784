#pragma once
// GNOME's way in: mutter's remote desktop session on the session bus, with a screen cast of each
// monitor linked to it, which absolute motion names. One session serves the connection's life;
// only the bus connection that made it may drive it. Internal to src/platform/wayland.
//
// Every call is sent without waiting; `settleRemoteDesktop` waits until mutter has answered all
// of them, so a refused call fails the request that made it instead of passing unnoticed.

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace vantrel::platform::wayland {

struct RemoteDesktop;
struct RemoteDesktopClose {
    void operator()(RemoteDesktop* remote) const noexcept;
};
using RemoteDesktopSession = std::unique_ptr<RemoteDesktop, RemoteDesktopClose>;

// Creates and starts a session with a screen cast of each of `connectors` (the monitors, as
// wl_output names them); null with `why` set when it cannot ("the session bus has no
// org.gnome.Mutter.RemoteDesktop").
RemoteDesktopSession openRemoteDesktop(const std::vector<std::string>& connectors,
                                       std::string& why);

// Events, by evdev codes; motion in the coordinates of the `monitor`th connector's screen cast.
void remoteKey(RemoteDesktop& remote, uint32_t code, bool down);
void remoteButton(RemoteDesktop& remote, uint32_t code, bool down);
void remoteWheel(RemoteDesktop& remote, uint32_t axis, int32_t steps);
void remoteMotion(RemoteDesktop& remote, size_t monitor, double x, double y);

// Sends what is queued, handles what mutter sent (answers, the session's end) and, with `wait`,
// waits for every answer, in a wait that a stop cuts short. Why the session failed, once it has:
// a call mutter refused, or the session's end; empty while all is well.
std::string_view settleRemoteDesktop(RemoteDesktop& remote, bool wait);
// Whether mutter closed the session (a locked screen, mutter gone): the connection must be made
// afresh.
bool remoteDesktopClosed(const RemoteDesktop& remote);
// Forgets a refused call's reason, at the end of the request it failed.
void forgetRemoteRefusal(RemoteDesktop& remote);

} // namespace vantrel::platform::wayland
