#include "keyboard/keyboard.h"

#include "keyboard/unicode.h"
#include "platform/event_services.h"
#include "support/held.h"
#include "support/stop.h"

#include <span>

namespace vantrel {

namespace {

constexpr uint32_t typingPauseMicroseconds = 8000;
// The most units one keyboard event carries: macOS keeps only the first 20 of a longer string.
constexpr size_t mostUnitsPerEvent = 20;

// Typed text carries no flags, unless keys held on their own (key_down) add theirs.
platform::Event textEvent(bool keyDown, std::span<const uint16_t> units) {
    platform::Event event = platform::createKeyboardEvent(0, keyDown);
    if (!event) return event;
    if (heldModifierFlags()) platform::setFlags(*event, heldModifierFlags());
    platform::keyboardSetUnicodeString(*event, units);
    return event;
}

void typeUnits(std::span<const uint16_t> units) {
    Held held;
    held.kind = Held::Kind::text;
    held.flags = heldModifierFlags();
    held.setsFlags = false;
    held.units.assign(units.begin(), units.end());
    postPress(textEvent(true, units), std::move(held));
    postRelease(textEvent(false, units), Held::Kind::text, 0);
    pauseOrStop(typingPauseMicroseconds);
}

} // namespace

void typeText(std::string_view text) {
    std::u16string units = toUtf16(text);
    std::span<const uint16_t> all(reinterpret_cast<const uint16_t*>(units.data()), units.size());
    if (!all.empty()) platform::willType(all);
    size_t start = 0;
    for (size_t end : clusterEnds(units)) {
        while (start < end) {
            size_t take = end - start;
            if (take > mostUnitsPerEvent) {
                take = mostUnitsPerEvent;
                // A high surrogate stays with its low surrogate in the next piece.
                if ((all[start + take - 1] & 0xFC00) == 0xD800) --take;
            }
            typeUnits(all.subspan(start, take));
            start += take;
        }
    }
}

} // namespace vantrel
