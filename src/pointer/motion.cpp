#include "pointer/pointer.h"

#include "support/stop.h"

#include <cmath>

namespace vantrel {

namespace {

constexpr double stepLength = 7.0;
constexpr int64_t fewestSteps = 1;
constexpr int64_t mostSteps = 140;
constexpr int64_t dragSteps = 40;
constexpr int64_t approachMs = 200;
constexpr double twoTo63 = 9223372036854775808.0;
constexpr double twoTo32 = 4294967296.0;

// Eased fraction of the way done at fraction t of the steps: quadratic in, quadratic out.
double ease(double t) {
    if (t < 0.5) return t * (t + t);
    return t * (4.0 - (t + t)) - 1.0;
}

// The pause after each of `steps` steps, computed in exactly this order so that every platform
// and compiler gets the same microseconds (350 ms over 14 steps is 24999, not 25000). Nothing
// when it would not fit the 32-bit count the pause takes.
bool stepPause(int64_t durationMs, int64_t steps, uint32_t& pause) {
    double duration = static_cast<double>(durationMs < 0 ? 0 : durationMs);
    double micros = ((duration / 1000.0) / static_cast<double>(steps)) * 1000000.0;
    if (!(micros < twoTo32)) return false;
    pause = static_cast<uint32_t>(micros);
    return true;
}

void pauseFor(uint32_t microseconds) {
    if (microseconds > 0) pauseOrStop(microseconds);
}

// Moves carry the left button, as Quartz's moved and left-dragged events do, unless another
// button is the one being dragged: of the other buttons, the lowest held.
uint32_t moveButton(uint32_t type) {
    if (type == platform::rightMouseDragged) return platform::mouseButtonRight;
    if (type != platform::otherMouseDragged) return platform::mouseButtonLeft;
    for (uint32_t button : {platform::mouseButtonCenter, platform::mouseButtonBack})
        if (isHeld(Held::Kind::button, button)) return button;
    return platform::mouseButtonForward;
}

void postMove(Point at) {
    uint32_t type = moveType();
    postMouse(type, at, moveButton(type));
}

} // namespace

MovePlan planMove(Point to, int64_t durationMs) {
    MovePlan plan;
    plan.start = currentLocation();
    plan.target = to;
    double dx = to.x - plan.start.x, dy = to.y - plan.start.y;
    double perStep = std::sqrt(dx * dx + dy * dy) / stepLength;
    if (!std::isfinite(perStep) || !(perStep < twoTo63)) {
        plan.refusal = "point out of range";
        return plan;
    }
    int64_t steps = static_cast<int64_t>(perStep);
    plan.steps = steps < fewestSteps ? fewestSteps : steps > mostSteps ? mostSteps : steps;
    if (!stepPause(durationMs, plan.steps, plan.pauseMicroseconds))
        plan.refusal = "durationMs out of range";
    return plan;
}

void runMove(const MovePlan& plan) {
    double dx = plan.target.x - plan.start.x, dy = plan.target.y - plan.start.y;
    if (plan.steps >= 2) {
        double n = static_cast<double>(plan.steps);
        for (int64_t i = 1; i <= plan.steps; ++i) {
            double e = ease(static_cast<double>(i) / n);
            postMove({plan.start.x + dx * e, plan.start.y + dy * e});
            pauseFor(plan.pauseMicroseconds);
        }
    }
    postMove(plan.target);
}

const char* animatedMove(Point to, int64_t durationMs) {
    MovePlan plan = planMove(to, durationMs);
    if (plan.refusal) return plan.refusal;
    runMove(plan);
    return nullptr;
}

const char* dragLeft(Point from, Point to, int64_t durationMs) {
    MovePlan approach = planMove(from, approachMs);
    if (approach.refusal) return approach.refusal;
    // Two points each within range can still be further apart than a double holds; the dragged
    // steps would then lie at infinity, so such a drag is refused like a move that long.
    double dx = to.x - from.x, dy = to.y - from.y;
    if (!std::isfinite(dx) || !std::isfinite(dy)) return "point out of range";
    uint32_t pause = 0;
    if (!stepPause(durationMs, dragSteps, pause)) return "durationMs out of range";
    runMove(approach);
    mouseDown(from, platform::mouseButtonLeft);
    for (int64_t i = 1; i <= dragSteps; ++i) {
        double t = static_cast<double>(i) / static_cast<double>(dragSteps);
        postMouse(platform::leftMouseDragged, {from.x + dx * t, from.y + dy * t},
                  platform::mouseButtonLeft);
        pauseFor(pause);
    }
    mouseUp(to, platform::mouseButtonLeft);
    return nullptr;
}

} // namespace vantrel
