#include "pointer/pointer.h"

#include "support/stop.h"

#include <chrono>
#include <cmath>

namespace vantrel {

namespace {

constexpr uint32_t clickPauseMicroseconds = 40000;

struct ButtonTypes {
    uint32_t press, release;
};

// Button 1 uses the right-button types, 2 to 4 (middle, back, forward) the other-button types,
// every other value the left-button types.
ButtonTypes typesOf(uint32_t button) {
    if (button == platform::mouseButtonRight)
        return {platform::rightMouseDown, platform::rightMouseUp};
    if (button >= platform::mouseButtonCenter && button <= platform::mouseButtonForward)
        return {platform::otherMouseDown, platform::otherMouseUp};
    return {platform::leftMouseDown, platform::leftMouseUp};
}

platform::Event makeMouse(uint32_t type, Point at, uint32_t button) {
    platform::Event event = platform::createMouseEvent(type, at, button);
    if (event && heldModifierFlags()) platform::setFlags(*event, heldModifierFlags());
    return event;
}

// A press that starts an action's clicks must count as a first click: where the platform's
// toolkits count clicks by time and place, it waits until the previous release of its button is
// further back than their multi-click interval, unless it is further away than their distance.
void keepApartFromTheLastClick(uint32_t button, Point at) {
    platform::MultiClick rule = platform::multiClick();
    std::optional<ButtonRelease> last = lastRelease(button);
    if (rule.interval == 0 || !last) return;
    if (std::abs(at.x - last->at.x) > rule.distance || std::abs(at.y - last->at.y) > rule.distance)
        return;
    auto apart = last->time + std::chrono::microseconds(rule.interval);
    auto left = std::chrono::duration_cast<std::chrono::microseconds>(
        apart - std::chrono::steady_clock::now());
    if (left.count() > 0) pauseOrStop(static_cast<uint32_t>(left.count()));
}

Held heldButton(uint32_t button) {
    Held held;
    held.kind = Held::Kind::button;
    held.code = button;
    held.releaseType = typesOf(button).release;
    return held;
}

} // namespace

Point currentLocation() {
    platform::Event probe = platform::createEvent();
    if (!probe) return {};
    return platform::eventLocation(*probe);
}

void postMouse(uint32_t type, Point at, uint32_t button) {
    post(makeMouse(type, at, button));
}

void mouseClick(Point at, uint32_t button, int64_t clicks) {
    ButtonTypes types = typesOf(button);
    int64_t count = clicks > 1 ? clicks : 1;
    keepApartFromTheLastClick(button, at);
    for (int64_t click = 1; click <= count; ++click) {
        platform::Event press = makeMouse(types.press, at, button);
        if (press) platform::setIntegerValueField(*press, platform::mouseEventClickState, click);
        postPress(press, heldButton(button));
        platform::Event release = makeMouse(types.release, at, button);
        if (release)
            platform::setIntegerValueField(*release, platform::mouseEventClickState, click);
        postRelease(release, Held::Kind::button, button);
        pauseOrStop(clickPauseMicroseconds);
    }
}

void mouseDown(Point at, uint32_t button) {
    keepApartFromTheLastClick(button, at);
    postPress(makeMouse(typesOf(button).press, at, button), heldButton(button));
}

void mouseUp(Point at, uint32_t button) {
    postRelease(makeMouse(typesOf(button).release, at, button), Held::Kind::button, button);
}

} // namespace vantrel
