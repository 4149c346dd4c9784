// The core's events as the layers that render them at posting keep them until then.

#include "platform/record/event_record.h"

namespace vantrel::platform {

namespace {
EventRecord* makeRecord(EventRecord::Kind kind) {
    auto* record = new EventRecord;
    record->kind = kind;
    return record;
}
} // namespace

void EventRelease::operator()(EventRecord* event) const noexcept {
    delete event;
}

Point eventLocation(const EventRecord& event) {
    return event.location;
}

Event createMouseEvent(uint32_t type, Point location, uint32_t button) {
    Event event(makeRecord(EventRecord::Kind::mouse));
    event->type = type;
    event->location = location;
    event->button = button;
    return event;
}

// Neither X, Wayland nor Windows has a click-number field; the number only tells a layer which
// press starts an action's clicks.
void setIntegerValueField(EventRecord& event, uint32_t field, int64_t value) {
    if (field == mouseEventClickState) event.clickState = value;
}

Event createKeyboardEvent(uint16_t virtualKey, bool keyDown) {
    Event event(makeRecord(EventRecord::Kind::key));
    event->keyCode = virtualKey;
    event->keyDown = keyDown;
    return event;
}

void setFlags(EventRecord& event, uint64_t flags) {
    event.flags = flags;
}

void keyboardSetUnicodeString(EventRecord& event, std::span<const uint16_t> units) {
    event.text.emplace(units.begin(), units.end());
}

Event createScrollWheelEvent2(uint32_t, uint32_t, int32_t wheel1, int32_t wheel2, int32_t wheel3) {
    Event event(makeRecord(EventRecord::Kind::scroll));
    event->wheels[0] = wheel1;
    event->wheels[1] = wheel2;
    event->wheels[2] = wheel3;
    return event;
}

Event createSystemDefinedEvent(const SystemDefinedFields& fields) {
    Event event(makeRecord(EventRecord::Kind::system));
    event->system = fields;
    return event;
}

} // namespace vantrel::platform
