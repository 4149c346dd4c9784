// The Wayland implementation of the event services: renders the core's events on a virtual
// pointer and a virtual keyboard of the compositor that WAYLAND_DISPLAY names (wlroots'
// virtual-pointer and the virtual-keyboard protocols). It connects on first need, answers the
// trust check with whether the compositor offers both and is still there, and connects again
// after it went away. One pointer and one keyboard serve the process's life: a seat gains its
// capabilities with them, and clients bind their devices only then. Text that key events cannot
// carry goes through the input method protocol when the compositor offers it (input_method.cpp).
//
// Wayland has no global pointer query: the position read is where vantrel last put the pointer.

#include "platform/event_services.h"
#include "fake-input-client-protocol.h"
#include "input-method-unstable-v2-client-protocol.h"
#include "platform/wayland/compositor.h"
#include "platform/wayland/layer.h"
#include "support/pace.h"
#include "support/posix/fd_wait.h"
#include "virtual-keyboard-unstable-v1-client-protocol.h"
#include "virtual-pointer-unstable-v1-client-protocol.h"
#include "xdg-output-unstable-v1-client-protocol.h"

#include <linux/input-event-codes.h>
#include <poll.h>
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstring>

namespace vantrel::platform {

namespace wayland {

std::optional<Compositor>& compositor() {
    static std::optional<Compositor> current;
    return current;
}

std::string& refusalDetail() {
    static std::string detail;
    return detail;
}

void readEvents(Compositor& c, std::chrono::milliseconds wait) {
    wl_display* display = c.display.get();
    while (wl_display_prepare_read(display) != 0)
        wl_display_dispatch_pending(display);
    wl_display_flush(display);
    pollfd in{wl_display_get_fd(display), POLLIN, 0};
    if (::poll(&in, 1, static_cast<int>(wait.count())) > 0) {
        wl_display_read_events(display);
    } else {
        wl_display_cancel_read(display);
    }
    wl_display_dispatch_pending(display);
}

namespace {
void synced(void* data, wl_callback*, uint32_t) {
    *static_cast<bool*>(data) = true;
}
const wl_callback_listener syncListener = {synced};
} // namespace

bool roundTrip(Compositor& c) {
    wl_display* display = c.display.get();
    if (!mayStillAsk()) return false;
    bool done = false;
    wl_callback* callback = wl_display_sync(display);
    wl_callback_add_listener(callback, &syncListener, &done);
    while (!done && wl_display_get_error(display) == 0) {
        while (wl_display_prepare_read(display) != 0)
            wl_display_dispatch_pending(display);
        if (done) {
            wl_display_cancel_read(display);
            break;
        }
        wl_display_flush(display);
        if (!awaitAnswer(wl_display_get_fd(display))) {
            wl_display_cancel_read(display);
            break;
        }
        wl_display_read_events(display);
        wl_display_dispatch_pending(display);
    }
    wl_callback_destroy(callback);
    return done;
}

uint32_t now() {
    return static_cast<uint32_t>(
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now().time_since_epoch())
            .count());
}

namespace {

// How long new virtual devices are left before their first event: clients bind a keyboard and a
// pointer only once the seat shows them, and miss what comes before.
constexpr auto deviceSettle = std::chrono::milliseconds(100);

Pace& pace() {
    static Pace chain;
    return chain;
}

void outputGeometry(void* data, wl_output*, int32_t x, int32_t y, int32_t, int32_t, int32_t,
                    const char*, const char*, int32_t transform) {
    auto* output = static_cast<Output*>(data);
    output->x = x;
    output->y = y;
    output->transform = transform;
}
void outputMode(void* data, wl_output*, uint32_t flags, int32_t width, int32_t height, int32_t) {
    auto* output = static_cast<Output*>(data);
    if (!(flags & WL_OUTPUT_MODE_CURRENT)) return;
    output->width = width;
    output->height = height;
}
void outputDone(void*, wl_output*) {}
void outputScale(void* data, wl_output*, int32_t factor) {
    static_cast<Output*>(data)->scale = factor > 0 ? factor : 1;
}
void outputName(void* data, wl_output*, const char* name) {
    static_cast<Output*>(data)->connector = name ? name : "";
}
void outputText(void*, wl_output*, const char*) {}
// Bound at version 2, or 4 on GNOME, whose screen casts need each monitor's name.
const wl_output_listener outputListener = {outputGeometry, outputMode, outputDone,
                                           outputScale,    outputName, outputText};

void logicalPosition(void* data, zxdg_output_v1*, int32_t x, int32_t y) {
    auto* output = static_cast<Output*>(data);
    output->logicalX = x;
    output->logicalY = y;
    output->hasLogical = true;
}
void logicalSize(void* data, zxdg_output_v1*, int32_t width, int32_t height) {
    auto* output = static_cast<Output*>(data);
    output->logicalWidth = width;
    output->logicalHeight = height;
    output->hasLogical = true;
}
void logicalDone(void*, zxdg_output_v1*) {}
void logicalText(void*, zxdg_output_v1*, const char*) {}
const zxdg_output_v1_listener logicalListener = {logicalPosition, logicalSize, logicalDone,
                                                 logicalText, logicalText};

void describe(Compositor& c, Output& output) {
    if (!c.outputManager || output.logical) return;
    output.logical = zxdg_output_manager_v1_get_xdg_output(c.outputManager, output.output);
    zxdg_output_v1_add_listener(output.logical, &logicalListener, &output);
}

void forget(Output& output) {
    if (output.logical) zxdg_output_v1_destroy(output.logical);
    if (output.output) wl_output_destroy(output.output);
    output.logical = nullptr, output.output = nullptr;
}

// The seat's keymap, which KWin decodes its fake keys with; it comes again when it changes.
void keyboardKeymap(void* data, wl_keyboard*, uint32_t format, int32_t fd, uint32_t size) {
    auto* c = static_cast<Compositor*>(data);
    if (format == WL_KEYBOARD_KEYMAP_FORMAT_XKB_V1 && size > 0) {
        void* mapped = ::mmap(nullptr, size, PROT_READ, MAP_PRIVATE, fd, 0);
        if (mapped != MAP_FAILED) {
            const char* text = static_cast<const char*>(mapped);
            c->seatKeymap.assign(text, strnlen(text, size));
            ::munmap(mapped, size);
        }
    }
    ::close(fd);
}
void keyboardEnter(void*, wl_keyboard*, uint32_t, wl_surface*, wl_array*) {}
void keyboardLeave(void*, wl_keyboard*, uint32_t, wl_surface*) {}
void keyboardKey(void*, wl_keyboard*, uint32_t, uint32_t, uint32_t, uint32_t) {}
void keyboardModifiers(void*, wl_keyboard*, uint32_t, uint32_t, uint32_t, uint32_t, uint32_t) {}
void keyboardRepeat(void*, wl_keyboard*, int32_t, int32_t) {}
const wl_keyboard_listener keyboardListener = {keyboardKeymap, keyboardEnter,     keyboardLeave,
                                               keyboardKey,    keyboardModifiers, keyboardRepeat};

// KWin's and mutter's seats have a keyboard once vantrel's device exists; only then can its
// keymap be read.
void seatCapabilities(void* data, wl_seat* seat, uint32_t capabilities) {
    auto* c = static_cast<Compositor*>(data);
    if (c->device == Device::wlroots || c->seatKeyboard ||
        !(capabilities & WL_SEAT_CAPABILITY_KEYBOARD))
        return;
    c->seatKeyboard = wl_seat_get_keyboard(seat);
    wl_keyboard_add_listener(c->seatKeyboard, &keyboardListener, c);
}
void seatName(void*, wl_seat*, const char*) {}
const wl_seat_listener seatListener = {seatCapabilities, seatName};

void announce(void* data, wl_registry* registry, uint32_t name, const char* interface,
              uint32_t version) {
    auto* c = static_cast<Compositor*>(data);
    if (std::strncmp(interface, "org_kde_", 8) == 0) c->kdeGlobals = true;
    if (std::strcmp(interface, wl_seat_interface.name) == 0 && !c->seat) {
        c->seat = static_cast<wl_seat*>(wl_registry_bind(registry, name, &wl_seat_interface, 1));
        wl_seat_add_listener(c->seat, &seatListener, c);
    } else if (std::strcmp(interface, org_kde_kwin_fake_input_interface.name) == 0 &&
               c->device == Device::kwin && version >= 4) {
        c->fakeInputVersion = std::min(version, 6u);
        c->fakeInput = static_cast<org_kde_kwin_fake_input*>(wl_registry_bind(
            registry, name, &org_kde_kwin_fake_input_interface, c->fakeInputVersion));
    } else if (std::strcmp(interface, wl_output_interface.name) == 0 && version >= 2) {
        // Outputs come and go while vantrel is connected; each is described as it comes.
        Output& output = *c->outputs.emplace_back(std::make_unique<Output>());
        output.name = name;
        uint32_t bound = c->device == Device::mutter ? std::min(version, 4u) : 2;
        output.output =
            static_cast<wl_output*>(wl_registry_bind(registry, name, &wl_output_interface, bound));
        wl_output_add_listener(output.output, &outputListener, &output);
        describe(*c, output);
    } else if (std::strcmp(interface, zxdg_output_manager_v1_interface.name) == 0 &&
               !c->outputManager && version >= 2) {
        c->outputManager = static_cast<zxdg_output_manager_v1*>(
            wl_registry_bind(registry, name, &zxdg_output_manager_v1_interface, 2));
        for (auto& output : c->outputs)
            describe(*c, *output);
    } else if (std::strcmp(interface, zwlr_virtual_pointer_manager_v1_interface.name) == 0) {
        c->pointerManager = static_cast<zwlr_virtual_pointer_manager_v1*>(wl_registry_bind(
            registry, name, &zwlr_virtual_pointer_manager_v1_interface, std::min(version, 2u)));
    } else if (std::strcmp(interface, zwp_virtual_keyboard_manager_v1_interface.name) == 0) {
        c->keyboardManager = static_cast<zwp_virtual_keyboard_manager_v1*>(
            wl_registry_bind(registry, name, &zwp_virtual_keyboard_manager_v1_interface, 1));
    } else if (std::strcmp(interface, zwp_input_method_manager_v2_interface.name) == 0) {
        c->inputMethodManager = static_cast<zwp_input_method_manager_v2*>(
            wl_registry_bind(registry, name, &zwp_input_method_manager_v2_interface, 1));
    }
}
void withdraw(void* data, wl_registry*, uint32_t name) {
    auto* c = static_cast<Compositor*>(data);
    std::erase_if(c->outputs, [&](const std::unique_ptr<Output>& o) {
        if (o->name != name) return false;
        forget(*o);
        return true;
    });
}
const wl_registry_listener registryListener = {announce, withdraw};

bool broken(const Compositor& c) {
    return wl_display_get_error(c.display.get()) != 0 ||
           (c.remote && remoteDesktopClosed(*c.remote));
}

// Reads what the compositor sent, without waiting: output changes, and a closed connection.
void readPending(Compositor& c) {
    readEvents(c, std::chrono::milliseconds(0));
    // An output announced just now describes itself in answer to its binding.
    if (std::any_of(c.outputs.begin(), c.outputs.end(), [](const auto& o) { return o->fresh; }))
        roundTrip(c);
    for (auto& output : c.outputs)
        output->fresh = false;
}

// The objects are proxies of the connection; destroying them sends nothing the compositor needs
// once the connection is gone, and the disconnect frees the rest.
void destroyProxies(Compositor& c) {
    if (c.pointer) zwlr_virtual_pointer_v1_destroy(c.pointer);
    if (c.keyboard) zwp_virtual_keyboard_v1_destroy(c.keyboard);
    destroyInputMethod(c);
    endIBus(c, false);
    c.ibus.reset();
    c.remote.reset();
    if (c.seatKeyboard) wl_keyboard_destroy(c.seatKeyboard);
    // The device goes with the connection (version 4, KWin 5.27's, has no destructor request).
    if (c.fakeInput) wl_proxy_destroy(reinterpret_cast<wl_proxy*>(c.fakeInput));
    c.seatKeyboard = nullptr, c.fakeInput = nullptr;
    if (c.pointerManager) zwlr_virtual_pointer_manager_v1_destroy(c.pointerManager);
    if (c.keyboardManager) zwp_virtual_keyboard_manager_v1_destroy(c.keyboardManager);
    for (auto& output : c.outputs)
        forget(*output);
    if (c.outputManager) zxdg_output_manager_v1_destroy(c.outputManager);
    c.outputManager = nullptr;
    if (c.seat) wl_seat_destroy(c.seat);
    if (c.registry) wl_registry_destroy(c.registry);
    c.pointer = nullptr, c.keyboard = nullptr, c.pointerManager = nullptr;
    c.keyboardManager = nullptr, c.seat = nullptr, c.registry = nullptr;
    c.outputs.clear();
}

void drop() {
    std::optional<Compositor>& current = compositor();
    if (!current) return;
    destroyProxies(*current);
    current.reset();
}

// The detail of a refusal for want of KWin's fake input: KWin offers it only to programs that a
// desktop file allows.
const char* kwinAccess(const Compositor& c) {
    if (!c.kdeGlobals) return "the compositor offers no org_kde_kwin_fake_input";
    return "KWin does not offer org_kde_kwin_fake_input to this program: it needs a desktop file "
           "(such as /usr/share/applications/vantrel.desktop, or one in "
           "~/.local/share/applications) whose Exec is this executable and whose "
           "X-KDE-Wayland-Interfaces names org_kde_kwin_fake_input";
}

// KWin and mutter decode keys with the seat's keymap, which comes in answer to binding the seat's
// keyboard; the seat gains that keyboard with vantrel's device. Why it cannot be had, or null.
const char* readSeatLayout(Compositor& c) {
    for (int i = 0; c.seatKeymap.empty() && i < 40 && !broken(c); ++i)
        readEvents(c, std::chrono::milliseconds(50));
    if (c.seatKeymap.empty()) return "the compositor announced no keymap for the seat";
    if (!loadLayout(c)) return "the seat's keymap cannot be compiled";
    return nullptr;
}

// The connection in use, whichever device it drives; null when there is none.
Compositor* connection() {
    std::optional<Compositor>& current = compositor();
    return current ? &*current : nullptr;
}

Compositor* connected(Device device) {
    std::optional<Compositor>& current = compositor();
    if (current) return current->device == device ? &*current : nullptr;
    const char* name = std::getenv("WAYLAND_DISPLAY");
    if (!name || !*name) {
        refusalDetail() = "WAYLAND_DISPLAY is not set";
        return nullptr;
    }
    wl_display* display = wl_display_connect(nullptr);
    if (!display) {
        refusalDetail() = std::string("cannot connect to the compositor ") + name;
        return nullptr;
    }
    Compositor& c = current.emplace();
    c.device = device;
    c.display.reset(display);
    c.registry = wl_display_get_registry(display);
    wl_registry_add_listener(c.registry, &registryListener, &c);
    roundTrip(c); // the globals, binding outputs as they come
    roundTrip(c); // what the outputs say of themselves
    for (auto& output : c.outputs)
        output->fresh = false;
    const char* missing = nullptr;
    if (broken(c))
        missing = "the connection to the compositor was lost";
    else if (!c.seat)
        missing = "the compositor offers no seat";
    else if (device == Device::wlroots)
        missing = !c.pointerManager    ? "the compositor offers no virtual pointer"
                  : !c.keyboardManager ? "the compositor offers no virtual keyboard"
                                       : nullptr;
    else if (device == Device::kwin && !c.fakeInput)
        missing = kwinAccess(c);
    std::string why;
    if (!missing && device == Device::mutter) {
        for (const auto& output : c.outputs)
            if (!output->connector.empty()) c.castConnectors.push_back(output->connector);
        // mutter before 44 names no output (wl_output version 2): the one cast is then of the
        // primary monitor, which an empty name asks for.
        if (c.castConnectors.empty()) c.castConnectors.push_back("");
        c.remote = openRemoteDesktop(c.castConnectors, why);
        if (!c.remote) missing = why.c_str();
        if (!missing) {
            // The session's keyboard joins the seat with its first key, and clients that bind
            // it only then lose the keys before: a key that types nothing goes first. Left Shift
            // is the same key on every layout.
            remoteKey(*c.remote, KEY_LEFTSHIFT, true);
            remoteKey(*c.remote, KEY_LEFTSHIFT, false);
            if (!settleRemoteDesktop(*c.remote, true).empty())
                missing = "mutter refused the session's first key";
        }
        if (!missing) missing = readSeatLayout(c);
    } else if (!missing && device == Device::wlroots) {
        c.pointer =
            zwlr_virtual_pointer_manager_v1_create_virtual_pointer(c.pointerManager, c.seat);
        c.keyboard =
            zwp_virtual_keyboard_manager_v1_create_virtual_keyboard(c.keyboardManager, c.seat);
        if (!loadLayout(c)) missing = "the keyboard layout cannot be compiled";
    } else if (!missing && device == Device::kwin) {
        // Without authentication KWin drops every event of the device. The seat gains a
        // keyboard with the device, and its keymap comes in answer to binding that.
        org_kde_kwin_fake_input_authenticate(c.fakeInput, "vantrel",
                                             "drives the pointer and keyboard as a program asks");
        missing = readSeatLayout(c);
    }
    if (missing) {
        refusalDetail() = missing;
        drop();
        return nullptr;
    }
    roundTrip(c);
    sleepUntil(Clock::now() + deviceSettle);
    roundTrip(c);
    return &c;
}

// The output layout's extent: the box around every output, in its logical coordinates.
struct Extent {
    int32_t x = 0, y = 0, width = 0, height = 0;
};
// An output's box in the layout's logical coordinates.
Extent boxOf(const Output& o) {
    if (o.hasLogical) return {o.logicalX, o.logicalY, o.logicalWidth, o.logicalHeight};
    bool turned = o.transform % 2 == 1; // 90 and 270 degrees, flipped or not
    return {o.x, o.y, (turned ? o.height : o.width) / o.scale,
            (turned ? o.width : o.height) / o.scale};
}

Extent layout(const Compositor& c) {
    bool any = false;
    int32_t left = 0, top = 0, right = 0, bottom = 0;
    for (const auto& output : c.outputs) {
        Extent box = boxOf(*output);
        if (box.width <= 0 || box.height <= 0) continue;
        int32_t r = box.x + box.width, b = box.y + box.height;
        if (!any) {
            left = box.x, top = box.y, right = r, bottom = b, any = true;
        } else {
            left = std::min(left, box.x), top = std::min(top, box.y);
            right = std::max(right, r), bottom = std::max(bottom, b);
        }
    }
    return {left, top, right - left, bottom - top};
}

uint32_t along(double value, int32_t origin, int32_t extent) {
    double offset = std::round(value) - origin;
    if (!(offset > 0.0)) return 0;
    if (offset > extent - 1) return static_cast<uint32_t>(extent > 0 ? extent - 1 : 0);
    return static_cast<uint32_t>(offset);
}

void moveTo(Compositor& c, Point to) {
    Extent e = layout(c);
    if (e.width <= 0 || e.height <= 0) return;
    uint32_t x = along(to.x, e.x, e.width), y = along(to.y, e.y, e.height);
    c.position = {static_cast<double>(e.x + static_cast<int32_t>(x)),
                  static_cast<double>(e.y + static_cast<int32_t>(y))};
    if (c.device == Device::mutter) {
        // mutter takes a position within a monitor, named by the screen cast that shows it. A
        // point between monitors goes to the nearest point of the nearest one, as the pointer
        // would stop there.
        const Output* nearest = nullptr;
        size_t stream = 0;
        double best = 0.0;
        Point at;
        for (const auto& output : c.outputs) {
            auto cast =
                std::find(c.castConnectors.begin(), c.castConnectors.end(), output->connector);
            Extent box = boxOf(*output);
            if (cast == c.castConnectors.end() || box.width <= 0 || box.height <= 0) continue;
            Point inside{std::clamp(c.position.x, double(box.x), double(box.x + box.width - 1)),
                         std::clamp(c.position.y, double(box.y), double(box.y + box.height - 1))};
            double distance = std::hypot(inside.x - c.position.x, inside.y - c.position.y);
            if (nearest && distance >= best) continue;
            nearest = output.get(), best = distance, at = inside;
            stream = static_cast<size_t>(cast - c.castConnectors.begin());
        }
        if (!nearest) return;
        Extent box = boxOf(*nearest);
        c.position = at;
        remoteMotion(*c.remote, stream, at.x - box.x, at.y - box.y);
        return;
    }
    if (c.device == Device::kwin) {
        // KWin takes a position in its global space; the middle of the pixel, so that no
        // rounding moves it to the next.
        org_kde_kwin_fake_input_pointer_motion_absolute(c.fakeInput,
                                                        wl_fixed_from_double(c.position.x + 0.5),
                                                        wl_fixed_from_double(c.position.y + 0.5));
        return;
    }
    zwlr_virtual_pointer_v1_motion_absolute(c.pointer, now(), x, y, static_cast<uint32_t>(e.width),
                                            static_cast<uint32_t>(e.height));
    zwlr_virtual_pointer_v1_frame(c.pointer);
}

void postMouse(Compositor& c, const EventRecord& event) {
    // X's numbering (1 left, 2 middle, 3 right, 8 back, 9 forward) to evdev's codes.
    constexpr uint32_t codes[] = {0, BTN_LEFT, BTN_MIDDLE, BTN_RIGHT, 0,
                                  0, 0,        0,          BTN_SIDE,  BTN_EXTRA};
    xkb::ButtonChange change = xkb::buttonChange(event.type, event.button);
    uint32_t button = codes[change.button];
    bool press = change.press;
    if (!button || event.location.x != c.position.x || event.location.y != c.position.y)
        moveTo(c, event.location);
    if (!button) return;
    clicked(c);
    uint32_t state = press ? WL_POINTER_BUTTON_STATE_PRESSED : WL_POINTER_BUTTON_STATE_RELEASED;
    if (c.device == Device::mutter) {
        remoteButton(*c.remote, button, press);
    } else if (c.device == Device::kwin) {
        org_kde_kwin_fake_input_button(c.fakeInput, button, state);
    } else {
        zwlr_virtual_pointer_v1_button(c.pointer, now(), button, state);
        zwlr_virtual_pointer_v1_frame(c.pointer);
    }
    if (press) return;
    // Clients count clicks by the times the compositor stamps on its events, and the next
    // separate click waits out the multi-click interval from this release: the release is
    // stamped before it is counted as made. A busy compositor would otherwise stamp it late,
    // and the next click would join it.
    if (c.remote)
        settleRemoteDesktop(*c.remote, true);
    else
        roundTrip(c);
}

// One wheel step per line; positive core amounts are up and left, the protocol's are down and
// right. 15 is the scroll distance a wheel step is given by libinput.
void wheel(Compositor& c, int32_t lines, uint32_t axis) {
    int64_t count = lines > 0 ? lines : -static_cast<int64_t>(lines);
    int32_t step = lines > 0 ? -1 : 1;
    for (int64_t i = 0; i < count; ++i) {
        // KWin's fake axis has no discrete steps: 15 is one step of a wheel to its clients.
        if (c.device == Device::kwin) {
            org_kde_kwin_fake_input_axis(c.fakeInput, axis, wl_fixed_from_int(15 * step));
            continue;
        }
        if (c.device == Device::mutter) {
            remoteWheel(*c.remote, axis, step);
            continue;
        }
        zwlr_virtual_pointer_v1_axis_source(c.pointer, WL_POINTER_AXIS_SOURCE_WHEEL);
        zwlr_virtual_pointer_v1_axis_discrete(c.pointer, now(), axis, wl_fixed_from_int(15 * step),
                                              step);
        zwlr_virtual_pointer_v1_frame(c.pointer);
    }
}

} // namespace

} // namespace wayland

