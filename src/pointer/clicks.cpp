#include "pointer/pointer.h"

namespace vantrel {

namespace {
constexpr uint32_t clickPauseMicroseconds = 40000;
}

void post(const platform::Event& event) {
    if (event) platform::postEvent(*event);
}

Point currentLocation() {
    platform::Event probe = platform::createEvent();
    if (!probe) return {};
    return platform::eventLocation(*probe);
}

void mouseClick(Point at, uint32_t button, int64_t clicks) {
    uint32_t pressType = platform::leftMouseDown, releaseType = platform::leftMouseUp;
    if (button == platform::mouseButtonRight) {
        pressType = platform::rightMouseDown;
        releaseType = platform::rightMouseUp;
    } else if (button == platform::mouseButtonCenter) {
        pressType = platform::otherMouseDown;
        releaseType = platform::otherMouseUp;
    }
    int64_t count = clicks > 1 ? clicks : 1;
    for (int64_t click = 1; click <= count; ++click) {
        platform::Event press = platform::createMouseEvent(pressType, at, button);
        if (press) {
            platform::setIntegerValueField(*press, platform::mouseEventClickState, click);
            post(press);
        }
        platform::Event release = platform::createMouseEvent(releaseType, at, button);
        if (release) {
            platform::setIntegerValueField(*release, platform::mouseEventClickState, click);
            post(release);
        }
        platform::pause(clickPauseMicroseconds);
    }
}

void mouseDown(Point at) {
    post(platform::createMouseEvent(platform::leftMouseDown, at, platform::mouseButtonLeft));
}

void mouseUp(Point at) {
    post(platform::createMouseEvent(platform::leftMouseUp, at, platform::mouseButtonLeft));
}

} // namespace vantrel
