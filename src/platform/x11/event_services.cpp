// The X11 implementation of the event services: renders the core's events as XTEST input on the
// display that DISPLAY names, through XCB (which reports a lost server instead of ending the
// process). It connects on first need, answers the trust check with the health of that
// connection, and connects again after the server went away. It never writes to standard error
// and no X error ends the process.

#include "platform/event_services.h"
#include "platform/x11/display.h"
#include "platform/x11/layer.h"
#include "support/pace.h"
#include "support/posix/fd_wait.h"

#include "platform/x11/xkb_protocol.h"
#include <xcb/randr.h>
#include <xcb/xcb.h>
#include <xcb/xcbext.h>
#include <xcb/xtest.h>
#include <xkbcommon/xkbcommon-x11.h>

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <ctime>

namespace vantrel::platform {

namespace x11 {

std::optional<Display>& display() {
    static std::optional<Display> current;
    return current;
}

namespace {

bool broken(const Display& d) {
    return xcb_connection_has_error(d.connection.get()) != 0;
}

// Selects the XKB notices that say the keymap changed, so it is read again before it is used.
void watchKeymap(Display& d) {
    constexpr uint16_t events = XCB_XKB_EVENT_TYPE_NEW_KEYBOARD_NOTIFY |
                                XCB_XKB_EVENT_TYPE_MAP_NOTIFY | XCB_XKB_EVENT_TYPE_STATE_NOTIFY;
    constexpr uint16_t mapParts =
        XCB_XKB_MAP_PART_KEY_TYPES | XCB_XKB_MAP_PART_KEY_SYMS | XCB_XKB_MAP_PART_MODIFIER_MAP |
        XCB_XKB_MAP_PART_EXPLICIT_COMPONENTS | XCB_XKB_MAP_PART_KEY_ACTIONS |
        XCB_XKB_MAP_PART_VIRTUAL_MODS | XCB_XKB_MAP_PART_VIRTUAL_MOD_MAP;
    constexpr uint16_t newKeyboard = XCB_XKB_NKN_DETAIL_KEYCODES;
    xcb_xkb_select_events_details_t details{};
    details.affectNewKeyboard = newKeyboard;
    details.newKeyboardDetails = newKeyboard;
    constexpr uint16_t groupParts = XCB_XKB_STATE_PART_GROUP_STATE | XCB_XKB_STATE_PART_GROUP_LOCK;
    details.affectState = groupParts;
    details.stateDetails = groupParts;
    xcb_xkb_select_events_aux(d.connection.get(), XCB_XKB_ID_USE_CORE_KBD, events, 0, 0, mapParts,
                              mapParts, &details);
}

} // namespace

std::string& refusalDetail() {
    static std::string detail;
    return detail;
}

namespace {
// The display's name as the X convention takes it, for messages.
std::string displayName() {
    const char* name = std::getenv("DISPLAY");
    return name ? name : "";
}

// The deadlines of the current request's pauses.
Pace& pace() {
    static Pace chain;
    return chain;
}
} // namespace

void restartPace() {
    vantrel::restartPace(pace());
}

void restUntil(Display& d, Clock::time_point until) {
    xcb_flush(d.connection.get());
    sleepUntil(until);
    restartPace();
}

namespace {
// Xwayland names its outputs XWAYLAND0, XWAYLAND1, ...: the one tell a client has that the
// server is a Wayland compositor's rather than a server of its own.
bool namesXwaylandOutputs(Display& d) {
    xcb_connection_t* connection = d.connection.get();
    const xcb_query_extension_reply_t* randr = xcb_get_extension_data(connection, &xcb_randr_id);
    if (!randr || !randr->present) return false;
    // The server answers the requests of RandR 1.2 and later only to a client that said it
    // knows them.
    Reply<xcb_randr_query_version_reply_t> version = ask<xcb_randr_query_version_reply_t>(
        d, [&] { return xcb_randr_query_version(connection, 1, 3); });
    if (!version) return false;
    Reply<xcb_randr_get_screen_resources_current_reply_t> resources =
        ask<xcb_randr_get_screen_resources_current_reply_t>(
            d, [&] { return xcb_randr_get_screen_resources_current(connection, d.root); });
    if (!resources) return false;
    const xcb_randr_output_t* outputs =
        xcb_randr_get_screen_resources_current_outputs(resources.get());
    int count = xcb_randr_get_screen_resources_current_outputs_length(resources.get());
    for (int i = 0; i < count; ++i) {
        Reply<xcb_randr_get_output_info_reply_t> info =
            ask<xcb_randr_get_output_info_reply_t>(d, [&] {
                return xcb_randr_get_output_info(connection, outputs[i],
                                                 resources->config_timestamp);
            });
        if (!info) continue;
        std::string_view name(
            reinterpret_cast<const char*>(xcb_randr_get_output_info_name(info.get())),
            static_cast<size_t>(xcb_randr_get_output_info_name_length(info.get())));
        if (name.starts_with("XWAYLAND")) return true;
    }
    return false;
}
} // namespace

Display* connected() {
    std::optional<Display>& current = display();
    if (current) return &*current;
    if (displayName().empty()) {
        refusalDetail() = "DISPLAY is not set";
        return nullptr;
    }
    int screenNumber = 0;
    std::unique_ptr<xcb_connection_t, ConnectionClose> connection(
        xcb_connect(nullptr, &screenNumber));
    if (!connection || xcb_connection_has_error(connection.get())) {
        refusalDetail() = "cannot open display " + displayName();
        return nullptr;
    }
    xcb_screen_iterator_t screens = xcb_setup_roots_iterator(xcb_get_setup(connection.get()));
    for (int i = 0; i < screenNumber && screens.rem; ++i)
        xcb_screen_next(&screens);
    if (!screens.rem) {
        refusalDetail() = "cannot open display " + displayName();
        return nullptr;
    }
    Display& d = current.emplace();
    d.connection = std::move(connection);
    d.root = screens.data->root;
    d.width = screens.data->width_in_pixels;
    d.height = screens.data->height_in_pixels;
    uint8_t eventBase = 0;
    d.xkb = xkb_x11_setup_xkb_extension(
                d.connection.get(), XKB_X11_MIN_MAJOR_XKB_VERSION, XKB_X11_MIN_MINOR_XKB_VERSION,
                XKB_X11_SETUP_XKB_EXTENSION_NO_FLAGS, nullptr, nullptr, &eventBase, nullptr) == 1;
    if (d.xkb) {
        d.xkbEventBase = eventBase;
        d.keyboardDevice = xkb_x11_get_core_keyboard_device_id(d.connection.get());
        d.xkb = d.keyboardDevice >= 0;
        if (d.xkb) watchKeymap(d);
    }
    const xcb_query_extension_reply_t* xtest =
        xcb_get_extension_data(d.connection.get(), &xcb_test_id);
    d.xtest = xtest && xtest->present;
    d.xwayland = namesXwaylandOutputs(d);
    return &d;
}

ServerKind serverKind() {
    std::optional<Display>& current = display();
    if (!current || broken(*current)) return ServerKind::none;
    return current->xwayland ? ServerKind::xwayland : ServerKind::own;
}

void* awaitReply(Display& d, unsigned int sequence) {
    xcb_connection_t* connection = d.connection.get();
    xcb_flush(connection);
    int fd = xcb_get_file_descriptor(connection);
    for (;;) {
        void* reply = nullptr;
        xcb_generic_error_t* error = nullptr;
        // Reads what has arrived, without blocking; true once the answer (or an error) is in.
        if (xcb_poll_for_reply(connection, sequence, &reply, &error)) {
            std::free(error);
            return reply;
        }
        if (broken(d) || !awaitAnswer(fd)) return nullptr;
    }
}

bool roundTrip(Display& d) {
    return ask<xcb_get_input_focus_reply_t>(
               d, [&] { return xcb_get_input_focus(d.connection.get()); }) != nullptr;
}

void drainEvents(Display& d) {
    while (xcb_generic_event_t* event = xcb_poll_for_event(d.connection.get())) {
        uint8_t type = event->response_type & 0x7F;
        if (type == XCB_MAPPING_NOTIFY) {
            d.keymapStale = true;
        } else if (d.xkb && type == d.xkbEventBase) {
            // Every XKB event carries its own kind in the second byte.
            uint8_t kind = reinterpret_cast<const uint8_t*>(event)[1];
            if (kind == XCB_XKB_NEW_KEYBOARD_NOTIFY || kind == XCB_XKB_MAP_NOTIFY)
                d.keymapStale = true;
            if (kind == XCB_XKB_STATE_NOTIFY) {
                auto* state = reinterpret_cast<const xcb_xkb_state_notify_event_t*>(event);
                d.group = state->group;
                d.lockedGroup = state->lockedGroup;
            }
        }
        std::free(event);
    }
}

void fakeInput(Display& d, uint8_t type, uint8_t detail, int16_t x, int16_t y) {
    xcb_test_fake_input(d.connection.get(), type, detail, XCB_CURRENT_TIME,
                        type == XCB_MOTION_NOTIFY ? d.root : XCB_NONE, x, y, 0);
}

namespace {

// The protocol carries 16-bit signed coordinates.
int16_t coordinate(double value) {
    double rounded = std::round(value);
    if (!(rounded > -32768.0)) return -32768;
    if (rounded > 32767.0) return 32767;
    return static_cast<int16_t>(rounded);
}

std::optional<Point> pointerPosition(Display& d) {
    Reply<xcb_query_pointer_reply_t> reply = ask<xcb_query_pointer_reply_t>(
        d, [&] { return xcb_query_pointer(d.connection.get(), d.root); });
    if (!reply) return std::nullopt;
    return Point{static_cast<double>(reply->root_x), static_cast<double>(reply->root_y)};
}

void postMouse(Display& d, const EventRecord& event) {
    int16_t x = coordinate(event.location.x), y = coordinate(event.location.y);
    auto [button, press] = xkb::buttonChange(event.type, event.button);
    std::optional<Point> at = button ? pointerPosition(d) : std::nullopt;
    if (!button || !at || at->x != x || at->y != y) fakeInput(d, XCB_MOTION_NOTIFY, 0, x, y);
    if (!button) return;
    fakeInput(d, press ? XCB_BUTTON_PRESS : XCB_BUTTON_RELEASE, button);
    // A release is posted once the server has handled it, so that the core times the next
    // click from then: clients count by the server's event times, and a busy server may handle
    // the release later than it was sent.
    if (!press) roundTrip(d);
}

void clicks(Display& d, int32_t delta, uint8_t positive, uint8_t negative) {
    uint8_t button = delta > 0 ? positive : negative;
    int64_t count = delta > 0 ? delta : -static_cast<int64_t>(delta);
    for (int64_t i = 0; i < count; ++i) {
        fakeInput(d, XCB_BUTTON_PRESS, button);
        fakeInput(d, XCB_BUTTON_RELEASE, button);
    }
}

} // namespace

} // namespace x11

// The seam as this layer renders it; the Linux platform forwards to it (platform/x11/layer.h).
namespace x11 {

void openEventServices() {}

void closeEventServices() {
    std::optional<Display>& current = x11::display();
    if (!current) return;
    if (!xcb_connection_has_error(current->connection.get())) x11::releaseEverything(*current);
    current.reset();
}

Event createEvent() {
    Display* d = x11::connected();
    if (!d || x11::broken(*d)) return nullptr;
    std::optional<Point> at = x11::pointerPosition(*d);
    if (!at) return nullptr;
    Event event(new EventRecord);
    event->location = *at;
    return event;
}

void postEvent(EventRecord& event) {
    std::optional<Display>& current = x11::display();
    if (!current || x11::broken(*current)) return;
    Display& d = *current;
    switch (event.kind) {
    case EventRecord::Kind::position:
        return;
    case EventRecord::Kind::mouse:
        x11::postMouse(d, event);
        break;
    case EventRecord::Kind::scroll:
        // One click per line: button 4 up, 5 down, 6 left, 7 right.
        x11::clicks(d, event.wheels[0], 4, 5);
        x11::clicks(d, event.wheels[1], 6, 7);
        break;
    case EventRecord::Kind::key:
        x11::postKey(d, event);
        break;
    case EventRecord::Kind::system:
        x11::postSystem(d, event);
        break;
    }
    // Posts are sent together when the core pauses or answers (and whenever the layer waits or
    // reads a reply), so the server sees the pauses the core takes, and a move without pauses
    // costs one write rather than one per step.
}

// Answered from the connection's health, without a round trip: reading what the server sent
// notices a closed connection, and XTEST's presence is known from the connection's start.
bool isProcessTrusted() {
    std::optional<Display>& current = x11::display();
    bool lost = false;
    if (current) {
        x11::drainEvents(*current);
        if (x11::broken(*current)) {
            // The server went away: drop the connection and connect afresh, to a server that
            // may have come up again since.
            current.reset();
            lost = true;
        }
    }
    Display* d = x11::connected();
    if (!d) {
        if (lost) x11::refusalDetail() = "the connection to " + x11::displayName() + " was lost";
        return false;
    }
    if (!d->xtest) {
        x11::refusalDetail() = "the display has no XTEST extension";
        return false;
    }
    // Keys are found and bound through the keyboard extension; without it nothing typed would
    // arrive, so posting is refused rather than answered as done.
    if (!d->xkb) {
        x11::refusalDetail() = "the display has no XKEYBOARD extension";
        return false;
    }
    x11::refusalDetail().clear();
    return true;
}

std::string_view untrustedDetail() {
    return x11::refusalDetail();
}

// Each pause of a request ends at its deadline (support/pace.h), so the time spent posting
// between pauses, and each sleep's overshoot, do not add up.
void pause(uint32_t microseconds) {
    x11::Clock::time_point deadline =
        nextDeadline(x11::pace(), x11::Clock::now(), std::chrono::microseconds(microseconds));
    std::optional<Display>& current = x11::display();
    if (!current || x11::broken(*current)) {
        sleepUntil(deadline);
        return;
    }
    if (current->nextUpcoming < current->upcoming.size()) x11::bindAhead(*current);
    xcb_connection_t* connection = current->connection.get();
    xcb_flush(connection);
    // The connection is watched while waiting, so a server that goes away during a long hold is
    // noticed at once; what it sends meanwhile (keymap notices) is read and kept.
    while (waitUntil(deadline, xcb_get_file_descriptor(connection)) == Wake::readable) {
        x11::drainEvents(*current);
        if (x11::broken(*current)) return;
    }
}

// Sending what is buffered and reading what came tells a closed connection.
std::string_view connectionLost() {
    std::optional<Display>& current = x11::display();
    if (!current) return {};
    if (!x11::broken(*current)) {
        xcb_flush(current->connection.get());
        x11::drainEvents(*current);
        if (!x11::broken(*current)) return {};
    }
    static std::string detail;
    detail = "x11: the connection to " + x11::displayName() + " closed";
    return detail;
}

// Spare keycodes are few and belong to the display: bindings are given back once vantrel has
// been idle for a while, so that another vantrel, or another tool, can type what its layout
// lacks.
std::string_view undeliveredInput() {
    std::optional<Display>& current = x11::display();
    return current ? std::string_view(current->undelivered) : std::string_view();
}

uint32_t whileIdle() {
    std::optional<Display>& current = x11::display();
    if (!current || x11::broken(*current) || current->bindings.empty()) return 0;
    auto left = std::chrono::duration_cast<std::chrono::microseconds>(
        x11::lastUse(*current) + x11::idleKeep - x11::Clock::now());
    if (left.count() > 0) return static_cast<uint32_t>(left.count());
    x11::unbindAll(*current);
    return 0;
}

void willType(std::span<const uint16_t> units) {
    std::optional<Display>& current = x11::display();
    if (!current || x11::broken(*current)) return;
    x11::expectText(*current, std::vector<uint16_t>(units.begin(), units.end()));
}

// Each line is a button click sent to the server; beyond this a scroll would hold the process
// for minutes.
int64_t largestScrollAmount() {
    return 10000;
}

// X has no click number: toolkits count a press within their multi-click interval and distance
// of the previous release as the next click. GTK, Qt and Chromium use 500 ms at most (GTK's
// and Qt's defaults are 400 ms) and a few pixels; 10 ms more covers the server's millisecond
// clock (a busy server let Chromium count a triple click's first press as a third).
MultiClick multiClick() {
    return {510000, 8.0};
}

Size mainDisplaySize() {
    Display* d = x11::connected();
    if (!d || x11::broken(*d)) return {};
    return {static_cast<double>(d->width), static_cast<double>(d->height)};
}

std::string_view platformName() {
    return "x11";
}

// A reply ends its request: what it posted is sent before the reply goes out, the next
// request's pauses start afresh, and no text is coming.
void replyWritten(std::string_view) {
    x11::restartPace();
    std::optional<Display>& current = x11::display();
    if (!current) return;
    current->upcoming.clear();
    current->undelivered.clear();
    if (x11::broken(*current)) return;
    // Keys still held (key_down) keep Caps Lock lifted until they are released.
    if (current->held.empty()) x11::restoreLocks(*current);
    xcb_flush(current->connection.get());
}

} // namespace x11

} // namespace vantrel::platform