// The seam as this layer renders it; the Linux platform forwards to it (platform/wayland/layer.h).
namespace wayland {

void openEventServices() {}

void closeEventServices() {
    std::optional<Compositor>& current = wayland::compositor();
    if (!current) return;
    if (!wayland::broken(*current)) {
        wayland::releaseKeys(*current);
        wayland::roundTrip(*current);
        if (current->remote) wayland::settleRemoteDesktop(*current->remote, true);
    }
    wayland::endIBus(*current, true);
    wayland::drop();
}

Event createEvent() {
    Compositor* c = wayland::connection();
    if (!c || wayland::broken(*c)) return nullptr;
    Event event(new EventRecord);
    event->location = c->position;
    return event;
}

void postEvent(EventRecord& event) {
    std::optional<Compositor>& current = wayland::compositor();
    if (!current || wayland::broken(*current)) return;
    Compositor& c = *current;
    switch (event.kind) {
    case EventRecord::Kind::position:
        return;
    case EventRecord::Kind::mouse:
        wayland::postMouse(c, event);
        break;
    case EventRecord::Kind::scroll:
        wayland::wheel(c, event.wheels[0], WL_POINTER_AXIS_VERTICAL_SCROLL);
        wayland::wheel(c, event.wheels[1], WL_POINTER_AXIS_HORIZONTAL_SCROLL);
        break;
    case EventRecord::Kind::key:
        wayland::postKey(c, event);
        break;
    case EventRecord::Kind::system:
        wayland::postSystem(c, event);
        break;
    }
    // Requests are sent together when the core pauses or answers.
}

namespace {

bool trusted(Device device) {
    std::optional<Compositor>& current = compositor();
    bool lost = false;
    if (current) {
        readPending(*current);
        if (broken(*current)) {
            // The compositor went away: drop the connection and connect afresh, to a compositor
            // that may have come up again since.
            drop();
            lost = true;
        }
    }
    if (!connected(device)) {
        if (lost) refusalDetail() = "the connection to the compositor was lost";
        return false;
    }
    refusalDetail().clear();
    return true;
}

} // namespace

bool isProcessTrusted() {
    return trusted(Device::wlroots);
}

bool isTrustedOnKWin() {
    return trusted(Device::kwin);
}

bool isTrustedOnGnome() {
    return trusted(Device::mutter);
}

bool canTypeUnicodeString(std::span<const uint16_t> units) {
    Compositor* c = connection();
    return c && canType(*c, units);
}

std::string_view untrustedDetail() {
    return wayland::refusalDetail();
}

// Each pause of a request ends at its deadline (support/pace.h).
void pause(uint32_t microseconds) {
    wayland::Clock::time_point deadline = nextDeadline(wayland::pace(), wayland::Clock::now(),
                                                       std::chrono::microseconds(microseconds));
    std::optional<Compositor>& current = wayland::compositor();
    if (!current || wayland::broken(*current)) {
        sleepUntil(deadline);
        return;
    }
    wl_display* display = current->display.get();
    wl_display_flush(display);
    // mutter's answers are read as they come, so they do not pile up.
    if (current->remote) wayland::settleRemoteDesktop(*current->remote, false);
    // The connection is watched while waiting, so a compositor that goes away during a long hold
    // is noticed at once; what it sends meanwhile is read and handled.
    while (waitUntil(deadline, wl_display_get_fd(display)) == Wake::readable) {
        wayland::readEvents(*current, std::chrono::milliseconds(0));
        if (wayland::broken(*current)) return;
    }
}

// Sending what is buffered and reading what came tells a closed connection (a failed send alone
// is not an error to libwayland until it reads the end of the connection).
std::string_view connectionLost() {
    std::optional<Compositor>& current = wayland::compositor();
    if (!current) return {};
    if (!wayland::broken(*current)) {
        wayland::readEvents(*current, std::chrono::milliseconds(0));
        if (!wayland::broken(*current)) return {};
    }
    static std::string detail;
    const char* name = std::getenv("WAYLAND_DISPLAY");
    detail = std::string("wayland: the connection to ") + (name ? name : "") + " closed";
    if (current->remote && wayland::remoteDesktopClosed(*current->remote))
        detail = wayland::settleRemoteDesktop(*current->remote, false);
    return detail;
}

void willType(std::span<const uint16_t> units) {
    std::optional<Compositor>& current = wayland::compositor();
    if (!current || wayland::broken(*current)) return;
    wayland::expectText(*current, units);
    restartPace(wayland::pace());
}

// Each line is a wheel step sent to the compositor; beyond this a scroll would hold the process
// for minutes.
int64_t largestScrollAmount() {
    return 10000;
}

// Wayland's pointer events carry no click number: clients count clicks by time and place as X
// clients do (GTK and Qt 400 ms, Chromium 500 ms, a few pixels). 10 ms more covers their
// millisecond clocks.
MultiClick multiClick() {
    return {510000, 8.0};
}

Size mainDisplaySize() {
    Compositor* c = wayland::connection();
    if (c) wayland::readPending(*c); // outputs added or taken away since
    if (!c || wayland::broken(*c)) return {};
    wayland::Extent e = wayland::layout(*c);
    return {static_cast<double>(e.width), static_cast<double>(e.height)};
}

std::string_view platformName() {
    return "wayland";
}

// A reply ends its request: what it posted is sent before the reply goes out, and the next
// request's pauses start afresh.
void replyWritten(std::string_view) {
    restartPace(wayland::pace());
    std::optional<Compositor>& current = wayland::compositor();
    if (!current) return;
    current->upcoming.clear();
    current->undelivered.clear();
    current->inputMethod.crossed.clear();
    wayland::endIBus(*current, false);
    if (current->remote) wayland::forgetRemoteRefusal(*current->remote);
    if (!wayland::broken(*current)) wl_display_flush(current->display.get());
}

// mutter answers each event: one it refused fails the request.
std::string_view undeliveredInput() {
    std::optional<Compositor>& current = wayland::compositor();
    if (!current) return {};
    if (current->remote && current->undelivered.empty())
        current->undelivered = wayland::settleRemoteDesktop(*current->remote, true);
    if (current->remote && current->undelivered.empty()) {
        wayland::ibusHasKeys(*current); // the last key's answer
        wayland::ibusKeptKeys(*current);
    }
    if (!wayland::broken(*current)) wayland::checkCommits(*current, true);
    return current->undelivered;
}

// The seat has one input method: an idle vantrel gives it back, so that another vantrel (or the
// user's own input method) can take it.
uint32_t whileIdle() {
    std::optional<Compositor>& current = wayland::compositor();
    if (!current || wayland::broken(*current)) return 0;
    return wayland::giveBackInputMethodWhenIdle(*current);
}

} // namespace wayland

} // namespace vantrel::platform
