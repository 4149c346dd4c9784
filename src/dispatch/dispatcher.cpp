#include "dispatch/dispatcher.h"

#include "dispatch/coerce.h"
#include "keyboard/keyboard.h"
#include "platform/event_services.h"
#include "pointer/pointer.h"
#include "support/held.h"
#include "support/stop.h"

#include <array>
#include <cmath>
#include <string_view>

namespace vantrel {

namespace {

using json = nlohmann::json;

// The parameters every request shares, resolved before the action is chosen.
struct Common {
    int64_t id = 0;
    std::string action;
    int64_t durationMs = 350;
    Point point;
};

int64_t resolveId(const json& request) {
    auto found = request.find("id");
    if (found == request.end()) return 0;
    switch (found->type()) {
    case json::value_t::number_integer:
        return found->get<int64_t>();
    case json::value_t::number_unsigned: {
        auto value = found->get<uint64_t>();
        return value <= static_cast<uint64_t>(INT64_MAX) ? static_cast<int64_t>(value) : 0;
    }
    case json::value_t::number_float: {
        double value = found->get<double>();
        bool whole = std::isfinite(value) && std::trunc(value) == value;
        return whole && value >= -9223372036854775808.0 && value < 9223372036854775808.0
                   ? static_cast<int64_t>(value)
                   : 0;
    }
    default:
        return 0; // strings, booleans and everything else are not numbers here
    }
}

Common resolveCommon(const json& request) {
    Common common;
    common.id = resolveId(request);
    auto action = request.find("action");
    if (action != request.end() && action->is_string()) common.action = action->get<std::string>();
    int64_t duration = truncateToInt64(numAt(request, "durationMs"));
    common.durationMs = duration == 0 ? 350 : duration;
    common.point = {numAt(request, "x"), numAt(request, "y")};
    return common;
}

std::string stringAt(const json& request, const char* key, std::string fallback = {}) {
    auto found = request.find(key);
    if (found == request.end() || !found->is_string()) return fallback;
    return found->get<std::string>();
}

Reply outcome(const Common& common, const char* refusal) {
    return refusal ? errorReply(common.id, refusal) : successReply(common.id);
}

// Text that had no route on this keyboard was refused whole: nothing of it was posted.
Reply typed(const Common& common, const std::optional<std::string>& untypeable) {
    if (!untypeable) return successReply(common.id);
    return errorReply(common.id, "cannot type text").add("detail", *untypeable);
}

Reply clickAction(const Common& common, uint32_t button, int64_t clicks) {
    MovePlan move = planMove(common.point, common.durationMs);
    if (move.refusal) return errorReply(common.id, move.refusal);
    runMove(move);
    mouseClick(common.point, button, clicks);
    return successReply(common.id);
}

// "left" (also when absent or not a string), "right", "middle", "back" or "forward"; nothing for
// another string.
std::optional<uint32_t> buttonAt(const json& request) {
    auto found = request.find("button");
    if (found == request.end() || !found->is_string()) return platform::mouseButtonLeft;
    const std::string& name = found->get_ref<const std::string&>();
    if (name == "left") return platform::mouseButtonLeft;
    if (name == "right") return platform::mouseButtonRight;
    if (name == "middle") return platform::mouseButtonCenter;
    if (name == "back") return platform::mouseButtonBack;
    if (name == "forward") return platform::mouseButtonForward;
    return std::nullopt;
}

std::string unknownButton(const json& request) {
    return "unknown button: " + request["button"].get<std::string>();
}

using Handler = Reply (*)(const json& request, const Common& common);

struct Route {
    std::string_view action;
    Handler handler;
    bool takesModifiers = false; // holds the "modifiers" keys for the whole action
};

// Compared in this order; a name that matches none is an unknown action.
constexpr std::array<Route, 25> routes{{
    {"probe",
     [](const json&, const Common& c) {
         return successReply(c.id).add("trusted", platform::isProcessTrusted());
     }},
    {"mouse_move",
     [](const json&, const Common& c) { return outcome(c, animatedMove(c.point, c.durationMs)); }},
    {"left_click",
     [](const json&, const Common& c) { return clickAction(c, platform::mouseButtonLeft, 1); },
     true},
    {"right_click",
     [](const json&, const Common& c) { return clickAction(c, platform::mouseButtonRight, 1); },
     true},
    {"middle_click",
     [](const json&, const Common& c) { return clickAction(c, platform::mouseButtonCenter, 1); },
     true},
    {"double_click",
     [](const json&, const Common& c) { return clickAction(c, platform::mouseButtonLeft, 2); },
     true},
    {"triple_click",
     [](const json&, const Common& c) { return clickAction(c, platform::mouseButtonLeft, 3); },
     true},
    {"left_mouse_down",
     [](const json&, const Common& c) {
         MovePlan move = planMove(c.point, c.durationMs);
         if (move.refusal) return errorReply(c.id, move.refusal);
         runMove(move);
         mouseDown(c.point, platform::mouseButtonLeft);
         return successReply(c.id);
     }},
    {"left_mouse_up",
     [](const json&, const Common& c) {
         mouseUp(c.point, platform::mouseButtonLeft);
         return successReply(c.id);
     }},
    {"left_click_drag",
     [](const json& r, const Common& c) {
         Point from{numAt(r, "startX"), numAt(r, "startY")};
         return outcome(c, dragLeft(from, c.point, c.durationMs));
     },
     true},
    {"scroll",
     [](const json& r, const Common& c) {
         std::string direction = stringAt(r, "direction", "down");
         int64_t amount = truncateToInt64(numAt(r, "amount"));
         return outcome(c, scrollAt(c.point, direction, amount));
     },
     true},
    {"type",
     [](const json& r, const Common& c) { return typed(c, typeText(stringAt(r, "text"))); }},
    {"key",
     [](const json& r, const Common& c) { return typed(c, pressCombo(stringAt(r, "text"), 0)); }},
    {"hold_key",
     [](const json& r, const Common& c) {
         int64_t hold = truncateToInt64(numAt(r, "holdMs"));
         if (hold > longestHoldMs) return errorReply(c.id, "holdMs out of range");
         return typed(c, pressCombo(stringAt(r, "text"), hold));
     }},
    {"media",
     [](const json& r, const Common& c) {
         std::optional<int32_t> key = truncateToInt32(numAt(r, "key"));
         if (!key) return errorReply(c.id, "key out of range");
         mediaKey(*key);
         return successReply(c.id);
     }},
    {"cursor_position",
     [](const json&, const Common& c) {
         Point at = currentLocation();
         return successReply(c.id).add("x", at.x).add("y", at.y);
     }},
    {"ping", [](const json&, const Common& c) { return successReply(c.id); }},
    {"release_all",
     [](const json&, const Common& c) {
         releaseAllHeld();
         return successReply(c.id);
     }},
    {"key_down",
     [](const json& r, const Common& c) {
         keyDown(stringAt(r, "text"));
         return successReply(c.id);
     }},
    {"key_up",
     [](const json& r, const Common& c) {
         keyUp(stringAt(r, "text"));
         return successReply(c.id);
     }},
    {"mouse_down",
     [](const json& r, const Common& c) {
         std::optional<uint32_t> button = buttonAt(r);
         if (!button) return errorReply(c.id, unknownButton(r));
         MovePlan move = planMove(c.point, c.durationMs);
         if (move.refusal) return errorReply(c.id, move.refusal);
         runMove(move);
         mouseDown(c.point, *button);
         return successReply(c.id);
     },
     true},
    {"mouse_up",
     [](const json& r, const Common& c) {
         std::optional<uint32_t> button = buttonAt(r);
         if (!button) return errorReply(c.id, unknownButton(r));
         mouseUp(c.point, *button);
         return successReply(c.id);
     },
     true},
    {"screen_size",
     [](const json&, const Common& c) {
         platform::Size size = platform::mainDisplaySize();
         return successReply(c.id).add("width", size.width).add("height", size.height);
     }},
    {"version",
     [](const json&, const Common& c) {
         return successReply(c.id)
             .add("version", std::string(VANTREL_VERSION))
             .add("platform", std::string(platform::platformName()));
     }},
    {"key_names",
     [](const json&, const Common& c) {
         return successReply(c.id).add("keys", &keyNames()).add("modifiers", &modifierNames());
     }},
}};

// The action's handler, with the connection it posts through checked after it: a connection
// that broke during the action fails it, also after its last pause. What was held went with
// the connection; nothing is left to release on the next one.
Reply run(const Route& route, const json& request, const Common& common) {
    try {
        Reply reply = route.handler(request, common);
        if (!accessibilityActions().count(common.action)) return reply;
        stopIfConnectionLost();
        std::string_view undelivered = platform::undeliveredInput();
        if (!undelivered.empty())
            return errorReply(common.id, "input not delivered")
                .add("detail", std::string(undelivered));
        return reply;
    } catch (const ConnectionLost& lost) {
        forgetAllHeld();
        return errorReply(common.id, "input connection lost").add("detail", lost.detail);
    }
}

} // namespace

const std::unordered_set<std::string>& accessibilityActions() {
    static const std::unordered_set<std::string> names{
        "mouse_move",      "left_click",    "right_click",
        "middle_click",    "double_click",  "triple_click",
        "left_mouse_down", "left_mouse_up", "left_click_drag",
        "scroll",          "type",          "key",
        "hold_key",        "media",         "release_all",
        "key_down",        "key_up",        "mouse_down",
        "mouse_up"};
    return names;
}

Reply respond(const json& request) {
    Common common = resolveCommon(request);
    if (accessibilityActions().count(common.action) && !platform::isProcessTrusted()) {
        Reply refusal =
            errorReply(common.id, "Accessibility permission is not granted to the vantrel");
        std::string_view detail = platform::untrustedDetail();
        if (!detail.empty()) refusal.add("detail", std::string(detail));
        return refusal;
    }
    for (const Route& route : routes) {
        if (route.action != common.action) continue;
        auto modifiers = request.find("modifiers");
        if (!route.takesModifiers || modifiers == request.end() || !modifiers->is_string())
            return run(route, request, common);
        ModifierScope held(modifiers->get_ref<const std::string&>());
        return run(route, request, common);
    }
    return errorReply(common.id, "unknown action: " + common.action);
}

} // namespace vantrel
