#include "dispatch/dispatcher.h"

#include "dispatch/coerce.h"
#include "keyboard/keyboard.h"
#include "platform/event_services.h"
#include "pointer/pointer.h"
#include "support/held.h"

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

Reply clickAction(const Common& common, uint32_t button, int64_t clicks) {
    MovePlan move = planMove(common.point, common.durationMs);
    if (move.refusal) return errorReply(common.id, move.refusal);
    runMove(move);
    mouseClick(common.point, button, clicks);
    return successReply(common.id);
}

using Handler = Reply (*)(const json& request, const Common& common);

struct Route {
    std::string_view action;
    Handler handler;
};

// Compared in this order; a name that matches none is an unknown action.
constexpr std::array<Route, 18> routes{{
    {"probe",
     [](const json&, const Common& c) {
         return successReply(c.id).add("trusted", platform::isProcessTrusted());
     }},
    {"mouse_move",
     [](const json&, const Common& c) { return outcome(c, animatedMove(c.point, c.durationMs)); }},
    {"left_click",
     [](const json&, const Common& c) { return clickAction(c, platform::mouseButtonLeft, 1); }},
    {"right_click",
     [](const json&, const Common& c) { return clickAction(c, platform::mouseButtonRight, 1); }},
    {"middle_click",
     [](const json&, const Common& c) { return clickAction(c, platform::mouseButtonCenter, 1); }},
    {"double_click",
     [](const json&, const Common& c) { return clickAction(c, platform::mouseButtonLeft, 2); }},
    {"triple_click",
     [](const json&, const Common& c) { return clickAction(c, platform::mouseButtonLeft, 3); }},
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
     }},
    {"scroll",
     [](const json& r, const Common& c) {
         std::string direction = stringAt(r, "direction", "down");
         int64_t amount = truncateToInt64(numAt(r, "amount"));
         return outcome(c, scrollAt(c.point, direction, amount));
     }},
    {"type",
     [](const json& r, const Common& c) {
         typeText(stringAt(r, "text"));
         return successReply(c.id);
     }},
    {"key",
     [](const json& r, const Common& c) {
         pressCombo(stringAt(r, "text"), 0);
         return successReply(c.id);
     }},
    {"hold_key",
     [](const json& r, const Common& c) {
         int64_t hold = truncateToInt64(numAt(r, "holdMs"));
         if (hold > longestHoldMs) return errorReply(c.id, "holdMs out of range");
         pressCombo(stringAt(r, "text"), hold);
         return successReply(c.id);
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
}};

} // namespace

const std::unordered_set<std::string>& accessibilityActions() {
    static const std::unordered_set<std::string> names{
        "mouse_move",      "left_click",    "right_click",
        "middle_click",    "double_click",  "triple_click",
        "left_mouse_down", "left_mouse_up", "left_click_drag",
        "scroll",          "type",          "key",
        "hold_key",        "media",         "release_all"};
    return names;
}

Reply respond(const json& request) {
    Common common = resolveCommon(request);
    if (accessibilityActions().count(common.action) && !platform::isProcessTrusted())
        return errorReply(common.id, "Accessibility permission is not granted to the vantrel");
    for (const Route& route : routes)
        if (route.action == common.action) return route.handler(request, common);
    return errorReply(common.id, "unknown action: " + common.action);
}

} // namespace vantrel
