// mutter's remote desktop session over the session bus, through sd-bus: a plain C library whose
// connection is one descriptor, which vantrel's own waits watch, so a stop cuts any wait short
// and no main loop of another library's has to be iterated.

#include "platform/wayland/remote_desktop.h"

#include "support/posix/fd_wait.h"

#include <systemd/sd-bus.h>

#include <time.h>

namespace vantrel::platform::wayland {

struct RemoteDesktop {
    sd_bus* bus = nullptr;
    std::string session, screenCast;
    std::vector<std::string> streams; // one per monitor, as openRemoteDesktop was given them
    uint32_t pending = 0;             // calls not answered yet
    bool started = false, closed = false;
    std::string refusal;
};

namespace {

constexpr const char* service = "org.gnome.Mutter.RemoteDesktop";
constexpr const char* sessionInterface = "org.gnome.Mutter.RemoteDesktop.Session";
constexpr const char* castService = "org.gnome.Mutter.ScreenCast";

struct MessageUnref {
    void operator()(sd_bus_message* message) const noexcept { sd_bus_message_unref(message); }
};
using Message = std::unique_ptr<sd_bus_message, MessageUnref>;

std::string errorText(const sd_bus_error* error) {
    if (!error) return "no answer";
    return error->message ? error->message : (error->name ? error->name : "an error");
}

// The answer to a call that is waited for.
struct Answer {
    bool done = false;
    Message reply;
};

int stash(sd_bus_message* reply, void* data, sd_bus_error*) {
    auto* answer = static_cast<Answer*>(data);
    answer->done = true;
    answer->reply.reset(sd_bus_message_ref(reply));
    return 0;
}

// Reads and dispatches what came; false when the connection is gone.
bool dispatch(RemoteDesktop& remote) {
    for (;;) {
        int handled = sd_bus_process(remote.bus, nullptr);
        if (handled < 0) {
            remote.closed = true;
            if (remote.refusal.empty())
                remote.refusal = "gnome: the connection to the session bus closed";
            return false;
        }
        if (handled == 0) return true;
    }
}

// When sd-bus's next time-out is due (a call mutter has not answered in 25 s), on the steady
// clock; none when no call is waiting.
WaitClock::time_point busDeadline(sd_bus* bus) {
    uint64_t at = 0;
    if (sd_bus_get_timeout(bus, &at) <= 0 || at == UINT64_MAX) return WaitClock::time_point::max();
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    uint64_t current = static_cast<uint64_t>(now.tv_sec) * 1'000'000 + now.tv_nsec / 1000;
    return WaitClock::now() + std::chrono::microseconds(at > current ? at - current : 0);
}

// Sends what is queued and waits until something can be read, or a call's time-out is due (so
// that a mutter that never answers fails the call instead of holding vantrel), in a wait a stop
// cuts short.
bool awaitBus(RemoteDesktop& remote) {
    if (sd_bus_flush(remote.bus) < 0) return false;
    return awaitAnswer(sd_bus_get_fd(remote.bus), busDeadline(remote.bus));
}

// A call whose answer is needed before going on; its error text in `why` when it fails.
template <typename... Args>
Message ask(RemoteDesktop& remote, const char* destination, const char* path, const char* interface,
            const char* member, std::string& why, const char* types, Args... args) {
    sd_bus_message* raw = nullptr;
    if (sd_bus_message_new_method_call(remote.bus, &raw, destination, path, interface, member) <
        0) {
        why = "cannot make a call to " + std::string(member);
        return nullptr;
    }
    Message call(raw);
    if (types && sd_bus_message_append(call.get(), types, args...) < 0) {
        why = "cannot make a call to " + std::string(member);
        return nullptr;
    }
    Answer answer;
    sd_bus_slot* slot = nullptr;
    if (sd_bus_call_async(remote.bus, &slot, call.get(), stash, &answer, 0) < 0) {
        why = "cannot send " + std::string(member);
        return nullptr;
    }
    while (!answer.done && dispatch(remote) && !answer.done)
        if (!awaitBus(remote)) break;
    sd_bus_slot_unref(slot);
    if (!answer.done) {
        why = std::string(member) + " got no answer";
        return nullptr;
    }
    if (const sd_bus_error* error = sd_bus_message_get_error(answer.reply.get())) {
        why = errorText(error);
        if (sd_bus_error_has_name(error, "org.freedesktop.DBus.Error.ServiceUnknown"))
            why = "the session bus has no " + std::string(destination) + " (not a GNOME session)";
        return nullptr;
    }
    return std::move(answer.reply);
}

std::string objectPath(const Message& reply) {
    const char* path = nullptr;
    if (!reply || sd_bus_message_read(reply.get(), "o", &path) < 0 || !path) return {};
    return path;
}

int answered(sd_bus_message* reply, void* data, sd_bus_error*) {
    auto* remote = static_cast<RemoteDesktop*>(data);
    if (remote->pending) --remote->pending;
    if (const sd_bus_error* error = sd_bus_message_get_error(reply);
        error && remote->refusal.empty())
        remote->refusal = "gnome: mutter refused an event: " + errorText(error);
    return 0;
}

int sessionClosed(sd_bus_message*, void* data, sd_bus_error*) {
    auto* remote = static_cast<RemoteDesktop*>(data);
    remote->closed = true;
    if (remote->refusal.empty())
        remote->refusal = "gnome: mutter closed the remote desktop session (the screen locked, or "
                          "mutter stopped)";
    return 0;
}

// An event: sent at once, answered later.
template <typename... Args>
void notify(RemoteDesktop& remote, const char* member, const char* types, Args... args) {
    if (remote.closed) return;
    sd_bus_message* raw = nullptr;
    if (sd_bus_message_new_method_call(remote.bus, &raw, service, remote.session.c_str(),
                                       sessionInterface, member) < 0)
        return;
    Message call(raw);
    if (sd_bus_message_append(call.get(), types, args...) < 0 ||
        sd_bus_call_async(remote.bus, nullptr, call.get(), answered, &remote, 0) < 0) {
        if (remote.refusal.empty()) remote.refusal = "gnome: cannot send " + std::string(member);
        return;
    }
    ++remote.pending;
}

} // namespace

void RemoteDesktopClose::operator()(RemoteDesktop* remote) const noexcept {
    if (remote->bus) {
        // Mutter ends the session of a connection that closes.
        if (!remote->closed) sd_bus_flush(remote->bus);
        sd_bus_flush_close_unref(remote->bus);
    }
    delete remote;
}

RemoteDesktopSession openRemoteDesktop(const std::vector<std::string>& connectors,
                                       std::string& why) {
    RemoteDesktopSession remote(new RemoteDesktop);
    if (sd_bus_open_user(&remote->bus) < 0) {
        remote->bus = nullptr;
        why = "cannot connect to the session bus";
        return nullptr;
    }
    std::string problem;
    remote->session = objectPath(ask(*remote, service, "/org/gnome/Mutter/RemoteDesktop", service,
                                     "CreateSession", problem, nullptr));
    if (remote->session.empty()) {
        why = problem;
        return nullptr;
    }
    if (sd_bus_match_signal_async(remote->bus, nullptr, service, remote->session.c_str(),
                                  sessionInterface, "Closed", sessionClosed, nullptr,
                                  remote.get()) < 0) {
        why = "cannot watch the remote desktop session";
        return nullptr;
    }
    Message id = ask(*remote, service, remote->session.c_str(), "org.freedesktop.DBus.Properties",
                     "Get", problem, "ss", sessionInterface, "SessionId");
    const char* sessionId = nullptr;
    if (!id || sd_bus_message_enter_container(id.get(), 'v', "s") < 0 ||
        sd_bus_message_read(id.get(), "s", &sessionId) < 0 || !sessionId) {
        why = "the remote desktop session has no id: " + problem;
        return nullptr;
    }
    // Absolute motion names a screen cast stream of the monitor it is on.
    remote->screenCast = objectPath(ask(*remote, castService, "/org/gnome/Mutter/ScreenCast",
                                        castService, "CreateSession", problem, "a{sv}", 1,
                                        "remote-desktop-session-id", "s", sessionId));
    if (remote->screenCast.empty()) {
        why = "cannot link a screen cast to the session: " + problem;
        return nullptr;
    }
    for (const std::string& connector : connectors) {
        std::string stream = objectPath(ask(*remote, castService, remote->screenCast.c_str(),
                                            "org.gnome.Mutter.ScreenCast.Session", "RecordMonitor",
                                            problem, "sa{sv}", connector.c_str(), 0));
        if (stream.empty()) {
            why = "cannot cast monitor " + connector + ": " + problem;
            return nullptr;
        }
        remote->streams.push_back(std::move(stream));
    }
    if (!ask(*remote, service, remote->session.c_str(), sessionInterface, "Start", problem,
             nullptr)) {
        why = "mutter did not start the remote desktop session (" + problem +
              "; its screen casts need PipeWire running in the session)";
        return nullptr;
    }
    remote->started = true;
    return remote;
}

void remoteKey(RemoteDesktop& remote, uint32_t code, bool down) {
    notify(remote, "NotifyKeyboardKeycode", "ub", code, static_cast<int>(down));
}

void remoteButton(RemoteDesktop& remote, uint32_t code, bool down) {
    notify(remote, "NotifyPointerButton", "ib", static_cast<int32_t>(code), static_cast<int>(down));
}

void remoteWheel(RemoteDesktop& remote, uint32_t axis, int32_t steps) {
    notify(remote, "NotifyPointerAxisDiscrete", "ui", axis, steps);
}

void remoteMotion(RemoteDesktop& remote, size_t monitor, double x, double y) {
    if (monitor >= remote.streams.size()) return;
    notify(remote, "NotifyPointerMotionAbsolute", "sdd", remote.streams[monitor].c_str(), x, y);
}

std::string_view settleRemoteDesktop(RemoteDesktop& remote, bool wait) {
    if (dispatch(remote) && wait) {
        while (remote.pending > 0 && !remote.closed) {
            if (!awaitBus(remote)) {
                if (remote.refusal.empty()) remote.refusal = "gnome: mutter did not answer";
                break;
            }
            if (!dispatch(remote)) break;
        }
    } else if (!remote.closed) {
        sd_bus_flush(remote.bus);
    }
    return remote.refusal;
}

bool remoteDesktopClosed(const RemoteDesktop& remote) {
    return remote.closed;
}

void forgetRemoteRefusal(RemoteDesktop& remote) {
    if (!remote.closed) remote.refusal.clear();
}

} // namespace vantrel::platform::wayland
